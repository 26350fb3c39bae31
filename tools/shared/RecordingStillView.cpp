#include "RecordingStillView.h"

#include "acquisition/recording/HDF5RecordingReader.h"

#include <algorithm>
#include <vector>

namespace {

std::optional<tavorin::DepthStack> stackOf(tavorin::HDF5RecordingReader& reader, const std::vector<std::uint32_t>& frames)
{
    tavorin::DepthStack stack(static_cast<std::int32_t>(reader.width()), static_cast<std::int32_t>(reader.height()),
                              static_cast<std::int32_t>(frames.size()));
    for (std::uint32_t frame : frames) {
        if (!reader.loadFrame(frame))
            return std::nullopt;
        stack.add(reader.points(), reader.removedDepthCorrection());
    }
    return stack;
}

} // namespace

std::optional<tavorin::DepthStack> lastFrames(tavorin::HDF5RecordingReader& reader, std::uint32_t count)
{
    std::vector<std::uint32_t> frames;
    for (std::uint32_t k = reader.frameCount() - std::min(count, reader.frameCount()); k < reader.frameCount(); ++k)
        frames.push_back(k);
    return stackOf(reader, frames);
}

std::optional<tavorin::DepthStack> spreadFrames(tavorin::HDF5RecordingReader& reader, std::uint32_t count)
{
    const std::uint32_t total = reader.frameCount();
    const std::uint32_t taken = std::min(count, total);
    std::vector<std::uint32_t> frames;
    for (std::uint32_t k = 0; k < taken; ++k)
        frames.push_back(static_cast<std::uint32_t>(static_cast<std::uint64_t>(k) * total / taken));
    return stackOf(reader, frames);
}
