#include "ui/RightBarViewModel.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "app/PlaybackAction.h"
#include "app/Scene.h"
#include "app/SetDepthImageSourceAction.h"
#include "app/SetTubusTargetParametersAction.h"
#include "base/Console.h"
#include "calibration/quality/CalibrationQuality.h"
#include "calibration/registration/RoomRegistration.h"
#include "light/SingleLightEnablerOptimizer.h"
#include "network/ros/TfStaticPublisher.h"
#include "scene/CameraIdentity.h"
#include "scene/DepthCameraData.h"
#include "scene/LightModuleRecord.h"
#include "ui/RecordingFiles.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <iterator>
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

// "Frame 12 of 240, 0.4 s of 8.0 s", and "End of the recording" once past its last frame.
QString playbackText(const PlaybackStatus& status)
{
    QString text = QString("Frame %1 of %2, %3 s of %4 s")
                       .arg(status.frame)
                       .arg(status.frames)
                       .arg(status.seconds, 0, 'f', 1)
                       .arg(status.lengthSeconds, 0, 'f', 1);
    if (status.ended)
        text += ". End of the recording";
    return text;
}

// The cameras a save may store: camera 0, every camera that a stored calibration placed, and every
// camera the joint estimate trusts now. The others still hold the identity they started with,
// which stored would read as a calibration; each is named on the console instead.
std::vector<std::shared_ptr<DepthCameraData>> placedCameras(const std::vector<std::shared_ptr<DepthCameraData>>& cameras,
                                                            const std::vector<CameraQuality>& quality)
{
    std::vector<std::shared_ptr<DepthCameraData>> placed;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const DepthCameraData& camera = *cameras[i];
        std::error_code error;
        const auto row = std::find_if(quality.begin(), quality.end(), [&camera](const CameraQuality& q) {
            return q.configPath == camera.configPath;
        });
        const bool trusted = row != quality.end() && (row->verdict == "good" || row->verdict == "marginal");
        if (i == 0 || camera.configPath.empty() || trusted || std::filesystem::exists(camera.configPath, error)) {
            placed.push_back(cameras[i]);
            continue;
        }
        console::out("Camera ", i, " (", cameraShortName(camera.sourceName),
                     ") not stored: not calibrated (no stored calibration, and registration has not placed it)");
    }
    return placed;
}

// "moved 0.51° / 8.0 mm since 2026-12-10", "in place", "cannot tell: <why>" or "no reference".
QString movedCheckLine(const StillViewCheck& check)
{
    if (!check.hasReference)
        return QStringLiteral("no reference");
    switch (check.verdict) {
    case DriftVerdict::Moved:
        return QString("moved %1\u00b0 / %2 mm since %3")
            .arg(check.estimate.turnDeg, 0, 'f', 2)
            .arg(check.estimate.shiftMm, 0, 'f', 1)
            .arg(QString::fromStdString(check.storedAt));
    case DriftVerdict::InPlace:
        return QStringLiteral("in place");
    case DriftVerdict::CannotTell:
        break;
    }
    return "cannot tell: " + QString::fromStdString(check.estimate.why);
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

QVariantMap RightBarViewModel::playback() const
{
    std::lock_guard<std::mutex> lock(progressMutex);
    return playbackState;
}

void RightBarViewModel::setPlaybackStatus(const PlaybackStatus& status)
{
    QVariantMap state;
    state["available"] = status.available;
    state["paused"] = status.paused;
    state["looping"] = status.looping;
    state["ended"] = status.ended;
    state["text"] = status.available ? playbackText(status) : QString();
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        if (state == playbackState)
            return;
        playbackState = state;
    }
    QMetaObject::invokeMethod(this, [this] { emit playbackChanged(); }, Qt::QueuedConnection);
}

void RightBarViewModel::playbackCommand(int command)
{
    constexpr PlaybackCommand kCommands[] = {PlaybackCommand::Play, PlaybackCommand::Pause, PlaybackCommand::Step,
                                             PlaybackCommand::LoopOn, PlaybackCommand::LoopOff};
    if (command < 0 || command >= static_cast<int>(std::size(kCommands)) || !scene)
        return;
    scene->sceneState().enqueue(std::make_shared<PlaybackAction>(kCommands[command]));
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
    roomCalibPointSaved[static_cast<std::size_t>(id)] = true;
    if (scene)
        scene->setSavedRoomPoint(id, roomCalibPoints[static_cast<std::size_t>(id)]); // marked in the view
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
    std::vector<StaticTransform> transforms;
    bool stored = false;
    bool anyCamera = false;
    std::vector<std::string> matrixFiles;
    {
        std::lock_guard<std::mutex> lock(scene->frameLock());
        SceneState placed;
        placed.cameras = placedCameras(scene->sceneState().cameras, latestQuality);
        for (const auto& camera : placed.cameras)
            if (!camera->configPath.empty())
                matrixFiles.push_back(camera->configPath);
        stored = tavorin::storeCalibrations(placed);
        transforms = cameraTransforms(placed.cameras);
        anyCamera = !placed.cameras.empty();
    }
    if (stored)
        storeCalibrationRecords(matrixFiles);
    // A reference belongs to the matrix stored with it: none is stored beside a matrix that failed.
    // A reference refused or failed is said on the console; the registration is stored all the same.
    if (stored)
        scene->storeStillViewReferences(matrixFiles);
    else
        console::err("Still view references not stored: a camera's matrix could not be written.");
    if (!anyCamera)
        return stored;
    if (!tfStatic)
        tfStatic = std::make_unique<TfStaticPublisher>();
    tfStatic->publish(transforms);
    return stored;
}

