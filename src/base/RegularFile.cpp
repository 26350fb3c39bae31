#include "base/RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavorin {

namespace {

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

FileRead readRegularFile(const std::string& path, std::size_t maxBytes, std::string& text, std::string& fault)
{
    Descriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file.fd < 0) {
        if (errno == ENOENT)
            return FileRead::Missing;
        fault = errno == EISDIR ? "it is a directory" : std::strerror(errno);
        return FileRead::Refused;
    }
    struct stat status {};
    if (::fstat(file.fd, &status) != 0) {
        fault = std::strerror(errno);
        return FileRead::Refused;
    }
    if (S_ISDIR(status.st_mode)) {
        fault = "it is a directory";
        return FileRead::Refused;
    }
    if (!S_ISREG(status.st_mode)) {
        fault = "it is not a regular file";
        return FileRead::Refused;
    }
    if (static_cast<std::size_t>(status.st_size) > maxBytes) {
        fault = "it is larger than " + std::to_string(maxBytes >> 20) + " MiB";
        return FileRead::Refused;
    }
    text.clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fault = std::strerror(errno);
            return FileRead::Refused;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > maxBytes) {
            fault = "it is larger than " + std::to_string(maxBytes >> 20) + " MiB";
            return FileRead::Refused;
        }
    }
    return FileRead::Read;
}

} // namespace tavorin
