#pragma once

#include "math/Vec4.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <memory>

class Scene;
class SingleLightEnablerOptimizer;
class LightIntensityOptimizer;

// View model of the settings bar. Properties are written on the GUI thread; the render thread reads
// the flags and the cursor every frame, so every value sits in an atomic. Setters compare first
// (a NaN always counts as a change), then store, emit the change signal with the new value, and act.
class RightBarViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(float maxIntensityChangement READ maxIntensityChangement WRITE setMaxIntensityChangement NOTIFY maxIntensityChangementChanged)
    Q_PROPERTY(bool debug_showRays READ debug_showRays WRITE setDebug_showRays NOTIFY debug_showRaysChanged)
    Q_PROPERTY(bool debug_showKinectPC READ debug_showKinectPC WRITE setDebug_showKinectPC NOTIFY debug_showKinectPCChanged)
    Q_PROPERTY(bool debug_showHeightMap READ debug_showHeightMap WRITE setDebug_showHeightMap NOTIFY debug_showHeightMapChanged)
    Q_PROPERTY(bool debug_renderModuleBrightnessText READ debug_renderModuleBrightnessText WRITE setDebug_renderModuleBrightnessText NOTIFY debug_renderModuleBrightnessTextChanged)
    Q_PROPERTY(bool depthCameraRegistrationEnabled READ depthCameraRegistrationEnabled WRITE setDepthCameraRegistrationEnabled NOTIFY depthCameraRegistrationEnabledChanged)
    Q_PROPERTY(bool calibCursorMode READ calibCursorMode WRITE setCalibCursorMode NOTIFY calibCursorModeChanged)
    Q_PROPERTY(float calibCursorX READ calibCursorX WRITE setCalibCursorX NOTIFY calibCursorXChanged)
    Q_PROPERTY(float calibCursorY READ calibCursorY WRITE setCalibCursorY NOTIFY calibCursorYChanged)
    Q_PROPERTY(float calibCursorZ READ calibCursorZ WRITE setCalibCursorZ NOTIFY calibCursorZChanged)
    Q_PROPERTY(float tubusPositionX READ tubusPositionX WRITE setTubusPositionX NOTIFY tubusPositionXChanged)
    Q_PROPERTY(float tubusPositionY READ tubusPositionY WRITE setTubusPositionY NOTIFY tubusPositionYChanged)
    Q_PROPERTY(float tubusPositionZ READ tubusPositionZ WRITE setTubusPositionZ NOTIFY tubusPositionZChanged)
    Q_PROPERTY(float tubusRotationX READ tubusRotationX WRITE setTubusRotationX NOTIFY tubusRotationXChanged)
    Q_PROPERTY(float tubusRotationY READ tubusRotationY WRITE setTubusRotationY NOTIFY tubusRotationYChanged)
    Q_PROPERTY(float tubusDiameter READ tubusDiameter WRITE setTubusDiameter NOTIFY tubusDiameterChanged)
    Q_PROPERTY(float tubusDepth READ tubusDepth WRITE setTubusDepth NOTIFY tubusDepthChanged)
    Q_PROPERTY(int calibModulID READ calibModulID WRITE setCalibModulID NOTIFY calibModulIDChanged)
    Q_PROPERTY(float calibModulMotor1 READ calibModulMotor1 WRITE setCalibModulMotor1 NOTIFY calibModulMotor1Changed)
    Q_PROPERTY(float calibModulMotor2 READ calibModulMotor2 WRITE setCalibModulMotor2 NOTIFY calibModulMotor2Changed)
    Q_PROPERTY(float calibModulPositionX READ calibModulPositionX WRITE setCalibModulPositionX NOTIFY calibModulPositionXChanged)
    Q_PROPERTY(float calibModulPositionY READ calibModulPositionY WRITE setCalibModulPositionY NOTIFY calibModulPositionYChanged)
    Q_PROPERTY(float calibModulPositionZ READ calibModulPositionZ WRITE setCalibModulPositionZ NOTIFY calibModulPositionZChanged)
    Q_PROPERTY(float calibModulRotationX READ calibModulRotationX WRITE setCalibModulRotationX NOTIFY calibModulRotationXChanged)
    Q_PROPERTY(float calibModulRotationY READ calibModulRotationY WRITE setCalibModulRotationY NOTIFY calibModulRotationYChanged)
    Q_PROPERTY(float calibModulMaxIntensity READ calibModulMaxIntensity WRITE setCalibModulMaxIntensity NOTIFY calibModulMaxIntensityChanged)
