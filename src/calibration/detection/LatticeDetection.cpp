#include "calibration/detection/LatticeDetection.h"

#include "base/Console.h"
#include "calibration/detection/LatticeHoles.h"
#include "calibration/detection/LatticeScanlines.h"
#include "calibration/detection/PixelWindow.h"

#include <pcl/common/centroid.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/sample_consensus/ransac.h>
#include <pcl/sample_consensus/sac_model_plane.h>

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>

namespace tavorin {

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZ>;
using Node = std::shared_ptr<Scanline3D>;

constexpr float kPi = 3.14159265358979323846f;

// Two hole centres 0.06..0.10 apart: the pair (first, second) points from `second` to `first`.
struct NeighbourPair {
    int first;
    int second;
    float angle; // direction of first - second in the image's x-y plane, folded into [0, pi]
};

using DirectionGroup = std::vector<NeighbourPair>;

// The midpoints of one gap cluster and the pixels of its gaps' ends.
struct GapCluster {
    Cloud::Ptr midpoints;
    PixelWindow gapPixels;
};

struct Crop {
    Cloud::Ptr cloud;
    std::vector<std::int32_t> pixels; // image pixel of every crop point, ascending
    PixelWindow window;               // the pixels the crop examined
};

struct LatticeAxes {
    Vec4 u;
    Vec4 v;
};

float squaredDistance(const Vec4& a, const Vec4& b)
{
    return lengthSquared(a - b);
}

Vec4 toVec4(const pcl::PointXYZ& p)
{
    return Vec4::point(p.x, p.y, p.z);
}

float foldedAngleDifference(float a, float b)
{
    const float difference = std::fabs(a - b);
    return difference > kPi / 2.0f ? kPi - difference : difference;
}

std::vector<Node> gapNodes(const std::vector<PixelRun>& bounds)
{
    std::vector<Node> gaps;
    gaps.reserve(bounds.size());
    for (const PixelRun& bound : bounds)
        gaps.push_back(Scanline3D::create(bound.start, bound.end));
    return gaps;
}

// Numbers the set roots in gap order and collects each set's midpoints into one cloud.
std::vector<GapCluster> clusterClouds(const std::vector<Node>& gaps, const std::vector<Vec4>& midpoints,
                                      std::int32_t width)
{
    std::vector<GapCluster> clusters;
    for (const Node& gap : gaps) {
        if (gap->isRoot()) {
            gap->clusterId = static_cast<std::int32_t>(clusters.size());
            clusters.push_back(GapCluster{Cloud::Ptr(new Cloud), PixelWindow{}});
        }
    }
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        const Vec4& m = midpoints[i];
        GapCluster& cluster = clusters[static_cast<std::size_t>(findRoot(gaps[i])->clusterId)];
        cluster.midpoints->push_back(pcl::PointXYZ(m.x, m.y, m.z));
        cluster.gapPixels.includePixel(gaps[i]->start, width);
        cluster.gapPixels.includePixel(gaps[i]->end, width);
    }
    return clusters;
}

// A flat, roughly square cluster of more than 20 midpoints with extent along each of its
// principal axes.
bool isPlateCandidate(const Cloud& cluster)
{
    constexpr std::size_t kMinCandidatePoints = 20;
    constexpr float kFlatRatio = 10.0f;
    constexpr float kSquareRatio = 2.0f;
    constexpr float kMinNormalisedEdge = 0.1f;
    if (cluster.size() <= kMinCandidatePoints)
        return false;
    Eigen::Vector4f centroid = Eigen::Vector4f::Zero();
    pcl::compute3DCentroid(cluster, centroid);
    Eigen::Matrix3f covariance = Eigen::Matrix3f::Zero();
    pcl::computeCovarianceMatrixNormalized(cluster, centroid, covariance);
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3f> solver(covariance);
    const Eigen::Vector3f lambda = solver.eigenvalues();
    const bool flat = lambda[0] < lambda[2] / kFlatRatio && lambda[0] < lambda[1] / kFlatRatio;
    const bool square = lambda[1] > lambda[2] / kSquareRatio;
    if (!flat || !square)
        return false;

    const Eigen::Matrix3f axes = solver.eigenvectors();
    Eigen::Vector3f boxMin = Eigen::Vector3f::Constant(std::numeric_limits<float>::max());
    Eigen::Vector3f boxMax = Eigen::Vector3f::Constant(std::numeric_limits<float>::lowest());
    for (const pcl::PointXYZ& p : cluster) {
        const Eigen::Vector3f local = axes.transpose() * (p.getVector3fMap() - centroid.head<3>());
        boxMin = boxMin.cwiseMin(local);
        boxMax = boxMax.cwiseMax(local);
    }
    const Eigen::Vector3f minCorner = axes * boxMin + centroid.head<3>();
    for (int k = 0; k < 3; ++k) {
        Eigen::Vector3f corner = boxMin;
        corner[k] = boxMax[k];
        const Eigen::Vector3f edge = axes * corner + centroid.head<3>() - minCorner;
        if (!(length(normalize(Vec4::direction(edge.x(), edge.y(), edge.z()))) > kMinNormalisedEdge))
            return false;
    }
    return true;
}