// Beside each matrix just stored (`matrixFiles`), what registration said of it, for the next start
// to show; a camera the save left out gets no record either.
void RightBarViewModel::storeCalibrationRecords(const std::vector<std::string>& matrixFiles)
{
    const QString storedAt = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm");
    for (const CameraQuality& camera : latestQuality) {
        if (camera.configPath.empty() || camera.verdict.empty() || camera.verdict == "waiting"
            || std::find(matrixFiles.begin(), matrixFiles.end(), camera.configPath) == matrixFiles.end())
            continue;
        CalibrationRecord record;
        record.storedAt = storedAt.toStdString();
        record.rmsMm = camera.rmsMm;
        record.sigmaMm = camera.sigmaMm;
        record.sigmaDeg = camera.sigmaDeg;
        record.verdict = camera.reference ? "reference, " + camera.verdict : camera.verdict;
        if (storeCalibrationRecord(camera.configPath, record))
            storedCalibrations[camera.configPath] = {QString::fromStdString(calibrationRecordLine(record)), storedAt};
    }
    applyCalibrationQuality(latestQuality);
}

void RightBarViewModel::setCalibrationQuality(const std::vector<CameraQuality>& cameras)
{
    QMetaObject::invokeMethod(this, [this, cameras] { applyCalibrationQuality(cameras); }, Qt::QueuedConnection);
}

void RightBarViewModel::applyCalibrationQuality(const std::vector<CameraQuality>& cameras)
{
    QVariantList rows;
    for (const CameraQuality& camera : cameras) {
        QVariantMap row;
        row["name"] = QString::fromStdString(camera.name);
        row["verdict"] = QString::fromStdString(camera.verdict);
        // Before registration says anything, a camera placed by its stored matrix says so.
        const StoredCalibration& stored = storedCalibration(camera.configPath);
        row["line"] = !camera.line.empty() ? QString::fromStdString(camera.line)
            : stored.storedAt.isEmpty()    ? QString()
                                           : "Stored calibration in use (" + stored.storedAt + ")";
        row["loaded"] = stored.line;
        QVariantList cells;
        for (const std::uint32_t count : camera.coverage)
            cells.append(static_cast<int>(count));
        row["coverage"] = cells;
        const auto checked = movedChecks.find(camera.configPath);
        const MovedCheckLine movedCheck = checked != movedChecks.end() ? checked->second : MovedCheckLine{};
        row["check"] = movedCheck.line;
        row["moved"] = movedCheck.moved;
        row["fixable"] = movedCheck.fixable;
        row["configPath"] = QString::fromStdString(camera.configPath);
        // A camera that moved since its calibration is no longer calibrated, whatever its figures.
        if (movedCheck.moved)
            row["verdict"] = QStringLiteral("moved");
        rows.append(row);
    }
    latestQuality = cameras;
    if (rows == qualityRows)
        return;
    qualityRows = rows;
    emit cameraQualityChanged();
}

void RightBarViewModel::setMovedCameraChecks(const std::vector<MovedCameraCheck>& checks)
{
    QMetaObject::invokeMethod(
        this,
        [this, checks] {
            for (const MovedCameraCheck& camera : checks)
                movedChecks[camera.configPath] = {movedCheckLine(camera.check),
                                                  camera.check.verdict == DriftVerdict::Moved, camera.fixable};
            applyCalibrationQuality(latestQuality);
        },
        Qt::QueuedConnection);
}

void RightBarViewModel::fixMovedCamera(const QString& configPath)
{
    const std::string path = configPath.toStdString();
    if (!scene || !scene->fixMovedCamera(path))
        return;
    movedChecks[path] = {QStringLiteral("fixed in memory; checking again"), false, false};
    applyCalibrationQuality(latestQuality);
}

