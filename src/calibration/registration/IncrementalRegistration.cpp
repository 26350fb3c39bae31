#include "calibration/registration/IncrementalRegistration.h"

#include "calibration/registration/CorrespondenceConsensus.h"

#include <Eigen/Core>
#include <Eigen/LU>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>

namespace tavorin {

namespace {

constexpr std::size_t kReservoirSize = 512;
constexpr std::size_t kReclassifiedPerUpdate = 1024;
constexpr std::size_t kMinPairs = 4;

// The consensus model's verdict on one pair, as the rejector judges its own pairs: the squared
// distance in float below the squared threshold in double.
struct InlierTest {
    const CorrespondenceConsensus& consensus;
    double squaredThreshold;

    bool operator()(const Vec4& source, const Vec4& target) const
    {
        if (consensus.gaveUp)
            return true;
        const Vec4 moved = consensus.T_target_source * source;
        const float dx = moved.x - target.x;
        const float dy = moved.y - target.y;
        const float dz = moved.z - target.z;
        return static_cast<double>(dx * dx + dy * dy + dz * dz) < squaredThreshold;
    }
};

} // namespace

void IncrementalRegistration::takeNewPairs(const std::vector<Vec4>& source, const std::vector<Vec4>& target)
{
    for (; taken < target.size(); ++taken) {
        if (!isObserved(source[taken]) || !isObserved(target[taken]))
            continue;
        const std::size_t seen = pairs.size(); // observed pairs before this one
        if (seen == 0) {
            sums.sourceAnchor = {source[taken].x, source[taken].y, source[taken].z};
            sums.targetAnchor = {target[taken].x, target[taken].y, target[taken].z};
        }
        pairs.push_back(static_cast<std::uint32_t>(taken));
        isInlier.push_back(0);
        if (seen < kReservoirSize) {
            reservoirSource.push_back(source[taken]);
            reservoirTarget.push_back(target[taken]);
        } else {
            const std::size_t slot = std::uniform_int_distribution<std::size_t>(0, seen)(random);
            if (slot < kReservoirSize) {
                reservoirSource[slot] = source[taken];
                reservoirTarget[slot] = target[taken];
            }
        }
    }
}

void IncrementalRegistration::classify(std::size_t pair, bool inlier, const std::vector<Vec4>& source,
                                       const std::vector<Vec4>& target)
{
    if (static_cast<bool>(isInlier[pair]) == inlier)
        return;
    isInlier[pair] = inlier ? 1 : 0;
    const double sign = inlier ? 1.0 : -1.0;
    const Vec4& s = source[pairs[pair]];
    const Vec4& t = target[pairs[pair]];
    const std::array<double, 3> ds = {s.x - sums.sourceAnchor[0], s.y - sums.sourceAnchor[1], s.z - sums.sourceAnchor[2]};
    const std::array<double, 3> dt = {t.x - sums.targetAnchor[0], t.y - sums.targetAnchor[1], t.z - sums.targetAnchor[2]};
    for (std::size_t r = 0; r < 3; ++r) {
        sums.sourceSquares += sign * ds[r] * ds[r];
        sums.targetSquares += sign * dt[r] * dt[r];
        sums.source[r] += sign * ds[r];
        sums.target[r] += sign * dt[r];
        for (std::size_t c = 0; c < 3; ++c)
            sums.cross[r * 3 + c] += sign * dt[r] * ds[c];
    }
    sums.count = inlier ? sums.count + 1 : sums.count - 1;
}

Mat4 IncrementalRegistration::update(const std::vector<Vec4>& source, const std::vector<Vec4>& target,
                                     float inlierThreshold)
{
    const std::size_t older = pairs.size();
    takeNewPairs(source, target);
    if (pairs.size() < kMinPairs)
        return Mat4::identity();
    const CorrespondenceConsensus consensus =
        CorrespondenceConsensus::of(reservoirSource, reservoirTarget, inlierThreshold);
    const double threshold = static_cast<double>(inlierThreshold);
    const InlierTest isInlierPair{consensus, threshold * threshold};
    const auto judge = [&](std::size_t pair) {
        const std::uint32_t k = pairs[pair];
        classify(pair, isInlierPair(source[k], target[k]), source, target);
    };
    for (std::size_t pair = older; pair < pairs.size(); ++pair)
        judge(pair);
    for (std::size_t n = 0; n < std::min(older, kReclassifiedPerUpdate); ++n) {
        if (cursor >= older)
            cursor = 0;
        judge(cursor++);
    }
    if (sums.count < kMinPairs)
        return Mat4::identity();
    return fit();
}

// Umeyama's rotation and translation from the sums: the covariance of target against source
// deviations, its SVD U S V^T, R = U D V^T with D flipping the last axis when U V^T reflects.
// The inliers' squared residuals sum to |s_c|^2 + |t_c|^2 - 2 n sum(R .* covariance) over the
// centred points, which gives their RMS without a pass over them.
Mat4 IncrementalRegistration::fit()
{
    const double n = static_cast<double>(sums.count);
    const Eigen::Vector3d sourceMean = Eigen::Vector3d(sums.source.data()) / n;
    const Eigen::Vector3d targetMean = Eigen::Vector3d(sums.target.data()) / n;
    const Eigen::Matrix3d cross = Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(sums.cross.data());
    const Eigen::Matrix3d covariance = cross / n - targetMean * sourceMean.transpose();
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(covariance, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
    if (svd.matrixU().determinant() * svd.matrixV().determinant() < 0.0)
        d(2, 2) = -1.0;
    const Eigen::Matrix3d rotation = svd.matrixU() * d * svd.matrixV().transpose();
    const Eigen::Vector3d sourceCentroid = Eigen::Vector3d(sums.sourceAnchor.data()) + sourceMean;
    const Eigen::Vector3d targetCentroid = Eigen::Vector3d(sums.targetAnchor.data()) + targetMean;
    const Eigen::Vector3d translation = targetCentroid - rotation * sourceCentroid;
    const double centredSquares = sums.sourceSquares - n * sourceMean.squaredNorm() + sums.targetSquares
        - n * targetMean.squaredNorm() - 2.0 * n * rotation.cwiseProduct(covariance).sum();
    fitRms = std::sqrt(std::max(0.0, centredSquares) / n);
    Mat4 T_target_source;
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            T_target_source.at(column, row) = static_cast<float>(rotation(row, column));
    for (int row = 0; row < 3; ++row)
        T_target_source.at(Mat4::kTranslationColumn, row) = static_cast<float>(translation(row));
    return T_target_source;
}

} // namespace tavorin
