#include "ui/RightBarViewModel.h"

#include "acquisition/CameraConfigFiles.h"
#include "app/SetDepthImageSourceAction.h"
#include "calibration/RoomRegistration.h"
#include "app/SetTubusTargetParametersAction.h"
#include "light/SingleLightEnablerOptimizer.h"
#include "scene/LightModuleRecord.h"
#include "scene/Scene.h"
#include "ui/RecordingFiles.h"

#include <mutex>

namespace {

// Compare first: an equal value changes nothing. For floats a NaN never equals the stored value,
// so writing NaN always counts as a change.
template <typename T>
bool storeIfChanged(std::atomic<T>& field, T value)
{
    if (value == field.load())
        return false;
    field.store(value);
    return true;
}

} // namespace

RightBarViewModel::RightBarViewModel(QObject* parent) : QObject(parent) {}

RightBarViewModel::~RightBarViewModel() = default;

void RightBarViewModel::setMaxIntensityChangement(float value)
{
    if (!storeIfChanged(maxIntensityChangementValue, value))
        return;
    emit maxIntensityChangementChanged(value);
}

void RightBarViewModel::setDebug_showRays(bool value)
{
    if (!storeIfChanged(debug_showRaysValue, value))
        return;
    emit debug_showRaysChanged(value);
}

void RightBarViewModel::setDebug_showKinectPC(bool value)
{
    if (!storeIfChanged(debug_showKinectPCValue, value))
        return;
    emit debug_showKinectPCChanged(value);
}

void RightBarViewModel::setDebug_showHeightMap(bool value)
{
    if (!storeIfChanged(debug_showHeightMapValue, value))
        return;
    emit debug_showHeightMapChanged(value);
}

void RightBarViewModel::setDebug_renderModuleBrightnessText(bool value)
{
    if (!storeIfChanged(debug_renderModuleBrightnessTextValue, value))
        return;
    emit debug_renderModuleBrightnessTextChanged(value);
}

void RightBarViewModel::setDepthCameraRegistrationEnabled(bool value)
{
    if (!storeIfChanged(depthCameraRegistrationEnabledValue, value))
        return;
    emit depthCameraRegistrationEnabledChanged(value);
}

void RightBarViewModel::setCalibCursorMode(bool value)
{
    if (!storeIfChanged(calibCursorModeValue, value))
        return;
    emit calibCursorModeChanged(value);
}

void RightBarViewModel::setCalibCursorX(float value)
{
    if (!storeIfChanged(calibCursorXValue, value))
        return;
    emit calibCursorXChanged(value);
}

void RightBarViewModel::setCalibCursorY(float value)
{
    if (!storeIfChanged(calibCursorYValue, value))
        return;
    emit calibCursorYChanged(value);
}

void RightBarViewModel::setCalibCursorZ(float value)
{
    if (!storeIfChanged(calibCursorZValue, value))
        return;
    emit calibCursorZChanged(value);
}

