#include "calibration/joint/JointCalibration.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace tavorin {

namespace {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;
using Vec6 = Eigen::Matrix<double, 6, 1>;
using Mat6 = Eigen::Matrix<double, 6, 6>;
using Vec8 = Eigen::Matrix<double, 8, 1>;
using Mat8 = Eigen::Matrix<double, 8, 8>;
using Mat68 = Eigen::Matrix<double, 6, 8>;
using Mat36 = Eigen::Matrix<double, 3, 6>;
using Mat38 = Eigen::Matrix<double, 3, 8>;

// Per camera: rotation (3), translation (3), depth offset (m) and scale.
constexpr int kCameraParameters = 8;
constexpr int kPoseParameters = 6;
constexpr std::size_t kReferenceCamera = 0;
constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;

// Two first estimates of a camera pair agree within these.
constexpr double kAgreementAngleRad = 3.0 / kDegreesPerRadian;
constexpr double kAgreementDistanceM = 0.03;
constexpr std::size_t kMaxCandidatesTried = 40;

// The robust loss (Cauchy) first reaches far, so that a start a centimetre off still pulls every
// hole, then narrows to the holes' noise; a hole off by a pitch (0.08 m) then has no pull left.
constexpr double kWideLossM = 0.02;
constexpr double kNarrowLossM = 0.004;
constexpr int kMaxIterations = 60;
// A camera is calibrated only when this share of its hole observations lies within the robust
// loss's reach; a consistent camera in our scenes, noise and flying pixels included, fits all.
constexpr double kMinHoleInlierShare = 0.8;
// Weak priors on every depth error, no sensor's error comes near them: they keep a camera that saw
// the plate at one distance only (whose offset and scale then trade off) well posed, and move its
// estimate by less than the noise.
// The data terms are squared metres, unweighted: the priors are scaled to a hole noise of 1 mm.
constexpr double kPriorOffsetM = 0.05;
constexpr double kPriorScale = 0.01;
constexpr double kHoleNoiseM = 0.001;
// Added (in quadrature) to the depth error's 1 sigma: what the model leaves out, the detection's
// small bias at the holes' edges where a sensor mixes front and back, which no covariance of the
// fit can show. On scenes with the sensor's flying pixels the depth error lay up to 3 sigma of the
// fit's own off.
constexpr double kDepthModelFloorMm = 0.1;
constexpr double kOffsetPriorWeight = (kHoleNoiseM / kPriorOffsetM) * (kHoleNoiseM / kPriorOffsetM);
constexpr double kScalePriorWeight = (kHoleNoiseM / kPriorScale) * (kHoleNoiseM / kPriorScale);
constexpr double kConvergedCostChange = 1e-10;
constexpr double kConvergedStep = 1e-9;

Vec3 toEigen(const Vec4& v)
{
    return Vec3(v.x, v.y, v.z);
}

Mat3 skew(const Vec3& v)
{
    Mat3 m;
    m << 0.0, -v.z(), v.y(), v.z(), 0.0, -v.x(), -v.y(), v.x(), 0.0;
    return m;
}

Mat3 expSO3(const Vec3& w)
{
    const double angle = w.norm();
    if (angle < 1e-12)
        return Mat3::Identity() + skew(w);
    return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}

Mat3 nearestRotation(const Mat3& m)
{
    const Eigen::JacobiSVD<Mat3> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Mat3 d = Mat3::Identity();
    d(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
    return svd.matrixU() * d * svd.matrixV().transpose();
}

double rotationAngle(const Mat3& r)
{
    return std::acos(std::clamp((r.trace() - 1.0) / 2.0, -1.0, 1.0));
}

// A rigid transform: local coordinates to the coordinates it is expressed in.
struct Pose {
    Mat3 R = Mat3::Identity();
    Vec3 t = Vec3::Zero();

    Pose operator*(const Pose& b) const { return {R * b.R, R * b.t + t}; }
    Vec3 operator*(const Vec3& p) const { return R * p + t; }
    Pose inverse() const { return {R.transpose(), -(R.transpose() * t)}; }
};

Mat4 toMat4(const Pose& pose)
{
    Mat4 m;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            m.at(c, r) = static_cast<float>(pose.R(r, c));
    for (int r = 0; r < 3; ++r)
        m.at(Mat4::kTranslationColumn, r) = static_cast<float>(pose.t(r));
    return m;
}

// The frame of a camera's view of the plate: x the primary axis, y the secondary, z = x × y
// (away from the camera), at the centre hole.
Pose viewPose(const PlateObservation& view)
{
    Pose pose;
    pose.R.col(0) = toEigen(view.primaryAxis).normalized();
    pose.R.col(1) = toEigen(view.secondaryAxis).normalized();
    pose.R.col(2) = pose.R.col(0).cross(pose.R.col(1));
    pose.R = nearestRotation(pose.R);
    pose.t = toEigen(view.origin);
    return pose;
}

// The lattice's symmetries in its plane: four quarter turns, each also seen from the back (turned
// half about x). A view's labels relate to the plate's by one of them.
std::vector<Mat3> latticeSymmetries()
{
    std::vector<Mat3> symmetries;
    const Mat3 back = Eigen::Vector3d(1.0, -1.0, -1.0).asDiagonal();
    for (int quarter = 0; quarter < 4; ++quarter) {
        const Mat3 turn = Eigen::AngleAxisd(quarter * 0.5 * 3.14159265358979323846, Vec3::UnitZ()).toRotationMatrix();
        symmetries.push_back(turn);
        symmetries.push_back(turn * back);
    }
    for (Mat3& s : symmetries)
        s = s.array().round().matrix();
    return symmetries;
}

Vec3 latticePlace(int row, int column)
{
    return Vec3(row * double(kLatticePitchM), column * double(kLatticePitchM), 0.0);
}

// One camera's observation in one frame set, ready for the estimate: each hole's place on the
// plate (in the set's plate frame) and its observed point.
struct Observation {
    std::size_t camera = 0;
    std::vector<Vec3> places;
    std::vector<Vec3> points;
};

struct FrameSet {
    Pose plate; // plate -> camera 0
    std::vector<Observation> observations;
};

struct CameraState {
    Pose pose; // camera -> camera 0
    double offsetM = 0.0;
    double scale = 0.0;
};

// ---- The start: pairwise first estimates, chained along the cameras' graph ----

struct PairEstimate {
    std::size_t agreeing = 0; // frame sets whose first estimate agrees with the chosen one
    Pose T_a_b;
};

bool posesAgree(const Pose& a, const Pose& b)
{
    return rotationAngle(a.R.transpose() * b.R) < kAgreementAngleRad && (a.t - b.t).norm() < kAgreementDistanceM;
}

// Of every shared set's two readings (the same side of the plate, or opposite sides), the reading
// most other sets agree with, averaged over those that agree.
PairEstimate estimatePair(const std::vector<std::pair<Pose, Pose>>& views)
{
    const Mat3 back = Eigen::Vector3d(1.0, -1.0, -1.0).asDiagonal();
    std::vector<std::array<Pose, 2>> candidates;
    for (const auto& [a, b] : views)
        candidates.push_back({a * b.inverse(), a * Pose{back, Vec3::Zero()} * b.inverse()});
    PairEstimate best;
    const std::size_t step = std::max<std::size_t>(1, candidates.size() / kMaxCandidatesTried);
    for (std::size_t k = 0; k < candidates.size(); k += step) {
        for (const Pose& candidate : candidates[k]) {
            std::size_t agreeing = 0;
            Mat3 rotationSum = Mat3::Zero();
            Vec3 translationSum = Vec3::Zero();
            for (const auto& pair : candidates)
                for (const Pose& other : pair)
                    if (posesAgree(candidate, other)) {
                        ++agreeing;
                        rotationSum += other.R;
                        translationSum += other.t;
                    }
            if (agreeing > best.agreeing) {
                best.agreeing = agreeing;
                best.T_a_b = Pose{nearestRotation(rotationSum), translationSum / static_cast<double>(agreeing)};
            }
        }
    }
    return best;
}

struct GraphStart {
    std::vector<std::optional<Pose>> T_camera0_camera; // empty for a camera not reached
    std::vector<std::string> reasons;
};

// Prim's maximum spanning tree from the reference camera over the pairs' agreeing sets.
GraphStart chainAlongGraph(const std::vector<std::vector<std::optional<PlateObservation>>>& sets, std::size_t cameras)
{
    std::vector<std::vector<std::vector<std::pair<Pose, Pose>>>> shared(
        cameras, std::vector<std::vector<std::pair<Pose, Pose>>>(cameras));
    std::vector<std::size_t> seen(cameras, 0);
    for (const auto& set : sets) {
        for (std::size_t a = 0; a < cameras; ++a) {
            if (!set[a])
                continue;
            ++seen[a];
            for (std::size_t b = a + 1; b < cameras; ++b)
                if (set[b])
                    shared[a][b].emplace_back(viewPose(*set[a]), viewPose(*set[b]));
        }
    }
    std::vector<std::vector<PairEstimate>> pairs(cameras, std::vector<PairEstimate>(cameras));
    for (std::size_t a = 0; a < cameras; ++a)
        for (std::size_t b = a + 1; b < cameras; ++b)
            if (!shared[a][b].empty()) {
                pairs[a][b] = estimatePair(shared[a][b]);
                pairs[b][a] = {pairs[a][b].agreeing, pairs[a][b].T_a_b.inverse()};
            }

    GraphStart start;
    start.T_camera0_camera.assign(cameras, std::nullopt);
    start.reasons.assign(cameras, std::string());
    if (cameras == 0)
        return start;
    start.T_camera0_camera[kReferenceCamera] = Pose{};
    for (;;) {
        std::size_t bestFrom = 0, bestTo = 0, bestWeight = 0;
        for (std::size_t a = 0; a < cameras; ++a) {
            if (!start.T_camera0_camera[a])
                continue;
            for (std::size_t b = 0; b < cameras; ++b)
                if (!start.T_camera0_camera[b] && pairs[a][b].agreeing > bestWeight) {
                    bestWeight = pairs[a][b].agreeing;
                    bestFrom = a;
                    bestTo = b;
                }
        }
        if (bestWeight == 0)
            break;
        start.T_camera0_camera[bestTo] = *start.T_camera0_camera[bestFrom] * pairs[bestFrom][bestTo].T_a_b;
    }
    for (std::size_t c = 0; c < cameras; ++c) {
        if (start.T_camera0_camera[c])
            continue;
        start.reasons[c] = seen[c] == 0 ? "has not seen the plate"
                                        : "has not seen the plate together with a registered camera";
    }
    return start;
}

// The sets as the estimate takes them: observations of reached cameras only, each hole at its
// place in the set's plate frame (the frame of its observation with the most holes), each view's
// labels turned by the lattice symmetry that best fits the start.
std::vector<FrameSet> prepareSets(const std::vector<std::vector<std::optional<PlateObservation>>>& sets,
                                  const GraphStart& start)
{
    static const std::vector<Mat3> symmetries = latticeSymmetries();
    std::vector<FrameSet> prepared;
    for (const auto& set : sets) {
        std::optional<std::size_t> anchor;
        for (std::size_t c = 0; c < set.size(); ++c)
            if (set[c] && start.T_camera0_camera[c] && (!anchor || set[c]->holes.size() > set[*anchor]->holes.size()))
                anchor = c;
        if (!anchor)
            continue;
        FrameSet frameSet;
        frameSet.plate = *start.T_camera0_camera[*anchor] * viewPose(*set[*anchor]);
        for (std::size_t c = 0; c < set.size(); ++c) {
            if (!set[c] || !start.T_camera0_camera[c])
                continue;
            const Pose view = *start.T_camera0_camera[c] * viewPose(*set[c]);
            const Mat3 relative = frameSet.plate.R.transpose() * view.R;
            const Mat3* symmetry = &symmetries.front();
            for (const Mat3& s : symmetries)
                if ((s.transpose() * relative).trace() > (symmetry->transpose() * relative).trace())
                    symmetry = &s;
            Observation observation;
            observation.camera = c;
            for (const PlateObservation::Hole& hole : set[c]->holes) {
                observation.places.push_back(*symmetry * latticePlace(hole.row, hole.column));
                observation.points.push_back(toEigen(hole.point));
            }
            frameSet.observations.push_back(std::move(observation));
        }
        prepared.push_back(std::move(frameSet));
    }
    return prepared;
}

// ---- The estimate: Levenberg-Marquardt with the plate poses eliminated (Schur complement) ----

// One hole's residual (observed minus predicted point, metres) and its derivatives.
struct HoleTerm {
    Vec3 residual;
    Mat38 J_camera;
    Mat36 J_plate;
};

// The predicted point: the hole's place carried into the camera, its range then stretched as the
// sensor does (1 + scale) and offset.
HoleTerm holeTerm(const CameraState& camera, const Pose& plate, const Vec3& place, const Vec3& observed)
{
    const Mat3 Rc_t = camera.pose.R.transpose();
    const Vec3 world = plate * place;
    const Vec3 q = Rc_t * (world - camera.pose.t);
    const double range = std::max(q.norm(), 1e-6);
    const Vec3 u = q / range;
    const Vec3 predicted = q * (1.0 + camera.scale) + u * camera.offsetM;
    const Mat3 A = (1.0 + camera.scale) * Mat3::Identity() + (camera.offsetM / range) * (Mat3::Identity() - u * u.transpose());
    HoleTerm term;
    term.residual = observed - predicted;
    term.J_camera.block<3, 3>(0, 0) = -A * skew(q);
    term.J_camera.block<3, 3>(0, 3) = A;
    term.J_camera.col(6) = -u;
    term.J_camera.col(7) = -q;
    const Mat3 toCamera = Rc_t * plate.R;
    term.J_plate.block<3, 3>(0, 0) = A * toCamera * skew(place);
    term.J_plate.block<3, 3>(0, 3) = -A * toCamera;
    return term;
}

double cauchyWeight(double squared, double scale)
{
    return 1.0 / (1.0 + squared / (scale * scale));
}

double cauchyCost(double squared, double scale)
{
    return 0.5 * scale * scale * std::log1p(squared / (scale * scale));
}

struct Problem {
    std::vector<CameraState> cameras;
    std::vector<FrameSet> sets;
    std::vector<bool> active; // cameras that are estimated
};

double priorCost(const CameraState& camera)
{
    return 0.5 * (kOffsetPriorWeight * camera.offsetM * camera.offsetM + kScalePriorWeight * camera.scale * camera.scale);
}

double totalCost(const Problem& problem, double lossScale)
{
    double cost = 0.0;
    for (std::size_t c = 0; c < problem.cameras.size(); ++c)
        if (problem.active[c])
            cost += priorCost(problem.cameras[c]);
    for (const FrameSet& set : problem.sets)
        for (const Observation& obs : set.observations)
            for (std::size_t k = 0; k < obs.places.size(); ++k)
                cost += cauchyCost(holeTerm(problem.cameras[obs.camera], set.plate, obs.places[k], obs.points[k])
                                       .residual.squaredNorm(),
                                   lossScale);
    return cost;
}

// The normal equations of one frame set.
struct SetSystem {
    Mat6 H_tt = Mat6::Zero();
    Vec6 g_t = Vec6::Zero();
    std::vector<Mat68> H_tc; // per observation
    std::vector<Mat8> H_cc;
    std::vector<Vec8> g_c;
};

SetSystem setSystem(const Problem& problem, const FrameSet& set, double lossScale)
{
    SetSystem system;
    for (const Observation& obs : set.observations) {
        Mat68 H_tc = Mat68::Zero();
        Mat8 H_cc = Mat8::Zero();
        Vec8 g_c = Vec8::Zero();
        for (std::size_t k = 0; k < obs.places.size(); ++k) {
            const HoleTerm term = holeTerm(problem.cameras[obs.camera], set.plate, obs.places[k], obs.points[k]);
            const double w = cauchyWeight(term.residual.squaredNorm(), lossScale);
            system.H_tt += w * term.J_plate.transpose() * term.J_plate;
            system.g_t += w * term.J_plate.transpose() * term.residual;
            H_tc += w * term.J_plate.transpose() * term.J_camera;
            H_cc += w * term.J_camera.transpose() * term.J_camera;
            g_c += w * term.J_camera.transpose() * term.residual;
        }
        system.H_tc.push_back(H_tc);
        system.H_cc.push_back(H_cc);
        system.g_c.push_back(g_c);
    }
    return system;
}

// The free parameters: every active camera's eight, less the reference camera's pose.
struct Layout {
    std::vector<int> offset; // per camera, of its first parameter in the reduced system; -1 inactive
    int size = 0;
};

Layout layoutOf(const Problem& problem)
{
    Layout layout;
    layout.offset.assign(problem.cameras.size(), -1);
    for (std::size_t c = 0; c < problem.cameras.size(); ++c) {
        if (!problem.active[c])
            continue;
        layout.offset[c] = layout.size;
        layout.size += c == kReferenceCamera ? kCameraParameters - kPoseParameters : kCameraParameters;
    }
    return layout;
}

// The rows of a camera's eight parameters that are free (the reference camera's last two).
int firstFreeParameter(std::size_t camera)
{
    return camera == kReferenceCamera ? kPoseParameters : 0;
}

struct ReducedSystem {
    Eigen::MatrixXd S;
    Eigen::VectorXd g;
    std::vector<SetSystem> sets;
};

// Gauss-Newton's system with the plate poses eliminated; `damping` multiplies the diagonals by
// (1 + damping).
ReducedSystem reducedSystem(const Problem& problem, const Layout& layout, double lossScale, double damping)
{
    ReducedSystem reduced;
    reduced.S = Eigen::MatrixXd::Zero(layout.size, layout.size);
    reduced.g = Eigen::VectorXd::Zero(layout.size);
    for (const FrameSet& set : problem.sets) {
        SetSystem system = setSystem(problem, set, lossScale);
        Mat6 H_tt = system.H_tt;
        H_tt.diagonal() *= 1.0 + damping;
        const Mat6 H_tt_inverse = H_tt.ldlt().solve(Mat6::Identity());
        for (std::size_t i = 0; i < set.observations.size(); ++i) {
            const std::size_t ci = set.observations[i].camera;
            const int first = firstFreeParameter(ci);
            const int count = kCameraParameters - first;
            Mat8 H_cc = system.H_cc[i];
            H_cc.diagonal() *= 1.0 + damping;
            Vec8 g_reduced = system.g_c[i];
            g_reduced.noalias() -= system.H_tc[i].transpose() * (H_tt_inverse * system.g_t);
            for (int k = 0; k < count; ++k)
                reduced.g(layout.offset[ci] + k) += g_reduced(first + k);
            reduced.S.block(layout.offset[ci], layout.offset[ci], count, count) += H_cc.bottomRightCorner(count, count);
            for (std::size_t j = 0; j < set.observations.size(); ++j) {
                const std::size_t cj = set.observations[j].camera;
                const int firstJ = firstFreeParameter(cj);
                const int countJ = kCameraParameters - firstJ;
                const Mat8 coupling = system.H_tc[i].transpose() * H_tt_inverse * system.H_tc[j];
                reduced.S.block(layout.offset[ci], layout.offset[cj], count, countJ) -=
                    coupling.block(first, firstJ, count, countJ);
            }
        }
        reduced.sets.push_back(std::move(system));
    }
    // The priors' terms: residual (0 - value) * sqrt(weight), derivative -sqrt(weight).
    for (std::size_t c = 0; c < problem.cameras.size(); ++c) {
        if (layout.offset[c] < 0)
            continue;
        const int at = layout.offset[c] - firstFreeParameter(c);
        const CameraState& camera = problem.cameras[c];
        reduced.S(at + 6, at + 6) += (1.0 + damping) * kOffsetPriorWeight;
        reduced.S(at + 7, at + 7) += (1.0 + damping) * kScalePriorWeight;
        reduced.g(at + 6) += kOffsetPriorWeight * camera.offsetM;
        reduced.g(at + 7) += kScalePriorWeight * camera.scale;
    }
    return reduced;
}

// Applies the step: the cameras' from the reduced solution, each plate's by back-substitution.
Problem stepped(const Problem& problem, const Layout& layout, const ReducedSystem& reduced, const Eigen::VectorXd& step,
                double damping)
{
    Problem next = problem;
    std::vector<Vec8> cameraSteps(problem.cameras.size(), Vec8::Zero());
    for (std::size_t c = 0; c < problem.cameras.size(); ++c) {
        if (layout.offset[c] < 0)
            continue;
        const int first = firstFreeParameter(c);
        cameraSteps[c].tail(kCameraParameters - first) = step.segment(layout.offset[c], kCameraParameters - first);
        CameraState& camera = next.cameras[c];
        const Vec8& d = cameraSteps[c];
        camera.pose.t += problem.cameras[c].pose.R * d.segment<3>(3);
        camera.pose.R = camera.pose.R * expSO3(d.head<3>());
        camera.offsetM += d(6);
        camera.scale += d(7);
    }
    for (std::size_t s = 0; s < problem.sets.size(); ++s) {
        const SetSystem& system = reduced.sets[s];
        Vec6 rhs = -system.g_t;
        for (std::size_t i = 0; i < problem.sets[s].observations.size(); ++i)
            rhs -= system.H_tc[i] * cameraSteps[problem.sets[s].observations[i].camera];
        Mat6 H_tt = system.H_tt;
        H_tt.diagonal() *= 1.0 + damping;
        const Vec6 d = H_tt.ldlt().solve(rhs);
        Pose& plate = next.sets[s].plate;
        plate.t += problem.sets[s].plate.R * d.tail<3>();
        plate.R = plate.R * expSO3(d.head<3>());
    }
    return next;
}

struct Solved {
    Problem problem;
    bool converged = false;
    int iterations = 0;
};

// Levenberg-Marquardt under one loss scale. The normal equations are those of the residual e =
// observed - predicted with J = de/dparameters: (J'WJ) step = -J'We.
Solved levenbergMarquardt(Problem problem, double lossScale, int maxIterations)
{
    const Layout layout = layoutOf(problem);
    Solved result;
    double damping = 1e-4;
    double cost = totalCost(problem, lossScale);
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
        result.iterations = iteration + 1;
        const ReducedSystem reduced = reducedSystem(problem, layout, lossScale, damping);
        const Eigen::VectorXd step = layout.size > 0 ? Eigen::VectorXd(reduced.S.ldlt().solve(-reduced.g))
                                                     : Eigen::VectorXd();
        Problem candidate = stepped(problem, layout, reduced, step, damping);
        const double candidateCost = totalCost(candidate, lossScale);
        if (candidateCost <= cost) {
            const double change = (cost - candidateCost) / std::max(cost, 1e-30);
            problem = std::move(candidate);
            cost = candidateCost;
            damping = std::max(damping / 10.0, 1e-9);
            if (change < kConvergedCostChange || (step.size() > 0 && step.cwiseAbs().maxCoeff() < kConvergedStep)) {
                result.converged = true;
                break;
            }
        } else {
            damping *= 10.0;
            if (damping > 1e8) {
                result.converged = true; // no step lowers the cost: a minimum within rounding
                break;
            }
        }
    }
    result.problem = std::move(problem);
    return result;
}

// The cameras' covariance (reduced layout), robust to errors that frame sets share: the sandwich
// S^-1 (sum over sets of r r') S^-1, r a set's score with its plate pose eliminated.
Eigen::MatrixXd cameraCovariance(const Problem& problem, const Layout& layout, double lossScale)
{
    const ReducedSystem reduced = reducedSystem(problem, layout, lossScale, 0.0);
    Eigen::MatrixXd meat = Eigen::MatrixXd::Zero(layout.size, layout.size);
    for (std::size_t s = 0; s < problem.sets.size(); ++s) {
        const SetSystem& system = reduced.sets[s];
        const Mat6 H_tt_inverse = system.H_tt.ldlt().solve(Mat6::Identity());
        Eigen::VectorXd score = Eigen::VectorXd::Zero(layout.size);
        for (std::size_t i = 0; i < problem.sets[s].observations.size(); ++i) {
            const std::size_t c = problem.sets[s].observations[i].camera;
            const int first = firstFreeParameter(c);
            Vec8 r = system.g_c[i];
            r.noalias() -= system.H_tc[i].transpose() * (H_tt_inverse * system.g_t);
            for (int k = first; k < kCameraParameters; ++k)
                score(layout.offset[c] + k - first) += r(k);
        }
        meat += score * score.transpose();
    }
    const Eigen::MatrixXd S_inverse = reduced.S.ldlt().solve(Eigen::MatrixXd::Identity(layout.size, layout.size));
    return S_inverse * meat * S_inverse;
}

// ---- Whether the views settle the lattice's symmetry ----
//
// The lattice looks the same under each of its symmetries (quarter turns, front or back), so one
// view of the plate fits a camera turned by any of them as well as the right one: only the plate's
// motion between the frame sets that two cameras share tells them apart. One frame set, or a plate
// held still, leaves the face open however small the 1 sigma, which knows nothing of it.

// A hole's measured point with the depth error the estimate found taken out, camera frame.
Vec3 withoutDepthError(const CameraState& camera, const Vec3& measured)
{
    const double range = measured.norm();
    if (range < 1e-6)
        return measured;
    return measured * (((range - camera.offsetM) / (1.0 + camera.scale)) / range);
}

// The rigid transform that carries `from` onto `to` in the least-squares sense (Kabsch).
Pose rigidFit(const std::vector<Vec3>& from, const std::vector<Vec3>& to)
{
    Vec3 fromMean = Vec3::Zero(), toMean = Vec3::Zero();
    for (std::size_t k = 0; k < from.size(); ++k) {
        fromMean += from[k];
        toMean += to[k];
    }
    fromMean /= static_cast<double>(from.size());
    toMean /= static_cast<double>(to.size());
    Mat3 cross = Mat3::Zero();
    for (std::size_t k = 0; k < from.size(); ++k)
        cross += (to[k] - toMean) * (from[k] - fromMean).transpose();
    const Mat3 R = nearestRotation(cross);
    return {R, toMean - R * fromMean};
}

const Observation* observationOf(const FrameSet& set, std::size_t camera)
{
    for (const Observation& obs : set.observations)
        if (obs.camera == camera)
            return &obs;
    return nullptr;
}

// Whether the frame sets that cameras `a` and `c` share settle c's face and quarter turn against
// the plates a saw: no other symmetry of c's holes, with c placed anew, fits those plates in the
// share of its holes that a calibrated camera must fit.
bool sharedSetsSettleSymmetry(const Problem& problem, std::size_t a, std::size_t c, double lossScale)
{
    static const std::vector<Mat3> symmetries = latticeSymmetries();
    constexpr std::size_t kMinHoles = 3;
    for (const Mat3& symmetry : symmetries) {
        if (symmetry.isIdentity())
            continue;
        std::vector<Vec3> points, targets;
        for (const FrameSet& set : problem.sets) {
            const Observation* seenByC = observationOf(set, c);
            if (!seenByC || !observationOf(set, a))
                continue;
            for (std::size_t k = 0; k < seenByC->places.size(); ++k) {
                points.push_back(withoutDepthError(problem.cameras[c], seenByC->points[k]));
                targets.push_back(set.plate * (symmetry * seenByC->places[k]));
            }
        }
        if (points.size() < kMinHoles)
            return false;
        const Pose T_camera0_c = rigidFit(points, targets);
        std::size_t fitting = 0;
        for (std::size_t k = 0; k < points.size(); ++k)
            fitting += (T_camera0_c * points[k] - targets[k]).norm() < 3.0 * lossScale ? 1 : 0;
        if (static_cast<double>(fitting) >= kMinHoleInlierShare * static_cast<double>(points.size()))
            return false;
    }
    return true;
}

// The cameras whose face and quarter turn are settled against the reference camera: reached from
// it through pairs of cameras (both in `candidates`) whose shared frame sets settle them.
std::vector<bool> settledCameras(const Problem& problem, const std::vector<bool>& candidates, double lossScale)
{
    std::vector<bool> settled(problem.cameras.size(), false);
    if (problem.cameras.empty() || !candidates[kReferenceCamera])
        return settled;
    settled[kReferenceCamera] = true;
    std::vector<std::size_t> open{kReferenceCamera};
    while (!open.empty()) {
        const std::size_t a = open.back();
        open.pop_back();
        for (std::size_t c = 0; c < problem.cameras.size(); ++c) {
            if (settled[c] || !candidates[c] || !sharedSetsSettleSymmetry(problem, a, c, lossScale))
                continue;
            settled[c] = true;
            open.push_back(c);
        }
    }
    return settled;
}

// A calibrated camera whose views do not settle its face and quarter turn against the reference is
// not calibrated: its pose may be turned by a symmetry of the lattice that its 1 sigma cannot show.
void refuseUnsettledCameras(const Problem& problem, double lossScale, JointEstimate& estimate)
{
    std::vector<bool> candidates(problem.cameras.size(), false);
    for (std::size_t c = 0; c < problem.cameras.size(); ++c)
        candidates[c] = problem.active[c] && (c == kReferenceCamera || estimate.cameras[c].calibrated);
    const std::vector<bool> settled = settledCameras(problem, candidates, lossScale);
    for (std::size_t c = 0; c < problem.cameras.size(); ++c) {
        if (c == kReferenceCamera || !candidates[c] || settled[c])
            continue;
        estimate.cameras[c].calibrated = false;
        estimate.cameras[c].reason = "its views of the plate do not settle which face and quarter turn it saw (one "
                                     "view, or a plate held still, fits several): move and turn the plate in its view";
    }
}

void describeCameras(const Problem& problem, double lossScale, JointEstimate& estimate)
{
    const Layout layout = layoutOf(problem);
    const Eigen::MatrixXd covariance = layout.size > 0 ? cameraCovariance(problem, layout, lossScale) : Eigen::MatrixXd();
    std::vector<double> squared(problem.cameras.size(), 0.0), range(problem.cameras.size(), 0.0);
    std::vector<double> rangeSquared(problem.cameras.size(), 0.0);
    std::vector<std::size_t> inliers(problem.cameras.size(), 0);
    for (const FrameSet& set : problem.sets) {
        for (const Observation& obs : set.observations) {
            JointCameraEstimate& camera = estimate.cameras[obs.camera];
            ++camera.frameSets;
            for (std::size_t k = 0; k < obs.places.size(); ++k) {
                const HoleTerm term = holeTerm(problem.cameras[obs.camera], set.plate, obs.places[k], obs.points[k]);
                ++camera.holeCount;
                range[obs.camera] += obs.points[k].norm();
                rangeSquared[obs.camera] += obs.points[k].squaredNorm();
                if (term.residual.norm() < 3.0 * lossScale) {
                    squared[obs.camera] += term.residual.squaredNorm();
                    ++inliers[obs.camera];
                }
            }
        }
    }
    for (std::size_t c = 0; c < problem.cameras.size(); ++c) {
        JointCameraEstimate& camera = estimate.cameras[c];
        if (!problem.active[c])
            continue;
        const CameraState& state = problem.cameras[c];
        camera.calibrated = true;
        camera.T_camera0_camera = toMat4(state.pose);
        camera.depthError = DepthCorrection{state.offsetM * 1000.0, state.scale};
        camera.holeRmsMm = inliers[c] > 0 ? 1000.0 * std::sqrt(squared[c] / static_cast<double>(inliers[c])) : 0.0;
        camera.holeInlierShare =
            camera.holeCount > 0 ? static_cast<double>(inliers[c]) / static_cast<double>(camera.holeCount) : 0.0;
        // A camera moved while the plate was carried, or a start caught in a wrong minimum, fits
        // a part of its holes well and the rest not at all: its residual, over the part it fits,
        // would pass for a good one. Such a pose is not a calibration.
        if (c > 0 && camera.holeInlierShare < kMinHoleInlierShare) {
            camera.calibrated = false;
            char reason[160];
            std::snprintf(reason, sizeof reason,
                          "fits only %.0f %% of its holes: its views of the plate disagree (was it moved?)",
                          100.0 * camera.holeInlierShare);
            camera.reason = reason;
        }
        camera.meanPlateDistanceM = camera.holeCount > 0 ? range[c] / static_cast<double>(camera.holeCount) : 0.0;
        if (camera.holeCount > 0)
            camera.plateDistanceSpreadM = std::sqrt(std::max(
                0.0, rangeSquared[c] / static_cast<double>(camera.holeCount)
                         - camera.meanPlateDistanceM * camera.meanPlateDistanceM));
        const int first = firstFreeParameter(c);
        const int at = layout.offset[c] - first; // where parameter 0 would sit
        if (first == 0) {
            camera.sigmaRotationDeg = std::sqrt(std::max(0.0, covariance.block(at, at, 3, 3).trace())) * kDegreesPerRadian;
            camera.sigmaTranslationMm = std::sqrt(std::max(0.0, covariance.block(at + 3, at + 3, 3, 3).trace())) * 1000.0;
        }
        const double r = camera.meanPlateDistanceM;
        const double variance = covariance(at + 6, at + 6) + r * r * covariance(at + 7, at + 7)
            + 2.0 * r * covariance(at + 6, at + 7);
        camera.sigmaDepthMm =
            std::sqrt(std::max(0.0, variance) * 1e6 + kDepthModelFloorMm * kDepthModelFloorMm);
    }
    refuseUnsettledCameras(problem, lossScale, estimate);
}

} // namespace

