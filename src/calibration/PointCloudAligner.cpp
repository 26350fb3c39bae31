#include "calibration/PointCloudAligner.h"

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

#include <cmath>
#include <iostream>
#include <limits>

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;

constexpr std::size_t kMinReferencePoints = 4;

bool isObserved(const Vec4& p)
{
    return !std::isnan(p.x) && !std::isnan(p.y) && !std::isnan(p.z);
}

// The correspondences of cloud `source` with the target where both points were observed, as two
// clouds of equal size.
struct PairedClouds {
    Cloud::Ptr source{new Cloud};
    Cloud::Ptr target{new Cloud};
};

PairedClouds observedPairs(const std::vector<Vec4>& source, const std::vector<Vec4>& target)
{
    PairedClouds pairs;
    for (std::size_t k = 0; k < target.size(); ++k) {
        if (isObserved(source[k]) && isObserved(target[k])) {
            pairs.source->push_back(pcl::PointXYZ(source[k].x, source[k].y, source[k].z));
            pairs.target->push_back(pcl::PointXYZ(target[k].x, target[k].y, target[k].z));
        }
    }
    return pairs;
}

pcl::Correspondences consensusInliers(const PairedClouds& pairs, float inlierThreshold)
{
    constexpr int kMaxConsensusIterations = 1000;
    pcl::Correspondences all;
    all.reserve(pairs.source->size());
    for (std::size_t m = 0; m < pairs.source->size(); ++m)
        all.emplace_back(static_cast<int>(m), static_cast<int>(m), std::numeric_limits<float>::max());
    pcl::registration::CorrespondenceRejectorSampleConsensus<pcl::PointXYZ> rejector;
    rejector.setInputSource(pairs.source);
    rejector.setInputTarget(pairs.target);
    rejector.setInlierThreshold(static_cast<double>(inlierThreshold));
    rejector.setMaximumIterations(kMaxConsensusIterations);
    pcl::Correspondences remaining;
    rejector.getRemainingCorrespondences(all, remaining);
    return remaining;
}

Mat4 toMat4(const Eigen::Matrix4f& matrix)
{
    Mat4 result;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            result.at(column, row) = matrix(row, column);
    return result;
}

// T_target_source from the consensus inliers of the observed pairs; the identity when fewer than
// four pairs are left at either stage.
Mat4 rigidTransform(const std::vector<Vec4>& source, const std::vector<Vec4>& target, float inlierThreshold)
{
    const PairedClouds pairs = observedPairs(source, target);
    if (pairs.source->size() < kMinReferencePoints)
        return Mat4::identity();
    Cloud inlierSource;
    Cloud inlierTarget;
    for (const pcl::Correspondence& c : consensusInliers(pairs, inlierThreshold)) {
        inlierSource.push_back((*pairs.source)[static_cast<std::size_t>(c.index_query)]);
        inlierTarget.push_back((*pairs.target)[static_cast<std::size_t>(c.index_match)]);
    }
    if (inlierSource.size() < kMinReferencePoints || inlierTarget.size() < kMinReferencePoints)
        return Mat4::identity();
    pcl::registration::TransformationEstimationSVD<pcl::PointXYZ, pcl::PointXYZ, float> estimator;
    Eigen::Matrix4f T_target_source = Eigen::Matrix4f::Identity();
    estimator.estimateRigidTransformation(inlierSource, inlierTarget, T_target_source);
    return toMat4(T_target_source);
}

} // namespace

PointCloudAligner::PointCloudAligner(unsigned cloudCount) : clouds(cloudCount), referencePoints(cloudCount) {}

void PointCloudAligner::addCorrespondencePoints(std::vector<std::vector<Vec4>> points)
{
    if (points.empty()) {
        std::cerr << "No points given (addCorrespondencePoints)!" << std::endl;
        return;
    }
    if (points.size() != clouds) {
        std::cerr << "The outer array must match the size of the specified point clouds (addCorrespondencePoints)!"
                  << std::endl;
        return;
    }
    for (const std::vector<Vec4>& cloud : points) {
        if (cloud.size() != points.front().size()) {
            std::cerr << "Arrays of different size are given (addCorrespondencePoints)!" << std::endl;
            return;
        }
    }
    for (std::size_t j = 0; j < points.size(); ++j)
        referencePoints[j].insert(referencePoints[j].end(), points[j].begin(), points[j].end());
}

std::vector<Mat4> PointCloudAligner::registrate(int targetCloudId, float inlierThreshold) const
{
    if (clouds <= 1) {
        std::cerr << "The number of specified point clouds has to be 2 at minimum! Was " << clouds << std::endl;
        return {};
    }
    if (targetCloudId < 0 || static_cast<std::size_t>(targetCloudId) >= referencePoints.size()) {
        std::cerr << "The given point cloud id doesn't exists. Given point cloud id: " << targetCloudId
                  << ". Size of point clouds: " << clouds << "." << std::endl;
        return {};
    }
    const std::vector<Vec4>& target = referencePoints[static_cast<std::size_t>(targetCloudId)];
    if (target.size() < kMinReferencePoints) {
        std::cerr << "There have to be at least 4 reference points for the specified point cloud id! There were just "
                  << target.size() << std::endl;
        return {};
    }
    std::vector<Mat4> transforms;
    transforms.reserve(clouds);
    for (std::size_t j = 0; j < referencePoints.size(); ++j) {
        if (j == static_cast<std::size_t>(targetCloudId))
            transforms.push_back(Mat4::identity());
        else
            transforms.push_back(rigidTransform(referencePoints[j], target, inlierThreshold));
    }
    return transforms;
}

std::vector<RegistrationResidual> PointCloudAligner::residuals(const std::vector<Mat4>& transforms,
                                                               int targetCloudId, float inlierThreshold) const
{
    if (transforms.size() != referencePoints.size() || targetCloudId < 0
        || static_cast<std::size_t>(targetCloudId) >= referencePoints.size())
        return {};
    const std::vector<Vec4>& target = referencePoints[static_cast<std::size_t>(targetCloudId)];
    std::vector<RegistrationResidual> result(referencePoints.size());
    for (std::size_t j = 0; j < referencePoints.size(); ++j) {
        double squaredSum = 0.0;
        for (std::size_t k = 0; k < target.size(); ++k) {
            const Vec4& source = referencePoints[j][k];
            if (!isObserved(source) || !isObserved(target[k]))
                continue;
            const double residual = distance(transforms[j] * Vec4::point(source.x, source.y, source.z), target[k]);
            if (residual < static_cast<double>(inlierThreshold)) {
                squaredSum += residual * residual;
                ++result[j].inlierCount;
            }
        }
        if (result[j].inlierCount > 0)
            result[j].inlierRms = std::sqrt(squaredSum / static_cast<double>(result[j].inlierCount));
    }
    return result;
}