// The stored calibration of a camera as it was when the camera first showed: read once per file.
const RightBarViewModel::StoredCalibration& RightBarViewModel::storedCalibration(const std::string& configPath)
{
    const auto known = storedCalibrations.find(configPath);
    if (known != storedCalibrations.end())
        return known->second;
    StoredCalibration& stored = storedCalibrations[configPath];
    if (configPath.empty())
        return stored;
    if (const std::optional<CalibrationRecord> record = loadCalibrationRecord(configPath)) {
        stored = {QString::fromStdString(calibrationRecordLine(*record)), QString::fromStdString(record->storedAt)};
    } else if (const QFileInfo file(QString::fromStdString(configPath)); file.exists()) {
        stored.storedAt = file.lastModified().toString("yyyy-MM-dd HH:mm");
        stored.line = "Stored " + stored.storedAt + ", no figures recorded";
    } else {
        stored.line = QStringLiteral("No stored calibration");
    }
    return stored;
}

QString RightBarViewModel::recordingChoiceFault(const QString& fileUrl, const QString& folderUrl) const
{
    const std::string fault = tavorin::recordingChoiceFault(fileUrl, folderUrl);
    if (!fault.empty())
        console::err("Cannot play ", fault, "; choose a recording file (.h5).");
    return QString::fromStdString(fault);
}

QString RightBarViewModel::recordingDialogFolder() const
{
    return tavorin::recordingDialogFolder({"samples/OP1", "samples", "recordings"});
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

// The points are taken where they lie now: after a room registration they lie in the room, so
// points saved again on the same floor marks find the frame already in effect and change nothing.
// A registration uses its points up: the next one needs all three saved again.
void RightBarViewModel::registrateRoom()
{
    if (!scene)
        return;
    const auto refuse = [this](const std::string& fault) {
        console::err("Register World refused: ", fault, ". Nothing changed.");
        roomCheckLine = QString::fromStdString("Refused: " + fault);
        emit roomCheckChanged();
    };
    if (std::find(roomCalibPointSaved.begin(), roomCalibPointSaved.end(), false) != roomCalibPointSaved.end()) {
        refuse("Save Points 0, 1 and 2 first");
        return;
    }
    RoomRegistrationResult result;
    {
        std::lock_guard<std::mutex> lock(scene->frameLock());
        SceneState& state = scene->sceneState();
        if (state.cameras.empty()) {
            refuse("no camera streams");
            return;
        }
        const Mat4 T_drawn_cam0 = T_drawn_camera0(state.cameras);
        std::array<Vec4, 3> drawn;
        for (std::size_t i = 0; i < drawn.size(); ++i)
            drawn[i] = T_drawn_cam0 * roomCalibPoints[i];
        NamedModelMatrices before = namedModelMatrices(state.cameras);
        result = tavorin::registrateRoom(state.cameras, state.depthSource.get(), drawn);
        if (result != RoomRegistrationResult::Refused) {
            const RoomRectangle rectangle = measureRoomRectangle(drawn);
            roomCheckLine = QString("Rectangle: corner %1°, edges %2 m and %3 m")
                                .arg(rectangle.cornerDegrees, 0, 'f', 1)
                                .arg(rectangle.edgeToPoint0, 0, 'f', 3)
                                .arg(rectangle.edgeToPoint2, 0, 'f', 3);
        } else {
            roomCheckLine = QString::fromStdString("Refused: " + roomPointsFault(drawn));
        }
        if (result == RoomRegistrationResult::Applied) {
            beforeRoomRegistration = std::move(before);
            roomCalibPointSaved.fill(false);
        }
    }
    emit roomCheckChanged();
    if (result == RoomRegistrationResult::Applied)
        emit roomCalibPointsChanged();
}

// The points of the undone registration count as saved again: pressing "Register World" repeats it.
void RightBarViewModel::undoRoomRegistration()
{
    if (!scene)
        return;
    if (beforeRoomRegistration.empty()) {
        console::out("Undo Room Registration: there is no room registration to undo.");
        return;
    }
    std::size_t restored = 0;
    {
        std::lock_guard<std::mutex> lock(scene->frameLock());
        SceneState& state = scene->sceneState();
        restored = restoreModelMatrices(state.cameras, state.depthSource.get(), beforeRoomRegistration);
    }
    if (restored == 0) {
        console::err("Undo Room Registration: none of the cameras of the last room registration streams now; "
                     "nothing changed.");
        return;
    }
    console::out("Undo Room Registration: the matrices of ", restored,
                 " cameras are back as they were before the last room registration (in memory; "
                 "\"Save Registration to JSON-File\" stores them).");
    beforeRoomRegistration.clear();
    roomCalibPointSaved.fill(true);
    roomCheckLine = QStringLiteral("Room registration undone");
    emit roomCheckChanged();
    emit roomCalibPointsChanged();
}

} // namespace tavorin