public:
    explicit RightBarViewModel(QObject* parent = nullptr);
    ~RightBarViewModel() override;

    // Non-owning link to the scene this bar edits; null for instances QML creates itself.
    void attachScene(Scene* scene) { this->scene = scene; }

    float maxIntensityChangement() const { return maxIntensityChangementValue.load(); }
    bool debug_showRays() const { return debug_showRaysValue.load(); }
    bool debug_showKinectPC() const { return debug_showKinectPCValue.load(); }
    bool debug_showHeightMap() const { return debug_showHeightMapValue.load(); }
    bool debug_renderModuleBrightnessText() const { return debug_renderModuleBrightnessTextValue.load(); }
    bool depthCameraRegistrationEnabled() const { return depthCameraRegistrationEnabledValue.load(); }
    bool calibCursorMode() const { return calibCursorModeValue.load(); }
    float calibCursorX() const { return calibCursorXValue.load(); }
    float calibCursorY() const { return calibCursorYValue.load(); }
    float calibCursorZ() const { return calibCursorZValue.load(); }
    float tubusPositionX() const { return tubusPositionXValue.load(); }
    float tubusPositionY() const { return tubusPositionYValue.load(); }
    float tubusPositionZ() const { return tubusPositionZValue.load(); }
    float tubusRotationX() const { return tubusRotationXValue.load(); }
    float tubusRotationY() const { return tubusRotationYValue.load(); }
    float tubusDiameter() const { return tubusDiameterValue.load(); }
    float tubusDepth() const { return tubusDepthValue.load(); }
    int calibModulID() const { return calibModulIDValue.load(); }
    float calibModulMotor1() const { return calibModulMotor1Value.load(); }
    float calibModulMotor2() const { return calibModulMotor2Value.load(); }
    float calibModulPositionX() const { return calibModulPositionXValue.load(); }
    float calibModulPositionY() const { return calibModulPositionYValue.load(); }
    float calibModulPositionZ() const { return calibModulPositionZValue.load(); }
    float calibModulRotationX() const { return calibModulRotationXValue.load(); }
    float calibModulRotationY() const { return calibModulRotationYValue.load(); }
    float calibModulMaxIntensity() const { return calibModulMaxIntensityValue.load(); }

    void setMaxIntensityChangement(float value);
    void setDebug_showRays(bool value);
    void setDebug_showKinectPC(bool value);
    void setDebug_showHeightMap(bool value);
    void setDebug_renderModuleBrightnessText(bool value);
    void setDepthCameraRegistrationEnabled(bool value);
    void setCalibCursorMode(bool value);
    void setCalibCursorX(float value);
    void setCalibCursorY(float value);
    void setCalibCursorZ(float value);
    void setTubusPositionX(float value);
    void setTubusPositionY(float value);
    void setTubusPositionZ(float value);
    void setTubusRotationX(float value);
    void setTubusRotationY(float value);
    void setTubusDiameter(float value);
    void setTubusDepth(float value);
    void setCalibModulID(int value);
    void setCalibModulMotor1(float value);
    void setCalibModulMotor2(float value);
    void setCalibModulPositionX(float value);
    void setCalibModulPositionY(float value);
    void setCalibModulPositionZ(float value);
    void setCalibModulRotationX(float value);
    void setCalibModulRotationY(float value);
    void setCalibModulMaxIntensity(float value);

    Q_INVOKABLE void setDepthImageSource(int type, const QString& file1 = QString(),
                                         const QString& file2 = QString(), const QString& file3 = QString());
    Q_INVOKABLE int getNumbersOfLights();
    Q_INVOKABLE void storeRoomCalibPoint(int id);
    Q_INVOKABLE QString getRoomCalibPointString(int id) const;
    Q_INVOKABLE bool storeCalibrations();
    Q_INVOKABLE void registrateRoom();

    // Room points in room coordinates: index 1 is the corner O, 0 the point A, 2 the point B.
    Vec4 roomCalibPoint(int id) const;

