#pragma once

// True after printing `usage` and `help` to standard output when an argument asks for help
// (--help or -h): the tool then ends with 0, whatever else it was given.
bool printHelpIfAsked(int argc, char** argv, const char* usage, const char* help);
