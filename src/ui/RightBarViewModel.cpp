#include "ui/RightBarViewModel.h"

#include "acquisition/CameraConfigFiles.h"
#include "app/SetDepthImageSourceAction.h"
#include "app/SetTubusTargetParametersAction.h"
#include "light/SingleLightEnablerOptimizer.h"
#include "scene/LightModuleRecord.h"
#include "scene/Scene.h"
#include "ui/RecordingFiles.h"

#include <mutex>

RightBarViewModel::RightBarViewModel(QObject* parent) : QObject(parent) {}

RightBarViewModel::~RightBarViewModel() = default;

void RightBarViewModel::setMaxIntensityChangement(float value)
{
    if (value == maxIntensityChangementValue.load()) // NaN never equals: always a change
        return;
    maxIntensityChangementValue.store(value);
    emit maxIntensityChangementChanged(value);
}

void RightBarViewModel::setDebug_showRays(bool value)
{
    if (value == debug_showRaysValue.load())
        return;
    debug_showRaysValue.store(value);
    emit debug_showRaysChanged(value);
}

void RightBarViewModel::setDebug_showKinectPC(bool value)
{
    if (value == debug_showKinectPCValue.load())
        return;
    debug_showKinectPCValue.store(value);
    emit debug_showKinectPCChanged(value);
}

void RightBarViewModel::setDebug_showHeightMap(bool value)
{
    if (value == debug_showHeightMapValue.load())
        return;
    debug_showHeightMapValue.store(value);
    emit debug_showHeightMapChanged(value);
}

void RightBarViewModel::setDebug_renderModuleBrightnessText(bool value)
{
    if (value == debug_renderModuleBrightnessTextValue.load())
        return;
    debug_renderModuleBrightnessTextValue.store(value);
    emit debug_renderModuleBrightnessTextChanged(value);
}

void RightBarViewModel::setDepthCameraRegistrationEnabled(bool value)
{
    if (value == depthCameraRegistrationEnabledValue.load())
        return;
    depthCameraRegistrationEnabledValue.store(value);
    emit depthCameraRegistrationEnabledChanged(value);
}

void RightBarViewModel::setCalibCursorMode(bool value)
{
    if (value == calibCursorModeValue.load())
        return;
    calibCursorModeValue.store(value);
    emit calibCursorModeChanged(value);
}

void RightBarViewModel::setCalibCursorX(float value)
{
    if (value == calibCursorXValue.load()) // NaN never equals: always a change
        return;
    calibCursorXValue.store(value);
    emit calibCursorXChanged(value);
}

void RightBarViewModel::setCalibCursorY(float value)
{
    if (value == calibCursorYValue.load()) // NaN never equals: always a change
        return;
    calibCursorYValue.store(value);
    emit calibCursorYChanged(value);
}

void RightBarViewModel::setCalibCursorZ(float value)
{
    if (value == calibCursorZValue.load()) // NaN never equals: always a change
        return;
    calibCursorZValue.store(value);
    emit calibCursorZChanged(value);
}

void RightBarViewModel::setTubusPositionX(float value)
{
    if (value == tubusPositionXValue.load()) // NaN never equals: always a change
        return;
    tubusPositionXValue.store(value);
    emit tubusPositionXChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusPositionY(float value)
{
    if (value == tubusPositionYValue.load()) // NaN never equals: always a change
        return;
    tubusPositionYValue.store(value);
    emit tubusPositionYChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusPositionZ(float value)
{
    if (value == tubusPositionZValue.load()) // NaN never equals: always a change
        return;
    tubusPositionZValue.store(value);
    emit tubusPositionZChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusRotationX(float value)
{
    if (value == tubusRotationXValue.load()) // NaN never equals: always a change
        return;
    tubusRotationXValue.store(value);
    emit tubusRotationXChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusRotationY(float value)
{
    if (value == tubusRotationYValue.load()) // NaN never equals: always a change
        return;
    tubusRotationYValue.store(value);
    emit tubusRotationYChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusDiameter(float value)
{
    if (value == tubusDiameterValue.load()) // NaN never equals: always a change
        return;
    tubusDiameterValue.store(value);
    emit tubusDiameterChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setTubusDepth(float value)
{
    if (value == tubusDepthValue.load()) // NaN never equals: always a change
        return;
    tubusDepthValue.store(value);
    emit tubusDepthChanged(value);
    enqueueTubusParameters();
}

void RightBarViewModel::setCalibModulMotor1(float value)
{
    if (value == calibModulMotor1Value.load()) // NaN never equals: always a change
        return;
    calibModulMotor1Value.store(value);
    emit calibModulMotor1Changed(value);
}

void RightBarViewModel::setCalibModulMotor2(float value)
{
    if (value == calibModulMotor2Value.load()) // NaN never equals: always a change
        return;
    calibModulMotor2Value.store(value);
    emit calibModulMotor2Changed(value);
}

void RightBarViewModel::setCalibModulPositionX(float value)
{
    if (value == calibModulPositionXValue.load()) // NaN never equals: always a change
        return;
    calibModulPositionXValue.store(value);
    writeModuleTranslation(0, value);
    emit calibModulPositionXChanged(value);
}

void RightBarViewModel::setCalibModulPositionY(float value)
{
    if (value == calibModulPositionYValue.load()) // NaN never equals: always a change
        return;
    calibModulPositionYValue.store(value);
    writeModuleTranslation(1, value);
    emit calibModulPositionYChanged(value);
}

void RightBarViewModel::setCalibModulPositionZ(float value)
{
    if (value == calibModulPositionZValue.load()) // NaN never equals: always a change
        return;
    calibModulPositionZValue.store(value);
    writeModuleTranslation(2, value);
    emit calibModulPositionZChanged(value);
}

void RightBarViewModel::setCalibModulRotationX(float value)
{
    if (value == calibModulRotationXValue.load()) // NaN never equals: always a change
        return;
    calibModulRotationXValue.store(value);
    emit calibModulRotationXChanged(value);
}

void RightBarViewModel::setCalibModulRotationY(float value)
{
    if (value == calibModulRotationYValue.load()) // NaN never equals: always a change
        return;
    calibModulRotationYValue.store(value);
    emit calibModulRotationYChanged(value);
}

void RightBarViewModel::setCalibModulMaxIntensity(float value)
{
    if (value == calibModulMaxIntensityValue.load()) // NaN never equals: always a change
        return;
    calibModulMaxIntensityValue.store(value);
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

void RightBarViewModel::registrateRoom() {}
