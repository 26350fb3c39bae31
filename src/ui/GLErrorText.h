#pragma once

#include <string>

namespace tavorin {

// The console line for a pending GL error code: its label, then the code in decimal.
std::string glErrorLine(unsigned int errorCode);

} // namespace tavorin
