#include "calibration/drift/DriftRegistration.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace tavorin {

namespace {

constexpr double kMmPerMetre = 1000.0;
constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;
constexpr int kSampleStep = 1;             // pixels between the current view's points, each way
constexpr int kCoarseStep = 2;             // the same while the Cauchy loss brings the motion near
constexpr int kPlaneRadius = 2;            // pixels: the window of a local plane is 5 x 5
constexpr int kMinWindowShare = 2;         // of its pixels at least half must have a point
constexpr double kMaxOffPlaneM = 0.002;    // RMS off the local plane beyond which it is an edge or a step
constexpr int kMaxIterations = 50;
constexpr int kProjectionSteps = 6;
constexpr int kMaxProjectionJump = 64;     // pixels per step
constexpr double kStartScaleM = 0.02;      // the loss's scale while the motion is still coarse
constexpr int kStartIterations = 4;
constexpr double kMinScaleM = 0.0003;
constexpr double kDamping = 1e-3;          // Levenberg-Marquardt: keeps weakly observed steps short
constexpr double kCauchyTuning = 2.3849;   // 95 % efficiency on Gaussian residuals
constexpr double kMadToSigma = 1.4826;
constexpr double kTukeyTuning = 4.685;     // 95 % efficiency on Gaussian residuals
constexpr int kCauchyIterations = 30;
constexpr double kGateScales = 6.0;        // residuals beyond this many scales get no weight
constexpr double kAgreeingSigmas = 3.0;
constexpr double kConvergedRadians = 1e-9;
constexpr double kConvergedMetres = 1e-9;
constexpr std::size_t kMinAgreeing = 2000;
constexpr double kMinAgreeingShare = 0.2;
constexpr double kMinObservedRatio = 1e-4;

using Vector7d = Eigen::Matrix<double, 7, 1>;
using Matrix7d = Eigen::Matrix<double, 7, 7>;

// The reference's surface at a pixel: its point (metres) and normal toward the camera.
struct Surface {
    Eigen::Vector3d q = Eigen::Vector3d::Zero();
    Eigen::Vector3d n = Eigen::Vector3d::Zero();
    bool valid = false;
};

// A point of the current view: measured point (metres), its unit ray, and the reference pixel it
// fell on last (the next projection starts there).
struct Sample {
    Eigen::Vector3d p;
    Eigen::Vector3d unit;
    int u = 0;
    int v = 0;
    bool coarse = false; // one of the points the Cauchy phase takes
};

class Registration {
public:
    Registration(const StillView& reference, const StillView& current, const std::vector<float>& rays)
        : width(reference.width), height(reference.height), rays(rays)
    {
        buildSurfaces(reference);
        buildSamples(current);
        findPixelSteps();
    }

    DriftEstimate run();

private:
    bool hasRay(int u, int v) const
    {
        return u >= 0 && v >= 0 && u < width && v < height && !std::isnan(rays[2 * (std::size_t(v) * width + u)]);
    }
    Eigen::Vector3d pointAt(const StillView& view, int u, int v) const
    {
        const std::size_t k = std::size_t(v) * width + u;
        const double z = view.depthMm[k] / kMmPerMetre;
        return Eigen::Vector3d(rays[2 * k] * z, rays[2 * k + 1] * z, z);
    }
    bool measured(const StillView& view, int u, int v) const
    {
        return hasRay(u, v) && view.depthMm[std::size_t(v) * width + u] > 0.0f;
    }
    void buildSurfaces(const StillView& reference);
    void buildSamples(const StillView& current);
    void findPixelSteps();
    bool project(const Eigen::Vector3d& s, int& u, int& v) const;
    std::string unobserved(const Vector7d& direction, double ratio) const;