signals:
    void maxIntensityChangementChanged(float value);
    void debug_showRaysChanged(bool value);
    void debug_showKinectPCChanged(bool value);
    void debug_showHeightMapChanged(bool value);
    void debug_renderModuleBrightnessTextChanged(bool value);
    void calibCursorModeChanged(bool value);
    void depthCameraRegistrationEnabledChanged(bool value);
    void calibCursorXChanged(float value);
    void calibCursorYChanged(float value);
    void calibCursorZChanged(float value);
    void tubusPositionXChanged(float value);
    void tubusPositionYChanged(float value);
    void tubusPositionZChanged(float value);
    void tubusRotationXChanged(float value);
    void tubusRotationYChanged(float value);
    void tubusDiameterChanged(float value);
    void tubusDepthChanged(float value);
    void calibModulIDChanged(int value);
    void calibModulMotor1Changed(float value);
    void calibModulMotor2Changed(float value);
    void calibModulPositionXChanged(float value);
    void calibModulPositionYChanged(float value);
    void calibModulPositionZChanged(float value);
    void calibModulRotationXChanged(float value);
    void calibModulRotationYChanged(float value);
    void calibModulMaxIntensityChanged(float value);

private:
    void enqueueTubusParameters();
    void installLightOptimizer(int oldId, int newId);
    void readBackModule(int id);
    void writeModuleTranslation(int component, float value);

    std::atomic<float> maxIntensityChangementValue{1.0f};
    std::atomic<bool> debug_showRaysValue{true};
    std::atomic<bool> debug_showKinectPCValue{true};
    std::atomic<bool> debug_showHeightMapValue{false};
    std::atomic<bool> debug_renderModuleBrightnessTextValue{false};
    std::atomic<bool> depthCameraRegistrationEnabledValue{false};
    std::atomic<bool> calibCursorModeValue{true};
    std::atomic<float> calibCursorXValue{0.0f};
    std::atomic<float> calibCursorYValue{0.0f};
    std::atomic<float> calibCursorZValue{0.0f};
    std::atomic<float> tubusPositionXValue{0.0f};
    std::atomic<float> tubusPositionYValue{1.0f};
    std::atomic<float> tubusPositionZValue{0.0f};
    std::atomic<float> tubusRotationXValue{0.0f};
    std::atomic<float> tubusRotationYValue{0.0f};
    std::atomic<float> tubusDiameterValue{0.05f};
    std::atomic<float> tubusDepthValue{0.075f};
    std::atomic<int> calibModulIDValue{-1};
    std::atomic<float> calibModulMotor1Value{0.0f};
    std::atomic<float> calibModulMotor2Value{0.0f};
    std::atomic<float> calibModulPositionXValue{0.0f};
    std::atomic<float> calibModulPositionYValue{0.0f};
    std::atomic<float> calibModulPositionZValue{0.0f};
    std::atomic<float> calibModulRotationXValue{0.0f};
    std::atomic<float> calibModulRotationYValue{0.0f};
    std::atomic<float> calibModulMaxIntensityValue{0.0f};

    std::array<Vec4, 3> roomCalibPoints{Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(0, 0, 1)};
    bool readBackGuard = false;
    std::shared_ptr<SingleLightEnablerOptimizer> ownOptimizer;
    std::shared_ptr<LightIntensityOptimizer> savedOptimizer;
    Scene* scene = nullptr; // non-owning
};
