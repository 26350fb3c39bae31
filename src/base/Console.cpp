#include "base/Console.h"

#include <iostream>
#include <mutex>

namespace tavorin::console {

void writeLines(Stream stream, std::string_view lines)
{
    // A function's static: the first lines are written during static initialisation.
    static std::mutex mutex;
    std::ostream& target = stream == Stream::Out ? std::cout : std::cerr;
    std::lock_guard<std::mutex> lock(mutex);
    target.write(lines.data(), static_cast<std::streamsize>(lines.size()));
    if (lines.empty() || lines.back() != '\n')
        target.put('\n');
    target.flush();
}

} // namespace tavorin::console