// Several gaps of one hole give nearly the same midpoint; keeps the first of each bunch.
void removeDuplicateMidpoints(Cloud& cluster)
{
    constexpr float kDuplicateSquaredDistance = 0.0004f;
    auto& points = cluster.points;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec4 kept = toVec4(points[i]);
        const auto isDuplicate = [&](const pcl::PointXYZ& p) {
            return squaredDistance(kept, toVec4(p)) < kDuplicateSquaredDistance;
        };
        points.erase(std::remove_if(points.begin() + static_cast<std::ptrdiff_t>(i) + 1, points.end(), isDuplicate),
                     points.end());
    }
    cluster.width = static_cast<std::uint32_t>(points.size());
    cluster.height = 1;
}

// Whether pixel i lies within squared distance `squaredRadius` (at most) of a cluster point. Tries
// the point that was near last time first: neighbouring pixels are mostly near the same one.
bool isNearClusterPoint(const PointImage& image, std::int32_t i, const std::vector<Vec4>& clusterPoints,
                        float squaredRadius, std::size_t& lastNear)
{
    if (lastNear < clusterPoints.size() && image.squaredDistance(i, clusterPoints[lastNear]) <= squaredRadius)
        return true;
    for (std::size_t k = 0; k < clusterPoints.size(); ++k) {
        if (image.squaredDistance(i, clusterPoints[k]) <= squaredRadius) {
            lastNear = k;
            return true;
        }
    }
    return false;
}

// Every image point within 0.16 of a cluster point, in pixel order. The box test only skips
// pixels that are farther than 0.16 from every cluster point along one axis; the bounding sphere
// of the cluster, widened by 0.16, holds every point that can be near it. Only the window of the
// pixels inside box and sphere is examined, found from the grid and the cluster's gap pixels.
Crop cropAroundCluster(const PointImage& image, const GapCluster& cluster)
{
    constexpr float kNeighbourhoodRadius = 0.16f;
    constexpr float kNeighbourhoodSquaredRadius = 0.0256f;
    constexpr float kBoxMargin = kNeighbourhoodRadius + 0.001f;
    Vec4 boxMin = Vec4::point(std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::max());
    Vec4 boxMax = Vec4::point(std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
                              std::numeric_limits<float>::lowest());
    std::vector<Vec4> clusterPoints;
    clusterPoints.reserve(cluster.midpoints->size());
    for (const pcl::PointXYZ& p : *cluster.midpoints) {
        clusterPoints.push_back(toVec4(p));
        boxMin = Vec4::point(std::min(boxMin.x, p.x), std::min(boxMin.y, p.y), std::min(boxMin.z, p.z));
        boxMax = Vec4::point(std::max(boxMax.x, p.x), std::max(boxMax.y, p.y), std::max(boxMax.z, p.z));
    }
    const Vec4 centre = (boxMin + boxMax) / 2.0f;
    float radius = 0.0f;
    for (const Vec4& p : clusterPoints)
        radius = std::max(radius, distance(p, centre));
    const Vec4 lo = boxMin - Vec4::direction(kBoxMargin, kBoxMargin, kBoxMargin);
    const Vec4 hi = boxMax + Vec4::direction(kBoxMargin, kBoxMargin, kBoxMargin);
    const float reach = radius + kNeighbourhoodRadius;
    const auto inReach = [&](std::int32_t i) {
        const float* p = image.xyz(i);
        if (!(p[0] >= lo.x && p[0] <= hi.x && p[1] >= lo.y && p[1] <= hi.y && p[2] >= lo.z && p[2] <= hi.z))
            return false;
        return !(std::sqrt(image.squaredDistance(i, centre)) > reach);
    };

    Crop crop{Cloud::Ptr(new Cloud), {}, windowAround(image, cluster.gapPixels, inReach)};
    std::size_t lastNear = 0;
    for (std::int32_t row = crop.window.firstRow; row <= crop.window.lastRow; ++row) {
        for (std::int32_t column = crop.window.firstColumn; column <= crop.window.lastColumn; ++column) {
            const std::int32_t i = row * image.width + column;
            if (!inReach(i))
                continue;
            if (isNearClusterPoint(image, i, clusterPoints, kNeighbourhoodSquaredRadius, lastNear)) {
                const float* p = image.xyz(i);
                crop.cloud->push_back(pcl::PointXYZ(p[0], p[1], p[2]));
                crop.pixels.push_back(i);
            }
        }
    }
    return crop;
}

