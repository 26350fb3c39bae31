#include "calibration/ObservationTimeline.h"

#include <algorithm>
#include <cmath>

namespace tavorin {

namespace {

constexpr double kSameInstant = 0.001;      // seconds: a capture this close stands for the instant
constexpr double kExactInstant = 0.00005;   // seconds: closer than a wired chain's 160 us exposure steps
constexpr double kMaxFrameGap = 0.05;       // seconds: 1.5 frame periods at 30 fps; more is a drop
constexpr double kMaxWait = 0.15;           // seconds a reference frame waits for the other cameras
constexpr std::size_t kHistoryFrames = 8;   // per camera, covers the wait at 30 fps with margin
constexpr float kMaxHoleMove = 0.04f;       // metres between frames: half the hole pitch
constexpr float kMinAxisAgreement = 0.94f;  // cosine of 20 degrees between the frames' axes

Vec4 lerp(const Vec4& a, const Vec4& b, float w)
{
    return a + (b - a) * w;
}

Vec4 lerpDirection(const Vec4& a, const Vec4& b, float w)
{
    return normalize(lerp(a, b, w));
}

const Vec4* nearestHole(const std::vector<Vec4>& holes, const Vec4& p)
{
    const Vec4* best = nullptr;
    float bestDistance = kMaxHoleMove;
    for (const Vec4& hole : holes) {
        const float d = distance(hole, p);
        if (d < bestDistance) {
            bestDistance = d;
            best = &hole;
        }
    }
    return best;
}

} // namespace

std::optional<LatticeDetectionResult> interpolateDetection(const LatticeDetectionResult& a,
                                                           const LatticeDetectionResult& b, float w)
{
    if (!a.found || !b.found)
        return std::nullopt;
    if (dot(a.primaryAxis, b.primaryAxis) < kMinAxisAgreement || dot(a.normal, b.normal) < kMinAxisAgreement
        || distance(a.origin, b.origin) > kMaxHoleMove)
        return std::nullopt;
    LatticeDetectionResult out;
    out.found = true;
    out.origin = lerp(a.origin, b.origin, w);
    out.primaryAxis = lerpDirection(a.primaryAxis, b.primaryAxis, w);
    out.secondaryAxis = lerpDirection(a.secondaryAxis, b.secondaryAxis, w);
    out.normal = lerpDirection(a.normal, b.normal, w);
    out.ringOffset = lerp(a.ringOffset, b.ringOffset, w);
    // Only holes that each frame's nearest neighbour pairs both ways: a hole seen in one frame
    // only has no partner to move toward.
    for (const Vec4& hole : a.holes) {
        const Vec4* partner = nearestHole(b.holes, hole);
        if (partner && nearestHole(a.holes, *partner) == &hole)
            out.holes.push_back(lerp(hole, *partner, w));
    }
    return out;
}

ObservationTimeline::ObservationTimeline(std::size_t cameraCount, std::size_t referenceCamera)
    : reference(referenceCamera), histories(cameraCount)
{
}

void ObservationTimeline::restart()
{
    for (std::deque<Frame>& history : histories)
        history.clear();
    pending.clear();
}

// A frame captured within a millisecond of t stands for t, but a brisk plate still moves by a few
// tenths of a millimetre and turns by a hundredth of a degree in that time, always the same way
// while the operator keeps turning it: taken as it is, a camera that captures 0.7 ms off the
// reference's instants ended 1.3 mm off. So the frame is carried to t along the line to its
// consecutive neighbour (a step of at most 3 % of a frame period), the earlier one when it is
// there. Frames closer than a wired chain's exposure steps, and frames without a neighbour, are
// taken as they are.
LatticeDetectionResult ObservationTimeline::nearInstant(const std::deque<Frame>& history,
                                                        std::deque<Frame>::const_iterator frame, double t)
{
    if (std::fabs(frame->timestamp - t) <= kExactInstant || !frame->detection.found)
        return frame->detection;
    const auto carried = [&](const Frame& neighbour) -> std::optional<LatticeDetectionResult> {
        if (std::fabs(frame->timestamp - neighbour.timestamp) > kMaxFrameGap)
            return std::nullopt;
        const float w = static_cast<float>((t - neighbour.timestamp) / (frame->timestamp - neighbour.timestamp));
        return interpolateDetection(neighbour.detection, frame->detection, w);
    };
    std::optional<LatticeDetectionResult> observation;
    if (frame != history.begin())
        observation = carried(*std::prev(frame));
    if (!observation && std::next(frame) != history.end())
        observation = carried(*std::next(frame));
    return observation ? *observation : frame->detection;
}

ObservationTimeline::Outcome ObservationTimeline::observationAt(std::size_t camera, double t,
                                                                LatticeDetectionResult& observation) const
{
    const std::deque<Frame>& history = histories[camera];
    for (auto frame = history.begin(); frame != history.end(); ++frame)
        if (std::fabs(frame->timestamp - t) <= kSameInstant) {
            observation = nearInstant(history, frame, t);
            return Outcome::Resolved;
        }
    if (history.empty() || history.back().timestamp < t)
        return Outcome::Waiting;
    const auto after = std::find_if(history.begin(), history.end(), [t](const Frame& f) { return f.timestamp > t; });
    if (after == history.begin() || after->timestamp - std::prev(after)->timestamp > kMaxFrameGap)
        return Outcome::Unresolved;
    const Frame& before = *std::prev(after);
    observation = LatticeDetectionResult{};
    if (!before.detection.found || !after->detection.found)
        return Outcome::Resolved; // the camera did not see the plate around then
    const float w = static_cast<float>((t - before.timestamp) / (after->timestamp - before.timestamp));
    const std::optional<LatticeDetectionResult> between = interpolateDetection(before.detection, after->detection, w);
    if (!between)
        return Outcome::Unresolved;
    observation = *between;
    return Outcome::Resolved;
}

std::vector<std::vector<LatticeDetectionResult>> ObservationTimeline::add(
    const std::vector<double>& timestamps, const std::vector<LatticeDetectionResult>& detections)
{
    std::vector<std::vector<LatticeDetectionResult>> sets;
    if (timestamps.size() != histories.size() || detections.size() != histories.size() || reference >= histories.size())
        return sets;
    const auto [earliest, latest] = std::minmax_element(timestamps.begin(), timestamps.end());
    spread = *latest - *earliest;
    for (std::size_t c = 0; c < histories.size(); ++c) {
        if (!histories[c].empty() && timestamps[c] < histories[c].back().timestamp) {
            restart();
            break;
        }
    }
    for (std::size_t c = 0; c < histories.size(); ++c) {
        std::deque<Frame>& history = histories[c];
        if (!history.empty() && timestamps[c] == history.back().timestamp)
            continue;
        history.push_back(Frame{timestamps[c], detections[c]});
        if (history.size() > kHistoryFrames)
            history.pop_front();
        if (c == reference)
            pending.push_back(history.back());
    }

    const double now = histories[reference].empty() ? 0.0 : histories[reference].back().timestamp;
    while (!pending.empty()) {
        const Frame& frame = pending.front();
        std::vector<LatticeDetectionResult> set(histories.size());
        set[reference] = frame.detection;
        Outcome outcome = Outcome::Resolved;
        for (std::size_t c = 0; c < histories.size() && outcome == Outcome::Resolved; ++c)
            if (c != reference)
                outcome = observationAt(c, frame.timestamp, set[c]);
        if (outcome == Outcome::Waiting && now - frame.timestamp <= kMaxWait)
            break;
        const bool referenceFound = frame.detection.found;
        const bool anyFound =
            std::any_of(set.begin(), set.end(), [](const LatticeDetectionResult& d) { return d.found; });
        if (outcome == Outcome::Resolved && anyFound)
            sets.push_back(std::move(set));
        if (referenceFound)
            ++(outcome == Outcome::Resolved ? resolved : unresolved);
        pending.pop_front();
    }
    return sets;
}

} // namespace tavorin
