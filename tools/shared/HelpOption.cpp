#include "HelpOption.h"

#include "base/Console.h"

#include <string_view>

bool printHelpIfAsked(int argc, char** argv, const char* usage, const char* help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            tavorin::console::out(usage, "\n", help);
            return true;
        }
    }
    return false;
}
