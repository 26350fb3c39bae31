#pragma once

#include <string>

// The console line for a pending GL error code: its label, then the code in decimal.
std::string glErrorLine(unsigned int errorCode);
