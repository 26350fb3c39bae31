#pragma once

#include "base/Console.h"

#include <cstdlib>

// True after printing `usage` and `help` to standard output when an argument asks for help
// (--help or -h): the tool then ends with 0, whatever else it was given.
bool printHelpIfAsked(int argc, char** argv, const char* usage, const char* help);

// A tool's options, read by parse(argc, argv, options). With --help or -h the usage and help go to
// standard output and the tool exits with 0; options that parse refuses (after its line that says
// why) bring the usage on standard error and exit with `usageExit`. Called first thing in main().
template <typename Options, typename Parse>
Options optionsOrExit(int argc, char** argv, Parse parse, const char* usage, const char* help, int usageExit)
{
    if (printHelpIfAsked(argc, argv, usage, help))
        std::exit(0);
    Options options;
    if (!parse(argc, argv, options)) {
        tavorin::console::err(usage);
        std::exit(usageExit);
    }
    return options;
}