    int width;
    int height;
    const std::vector<float>& rays;
    std::vector<Surface> surfaces;
    std::vector<Sample> samples;
    double stepX = 0.0; // change of x / z from one column to the next
    double stepY = 0.0; // change of y / z from one row to the next
};

// A plane fitted to the reference's points in the window around each pixel: its centroid and
// normal, so that a point's residual does not depend on which pixel it falls on. A pixel whose
// window is short of points or not flat (an edge, a step, a corner) has none.
void Registration::buildSurfaces(const StillView& reference)
{
    constexpr int kWindow = (2 * kPlaneRadius + 1) * (2 * kPlaneRadius + 1);
    surfaces.assign(std::size_t(width) * height, Surface{});
    for (int v = kPlaneRadius; v + kPlaneRadius < height; ++v)
        for (int u = kPlaneRadius; u + kPlaneRadius < width; ++u) {
            if (!measured(reference, u, v))
                continue;
            Eigen::Vector3d sum = Eigen::Vector3d::Zero();
            Eigen::Matrix3d products = Eigen::Matrix3d::Zero();
            int count = 0;
            for (int dv = -kPlaneRadius; dv <= kPlaneRadius; ++dv)
                for (int du = -kPlaneRadius; du <= kPlaneRadius; ++du)
                    if (measured(reference, u + du, v + dv)) {
                        const Eigen::Vector3d q = pointAt(reference, u + du, v + dv);
                        sum += q;
                        products += q * q.transpose();
                        ++count;
                    }
            if (count * kMinWindowShare < kWindow)
                continue;
            const Eigen::Vector3d centroid = sum / count;
            const Eigen::Matrix3d covariance = products / count - centroid * centroid.transpose();
            Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen;
            eigen.computeDirect(covariance);
            if (!(eigen.eigenvalues()(0) <= kMaxOffPlaneM * kMaxOffPlaneM))
                continue;
            Eigen::Vector3d n = eigen.eigenvectors().col(0).normalized();
            if (n.dot(centroid) > 0.0)
                n = -n;
            surfaces[std::size_t(v) * width + u] = Surface{centroid, n, true};
        }
}

void Registration::buildSamples(const StillView& current)
{
    for (int v = 0; v < height; v += kSampleStep)
        for (int u = 0; u < width; u += kSampleStep)
            if (measured(current, u, v)) {
                const Eigen::Vector3d p = pointAt(current, u, v);
                samples.push_back(Sample{p, p.normalized(), u, v, u % kCoarseStep == 0 && v % kCoarseStep == 0});
            }
}

// The median change of the rays from pixel to pixel, for the projection's steps.
void Registration::findPixelSteps()
{
    std::vector<double> xs;
    std::vector<double> ys;
    for (int v = 0; v + 1 < height; v += kSampleStep)
        for (int u = 0; u + 1 < width; u += kSampleStep) {
            const std::size_t k = std::size_t(v) * width + u;
            if (hasRay(u, v) && hasRay(u + 1, v))
                xs.push_back(rays[2 * (k + 1)] - rays[2 * k]);
            if (hasRay(u, v) && hasRay(u, v + 1))
                ys.push_back(rays[2 * (k + width) + 1] - rays[2 * k + 1]);
        }
    const auto median = [](std::vector<double>& values) {
        if (values.empty())
            return 0.0;
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    stepX = median(xs);
    stepY = median(ys);
}

// The reference pixel whose ray passes nearest to `s` (metres, reference camera frame), found
// from (u, v) on by steps of the local ray spacing; false when it leaves the image or its rays.
bool Registration::project(const Eigen::Vector3d& s, int& u, int& v) const
{
    const double x = s.x() / s.z();
    const double y = s.y() / s.z();
    for (int step = 0; step < kProjectionSteps; ++step) {
        if (!hasRay(u, v))
            return false;
        const std::size_t k = std::size_t(v) * width + u;
        const long du = std::lround(std::clamp((x - rays[2 * k]) / stepX, -double(kMaxProjectionJump), double(kMaxProjectionJump)));
        const long dv = std::lround(std::clamp((y - rays[2 * k + 1]) / stepY, -double(kMaxProjectionJump), double(kMaxProjectionJump)));
        if (du == 0 && dv == 0)
            return true;
        u += static_cast<int>(du);
        v += static_cast<int>(dv);
    }
    return hasRay(u, v);
}

// "a shift along (0.00, 0.71, 0.71)" in the camera's axes (x to the image's left, y up, z along
// the view), or a turn, or the range offset, whichever leads the unobserved direction.
std::string Registration::unobserved(const Vector7d& direction, double ratio) const
{
    const double turn = direction.head<3>().norm();
    const double shift = direction.segment<3>(3).norm();
    const double range = std::abs(direction(6));
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << "its still view does not show ";
    const auto axis = [&text](const Eigen::Vector3d& a) {
        const Eigen::Vector3d d = a.normalized() * (a.normalized().maxCoeff() < -a.normalized().minCoeff() ? -1.0 : 1.0);
        text << "(" << d.x() << ", " << d.y() << ", " << d.z() << ")";
    };
    if (range >= turn && range >= shift) {
        text << "its range apart from a shift along its view";
    } else if (shift >= turn) {
        text << "a shift along ";
        axis(direction.segment<3>(3));
    } else {
        text << "a turn about ";
        axis(direction.head<3>());
    }
    text << " of the camera (its weakest direction " << std::scientific << std::setprecision(1) << ratio
         << " of the strongest)";
    return text.str();
}

DriftEstimate Registration::run()
{
    DriftEstimate estimate;
    Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
    Eigen::Vector3d t = Eigen::Vector3d::Zero();
    double delta = 0.0; // metres the sensor now adds to every range
    double scale = kStartScaleM;
    Matrix7d H = Matrix7d::Zero();
    std::vector<double> residuals;
    std::vector<double> ranges;
    std::vector<double> kept;
    std::size_t agreeing = 0;
    bool tukey = false; // after the Cauchy loss settled: Tukey's, which gives no weight to what changed
    int iteration = 0;
    for (; iteration < kMaxIterations; ++iteration) {
        H.setZero();
        Vector7d g = Vector7d::Zero();
        residuals.clear();
        kept.clear();
        ranges.clear();
        agreeing = 0;
        const double sigma = scale / kCauchyTuning;
        const double tukeyWidth = kTukeyTuning * sigma;
        for (Sample& sample : samples) {
            if (!tukey && !sample.coarse)
                continue;
            const Eigen::Vector3d s = R * (sample.p - delta * sample.unit) + t;
            if (!(s.z() > 0.0) || !project(s, sample.u, sample.v))
                continue;
            const Surface& surface = surfaces[std::size_t(sample.v) * width + sample.u];
            if (!surface.valid)
                continue;
            const double r = surface.n.dot(s - surface.q);
            residuals.push_back(std::abs(r));
            if (std::abs(r) > kGateScales * scale || (tukey && std::abs(r) >= tukeyWidth))
                continue;
            kept.push_back(std::abs(r));
            if (std::abs(r) <= kAgreeingSigmas * sigma) {
                ++agreeing;
                ranges.push_back(s.norm());
            }
            const double u = r / tukeyWidth;
            const double w = tukey ? (1.0 - u * u) * (1.0 - u * u) : 1.0 / (1.0 + (r / scale) * (r / scale));
            Vector7d J;
            J << s.cross(surface.n), surface.n, -surface.n.dot(R * sample.unit);
            H.selfadjointView<Eigen::Upper>().rankUpdate(J, w);
            g += w * r * J;
        }
        H = H.selfadjointView<Eigen::Upper>();
        if (residuals.size() < kMinAgreeing)
            break;
        // The range offset joins once the motion is near: early on it would trade itself against a
        // shift along the view while the turn is still unknown.
        Matrix7d damped = H;
        damped.diagonal() *= 1.0 + kDamping;
        if (iteration < kStartIterations) {
            damped.row(6).setZero();
            damped.col(6).setZero();
            damped(6, 6) = 1.0;
        }
        Vector7d rhs = -g;
        if (iteration < kStartIterations)
            rhs(6) = 0.0;
        const Vector7d x = damped.ldlt().solve(rhs);
        if (!x.allFinite())
            break;
        const Eigen::Vector3d omega = x.head<3>();
        const Eigen::Matrix3d dR = omega.norm() > 0.0
            ? Eigen::AngleAxisd(omega.norm(), omega.normalized()).toRotationMatrix()
            : Eigen::Matrix3d::Identity();
        R = dR * R;
        t = dR * t + x.segment<3>(3);
        delta += x(6);
        // The scale follows the residuals of what the loss kept, so that the changed part of the
        // view does not widen it.
        if (iteration >= kStartIterations && !kept.empty()) {
            std::nth_element(kept.begin(), kept.begin() + kept.size() / 2, kept.end());
            scale = std::max(kMinScaleM, kCauchyTuning * kMadToSigma * kept[kept.size() / 2]);
        }
        const bool settled = omega.norm() < kConvergedRadians && x.segment<4>(3).norm() < kConvergedMetres;
        if (iteration > kStartIterations && (settled || iteration >= kCauchyIterations)) {
            if (tukey && settled)
                break;
            tukey = true;
        }
    }
    estimate.iterations = iteration;
    estimate.agreeingPoints = agreeing;
    estimate.agreeingShare = residuals.empty() ? 0.0 : double(agreeing) / double(residuals.size());
    std::ostringstream share;
    share << std::fixed << std::setprecision(0) << 100.0 * estimate.agreeingShare;
    if (agreeing < kMinAgreeing || estimate.agreeingShare < kMinAgreeingShare) {
        estimate.why = "only " + std::to_string(agreeing) + " of its points (" + share.str()
            + " %) agree with its reference: too little of what it saw still stands";
        return estimate;
    }
    std::nth_element(ranges.begin(), ranges.begin() + ranges.size() / 2, ranges.end());
    const double range = ranges[ranges.size() / 2];
    Vector7d toMetres = Vector7d::Ones();
    toMetres.head<3>().setConstant(1.0 / range);
    const Matrix7d scaled = toMetres.asDiagonal() * H * toMetres.asDiagonal();
    const Eigen::SelfAdjointEigenSolver<Matrix7d> eigen(scaled);
    const double strongest = eigen.eigenvalues()(6);
    estimate.weakestToStrongest = strongest > 0.0 ? eigen.eigenvalues()(0) / strongest : 0.0;
    if (!(estimate.weakestToStrongest >= kMinObservedRatio)) {
        estimate.why = unobserved(eigen.eigenvectors().col(0), estimate.weakestToStrongest);
        return estimate;
    }
    estimate.told = true;
    const Eigen::AngleAxisd turn(R);
    estimate.turnDeg = std::abs(turn.angle()) * kDegreesPerRadian;
    estimate.shiftMm = t.norm() * kMmPerMetre;
    estimate.rangeOffsetMm = delta * kMmPerMetre;
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r)
            estimate.T_reference_current.at(c, r) = static_cast<float>(R(r, c));
        estimate.T_reference_current.at(3, c) = static_cast<float>(t(c));
    }
    return estimate;
}

} // namespace

DriftEstimate estimateDrift(const StillView& reference, const StillView& current, const std::vector<float>& rays)
{
    const std::size_t pixels = std::size_t(reference.width) * reference.height;
    if (reference.width <= 0 || reference.height <= 0 || current.width != reference.width
        || current.height != reference.height || reference.depthMm.size() != pixels || current.depthMm.size() != pixels
        || rays.size() != 2 * pixels) {
        DriftEstimate estimate;
        estimate.why = "its view is " + std::to_string(current.width) + " x " + std::to_string(current.height)
            + " pixels, its reference " + std::to_string(reference.width) + " x " + std::to_string(reference.height);
        return estimate;
    }
    return Registration(reference, current, rays).run();
}

} // namespace tavorin