struct PlaneFit {
    std::vector<int> inliers; // indices into the fitted cloud
    Eigen::VectorXf coefficients; // a, b, c, d; empty when the fit failed
};

enum class PlaneRefit { None, LeastSquares };

// The least-squares plane (a, b, c, d) through the cloud's points at `indices`: through their
// centroid, normal to their direction of least spread. Computed here rather than by the library's
// model, whose compiled code would hand back a vector allocated under its own build's alignment
// rules, for this file to free under other ones (AddressSanitizer caught that).
std::optional<Eigen::Vector4f> leastSquaresPlane(const Cloud& cloud, const std::vector<int>& indices)
{
    constexpr std::size_t kMinPoints = 3;
    if (indices.size() < kMinPoints)
        return std::nullopt;
    Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
    for (int i : indices)
        centroid += cloud[static_cast<std::size_t>(i)].getVector3fMap().cast<double>();
    centroid /= static_cast<double>(indices.size());
    Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
    for (int i : indices) {
        const Eigen::Vector3d d = cloud[static_cast<std::size_t>(i)].getVector3fMap().cast<double>() - centroid;
        scatter += d * d.transpose();
    }
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(scatter);
    if (solver.info() != Eigen::Success)
        return std::nullopt;
    const Eigen::Vector3d normal = solver.eigenvectors().col(0); // the least eigenvalue's
    if (!normal.allFinite())
        return std::nullopt;
    return Eigen::Vector4f(static_cast<float>(normal.x()), static_cast<float>(normal.y()),
                           static_cast<float>(normal.z()), static_cast<float>(-normal.dot(centroid)));
}

// The indices of the cloud's points within `distance` of the plane (unit normal).
std::vector<int> pointsNearPlane(const Cloud& cloud, const Eigen::Vector4f& plane, double distance)
{
    std::vector<int> near;
    for (std::size_t i = 0; i < cloud.size(); ++i) {
        const Eigen::Vector3f p = cloud[i].getVector3fMap();
        if (std::fabs(plane.head<3>().dot(p) + plane[3]) <= distance)
            near.push_back(static_cast<int>(i));
    }
    return near;
}

