#include "network/ros/CameraInfoModel.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>
#include <sstream>

namespace tavorin {

namespace {

// Where K (row-major) holds the focal lengths and the principal point.
constexpr std::size_t kFx = 0;
constexpr std::size_t kCx = 2;
constexpr std::size_t kFy = 4;
constexpr std::size_t kCy = 5;

constexpr std::size_t kRationalCoefficients = 8; // k1, k2, p1, p2, k3, k4, k5, k6
constexpr std::size_t kPlumbBobCoefficients = 5; // k1, k2, p1, p2, k3

// How many of D's coefficients a distortion model has; 0 for a model we do not know.
std::size_t modelledCoefficients(const std::string& distortionModel)
{
    if (distortionModel == "rational_polynomial")
        return kRationalCoefficients;
    if (distortionModel == "plumb_bob")
        return kPlumbBobCoefficients;
    return 0;
}

bool pinholeForm(const std::array<double, 9>& k)
{
    return k[1] == 0.0 && k[3] == 0.0 && k[6] == 0.0 && k[7] == 0.0 && k[8] == 1.0;
}

// Whether a principal point coordinate (pixels) lies at most half the image's side outside it.
bool nearImage(double centre, std::uint32_t side)
{
    constexpr double kMarginOfSide = 0.5;
    return centre >= -kMarginOfSide * side && centre <= (1.0 + kMarginOfSide) * side;
}

std::string distortionFault(const std::string& model, const std::vector<double>& d)
{
    const std::size_t count = modelledCoefficients(model);
    const auto notFinite = std::find_if(d.begin(), d.end(), [](double value) { return !std::isfinite(value); });
    const auto modelled = d.begin() + static_cast<std::ptrdiff_t>(std::min(count, d.size()));
    const auto extra = std::find_if(modelled, d.end(), [](double value) { return value != 0.0; });
    std::ostringstream fault;
    if (count == 0)
        fault << "unknown distortion model \"" << model << "\" (rational_polynomial or plumb_bob)";
    else if (d.size() < count)
        fault << model << " needs " << count << " coefficients in D, got " << d.size();
    else if (notFinite != d.end())
        fault << "D[" << notFinite - d.begin() << "] is not finite";
    else if (extra != d.end())
        fault << "D[" << extra - d.begin() << "] is " << *extra << "; " << model << " has " << count
              << " coefficients, any further ones must be 0";
    return fault.str();
}

// The OpenCV lens model in normalised units (pixels only in fx, fy, cx, cy). plumb_bob is the
// rational model with k4 = k5 = k6 = 0.
struct Lens {
    double fx, fy, cx, cy; // pixels
    double k1, k2, k3, k4, k5, k6;
    double p1, p2;
};

Lens lensOf(const CameraInfoFields& info)
{
    const std::size_t count = modelledCoefficients(info.distortionModel);
    assert(count != 0 && info.d.size() >= count && "lensOf: the CameraInfo must pass cameraInfoFault");
    const std::vector<double>& d = info.d; // k1, k2, p1, p2, k3[, k4, k5, k6]
    const bool rational = count == kRationalCoefficients;
    Lens lens;
    lens.fx = info.k[kFx];
    lens.fy = info.k[kFy];
    lens.cx = info.k[kCx];
    lens.cy = info.k[kCy];
    lens.k1 = d[0];
    lens.k2 = d[1];
    lens.p1 = d[2];
    lens.p2 = d[3];
    lens.k3 = d[4];
    lens.k4 = rational ? d[5] : 0.0;
    lens.k5 = rational ? d[6] : 0.0;
    lens.k6 = rational ? d[7] : 0.0;
    return lens;
}

// The radial factor's numerator 1 + k1 s + k2 s² + k3 s³ and denominator 1 + k4 s + k5 s² + k6 s³
// at s = r², with their derivatives in s.
struct Radial {
    double numerator, denominator;
    double dNumerator, dDenominator;
};

Radial radialAt(const Lens& lens, double s)
{
    return {1.0 + s * (lens.k1 + s * (lens.k2 + s * lens.k3)), 1.0 + s * (lens.k4 + s * (lens.k5 + s * lens.k6)),
            lens.k1 + s * (2.0 * lens.k2 + s * 3.0 * lens.k3), lens.k4 + s * (2.0 * lens.k5 + s * 3.0 * lens.k6)};
}

struct Point {
    double x, y;
};

// The distorted normalised point (x', y') of (x, y) and its Jacobian d(x', y') / d(x, y). Needs a
// positive denominator of the radial factor.
struct Distorted {
    Point at;
    double dxdx, dxdy, dydx, dydy;
};

Distorted distort(const Lens& lens, Point p)
{
    const double s = p.x * p.x + p.y * p.y;
    const Radial radial = radialAt(lens, s);
    const double inverseDenominator = 1.0 / radial.denominator;
    const double factor = radial.numerator * inverseDenominator;
    const double dFactor = (radial.dNumerator - factor * radial.dDenominator) * inverseDenominator;
    const double xy = p.x * p.y;
    const double cross = 2.0 * xy * dFactor + 2.0 * lens.p1 * p.x + 2.0 * lens.p2 * p.y;
    return {{p.x * factor + 2.0 * lens.p1 * xy + lens.p2 * (s + 2.0 * p.x * p.x),
             p.y * factor + lens.p1 * (s + 2.0 * p.y * p.y) + 2.0 * lens.p2 * xy},
            factor + 2.0 * p.x * p.x * dFactor + 2.0 * lens.p1 * p.y + 6.0 * lens.p2 * p.x,
            cross,
            cross,
            factor + 2.0 * p.y * p.y * dFactor + 6.0 * lens.p1 * p.y + 2.0 * lens.p2 * p.x};
}

// Whether the radial map r -> r f(r²) is defined and increasing at radius r: a positive
// denominator, and d(r f)/dr = f + 2 s f'(s) > 0, whose sign is that of N D + 2 s (N' D - N D').
bool radiallyOneToOne(const Lens& lens, double r)
{
    const double s = r * r;
    const Radial radial = radialAt(lens, s);
    const double slope = radial.numerator * radial.denominator
        + 2.0 * s * (radial.dNumerator * radial.denominator - radial.numerator * radial.dDenominator);
    return radial.denominator > 0.0 && slope > 0.0;
}

// The normalised radius below which the radial map is one-to-one: its first turning point or the
// first pole of the radial factor, at most kMaxRadius. The map's slope is 1 on the axis; the scan
// runs on a geometric grid (steps of 0.1 % of the radius, finer than any turn and turn back of these
// low-order rational functions) and bisects the first step that fails.
double validRadius(const Lens& lens)
{
    constexpr double kFirstRadius = 1e-3;
    constexpr double kGridRatio = 1.001;
    constexpr double kMaxRadius = 1e3; // 89.94 degrees off the axis, beyond any pinhole lens
    constexpr int kBisections = 60;
    double inside = 0.0;
    for (double outside = kFirstRadius; outside < kMaxRadius; outside *= kGridRatio) {
        if (radiallyOneToOne(lens, outside)) {
            inside = outside;
            continue;
        }
        for (int bisection = 0; bisection < kBisections; ++bisection) {
            const double middle = 0.5 * (inside + outside);
            (radiallyOneToOne(lens, middle) ? inside : outside) = middle;
        }
        return inside;
    }
    return kMaxRadius;
}

// The residual of a guess: its distortion minus the target distorted point, normalised units.
struct Guess {
    Point at;
    Distorted distorted;
    double ex, ey;
};

Guess guessAt(const Lens& lens, Point at, Point target)
{
    const Distorted distorted = distort(lens, at);
    return {at, distorted, distorted.at.x - target.x, distorted.at.y - target.y};
}

// One damped Newton step: the full step, halved until it stays inside the valid radius and lowers
// the residual. False when no such step exists or the Jacobian is not positive (the map folds).
bool newtonStep(const Lens& lens, double validRadius2, Point target, Guess& guess)
{
    constexpr int kMaxHalvings = 40;
    const Distorted& j = guess.distorted;
    const double det = j.dxdx * j.dydy - j.dxdy * j.dydx;
    if (!(det > 0.0))
        return false;
    const double inverseDet = 1.0 / det;
    double sx = (j.dxdy * guess.ey - j.dydy * guess.ex) * inverseDet;
    double sy = (j.dydx * guess.ex - j.dxdx * guess.ey) * inverseDet;
    const double residual2 = guess.ex * guess.ex + guess.ey * guess.ey;
    for (int halving = 0; halving < kMaxHalvings; ++halving, sx *= 0.5, sy *= 0.5) {
        const Point candidate{guess.at.x + sx, guess.at.y + sy};
        if (!(candidate.x * candidate.x + candidate.y * candidate.y < validRadius2))
            continue;
        const Guess next = guessAt(lens, candidate, target);
        if (next.ex * next.ex + next.ey * next.ey < residual2) {
            guess = next;
            return true;
        }
    }
    return false;
}

// The normalised point inside the valid radius whose distortion is `target`, by Newton's method
// from `start` (inside the radius); false where it does not converge.
bool undistort(const Lens& lens, double validRadius2, Point target, Point start, Point& ray)
{
    constexpr double kConverged = 1e-12; // largest residual component, normalised units
    constexpr int kMaxSteps = 50;
    Guess guess = guessAt(lens, start, target);
    for (int step = 0; step < kMaxSteps; ++step) {
        if (std::max(std::abs(guess.ex), std::abs(guess.ey)) <= kConverged) {
            ray = guess.at;
            return true;
        }
        if (!newtonStep(lens, validRadius2, target, guess))
            return false;
    }
    return false;
}

// Where a pixel's Newton iterations start: its distorted point moved by the quadratic extrapolation
// of the shifts (ray minus distorted point, normalised units) of the last three pixels of its row,
// a pixel apart. That is off by about (1 / focal length)³, so that one step converges; with fewer
// known shifts it takes the last one, or none. A lens without distortion so starts, and stays, on
// the pinhole ray exactly. A start outside the valid radius falls back to the optical axis.
class RowStart {
public:
    Point next(Point distorted, double validRadius2) const
    {
        constexpr Point kAxis{0.0, 0.0};
        Point shift = kAxis;
        if (known_ >= kQuadratic)
            shift = {3.0 * (shifts_[0].x - shifts_[1].x) + shifts_[2].x,
                     3.0 * (shifts_[0].y - shifts_[1].y) + shifts_[2].y};
        else if (known_ > 0)
            shift = shifts_[0];
        const Point start{distorted.x + shift.x, distorted.y + shift.y};
        return start.x * start.x + start.y * start.y < validRadius2 ? start : kAxis;
    }

