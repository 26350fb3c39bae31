#include "calibration/joint/ObservationTimeline.h"

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>

namespace tavorin {

namespace {

constexpr double kSameInstant = 0.001;      // seconds: a capture this close stands for the instant
constexpr double kExactInstant = 0.00005;   // seconds: closer than a wired chain's 160 us exposure steps
constexpr double kMaxFrameGap = 0.05;       // seconds: 1.5 frame periods at 30 fps; more is a drop
constexpr double kMaxWait = 0.15;           // seconds a reference frame waits for the other cameras
constexpr double kCubicWait = 0.08;
constexpr double kMaxOuterFrameGap = 0.085; // seconds to a cubic's outer frame: one frame may be missing         // seconds it waits for a camera's second frame after it
constexpr std::size_t kHistoryFrames = 8;   // per camera, covers the wait at 30 fps with margin
constexpr float kMaxHoleMove = 0.04f;       // metres between frames: half the hole pitch
constexpr float kMinAxisAgreement = 0.94f;  // cosine of 20 degrees between the frames' axes

Vec4 lerp(const Vec4& a, const Vec4& b, float w)
{
    return a + (b - a) * w;
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

Eigen::Vector3d eigenOf(const Vec4& v)
{
    return Eigen::Vector3d(v.x, v.y, v.z);
}

Vec4 pointOf(const Eigen::Vector3d& v)
{
    return Vec4::point(static_cast<float>(v.x()), static_cast<float>(v.y()), static_cast<float>(v.z()));
}

Vec4 directionOf(const Eigen::Vector3d& v)
{
    return Vec4::direction(static_cast<float>(v.x()), static_cast<float>(v.y()), static_cast<float>(v.z()));
}

// The holes of a and b that each one's nearest neighbour pairs both ways: a hole seen in one
// frame only has no partner.
std::vector<std::pair<Vec4, Vec4>> pairedHoles(const LatticeDetectionResult& a, const LatticeDetectionResult& b)
{
    std::vector<std::pair<Vec4, Vec4>> pairs;
    for (const Vec4& hole : a.holes) {
        const Vec4* partner = nearestHole(b.holes, hole);
        if (partner && nearestHole(a.holes, *partner) == &hole)
            pairs.emplace_back(hole, *partner);
    }
    return pairs;
}

// The plate's rigid motion between two frames: p_b = R p_a + t, fitted to the paired holes
// (Kabsch); nothing for fewer than three pairs.
struct RigidMotion {
    Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
    Eigen::Vector3d t = Eigen::Vector3d::Zero();
};

std::optional<RigidMotion> rigidMotion(const std::vector<std::pair<Vec4, Vec4>>& pairs)
{
    constexpr std::size_t kMinPairs = 3;
    if (pairs.size() < kMinPairs)
        return std::nullopt;
    Eigen::Vector3d centroidA = Eigen::Vector3d::Zero();
    Eigen::Vector3d centroidB = Eigen::Vector3d::Zero();
    for (const auto& [a, b] : pairs) {
        centroidA += eigenOf(a);
        centroidB += eigenOf(b);
    }
    centroidA /= static_cast<double>(pairs.size());
    centroidB /= static_cast<double>(pairs.size());
    Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
    for (const auto& [a, b] : pairs)
        covariance += (eigenOf(b) - centroidB) * (eigenOf(a) - centroidA).transpose();
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(covariance, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
    d(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
    RigidMotion motion;
    motion.R = svd.matrixU() * d * svd.matrixV().transpose();
    motion.t = centroidB - motion.R * centroidA;
    return motion;
}

Eigen::Vector3d rotationVector(const Eigen::Matrix3d& R)
{
    const Eigen::AngleAxisd turn(R);
    return turn.angle() * turn.axis();
}

} // namespace

std::optional<LatticeDetectionResult> interpolateAlong(const std::vector<TimedDetection>& frames, std::size_t before,
                                                       double t)
{
    if (frames.size() < 2 || before + 1 >= frames.size())
        return std::nullopt;
    const LatticeDetectionResult& base = *frames[before].detection;
    const LatticeDetectionResult& next = *frames[before + 1].detection;
    if (!base.found || !next.found)
        return std::nullopt;
    if (dot(base.primaryAxis, next.primaryAxis) < kMinAxisAgreement || dot(base.normal, next.normal) < kMinAxisAgreement
        || distance(base.origin, next.origin) > kMaxHoleMove)
        return std::nullopt;
    // Every frame's plate as a rigid motion of the base frame's, followed by its centroid and
    // its rotation vector, which a polynomial through the frames' times carries to t.
    Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
    for (const Vec4& hole : base.holes)
        centroid += eigenOf(hole);
    centroid /= static_cast<double>(std::max<std::size_t>(1, base.holes.size()));
    std::vector<RigidMotion> motions(frames.size());
    const std::optional<RigidMotion> toNextFrame = rigidMotion(pairedHoles(base, next));
    if (!toNextFrame)
        return std::nullopt;
    motions[before + 1] = *toNextFrame;
    const Eigen::Vector3d nextRotation = rotationVector(toNextFrame->R);
    const Eigen::Vector3d nextCentroid = toNextFrame->R * centroid + toNextFrame->t;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (k == before || k == before + 1)
            continue;
        const LatticeDetectionResult& frame = *frames[k].detection;
        if (!frame.found || dot(base.normal, frame.normal) < kMinAxisAgreement)
            return std::nullopt;
        // A frame farther away is paired through the motion to the next frame, scaled to its
        // time: the plate may have moved by more than half a hole pitch since the base frame.
        const double share = (frames[k].t - frames[before].t) / (frames[before + 1].t - frames[before].t);
        const Eigen::Vector3d turn = share * nextRotation;
        const Eigen::Matrix3d R_guess =
            turn.norm() > 0.0 ? Eigen::AngleAxisd(turn.norm(), turn.normalized()).toRotationMatrix()
                              : Eigen::Matrix3d::Identity();
        const Eigen::Vector3d t_guess = centroid + share * (nextCentroid - centroid) - R_guess * centroid;
        LatticeDetectionResult guessed = base;
        for (Vec4& hole : guessed.holes)
            hole = pointOf(R_guess * eigenOf(hole) + t_guess);
        std::vector<std::pair<Vec4, Vec4>> pairs = pairedHoles(guessed, frame);
        for (auto& pair : pairs)
            pair.first = pointOf(R_guess.transpose() * (eigenOf(pair.first) - t_guess));
        const std::optional<RigidMotion> motion = rigidMotion(pairs);
        if (!motion)
            return std::nullopt;
        motions[k] = *motion;
    }
    Eigen::Vector3d rotation = Eigen::Vector3d::Zero();
    Eigen::Vector3d position = Eigen::Vector3d::Zero();
    for (std::size_t k = 0; k < frames.size(); ++k) {
        double weight = 1.0; // Lagrange's basis polynomial of frame k at t
        for (std::size_t j = 0; j < frames.size(); ++j)
            if (j != k)
                weight *= (t - frames[j].t) / (frames[k].t - frames[j].t);
        rotation += weight * rotationVector(motions[k].R);
        position += weight * (motions[k].R * centroid + motions[k].t);
    }
    const Eigen::Matrix3d R_t = Eigen::AngleAxisd(rotation.norm(), rotation.norm() > 0.0 ? Eigen::Vector3d(rotation.normalized())
                                                                                          : Eigen::Vector3d::UnitX())
                                    .toRotationMatrix();
    const RigidMotion& toNext = motions[before + 1];
    // Both frames' points carried to t, weighted by nearness: the noise of both averages.
    const double w = (t - frames[before].t) / (frames[before + 1].t - frames[before].t);
    const auto carried = [&](const Eigen::Vector3d& inBase) { return R_t * (inBase - centroid) + position; };
    const auto point = [&](const Vec4& p, const Vec4& q) {
        const Eigen::Vector3d qInBase = toNext.R.transpose() * (eigenOf(q) - toNext.t);
        return pointOf((1.0 - w) * carried(eigenOf(p)) + w * carried(qInBase));
    };
    const auto axis = [&](const Vec4& d, const Vec4& e) {
        return normalize(directionOf(R_t * ((1.0 - w) * eigenOf(d) + w * (toNext.R.transpose() * eigenOf(e)))));
    };
    LatticeDetectionResult out;
    out.found = true;
    out.origin = point(base.origin, next.origin);
    out.primaryAxis = axis(base.primaryAxis, next.primaryAxis);
    out.secondaryAxis = axis(base.secondaryAxis, next.secondaryAxis);
    out.normal = axis(base.normal, next.normal);
    out.ringOffset = lerp(base.ringOffset, next.ringOffset, static_cast<float>(w));
    for (const auto& [p, q] : pairedHoles(base, next))
        out.holes.push_back(point(p, q));
    return out;
}

std::optional<LatticeDetectionResult> interpolateDetection(const LatticeDetectionResult& a,
                                                           const LatticeDetectionResult& b, float w)
{
    return interpolateAlong({{0.0, &a}, {1.0, &b}}, 0, w);
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

ObservationTimeline::Outcome ObservationTimeline::observationAt(std::size_t camera, double t, double now,
                                                                LatticeDetectionResult& observation) const
{
    const std::deque<Frame>& history = histories[camera];
    for (auto frame = history.begin(); frame != history.end(); ++frame)
        if (std::fabs(frame->timestamp - t) <= kSameInstant) {
            // A lone newest frame a little off the instant waits for its successor to be carried along.
            const bool lone = frame == history.begin() && std::next(frame) == history.end();
            if (lone && std::fabs(frame->timestamp - t) > kExactInstant && frame->detection.found
                && now - t <= kCubicWait)
                return Outcome::Waiting;
            observation = nearInstant(history, frame, t);
            return Outcome::Resolved;
        }
    if (history.empty() || history.back().timestamp < t)
        return Outcome::Waiting;
    const auto after = std::find_if(history.begin(), history.end(), [t](const Frame& f) { return f.timestamp > t; });
    if (after == history.begin() || after->timestamp - std::prev(after)->timestamp > kMaxFrameGap)
        return Outcome::Unresolved;
    const auto before = std::prev(after);
    observation = LatticeDetectionResult{};
    if (!before->detection.found || !after->detection.found)
        return Outcome::Resolved; // the camera did not see the plate around then
    // A cubic through the frames on either side when they are there and consecutive: the plate's
    // path curves between frames. The fourth frame is waited for a little.
    const auto consecutive = [](const Frame& a, const Frame& b) {
        return a.detection.found && b.detection.found && b.timestamp - a.timestamp <= kMaxOuterFrameGap;
    };
    const auto afterNext = std::next(after);
    if (afterNext == history.end() && now - t <= kCubicWait)
        return Outcome::Waiting;
    std::vector<TimedDetection> frames;
    std::size_t at = 0;
    if (before != history.begin() && consecutive(*std::prev(before), *before) && afterNext != history.end()
        && consecutive(*after, *afterNext)) {
        frames = {{std::prev(before)->timestamp, &std::prev(before)->detection},
                  {before->timestamp, &before->detection},
                  {after->timestamp, &after->detection},
                  {afterNext->timestamp, &afterNext->detection}};
        at = 1;
    }
    std::optional<LatticeDetectionResult> between = frames.empty() ? std::nullopt : interpolateAlong(frames, at, t);
    if (!between)
        between = interpolateAlong({{before->timestamp, &before->detection}, {after->timestamp, &after->detection}}, 0, t);
    if (!between)
        return Outcome::Unresolved;
    observation = *between;
    return Outcome::Resolved;
}

std::vector<InstantFrameSet> ObservationTimeline::add(const std::vector<double>& timestamps,
                                                      const std::vector<LatticeDetectionResult>& detections)
{
    std::vector<InstantFrameSet> sets;
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
        bool waiting = false;
        bool leftOut = false;
        for (std::size_t c = 0; c < histories.size(); ++c) {
            if (c == reference)
                continue;
            const Outcome outcome = observationAt(c, frame.timestamp, now, set[c]);
            waiting = waiting || outcome == Outcome::Waiting;
            leftOut = leftOut || outcome != Outcome::Resolved;
            if (outcome != Outcome::Resolved)
                set[c] = LatticeDetectionResult{};
        }
        if (waiting && now - frame.timestamp <= kMaxWait)
            break;
        // A camera that cannot be brought to the instant is left out of it; the others keep it.
        const auto found = std::count_if(set.begin(), set.end(), [](const LatticeDetectionResult& d) { return d.found; });
        if (found > 0)
            sets.push_back({frame.timestamp, std::move(set)});
        if (frame.detection.found)
            ++(leftOut ? unresolved : resolved);
        pending.pop_front();
    }
    return sets;
}

} // namespace tavorin