// RANSAC plane with the library's fixed seeds; the model only reads the crop. The consensus plane
// runs through three sampled points, so depth noise tilts and shifts it by millimetres from frame
// to frame (1.3 mm RMS along the normal at the hole centres on the sample scene); refitted by least
// squares on its inliers it follows all of them (0.02 mm RMS).
PlaneFit fitPlane(const Cloud::ConstPtr& crop, double inlierDistance, PlaneRefit refit = PlaneRefit::None)
{
    constexpr int kMaxPlaneIterations = 10000;
    const pcl::SampleConsensusModelPlane<pcl::PointXYZ>::Ptr model(
        new pcl::SampleConsensusModelPlane<pcl::PointXYZ>(crop, false)); // seeded sampling
    pcl::RandomSampleConsensus<pcl::PointXYZ> ransac(model, inlierDistance); // seeded, not random
    ransac.setMaxIterations(kMaxPlaneIterations);
    PlaneFit fit;
    if (ransac.computeModel()) {
        ransac.getInliers(fit.inliers);
        ransac.getModelCoefficients(fit.coefficients);
        // The band around a tilted consensus plane cuts the noise of one edge of the plate
        // unevenly, which holds a single refit near that tilt (0.17 degrees on a noisy frontal
        // plate); a second refit on the inliers around the first leaves none. The inliers stay
        // those the last refit used.
        constexpr int kRefitPasses = 2;
        std::optional<Eigen::Vector4f> plane;
        for (int pass = 0; refit == PlaneRefit::LeastSquares && pass < kRefitPasses; ++pass) {
            if (plane)
                fit.inliers = pointsNearPlane(*crop, *plane, inlierDistance);
            const std::optional<Eigen::Vector4f> refitted = leastSquaresPlane(*crop, fit.inliers);
            if (!refitted)
                break;
            plane = refitted;
        }
        if (plane)
            fit.coefficients = *plane;
    }
    return fit;
}

// The inliers as ascending image pixels (the library lists them in cloud order, which is pixel
// order, so the sort rarely has work).
std::vector<std::int32_t> inlierPixels(const PlaneFit& fit, const Crop& crop)
{
    std::vector<std::int32_t> pixels;
    pixels.reserve(fit.inliers.size());
    for (int index : fit.inliers)
        pixels.push_back(crop.pixels[static_cast<std::size_t>(index)]);
    if (!std::is_sorted(pixels.begin(), pixels.end()))
        std::sort(pixels.begin(), pixels.end());
    return pixels;
}

// Unit normal toward the camera and a point of the plane.
std::optional<Plane> planeFromCoefficients(const Eigen::VectorXf& coefficients)
{
    constexpr int kPlaneCoefficientCount = 4;
    if (coefficients.size() != kPlaneCoefficientCount)
        return std::nullopt;
    Vec4 normal = normalize(Vec4::direction(coefficients[0], coefficients[1], coefficients[2]));
    const Vec4 onPlane = normal * -coefficients[3];
    if (normal.z > 0.0f)
        normal = -normal;
    return Plane{normal, Vec4::point(onPlane.x, onPlane.y, onPlane.z)};
}

// Every ordered pair of centres at a lattice pitch.
std::vector<NeighbourPair> neighbourPairs(const std::vector<Vec4>& centres)
{
    constexpr float kMinPairDistance = 0.06f;
    constexpr float kMaxPairDistance = 0.10f;
    std::vector<NeighbourPair> pairs;
    for (std::size_t i = 0; i < centres.size(); ++i) {
        for (std::size_t j = 0; j < centres.size(); ++j) {
            if (i == j)
                continue;
            const Vec4 d = centres[j] - centres[i];
            const float len = length(d);
            if (!(len > kMinPairDistance && len < kMaxPairDistance))
                continue;
            float angle = std::atan2(d.y, d.x);
            if (angle < 0.0f)
                angle += kPi;
            pairs.push_back(NeighbourPair{static_cast<int>(j), static_cast<int>(i), angle});
        }
    }
    return pairs;
}

// Pairs grouped by direction, the wrap at pi closed, largest group first.
std::vector<DirectionGroup> directionGroups(std::vector<NeighbourPair> pairs)
{
    constexpr float kDirectionStep = 0.03f;
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const NeighbourPair& a, const NeighbourPair& b) { return a.angle < b.angle; });
    std::vector<DirectionGroup> groups(1);
    for (const NeighbourPair& pair : pairs) {
        if (!groups.back().empty()
            && foldedAngleDifference(pair.angle, groups.back().back().angle) >= kDirectionStep)
            groups.emplace_back();
        groups.back().push_back(pair);
    }
    if (groups.size() > 1
        && foldedAngleDifference(groups.front().front().angle, groups.back().back().angle) < kDirectionStep) {
        groups.front().insert(groups.front().end(), groups.back().begin(), groups.back().end());
        groups.pop_back();
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const DirectionGroup& a, const DirectionGroup& b) { return a.size() > b.size(); });
    return groups;
}

