#include "acquisition/FrameSetMatcher.h"

#include <algorithm>

namespace tavorin {

FrameSetMatcher::FrameSetMatcher(std::vector<std::int64_t> delaysUsec)
    : delays(std::move(delaysUsec)), queues(delays.size())
{
}

void FrameSetMatcher::dropFront(std::size_t camera)
{
    queues[camera].pop_front();
    ++dropped;
}

void FrameSetMatcher::push(std::size_t camera, std::int64_t deviceUsec, std::uint64_t frame)
{
    if (camera >= queues.size())
        return;
    queues[camera].push_back(Frame{deviceUsec - delays[camera], frame});
    if (queues[camera].size() > kMaxQueued)
        dropFront(camera);
}

std::optional<std::vector<std::uint64_t>> FrameSetMatcher::pop()
{
    if (queues.empty())
        return std::nullopt;
    while (!queues[0].empty()) {
        const std::int64_t instant = queues[0].front().instantUsec;
        bool complete = true;
        bool hopeless = false;
        for (std::size_t c = 1; c < queues.size(); ++c) {
            // Frames of this camera too early for the first camera's oldest frame never match.
            while (!queues[c].empty() && queues[c].front().instantUsec < instant - kToleranceUsec)
                dropFront(c);
            if (queues[c].empty()) {
                complete = false;
                continue;
            }
            if (queues[c].front().instantUsec > instant + kToleranceUsec) {
                hopeless = true;
                break;
            }
        }
        if (hopeless) {
            dropFront(0);
            continue;
        }
        if (!complete)
            return std::nullopt;
        std::vector<std::uint64_t> set;
        std::int64_t earliest = instant;
        std::int64_t latest = instant;
        for (std::deque<Frame>& queue : queues) {
            earliest = std::min(earliest, queue.front().instantUsec);
            latest = std::max(latest, queue.front().instantUsec);
            set.push_back(queue.front().frame);
            queue.pop_front();
        }
        spread = latest - earliest;
        return set;
    }
    return std::nullopt;
}

} // namespace tavorin
