// libFuzzer target: the input as a recording file, opened with colour and played as the playback
// thread plays it (frames 0 and 1, then a seek half a second on).
#include "acquisition/recording/HDF5RecordingReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

using tavorin::HDF5RecordingReader;

namespace {

// In the working directory: a path without "/" has no configuration file.
const std::string& inputPath()
{
    static const std::string path = "fuzz_input_" + std::to_string(::getpid()) + ".h5";
    return path;
}

bool writeInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(inputPath().c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// The last element of each published buffer, as a consumer would read it.
void touchBuffers(HDF5RecordingReader& reader)
{
    const std::size_t pixels = std::size_t(reader.width()) * reader.height();
    volatile float lastPoint = reader.points() ? reader.points()[4 * pixels - 1] : 0.0f;
    volatile std::uint8_t lastColour = reader.colors() ? reader.colors()[4 * pixels - 1] : 0;
    (void)lastPoint;
    (void)lastColour;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr double kSeekSeconds = 0.5;
    if (!writeInput(data, size))
        return 0;
    HDF5RecordingReader reader;
    if (reader.open(inputPath(), true)) {
        reader.loadFrame(0);
        reader.loadFrame(1);
        reader.seekToTime(reader.timestampAt(0) + kSeekSeconds);
        touchBuffers(reader);
    }
    HDF5RecordingReader::clearLibraryErrors();
    return 0;
}