// The two lattice directions, from the middle pair of the two largest groups.
std::optional<LatticeAxes> dominantAxes(const std::vector<DirectionGroup>& groups, const std::vector<Vec4>& centres)
{
    constexpr std::size_t kMinGroupPairs = 20;
    if (groups.size() < 2 || groups[0].size() < kMinGroupPairs || groups[1].size() < kMinGroupPairs)
        return std::nullopt;
    const auto axisOf = [&](const DirectionGroup& group) {
        const NeighbourPair& middle = group[group.size() / 2];
        return normalize(centres[static_cast<std::size_t>(middle.first)]
                         - centres[static_cast<std::size_t>(middle.second)]);
    };
    return LatticeAxes{axisOf(groups[0]), axisOf(groups[1])};
}

// Keeps the centres from which more dominant-direction pairs than other pairs start.
std::vector<Vec4> filterByDirection(const std::vector<DirectionGroup>& groups, const std::vector<Vec4>& centres)
{
    constexpr int kMinDirectionVotes = 1;
    std::vector<int> votes(centres.size(), 0);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const int vote = g < 2 ? 1 : -1;
        for (const NeighbourPair& pair : groups[g])
            votes[static_cast<std::size_t>(pair.second)] += vote;
    }
    std::vector<Vec4> kept;
    for (std::size_t i = 0; i < centres.size(); ++i)
        if (votes[i] >= kMinDirectionVotes)
            kept.push_back(centres[i]);
    return kept;
}

Vec4 meanOf(const std::vector<Vec4>& points)
{
    Vec4 sum = Vec4::point(0.0f, 0.0f, 0.0f);
    for (const Vec4& p : points)
        sum = sum + p;
    const Vec4 mean = sum / static_cast<float>(points.size());
    return Vec4::point(mean.x, mean.y, mean.z);
}

struct CentreHole {
    Vec4 hole;          // G
    Vec4 neighbourMean; // c2
};

// The hole nearest the mean of the holes near the mean of all holes.
std::optional<CentreHole> findCentreHole(const std::vector<Vec4>& centres)
{
    constexpr float kCentreNeighbourhood = 0.24f;
    const Vec4 mean = meanOf(centres);
    std::vector<Vec4> near;
    for (const Vec4& p : centres)
        if (distance(p, mean) < kCentreNeighbourhood)
            near.push_back(p);
    if (near.empty())
        return std::nullopt;
    const Vec4 nearMean = meanOf(near);
    const Vec4* best = &near.front();
    for (const Vec4& p : near)
        if (distance(p, nearMean) < distance(*best, nearMean))
            best = &p;
    return CentreHole{*best, nearMean};
}

// Drops the centres beyond the grid's reach in the positive axis directions.
std::vector<Vec4> gridWindow(const std::vector<Vec4>& centres, const Vec4& centreHole, const LatticeAxes& axes)
{
    constexpr float kMaxGridOffset = 0.18f;
    std::vector<Vec4> kept;
    for (const Vec4& p : centres)
        if (dot(p - centreHole, axes.u) <= kMaxGridOffset && dot(p - centreHole, axes.v) <= kMaxGridOffset)
            kept.push_back(p);
    return kept;
}

// The centre hole sits in the middle and the holes span a 5 x 5 lattice.
bool hasLatticeExtent(const std::vector<Vec4>& holes, const CentreHole& centre, const LatticeAxes& axes)
{
    constexpr float kMaxCentreDisagreement = 0.03f;
    constexpr float kMinExtent = 0.28f;
    constexpr float kMaxExtent = 0.36f;
    const auto extentAlong = [&](const Vec4& axis) {
        float lo = std::numeric_limits<float>::max();
        float hi = std::numeric_limits<float>::lowest();
        for (const Vec4& p : holes) {
            lo = std::min(lo, dot(p, axis));
            hi = std::max(hi, dot(p, axis));
        }
        return hi - lo;
    };
    const float eu = extentAlong(axes.u);
    const float ev = extentAlong(axes.v);
    return distance(centre.neighbourMean, centre.hole) < kMaxCentreDisagreement && eu > kMinExtent
        && eu < kMaxExtent && ev > kMinExtent && ev < kMaxExtent;
}