    void found(Point distorted, Point ray)
    {
        shifts_[2] = shifts_[1];
        shifts_[1] = shifts_[0];
        shifts_[0] = {ray.x - distorted.x, ray.y - distorted.y};
        ++known_;
    }

    void lost() { known_ = 0; }

private:
    static constexpr int kQuadratic = 3; // shifts that a quadratic extrapolation takes
    std::array<Point, kQuadratic> shifts_{}; // newest first
    int known_ = 0;
};

template <typename Real>
std::vector<Real> rayTable(const CameraInfoFields& info)
{
    constexpr Real kNoRay = std::numeric_limits<Real>::quiet_NaN();
    const Lens lens = lensOf(info);
    const double radius = validRadius(lens);
    const double radius2 = radius * radius;
    std::vector<Real> table(2 * static_cast<std::size_t>(info.width) * info.height);
    Real* out = table.data();
    for (std::uint32_t row = 0; row < info.height; ++row) {
        RowStart start;
        const double distortedY = (row - lens.cy) / lens.fy;
        for (std::uint32_t column = 0; column < info.width; ++column, out += 2) {
            const Point distorted{(column - lens.cx) / lens.fx, distortedY};
            Point ray;
            if (undistort(lens, radius2, distorted, start.next(distorted, radius2), ray)) {
                out[0] = static_cast<Real>(ray.x);
                out[1] = static_cast<Real>(ray.y);
                start.found(distorted, ray);
            } else {
                out[0] = kNoRay;
                out[1] = kNoRay;
                start.lost();
            }
        }
    }
    return table;
}

} // namespace

std::string cameraInfoFault(const CameraInfoFields& info, std::uint32_t maxSide)
{
    const std::array<double, 9>& k = info.k;
    std::ostringstream fault;
    if (info.width == 0 || info.height == 0 || info.width > maxSide || info.height > maxSide)
        fault << "image of " << info.width << " x " << info.height << " pixels; each side must be 1 to " << maxSide;
    else if (!std::all_of(k.begin(), k.end(), [](double value) { return std::isfinite(value); }))
        fault << "K has a non-finite entry";
    else if (!(k[kFx] > 0.0 && k[kFy] > 0.0))
        fault << "focal lengths fx " << k[kFx] << ", fy " << k[kFy] << " px are not both positive";
    else if (!pinholeForm(k))
        fault << "K is not of the pinhole form fx 0 cx / 0 fy cy / 0 0 1";
    else if (!nearImage(k[kCx], info.width) || !nearImage(k[kCy], info.height))
        fault << "principal point (" << k[kCx] << ", " << k[kCy] << ") px lies far outside the " << info.width
              << " x " << info.height << " image";
    else
        return distortionFault(info.distortionModel, info.d);
    return fault.str();
}

std::vector<float> unitDepthRays(const CameraInfoFields& info)
{
    return rayTable<float>(info);
}

std::vector<double> unitDepthRaysDouble(const CameraInfoFields& info)
{
    return rayTable<double>(info);
}

CameraInfoFields rationalPolynomialInfo(std::uint32_t width, std::uint32_t height, double fx, double fy,
                                        double cx, double cy, const std::array<double, 8>& d)
{
    CameraInfoFields info;
    info.width = width;
    info.height = height;
    info.distortionModel = "rational_polynomial";
    info.d.assign(d.begin(), d.end());
    info.k = {fx, 0.0, cx, 0.0, fy, cy, 0.0, 0.0, 1.0};
    return info;
}

bool projectToPixel(const CameraInfoFields& info, double x, double y, double& u, double& v)
{
    const Lens lens = lensOf(info);
    if (!(radialAt(lens, x * x + y * y).denominator > 0.0))
        return false;
    const Point distorted = distort(lens, {x, y}).at;
    u = lens.fx * distorted.x + lens.cx;
    v = lens.fy * distorted.y + lens.cy;
    return true;
}

} // namespace tavorin
