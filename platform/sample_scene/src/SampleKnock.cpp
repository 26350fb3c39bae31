#include "sample_scene/SampleKnock.h"

#include "sample_scene/SampleView.h"

#include <Eigen/Geometry>

#include <cmath>
#include <cstdlib>

namespace sample_scene {

namespace {

constexpr double kDegree = M_PI / 180.0;
constexpr double kMetresPerMm = 0.001;
constexpr double kMaxSeconds = 3600.0;
constexpr double kMaxAmount = 100.0; // degrees or millimetres

bool number(const std::string& text, double low, double high, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value) && value >= low && value <= high;
}

} // namespace

Eigen::Vector3d knockTurnAxis()
{
    return Eigen::Vector3d(0.5, 0.8, 0.33).normalized();
}

Eigen::Vector3d knockShiftDirection()
{
    return Eigen::Vector3d(0.6, -0.3, 0.74).normalized();
}

bool parseKnock(const std::string& text, int cameras, Knock& knock)
{
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    double camera = 0.0;
    if (fields.size() != 4 || !number(fields[0], 0.0, cameras - 1, camera) || camera != std::floor(camera)
        || !number(fields[1], 0.0, kMaxSeconds, knock.seconds) || !number(fields[3], -kMaxAmount, kMaxAmount, knock.amount))
        return false;
    knock.camera = static_cast<int>(camera);
    for (Knock::Kind kind : {Knock::Kind::Turn, Knock::Kind::Shift, Knock::Kind::Range})
        if (fields[2] == knockKindName(kind)) {
            knock.kind = kind;
            return true;
        }
    return false;
}

CameraPose knockedPose(const CameraPose& pose, const Knock& knock)
{
    CameraPose moved = pose;
    if (knock.kind == Knock::Kind::Turn)
        moved.R_room_sdk = pose.R_room_sdk * Eigen::AngleAxisd(knock.amount * kDegree, knockTurnAxis()).toRotationMatrix();
    else if (knock.kind == Knock::Kind::Shift)
        moved.position = pose.position + pose.R_room_sdk * knockShiftDirection() * (knock.amount * kMetresPerMm);
    return moved;
}

void applyKnock(SampleView& view, CameraPose& pose, const Knock& knock)
{
    if (knock.kind == Knock::Kind::Range) {
        DepthError error = view.currentDepthError();
        error.offsetMm += knock.amount;
        view.setDepthError(error);
        return;
    }
    pose = knockedPose(pose, knock);
    view.moveCamera(pose);
}

const char* knockKindName(Knock::Kind kind)
{
    switch (kind) {
    case Knock::Kind::Turn:
        return "turn";
    case Knock::Kind::Shift:
        return "shift";
    case Knock::Kind::Range:
        break;
    }
    return "range";
}

} // namespace sample_scene
