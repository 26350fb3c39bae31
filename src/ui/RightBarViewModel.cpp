#include "ui/RightBarViewModel.h"

#include "acquisition/CameraConfigFiles.h"
#include "app/Scene.h"
#include "app/SetDepthImageSourceAction.h"
#include "app/SetTubusTargetParametersAction.h"
#include "base/Console.h"
#include "calibration/RoomRegistration.h"
#include "light/SingleLightEnablerOptimizer.h"
#include "network/TfStaticPublisher.h"
#include "scene/DepthCameraData.h"
#include "scene/LightModuleRecord.h"
#include "ui/RecordingFiles.h"

#include <mutex>

namespace tavorin {

namespace {

// The module records hold no motor angles for the bar to show: reading a module back fills the
// rotation fields with a stand-in that tells the modules apart, a tenth of a radian per module
// index (X turned positive, Y negative).
constexpr float kStandInIndicesPerRadian = 10.0f;

float standInRotation(int moduleIndex)
{
    return static_cast<float>(moduleIndex) / kStandInIndicesPerRadian;
}

} // namespace

RightBarViewModel::RightBarViewModel(QObject* parent) : QObject(parent) {}

RightBarViewModel::~RightBarViewModel() = default;

QString RightBarViewModel::frameSetTiming() const
{
    std::lock_guard<std::mutex> lock(progressMutex);
    return timingLine;
}

void RightBarViewModel::setFrameSetTiming(const std::string& text)
{
    const QString line = QString::fromStdString(text);
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        if (line == timingLine)
            return;
        timingLine = line;
    }
    QMetaObject::invokeMethod(this, [this] { emit frameSetTimingChanged(); }, Qt::QueuedConnection);
}

QStringList RightBarViewModel::registrationProgress() const
{
    std::lock_guard<std::mutex> lock(progressMutex);
    return progressLines;
}

void RightBarViewModel::setRegistrationProgress(const std::vector<std::string>& text)
{
    QStringList lines;
    for (const std::string& line : text)
        lines.push_back(QString::fromStdString(line));
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        if (lines == progressLines)
            return;
        progressLines = lines;
    }
    QMetaObject::invokeMethod(this, [this] { emit registrationProgressChanged(); }, Qt::QueuedConnection);
}

// The position reaches the module's mount before the change is signalled.
void RightBarViewModel::setModulePosition(Axis axis, Property<float>& property, float value)
{
    if (!property.storeIfChanged(value))
        return;
    writeModuleTranslation(axis, value);
    property.notify(*this, value);
}

void RightBarViewModel::setCalibModulID(int value)
{
    const int oldId = calibModulIDValue.get();
    if (value == oldId)
        return;
    installLightOptimizer(oldId, value);
    calibModulIDValue.store(value);
    readBackModule(value);
    calibModulIDValue.notify(*this, value);
}

void RightBarViewModel::enqueueTubusParameters()
{
    if (!scene)
        return;
    scene->sceneState().enqueue(std::make_shared<SetTubusTargetParametersAction>(
        tubusPositionX(), tubusPositionY(), tubusPositionZ(), tubusRotationX(), tubusRotationY(),
        tubusDiameter(), tubusDepth()));
}

void RightBarViewModel::installLightOptimizer(int oldId, int newId)
{
    if (!scene)
        return;
    std::lock_guard<std::mutex> lock(scene->frameLock());
    SceneState& state = scene->sceneState();
    if (oldId == -1) {
        savedOptimizer = state.lightOptimizer;
        ownOptimizer = std::make_shared<SingleLightEnablerOptimizer>();
        state.lightOptimizer = ownOptimizer;
    }
    if (newId >= 0 && ownOptimizer)
        ownOptimizer->selectedIndex = newId;
    if (newId == -1 && savedOptimizer)
        state.lightOptimizer = savedOptimizer;
}

void RightBarViewModel::readBackModule(int id)
{
    if (!scene || id < 0)
        return;
    std::shared_ptr<LightModuleRecord> module;
    {
        std::lock_guard<std::mutex> lock(scene->frameLock());
        const auto& lights = scene->sceneState().lights;
        if (static_cast<std::size_t>(id) >= lights.size())
            return;
        module = lights[static_cast<std::size_t>(id)];
    }
    if (!module)
        return;
    const Vec4 position = module->transform.translation();
    readBackGuard = true;
    setCalibModulPositionX(position.x);
    setCalibModulPositionY(position.y);
    setCalibModulPositionZ(position.z);
    setCalibModulRotationX(standInRotation(id));
    setCalibModulRotationY(-standInRotation(id));
    setCalibModulMaxIntensity(module->maxIntensity);
    readBackGuard = false;
}