JointCalibration::JointCalibration(std::size_t cameraCount) : cameras(cameraCount) {}

void JointCalibration::addFrameSet(const std::vector<LatticeDetectionResult>& detections,
                                   const std::vector<DepthCorrection>& removed)
{
    if (detections.size() != cameras)
        return;
    std::vector<std::optional<PlateObservation>> set(cameras);
    bool any = false;
    for (std::size_t c = 0; c < cameras; ++c) {
        set[c] = observePlate(detections[c], c < removed.size() ? removed[c] : DepthCorrection{});
        any = any || set[c].has_value();
    }
    if (any)
        sets.push_back(std::move(set));
}

void JointCalibration::thinTo(std::size_t maxSets)
{
    if (sets.size() <= maxSets)
        return;
    std::vector<std::vector<std::optional<PlateObservation>>> kept;
    for (std::size_t k = 0; k < sets.size(); k += 2)
        kept.push_back(std::move(sets[k]));
    sets = std::move(kept);
}

JointEstimate JointCalibration::solve() const
{
    JointEstimate estimate;
    estimate.cameras.resize(cameras);
    const GraphStart start = chainAlongGraph(sets, cameras);
    Problem problem;
    problem.cameras.resize(cameras);
    problem.active.assign(cameras, false);
    for (std::size_t c = 0; c < cameras; ++c) {
        estimate.cameras[c].reason = start.reasons[c];
        if (start.T_camera0_camera[c]) {
            problem.cameras[c].pose = *start.T_camera0_camera[c];
            problem.active[c] = true;
        }
    }
    problem.sets = prepareSets(sets, start);
    if (problem.sets.empty()) {
        estimate.cameras[kReferenceCamera].calibrated = false;
        return estimate;
    }
    Solved wide = levenbergMarquardt(std::move(problem), kWideLossM, kMaxIterations);
    Solved narrow = levenbergMarquardt(std::move(wide.problem), kNarrowLossM, kMaxIterations);
    estimate.converged = narrow.converged;
    estimate.iterations = wide.iterations + narrow.iterations;
    describeCameras(narrow.problem, kNarrowLossM, estimate);

    // The views of a refused camera would still pull the plates toward it: once more without them.
    std::vector<std::size_t> refused;
    for (std::size_t c = 0; c < cameras; ++c)
        if (narrow.problem.active[c] && !estimate.cameras[c].calibrated)
            refused.push_back(c);
    if (refused.empty())
        return estimate;
    Problem rest = std::move(narrow.problem);
    for (const std::size_t c : refused)
        rest.active[c] = false;
    for (FrameSet& set : rest.sets)
        set.observations.erase(std::remove_if(set.observations.begin(), set.observations.end(),
                                              [&](const Observation& obs) { return !rest.active[obs.camera]; }),
                               set.observations.end());
    rest.sets.erase(std::remove_if(rest.sets.begin(), rest.sets.end(),
                                   [](const FrameSet& set) { return set.observations.empty(); }),
                    rest.sets.end());
    const Solved again = levenbergMarquardt(std::move(rest), kNarrowLossM, kMaxIterations);
    JointEstimate second;
    second.cameras.resize(cameras);
    for (std::size_t c = 0; c < cameras; ++c)
        second.cameras[c].reason = start.reasons[c];
    describeCameras(again.problem, kNarrowLossM, second);
    for (const std::size_t c : refused)
        second.cameras[c] = estimate.cameras[c];
    second.converged = again.converged;
    second.iterations = estimate.iterations + again.iterations;
    return second;
}

} // namespace tavorin