// Centroid of the plate-near points in the square ring around the centre hole. Only the window of
// the pixels inside the ring's outer square is examined, found from the grid and the crop.
Vec4 ringCentroid(const PointImage& image, const PixelWindow& crop, const Vec4& centreHole, const Vec4& normal,
                  const LatticeAxes& axes)
{
    constexpr float kMaxRingPlaneDistance = 0.1f;
    constexpr float kRingInner = 0.25f;
    constexpr float kRingOuter = 0.4f;
    const auto insideOuter = [&](std::int32_t i) {
        const float* p = image.xyz(i);
        if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2]))
            return false;
        return std::fabs(image.offsetAlong(i, centreHole, normal)) <= kMaxRingPlaneDistance
            && std::fabs(image.offsetAlong(i, centreHole, axes.u)) <= kRingOuter
            && std::fabs(image.offsetAlong(i, centreHole, axes.v)) <= kRingOuter;
    };
    const PixelWindow window = windowAround(image, crop, insideOuter);
    Vec4 sum = Vec4::point(0.0f, 0.0f, 0.0f);
    int count = 0;
    for (std::int32_t row = window.firstRow; row <= window.lastRow; ++row) {
        for (std::int32_t column = window.firstColumn; column <= window.lastColumn; ++column) {
            const std::int32_t i = row * image.width + column;
            if (!insideOuter(i))
                continue;
            const bool insideInner = std::fabs(image.offsetAlong(i, centreHole, axes.u)) < kRingInner
                && std::fabs(image.offsetAlong(i, centreHole, axes.v)) < kRingInner;
            if (!insideInner) {
                sum = sum + image.at(i);
                ++count;
            }
        }
    }
    const Vec4 mean = sum / static_cast<float>(count);
    return Vec4::point(mean.x, mean.y, mean.z);
}

// Of the four in-plane axis directions, the one nearest the ring's mass becomes primary.
void orientAxes(LatticeDetectionResult& result, const LatticeAxes& axes)
{
    const Vec4 o = normalize(axes.u);
    const Vec4 p = normalize(cross(o, result.normal));
    const Vec4 q = normalize(result.ringOffset);
    const float r = dot(q, o);
    const float s = dot(q, p);
    const float u = dot(q, -o);
    const float v = dot(q, -p);
    if (r > s && r > u && r > v) {
        result.primaryAxis = o;
        result.secondaryAxis = p;
    } else if (s > u && s > v) {
        result.primaryAxis = p;
        result.secondaryAxis = -o;
    } else if (u > v) {
        result.primaryAxis = -o;
        result.secondaryAxis = -p;
    } else {
        result.primaryAxis = -p;
        result.secondaryAxis = o;
    }
}

// The holes of a plate candidate: the pixels around its cluster, the plate plane through them, and
// the centre of every hole that breaks the plate's rows.
struct PlateHoles {
    std::vector<Vec4> centres;
    Plane plane;
    PixelWindow cropWindow;
};

std::optional<PlateHoles> findPlateHoles(const PointImage& image, const GapCluster& cluster)
{
    constexpr std::size_t kMinCropPoints = 100;
    constexpr double kCoarsePlaneDistance = 0.015;
    constexpr double kFinePlaneDistance = 0.005;

    removeDuplicateMidpoints(*cluster.midpoints);
    const Crop crop = cropAroundCluster(image, cluster);
    if (crop.cloud->size() < kMinCropPoints)
        return std::nullopt;

    const std::vector<std::int32_t> platePixels = inlierPixels(fitPlane(crop.cloud, kCoarsePlaneDistance), crop);
    const std::vector<Node> runs = holeRuns(rowSpans(platePixels, image.width), platePixels, image.width);
    clusterHoleRuns(runs, image.width);

    const std::optional<Plane> plane = planeFromCoefficients(fitPlane(crop.cloud, kFinePlaneDistance, PlaneRefit::LeastSquares).coefficients);
    if (!plane)
        return std::nullopt;
    return PlateHoles{holeCentres(image, runs, *plane), *plane, crop.window};
}

