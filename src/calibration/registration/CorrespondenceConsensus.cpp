#include "calibration/registration/CorrespondenceConsensus.h"

// GCC 12 reports a false out-of-bounds SSE load inside Eigen's Umeyama estimate; the location
// it names is the first inclusion of the SSE header, below.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#include <pcl/correspondence.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/registration/correspondence_rejection_sample_consensus.h>
#include <pcl/registration/transformation_estimation_svd.h>
#pragma GCC diagnostic pop

#include <limits>

namespace tavorin {

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

Cloud::Ptr cloudOf(const std::vector<Vec4>& points)
{
    Cloud::Ptr cloud(new Cloud);
    cloud->reserve(points.size());
    for (const Vec4& p : points)
        cloud->push_back(pcl::PointXYZ(p.x, p.y, p.z));
    return cloud;
}

Mat4 toMat4(const Eigen::Matrix4f& matrix)
{
    Mat4 result;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            result.at(column, row) = matrix(row, column);
    return result;
}

} // namespace

CorrespondenceConsensus CorrespondenceConsensus::of(const std::vector<Vec4>& source, const std::vector<Vec4>& target,
                                                    float inlierThreshold)
{
    constexpr int kMaxConsensusIterations = 1000;
    pcl::Correspondences all;
    all.reserve(source.size());
    for (std::size_t m = 0; m < source.size(); ++m)
        all.emplace_back(static_cast<int>(m), static_cast<int>(m), std::numeric_limits<float>::max());
    pcl::registration::CorrespondenceRejectorSampleConsensus<pcl::PointXYZ> rejector;
    rejector.setInputSource(cloudOf(source));
    rejector.setInputTarget(cloudOf(target));
    rejector.setInlierThreshold(static_cast<double>(inlierThreshold));
    rejector.setMaximumIterations(kMaxConsensusIterations);
    pcl::Correspondences remaining;
    rejector.getRemainingCorrespondences(all, remaining);

    CorrespondenceConsensus consensus;
    consensus.inliers.reserve(remaining.size());
    for (const pcl::Correspondence& c : remaining)
        consensus.inliers.push_back(static_cast<std::size_t>(c.index_query));
    const Eigen::Matrix4f best = rejector.getBestTransformation();
    consensus.T_target_source = toMat4(best);
    // When it finds no model the rejector hands back every pair and sets its model to exactly the
    // identity; a sampled model is never exactly that unless the clouds coincide, where keeping
    // every pair is what the model would do too.
    consensus.gaveUp = remaining.size() == all.size() && best == Eigen::Matrix4f::Identity();
    return consensus;
}

Mat4 svdRigidTransform(const std::vector<Vec4>& source, const std::vector<Vec4>& target)
{
    pcl::registration::TransformationEstimationSVD<pcl::PointXYZ, pcl::PointXYZ, float> estimator;
    Eigen::Matrix4f T_target_source = Eigen::Matrix4f::Identity();
    estimator.estimateRigidTransformation(*cloudOf(source), *cloudOf(target), T_target_source);
    return toMat4(T_target_source);
}

} // namespace tavorin