void RightBarViewModel::setTubusPositionX(float value)
{
    if (!storeIfChanged(tubusPositionXValue, value))
        return;
    emit tubusPositionXChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusPositionY(float value)
{
    if (!storeIfChanged(tubusPositionYValue, value))
        return;
    emit tubusPositionYChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusPositionZ(float value)
{
    if (!storeIfChanged(tubusPositionZValue, value))
        return;
    emit tubusPositionZChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusRotationX(float value)
{
    if (!storeIfChanged(tubusRotationXValue, value))
        return;
    emit tubusRotationXChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusRotationY(float value)
{
    if (!storeIfChanged(tubusRotationYValue, value))
        return;
    emit tubusRotationYChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusDiameter(float value)
{
    if (!storeIfChanged(tubusDiameterValue, value))
        return;
    emit tubusDiameterChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusDepth(float value)
{
    if (!storeIfChanged(tubusDepthValue, value))
        return;
    emit tubusDepthChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setCalibModulMotor1(float value)
{
    if (!storeIfChanged(calibModulMotor1Value, value))
        return;
    emit calibModulMotor1Changed(value);
}

void RightBarViewModel::setCalibModulMotor2(float value)
{
    if (!storeIfChanged(calibModulMotor2Value, value))
        return;
    emit calibModulMotor2Changed(value);
}

void RightBarViewModel::setCalibModulPositionX(float value)
{
    if (!storeIfChanged(calibModulPositionXValue, value))
        return;
    writeModuleTranslation(0, value);
    emit calibModulPositionXChanged(value);
}

void RightBarViewModel::setCalibModulPositionY(float value)
{
    if (!storeIfChanged(calibModulPositionYValue, value))
        return;
    writeModuleTranslation(1, value);
    emit calibModulPositionYChanged(value);
}

void RightBarViewModel::setCalibModulPositionZ(float value)
{
    if (!storeIfChanged(calibModulPositionZValue, value))
        return;
    writeModuleTranslation(2, value);
    emit calibModulPositionZChanged(value);
}

void RightBarViewModel::setCalibModulRotationX(float value)
{
    if (!storeIfChanged(calibModulRotationXValue, value))
        return;
    emit calibModulRotationXChanged(value);
}

void RightBarViewModel::setCalibModulRotationY(float value)
{
    if (!storeIfChanged(calibModulRotationYValue, value))
        return;
    emit calibModulRotationYChanged(value);
}

void RightBarViewModel::setCalibModulMaxIntensity(float value)
{
    if (!storeIfChanged(calibModulMaxIntensityValue, value))
        return;
    emit calibModulMaxIntensityChanged(value);
}

void RightBarViewModel::setCalibModulID(int value)
{
    const int oldId = calibModulIDValue.load();
    if (value == oldId)
        return;
    installLightOptimizer(oldId, value);
    calibModulIDValue.store(value);
    readBackModule(value);
    emit calibModulIDChanged(value);
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
    readBackGuard = true;
    setCalibModulPositionX(module->transform.m[12]);
    setCalibModulPositionY(module->transform.m[13]);
    setCalibModulPositionZ(module->transform.m[14]);
    setCalibModulRotationX(static_cast<float>(id) / 10.0f);
    setCalibModulRotationY(-static_cast<float>(id) / 10.0f);
    setCalibModulMaxIntensity(module->maxIntensity);
    readBackGuard = false;
}

void RightBarViewModel::writeModuleTranslation(int component, float value)
{
    constexpr int kTranslationIndex = 12;
    if (readBackGuard || !scene)
        return;
    const int id = calibModulID();
    std::lock_guard<std::mutex> lock(scene->frameLock());
    const auto& lights = scene->sceneState().lights;
    if (id < 0 || static_cast<std::size_t>(id) >= lights.size() || !lights[static_cast<std::size_t>(id)])
        return;
    lights[static_cast<std::size_t>(id)]->transform.m[kTranslationIndex + component] = value;
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

void RightBarViewModel::storeRoomCalibPoint(int id)
{
    if (id < 0 || id > 2)
        return;
    roomCalibPoints[static_cast<std::size_t>(id)] = Vec4::point(calibCursorX(), calibCursorY(), calibCursorZ());
}

Vec4 RightBarViewModel::roomCalibPoint(int id) const
{
    return roomCalibPoints.at(static_cast<std::size_t>(id));
}

QString RightBarViewModel::getRoomCalibPointString(int id) const
{
    if (id < 0 || id > 2)
        return QStringLiteral("NULL");
    const Vec4& p = roomCalibPoints[static_cast<std::size_t>(id)];
    return QString::number(p.x, 'f', 2) + " x " + QString::number(p.y, 'f', 2) + " x "
        + QString::number(p.z, 'f', 2);
}

bool RightBarViewModel::storeCalibrations()
{
    if (!scene)
        return false;
    std::lock_guard<std::mutex> lock(scene->frameLock());
    return ::storeCalibrations(scene->sceneState());
}

void RightBarViewModel::registrateRoom()
{
    if (!scene)
        return;
    std::lock_guard<std::mutex> lock(scene->frameLock());
    SceneState& state = scene->sceneState();
    ::registrateRoom(state.cameras, state.depthSource.get(), roomCalibPoints);
}
