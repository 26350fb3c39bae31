#include "calibration/registration/PointCloudAligner.h"

#include "base/Console.h"
#include "calibration/registration/CorrespondenceConsensus.h"

#include <cmath>

namespace tavorin {

namespace {

constexpr std::size_t kMinReferencePoints = 4;

// T_target_source from the consensus inliers of the pairs where both points were observed; the
// identity when fewer than four pairs are left at either stage.
Mat4 rigidTransformOverAll(const std::vector<Vec4>& source, const std::vector<Vec4>& target, float inlierThreshold)
{
    std::vector<Vec4> pairedSource;
    std::vector<Vec4> pairedTarget;
    for (std::size_t k = 0; k < target.size(); ++k) {
        if (isObserved(source[k]) && isObserved(target[k])) {
            pairedSource.push_back(source[k]);
            pairedTarget.push_back(target[k]);
        }
    }
    if (pairedSource.size() < kMinReferencePoints)
        return Mat4::identity();
    std::vector<Vec4> inlierSource;
    std::vector<Vec4> inlierTarget;
    for (std::size_t m : CorrespondenceConsensus::of(pairedSource, pairedTarget, inlierThreshold).inliers) {
        inlierSource.push_back(pairedSource[m]);
        inlierTarget.push_back(pairedTarget[m]);
    }
    if (inlierSource.size() < kMinReferencePoints)
        return Mat4::identity();
    return svdRigidTransform(inlierSource, inlierTarget);
}

} // namespace

PointCloudAligner::PointCloudAligner(unsigned cloudCount) : clouds(cloudCount), referencePoints(cloudCount) {}

void PointCloudAligner::addCorrespondencePoints(std::vector<std::vector<Vec4>> points)
{
    if (points.empty()) {
        console::errRepeating("No points given (addCorrespondencePoints)!");
        return;
    }
    if (points.size() != clouds) {
        console::errRepeating("The outer array must match the size of the specified point clouds (addCorrespondencePoints)!");
        return;
    }
    for (const std::vector<Vec4>& cloud : points) {
        if (cloud.size() != points.front().size()) {
            console::errRepeating("Arrays of different size are given (addCorrespondencePoints)!");
            return;
        }
    }
    for (std::size_t j = 0; j < points.size(); ++j)
        referencePoints[j].insert(referencePoints[j].end(), points[j].begin(), points[j].end());
}

bool PointCloudAligner::canRegistrate(int targetCloudId) const
{
    if (clouds <= 1) {
        console::errRepeating("The number of specified point clouds has to be 2 at minimum! Was ", clouds);
        return false;
    }
    if (targetCloudId < 0 || static_cast<std::size_t>(targetCloudId) >= referencePoints.size()) {
        console::errRepeating("The given point cloud id doesn't exists. Given point cloud id: ", targetCloudId,
                     ". Size of point clouds: ", clouds, ".");
        return false;
    }
    const std::size_t targetPoints = referencePoints[static_cast<std::size_t>(targetCloudId)].size();
    if (targetPoints < kMinReferencePoints) {
        console::errRepeating("There have to be at least 4 reference points for the specified point cloud id! There were just ",
                     targetPoints);
        return false;
    }
    return true;
}

template <typename Align>
std::vector<Mat4> PointCloudAligner::transformsOnto(int targetCloudId, Align align) const
{
    const std::vector<Vec4>& target = referencePoints[static_cast<std::size_t>(targetCloudId)];
    std::vector<Mat4> transforms;
    transforms.reserve(clouds);
    for (std::size_t j = 0; j < referencePoints.size(); ++j)
        transforms.push_back(j == static_cast<std::size_t>(targetCloudId) ? Mat4::identity() : align(j, target));
    return transforms;
}

std::vector<Mat4> PointCloudAligner::registrate(int targetCloudId, float inlierThreshold)
{
    if (!canRegistrate(targetCloudId))
        return {};
    if (targetCloudId != registrationTarget || inlierThreshold != registrationThreshold) {
        registrations.assign(clouds, IncrementalRegistration{});
        registrationTarget = targetCloudId;
        registrationThreshold = inlierThreshold;
    }
    return transformsOnto(targetCloudId, [&](std::size_t j, const std::vector<Vec4>& target) {
        return registrations[j].update(referencePoints[j], target, inlierThreshold);
    });
}

std::vector<Mat4> PointCloudAligner::registrateOverAll(int targetCloudId, float inlierThreshold) const
{
    if (!canRegistrate(targetCloudId))
        return {};
    return transformsOnto(targetCloudId, [&](std::size_t j, const std::vector<Vec4>& target) {
        return rigidTransformOverAll(referencePoints[j], target, inlierThreshold);
    });
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
            ++result[j].correspondenceCount;
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

std::vector<RegistrationResidual> PointCloudAligner::currentResiduals() const
{
    std::vector<RegistrationResidual> result(clouds);
    for (std::size_t j = 0; j < registrations.size() && j < result.size(); ++j) {
        if (static_cast<int>(j) == registrationTarget)
            continue;
        result[j].inlierCount = registrations[j].inlierCount();
        result[j].inlierRms = registrations[j].inlierRms();
        result[j].correspondenceCount = registrations[j].correspondenceCount();
    }
    return result;
}

} // namespace tavorin
