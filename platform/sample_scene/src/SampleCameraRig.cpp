#include "sample_scene/SampleCameraRig.h"

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>

#include <cmath>

namespace sample_scene {

namespace {

constexpr double kDegree = M_PI / 180.0;

struct CameraMount {
    const char* serial;
    double azimuthDeg; // around the work centre, 0 = +z side
    double distance;   // horizontal, metres
    double height;     // metres
    bool blobWithNul;
};

constexpr CameraMount kMounts[kMaxCameras] = {
    {"000135193412", -25.0, 1.75, 2.00, true},  {"000218790512", 28.0, 1.70, 1.80, true},
    {"000402694812", 178.0, 1.65, 2.15, false}, {"000517283912", -60.0, 1.80, 2.10, true},
    {"000623174512", 62.0, 1.75, 1.95, true},   {"000734981212", 140.0, 1.70, 2.05, true},
    {"000845612312", -140.0, 1.75, 2.20, true}, {"000956723412", 0.0, 1.85, 2.25, true},
};

// Functions, not namespace-scope vectors: an Eigen vector is initialised dynamically, and the
// virtual cameras ask for their poses during the program's own static initialisation (the window
// builds its live source before main), when such a vector could still read as zero.
Eigen::Vector3d workCentre() // centre of the plate's path
{
    return {0.0, 1.30, 0.0};
}

Eigen::Vector3d aimPoint()
{
    return {0.0, 0.90, 0.0};
}

nlohmann::json vec(const Eigen::Vector3d& v)
{
    return {v.x(), v.y(), v.z()};
}

// Column-major 16 numbers, as in the configuration files.
nlohmann::json columnMajor(const Eigen::Matrix4d& m)
{
    nlohmann::json out = nlohmann::json::array();
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            out.push_back(m(r, c));
    return out;
}

} // namespace

std::string cameraSerial(int index)
{
    return kMounts[index].serial;
}

bool blobWithNul(int index)
{
    return kMounts[index].blobWithNul;
}

CameraPose cameraPose(int index)
{
    const CameraMount& mount = kMounts[index];
    const double a = mount.azimuthDeg * kDegree;
    const Eigen::Vector3d position(workCentre().x() + mount.distance * std::sin(a), mount.height,
                                   workCentre().z() + mount.distance * std::cos(a));
    return aimedPose(position, aimPoint());
}

CameraPose aimedPose(const Eigen::Vector3d& position, const Eigen::Vector3d& target)
{
    const Eigen::Vector3d forward = (target - position).normalized();
    const Eigen::Vector3d right = forward.cross(Eigen::Vector3d::UnitY()).normalized();
    CameraPose pose;
    pose.position = position;
    pose.R_room_sdk.col(0) = right;
    pose.R_room_sdk.col(1) = forward.cross(right); // down
    pose.R_room_sdk.col(2) = forward;
    return pose;
}

Eigen::Matrix4d modelMatrix(const CameraPose& pose)
{
    Eigen::Matrix4d T_room_sdk = Eigen::Matrix4d::Identity();
    T_room_sdk.block<3, 3>(0, 0) = pose.R_room_sdk;
    T_room_sdk.block<3, 1>(0, 3) = pose.position;
    const Eigen::Matrix4d S = Eigen::Vector4d(-1.0, -1.0, 1.0, 1.0).asDiagonal();
    return T_room_sdk * S;
}

PlatePose plateAt(double seconds, double period)
{
    const double phase = 2.0 * M_PI * seconds / period;
    const Eigen::Vector3d centre = workCentre()
        + Eigen::Vector3d(0.14 * std::sin(phase), 0.05 * std::sin(2.0 * phase), 0.10 * std::sin(phase + 1.0));
    const double yaw = 8.0 * kDegree * std::sin(phase + 0.4);
    const double tilt = (6.0 + 4.0 * std::sin(2.0 * phase)) * kDegree;
    const double roll = (-30.0 + 25.0 * seconds) * kDegree;
    const Eigen::Matrix3d R = (Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitY())
                               * Eigen::AngleAxisd(-tilt, Eigen::Vector3d::UnitX())
                               * Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitZ()))
                                  .toRotationMatrix();
    return PlatePose::at(centre, R);
}

nlohmann::json groundTruth(const std::vector<SceneCamera>& cameras, const std::string& folder, bool depthArtefacts)
{
    nlohmann::json truth;
    truth["units"] = "metres; room frame y up, floor at y = 0";
    truth["pointConvention"] = "camera points (-x*d, -y*d, d) of the SDK depth camera frame (x right, y down)";
    truth["matrixLayout"] = "16 numbers column-major, as in the camera configuration files";
    const Eigen::Matrix4d M0 = modelMatrix(cameras.front().pose);
    for (const SceneCamera& camera : cameras) {
        const Eigen::Matrix4d M = modelMatrix(camera.pose);
        nlohmann::json entry;
        entry["serial"] = cameraSerial(camera.rigIndex);
        entry["file"] = folder + "/kinect_" + cameraSerial(camera.rigIndex) + ".h5";
        entry["position"] = vec(camera.pose.position);
        entry["forward"] = vec(camera.pose.R_room_sdk.col(2));
        entry["modelMatrixRoom"] = columnMajor(M);
        entry["modelMatrixRelativeToCamera0"] = columnMajor(M0.inverse() * M);
        entry["depthError"] = {{"offsetMm", camera.depthError.offsetMm}, {"scale", camera.depthError.scale}};
        truth["cameras"].push_back(entry);
    }
    truth["depthArtefacts"] = depthArtefacts;
    for (const Eigen::Vector3d& marker : SampleRoom::markerCentres())
        truth["markers"].push_back(vec(marker));
    truth["markerRadius"] = SampleRoom::kMarkerRadius;
    truth["markerHeight"] = SampleRoom::kMarkerHeight;
    truth["plate"] = {{"size", 2.0 * SampleRoom::kPlateHalfSize},
                      {"holePitch", SampleRoom::kHolePitch},
                      {"holeDiameter", 2.0 * SampleRoom::kHoleRadius},
                      {"handleFromCentre", {SampleRoom::kHandleStart, SampleRoom::kHandleEnd}},
                      {"handleWidth", 2.0 * SampleRoom::kHandleHalfWidth},
                      {"holeOrder", "row-major; row 0 toward +v, column 0 toward -u; the handle lies along +u"}};
    return truth;
}

nlohmann::json trajectoryEntry(int frame, double timestamp, const PlatePose& pose)
{
    nlohmann::json entry = {{"frame", frame},     {"timestamp", timestamp}, {"centre", vec(pose.centre)},
                            {"u", vec(pose.u)},   {"v", vec(pose.v)},       {"normal", vec(pose.n)}};
    for (const Eigen::Vector3d& hole : SampleRoom::holeCentres(pose))
        entry["holes"].push_back(vec(hole));
    return entry;
}

} // namespace sample_scene