void RightBarViewModel::writeModuleTranslation(Axis axis, float value)
{
    if (readBackGuard || !scene)
        return;
    const int id = calibModulID();
    std::lock_guard<std::mutex> lock(scene->frameLock());
    const auto& lights = scene->sceneState().lights;
    if (id < 0 || static_cast<std::size_t>(id) >= lights.size() || !lights[static_cast<std::size_t>(id)])
        return;
    lights[static_cast<std::size_t>(id)]->transform.at(Mat4::kTranslationColumn, axis) = value;
}

void RightBarViewModel::setDepthImageSource(int type, const QString& file1, const QString& file2,
                                            const QString& file3)
{
    if (scene)
        scene->sceneState().enqueue(
            std::make_shared<SetDepthImageSourceAction>(type, recordingFiles(type, {file1, file2, file3})));
}

int RightBarViewModel::getNumbersOfLights()
{
    if (!scene)
        return 0;
    std::lock_guard<std::mutex> lock(scene->frameLock());
    return static_cast<int>(scene->sceneState().lights.size());
}

// The cursor is in the coordinates the cameras are drawn in; the point is kept in camera 0's own.
void RightBarViewModel::storeRoomCalibPoint(int id)
{
    if (id < 0 || id > 2)
        return;
    const Vec4 cursor = Vec4::point(calibCursorX(), calibCursorY(), calibCursorZ());
    roomCalibPoints[static_cast<std::size_t>(id)] = inverse(drawnFromCamera0()) * cursor;
    emit roomCalibPointsChanged();
}

Mat4 RightBarViewModel::drawnFromCamera0() const
{
    if (!scene)
        return Mat4::identity();
    std::lock_guard<std::mutex> lock(scene->frameLock());
    return T_drawn_camera0(scene->sceneState().cameras);
}

Vec4 RightBarViewModel::roomCalibPoint(int id) const
{
    return drawnFromCamera0() * roomCalibPoints.at(static_cast<std::size_t>(id));
}

QString RightBarViewModel::getRoomCalibPointString(int id) const
{
    if (id < 0 || id > 2)
        return QStringLiteral("NULL");
    const Vec4 p = roomCalibPoint(id);
    return QString::number(p.x, 'f', 2) + " x " + QString::number(p.y, 'f', 2) + " x "
        + QString::number(p.z, 'f', 2);
}

// Stored, the cameras' poses also go to ROS tools (tf_static), on a participant made with the first
// store and kept, so that tools that start later still get them.
bool RightBarViewModel::storeCalibrations()
{
    if (!scene)
        return false;
    std::vector<std::pair<std::string, Mat4>> poses;
    bool stored = false;
    {
        std::lock_guard<std::mutex> lock(scene->frameLock());
        stored = tavorin::storeCalibrations(scene->sceneState());
        for (const std::shared_ptr<DepthCameraData>& camera : scene->sceneState().cameras)
            poses.emplace_back(camera->sourceName, camera->modelMatrix);
    }
    if (poses.empty())
        return stored;
    if (!tfStatic)
        tfStatic = std::make_unique<TfStaticPublisher>();
    tfStatic->publish(poses);
    return stored;
}

QString RightBarViewModel::recordingChoiceFault(const QString& fileUrl, const QString& folderUrl) const
{
    const std::string fault = tavorin::recordingChoiceFault(fileUrl, folderUrl);
    if (!fault.empty())
        console::err("Cannot play ", fault, "; choose a recording file (.h5).");
    return QString::fromStdString(fault);
}

QString RightBarViewModel::setRecordingFolder(const QString& fileUrl, const QString& folderUrl)
{
    std::string folder;
    std::string fault;
    std::vector<std::string> paths = recordingsInFolder(fileUrl.isEmpty() ? folderUrl : fileUrl, folder, fault);
    if (!fault.empty()) {
        console::err("Cannot play ", fault, "; choose a folder of recordings.");
        return QString::fromStdString(fault);
    }
    console::out("Playing the ", paths.size(), " recordings of ", folder);
    if (scene)
        scene->sceneState().enqueue(
            std::make_shared<SetDepthImageSourceAction>(SetDepthImageSourceAction::kRecordings, std::move(paths)));
    return {};
}

// The points are taken where they lie now: after a room registration they lie in the room, so a
// second press finds the frame already in effect and changes nothing.
void RightBarViewModel::registrateRoom()
{
    if (!scene)
        return;
    RoomRegistrationResult result;
    {
        std::lock_guard<std::mutex> lock(scene->frameLock());
        SceneState& state = scene->sceneState();
        const Mat4 T_drawn_cam0 = T_drawn_camera0(state.cameras);
        std::array<Vec4, 3> drawn;
        for (std::size_t i = 0; i < drawn.size(); ++i)
            drawn[i] = T_drawn_cam0 * roomCalibPoints[i];
        result = tavorin::registrateRoom(state.cameras, state.depthSource.get(), drawn);
    }
    if (result == RoomRegistrationResult::Applied)
        emit roomCalibPointsChanged();
}

} // namespace tavorin
