// libFuzzer target: the input as a camera configuration file, read as the program reads it.
#include "acquisition/config/CameraConfigFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

using tavorin::loadModelMatrix, tavorin::Mat4;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "fuzz_input_" + std::to_string(::getpid()) + ".json"; // working directory
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written)
        return 0;
    Mat4 matrix;
    loadModelMatrix(path, matrix);
    return 0;
}