// The 5 x 5 lattice among the hole centres: its two directions, its centre hole and its holes.
struct LatticeFit {
    LatticeAxes axes;
    CentreHole centre;
    std::vector<Vec4> holes;
};

std::optional<LatticeFit> fitLattice(const std::vector<Vec4>& centres)
{
    constexpr std::size_t kMinFilteredCentres = 16;
    const std::vector<DirectionGroup> groups = directionGroups(neighbourPairs(centres));
    const std::optional<LatticeAxes> axes = dominantAxes(groups, centres);
    if (!axes)
        return std::nullopt;
    const std::vector<Vec4> filtered = filterByDirection(groups, centres);
    if (filtered.size() < kMinFilteredCentres)
        return std::nullopt;
    const std::optional<CentreHole> centre = findCentreHole(filtered);
    if (!centre)
        return std::nullopt;
    std::vector<Vec4> holes = gridWindow(filtered, centre->hole, *axes);
    if (holes.empty() || !hasLatticeExtent(holes, *centre, *axes))
        return std::nullopt;
    return LatticeFit{*axes, *centre, std::move(holes)};
}

// The plate frame of an accepted lattice, oriented by the plate's mass around the centre hole.
LatticeDetectionResult orientedResult(const PointImage& image, const LatticeFit& lattice, const PlateHoles& plate)
{
    const Plane& plane = plate.plane;
    LatticeDetectionResult result;
    result.found = true;
    result.holes = lattice.holes;
    result.origin = lattice.centre.hole;
    result.normal = plane.normal;
    result.ringOffset =
        ringCentroid(image, plate.cropWindow, lattice.centre.hole, plane.normal, lattice.axes) - lattice.centre.hole;
    orientAxes(result, lattice.axes);
    return result;
}

// No value when the candidate is rejected.
std::optional<LatticeDetectionResult> examineCandidate(const PointImage& image, const GapCluster& cluster)
{
    const std::optional<PlateHoles> plate = findPlateHoles(image, cluster);
    if (!plate)
        return std::nullopt;
    const std::optional<LatticeFit> lattice = fitLattice(plate->centres);
    if (!lattice)
        return std::nullopt;
    return orientedResult(image, *lattice, *plate);
}

// Hole gaps in the rows that can hold the plate, clustered into plate candidates; the first
// candidate that holds a lattice wins. Without a gap in the searched rows nothing can.
LatticeDetectionResult searchLattice(const PointImage& image)
{
    if (!image.points || image.width <= 0 || image.height <= 0)
        return {};
    const std::vector<Node> gaps = gapNodes(gapsNearGaps(image));
    std::vector<Vec4> midpoints;
    midpoints.reserve(gaps.size());
    for (const Node& gap : gaps)
        midpoints.push_back(gapMidpoint(image, *gap));
    clusterGaps(gaps, midpoints);
    for (const GapCluster& cluster : clusterClouds(gaps, midpoints, image.width)) {
        if (!isPlateCandidate(*cluster.midpoints))
            continue;
        if (std::optional<LatticeDetectionResult> result = examineCandidate(image, cluster))
            return *result;
    }
    return {};
}

// Elapsed time in 100 ns ticks, printed in milliseconds.
void printRuntime(std::chrono::steady_clock::time_point start)
{
    constexpr double kTicksPerSecond = 1e7;
    const auto ticks = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    const float milliseconds = static_cast<float>(static_cast<double>(ticks) / kTicksPerSecond * 1000.0);
    console::out("Lattice Detection Runtime: ", milliseconds);
}

} // namespace

LatticeDetectionResult detectLattice(const PointImage& image)
{
    const auto start = std::chrono::steady_clock::now();
    LatticeDetectionResult result = searchLattice(image);
    printRuntime(start);
    return result;
}

} // namespace tavorin
