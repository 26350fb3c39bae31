#pragma once

#include "app/SceneSettings.h"
#include "calibration/registration/RoomRegistration.h"
#include "math/Mat4.h"
#include "math/Vec4.h"
#include "ui/AtomicProperty.h"

#include <QObject>
#include <QVariantList>
#include <QVariantMap>
#include <QString>
#include <QStringList>

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavorin {

class Scene;
class SingleLightEnablerOptimizer;
class LightIntensityOptimizer;
class TfStaticPublisher;

// View model of the settings bar. Properties are written on the GUI thread; the render thread reads
// the flags and the cursor every frame, so every value sits in an AtomicProperty. Setters compare
// first (an equal value does nothing, a NaN always counts as a change), then store, emit the change
// signal with the new value, and act.
class RightBarViewModel : public QObject, public SceneSettings {
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
    Q_PROPERTY(QStringList registrationProgress READ registrationProgress NOTIFY registrationProgressChanged)
    Q_PROPERTY(QString frameSetTiming READ frameSetTiming NOTIFY frameSetTimingChanged)
    // The recordings' transport: available, paused, looping, ended (bools) and text ("Frame 12 of
    // 240, 0.4 s of 8.0 s").
    Q_PROPERTY(QVariantMap playback READ playback NOTIFY playbackChanged)
    // Per camera: name, verdict, line (its figures), loaded (its stored calibration's date and
    // figures), coverage (PlateCoverage's cells, row-major), and what the moved-camera check
    // found: check (its line, empty without a reference), moved and fixable (bools), configPath.
    Q_PROPERTY(QVariantList cameraQuality READ cameraQuality NOTIFY cameraQualityChanged)
    // The rectangle of the last room registration: its corner angle and edges.
    Q_PROPERTY(QString roomCheck READ roomCheck NOTIFY roomCheckChanged)
    Q_PROPERTY(float calibModulMaxIntensity READ calibModulMaxIntensity WRITE setCalibModulMaxIntensity NOTIFY calibModulMaxIntensityChanged)
public:
    explicit RightBarViewModel(QObject* parent = nullptr);
    ~RightBarViewModel() override;

    // Non-owning link to the scene this bar edits; null for instances QML creates itself.
    void attachScene(Scene* scene) { this->scene = scene; }

    // Brightness change a module may make per second, relative to its full power; nothing reads it.
    float maxIntensityChangement() const { return maxIntensityChangementValue.get(); }

    // Display switches and the registration switch.
    bool debug_showRays() const override { return debug_showRaysValue.get(); }
    bool debug_showKinectPC() const override { return debug_showKinectPCValue.get(); }
    bool debug_showHeightMap() const override { return debug_showHeightMapValue.get(); }
    bool debug_renderModuleBrightnessText() const override { return debug_renderModuleBrightnessTextValue.get(); }
    bool depthCameraRegistrationEnabled() const override { return depthCameraRegistrationEnabledValue.get(); }

    // The 3D cursor, room coordinates (metres).
    bool calibCursorMode() const override { return calibCursorModeValue.get(); }
    float calibCursorX() const override { return calibCursorXValue.get(); }
    float calibCursorY() const override { return calibCursorYValue.get(); }
    float calibCursorZ() const override { return calibCursorZValue.get(); }

    // The tube under the lights (room coordinates, metres and radians).
    float tubusPositionX() const { return tubusPositionXValue.get(); }
    float tubusPositionY() const { return tubusPositionYValue.get(); }
    float tubusPositionZ() const { return tubusPositionZValue.get(); }
    float tubusRotationX() const { return tubusRotationXValue.get(); }
    float tubusRotationY() const { return tubusRotationYValue.get(); }
    float tubusDiameter() const { return tubusDiameterValue.get(); }
    float tubusDepth() const { return tubusDepthValue.get(); }

    // The light module under calibration (-1: none) and what the bar shows of it.
    int calibModulID() const { return calibModulIDValue.get(); }
    float calibModulMotor1() const { return calibModulMotor1Value.get(); }
    float calibModulMotor2() const { return calibModulMotor2Value.get(); }
    float calibModulPositionX() const { return calibModulPositionXValue.get(); }
    float calibModulPositionY() const { return calibModulPositionYValue.get(); }
    float calibModulPositionZ() const { return calibModulPositionZValue.get(); }
    float calibModulRotationX() const { return calibModulRotationXValue.get(); }
    float calibModulRotationY() const { return calibModulRotationYValue.get(); }
    float calibModulMaxIntensity() const { return calibModulMaxIntensityValue.get(); }

    // Every change of the tube enqueues one action carrying all seven current values; a module
    // position is written into the selected module's mount before it is signalled.
    void setMaxIntensityChangement(float value) { maxIntensityChangementValue.set(*this, value); }
    void setDebug_showRays(bool value) { debug_showRaysValue.set(*this, value); }
    void setDebug_showKinectPC(bool value) { debug_showKinectPCValue.set(*this, value); }
    void setDebug_showHeightMap(bool value) { debug_showHeightMapValue.set(*this, value); }
    void setDebug_renderModuleBrightnessText(bool value) { debug_renderModuleBrightnessTextValue.set(*this, value); }
    void setDepthCameraRegistrationEnabled(bool value) { depthCameraRegistrationEnabledValue.set(*this, value); }
    void setCalibCursorMode(bool value) { calibCursorModeValue.set(*this, value); }
    void setCalibCursorX(float value) override { calibCursorXValue.set(*this, value); }
    void setCalibCursorY(float value) override { calibCursorYValue.set(*this, value); }
    void setCalibCursorZ(float value) override { calibCursorZValue.set(*this, value); }
    void setTubusPositionX(float value) { if (tubusPositionXValue.set(*this, value)) enqueueTubusParameters(); }
    void setTubusPositionY(float value) { if (tubusPositionYValue.set(*this, value)) enqueueTubusParameters(); }
    void setTubusPositionZ(float value) { if (tubusPositionZValue.set(*this, value)) enqueueTubusParameters(); }
    void setTubusRotationX(float value) { if (tubusRotationXValue.set(*this, value)) enqueueTubusParameters(); }
    void setTubusRotationY(float value) { if (tubusRotationYValue.set(*this, value)) enqueueTubusParameters(); }
    void setTubusDiameter(float value) { if (tubusDiameterValue.set(*this, value)) enqueueTubusParameters(); }
    void setTubusDepth(float value) { if (tubusDepthValue.set(*this, value)) enqueueTubusParameters(); }
    void setCalibModulID(int value);
    void setCalibModulMotor1(float value) { calibModulMotor1Value.set(*this, value); }
    void setCalibModulMotor2(float value) { calibModulMotor2Value.set(*this, value); }
    void setCalibModulPositionX(float value) { setModulePosition(AxisX, calibModulPositionXValue, value); }
    void setCalibModulPositionY(float value) { setModulePosition(AxisY, calibModulPositionYValue, value); }
    void setCalibModulPositionZ(float value) { setModulePosition(AxisZ, calibModulPositionZValue, value); }
    void setCalibModulRotationX(float value) { calibModulRotationXValue.set(*this, value); }
    void setCalibModulRotationY(float value) { calibModulRotationYValue.set(*this, value); }
    void setCalibModulMaxIntensity(float value) { calibModulMaxIntensityValue.set(*this, value); }

    // One line per camera of how far registration has come, shown below "Activate Registration"
    // while it runs and after it. Set from any thread (the render thread, after each cycle); the
    // change is signalled on the GUI thread.
    QStringList registrationProgress() const;
    QString frameSetTiming() const;
    void setFrameSetTiming(const std::string& line) override;
    void setRegistrationProgress(const std::vector<std::string>& lines) override;
    QVariantMap playback() const;
    void setPlaybackStatus(const PlaybackStatus& status) override;
    QVariantList cameraQuality() const { return qualityRows; }
    void setCalibrationQuality(const std::vector<CameraQuality>& cameras) override;
    void setMovedCameraChecks(const std::vector<MovedCameraCheck>& checks) override;
    // Fix: the camera of this matrix file moved as its last check found (in memory; a save stores
    // it with a new reference of its still view).
    Q_INVOKABLE void fixMovedCamera(const QString& configPath);
    QString roomCheck() const { return roomCheckLine; }
    // The transport's buttons: 0 play, 1 pause, 2 step one frame, 3 loop on, 4 loop off.
    Q_INVOKABLE void playbackCommand(int command);

    Q_INVOKABLE void setDepthImageSource(int type, const QString& file1 = QString(),
                                         const QString& file2 = QString(), const QString& file3 = QString());
    Q_INVOKABLE int getNumbersOfLights();
    Q_INVOKABLE void storeRoomCalibPoint(int id);
    Q_INVOKABLE QString getRoomCalibPointString(int id) const;
    // Stores every camera's matrix and the files beside it, then, when all were stored, each
    // camera's still view reference (a refusal is said on the console). Whether the matrices and
    // their files were all stored.
    Q_INVOKABLE bool storeCalibrations();
    // Refused ("Save Points 0, 1 and 2 first") unless all three points were saved since the last
    // room registration; the matrices it replaces are kept for undoRoomRegistration().
    Q_INVOKABLE void registrateRoom();
    // Puts back, in memory, the matrices the last room registration replaced (the stored files are
    // not touched); says on the console what it did.
    Q_INVOKABLE void undoRoomRegistration();
    // Empty when a recording dialog's choice can be played; else the reason, also on the console.
    Q_INVOKABLE QString recordingChoiceFault(const QString& fileUrl, const QString& folderUrl) const;
    // Plays every kinect_*.h5 of the folder the dialog returned (its fileUrl, else its folder) in
    // step; empty when it does, else why not, also on the console.
    Q_INVOKABLE QString setRecordingFolder(const QString& fileUrl, const QString& folderUrl);
    // Where the recording dialogs open: the sample scene, the recordings, else the home folder.
    Q_INVOKABLE QString recordingDialogFolder() const;

    // A room point in the coordinates the cameras are drawn in now: index 1 is the corner O, 0
    // the point A, 2 the point B.
    Vec4 roomCalibPoint(int id) const;

signals:
    // A room point was saved or moved with a room registration: its text changed.
    void roomCalibPointsChanged();
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
    void registrationProgressChanged();
    void frameSetTimingChanged();
    void playbackChanged();
    void cameraQualityChanged();
    void roomCheckChanged();

private:
    template <typename T>
    using Property = AtomicProperty<RightBarViewModel, T>;

    // Camera 0's model matrix now (identity without a scene or cameras); takes the frame lock.
    Mat4 drawnFromCamera0() const;
    void enqueueTubusParameters();
    void installLightOptimizer(int oldId, int newId);
    void readBackModule(int id);
    void setModulePosition(Axis axis, Property<float>& property, float value);
    void writeModuleTranslation(Axis axis, float value);

    Property<float> maxIntensityChangementValue{1.0f, &RightBarViewModel::maxIntensityChangementChanged};
    Property<bool> debug_showRaysValue{true, &RightBarViewModel::debug_showRaysChanged};
    Property<bool> debug_showKinectPCValue{true, &RightBarViewModel::debug_showKinectPCChanged};
    Property<bool> debug_showHeightMapValue{false, &RightBarViewModel::debug_showHeightMapChanged};
    Property<bool> debug_renderModuleBrightnessTextValue{false, &RightBarViewModel::debug_renderModuleBrightnessTextChanged};
    Property<bool> depthCameraRegistrationEnabledValue{false, &RightBarViewModel::depthCameraRegistrationEnabledChanged};
    Property<bool> calibCursorModeValue{true, &RightBarViewModel::calibCursorModeChanged};
    Property<float> calibCursorXValue{0.0f, &RightBarViewModel::calibCursorXChanged};
    Property<float> calibCursorYValue{0.0f, &RightBarViewModel::calibCursorYChanged};
    Property<float> calibCursorZValue{0.0f, &RightBarViewModel::calibCursorZChanged};
    Property<float> tubusPositionXValue{0.0f, &RightBarViewModel::tubusPositionXChanged};
    Property<float> tubusPositionYValue{1.0f, &RightBarViewModel::tubusPositionYChanged};
    Property<float> tubusPositionZValue{0.0f, &RightBarViewModel::tubusPositionZChanged};
    Property<float> tubusRotationXValue{0.0f, &RightBarViewModel::tubusRotationXChanged};
    Property<float> tubusRotationYValue{0.0f, &RightBarViewModel::tubusRotationYChanged};
    Property<float> tubusDiameterValue{0.05f, &RightBarViewModel::tubusDiameterChanged};
    Property<float> tubusDepthValue{0.075f, &RightBarViewModel::tubusDepthChanged};
    Property<int> calibModulIDValue{-1, &RightBarViewModel::calibModulIDChanged};
    Property<float> calibModulMotor1Value{0.0f, &RightBarViewModel::calibModulMotor1Changed};
    Property<float> calibModulMotor2Value{0.0f, &RightBarViewModel::calibModulMotor2Changed};
    Property<float> calibModulPositionXValue{0.0f, &RightBarViewModel::calibModulPositionXChanged};
    Property<float> calibModulPositionYValue{0.0f, &RightBarViewModel::calibModulPositionYChanged};
    Property<float> calibModulPositionZValue{0.0f, &RightBarViewModel::calibModulPositionZChanged};
    Property<float> calibModulRotationXValue{0.0f, &RightBarViewModel::calibModulRotationXChanged};
    Property<float> calibModulRotationYValue{0.0f, &RightBarViewModel::calibModulRotationYChanged};
    Property<float> calibModulMaxIntensityValue{0.0f, &RightBarViewModel::calibModulMaxIntensityChanged};

    // In camera 0's own coordinates (the frame its model matrix maps to the drawn one), so that a
    // point means the same floor spot whatever registration happens after it was saved.
    std::array<Vec4, 3> roomCalibPoints{Vec4::point(0, 0, 0), Vec4::point(0, 0, 0), Vec4::point(0, 0, 0)};
    std::array<bool, 3> roomCalibPointSaved{false, false, false};
    NamedModelMatrices beforeRoomRegistration; // empty: nothing to undo
    bool readBackGuard = false;
    std::shared_ptr<SingleLightEnablerOptimizer> ownOptimizer;
    std::shared_ptr<LightIntensityOptimizer> savedOptimizer;
    Scene* scene = nullptr; // non-owning
    std::unique_ptr<TfStaticPublisher> tfStatic; // GUI thread, from the first store on
    mutable std::mutex progressMutex;
    QStringList progressLines; // guarded by progressMutex
    QString timingLine;        // guarded by progressMutex
    QVariantMap playbackState; // guarded by progressMutex
    // GUI thread: the quality rows, the figures they came from, and the stored calibrations'
    // lines by matrix file.
    QVariantList qualityRows;
    std::vector<CameraQuality> latestQuality;
    // A camera's stored calibration: its line for the bar, and when it was stored (empty: none).
    struct StoredCalibration {
        QString line;
        QString storedAt;
    };
    std::map<std::string, StoredCalibration> storedCalibrations;
    // The bar's line of each camera's last moved-camera check, by matrix file.
    struct MovedCheckLine {
        QString line;
        bool moved = false;
        bool fixable = false;
    };
    std::map<std::string, MovedCheckLine> movedChecks;
    QString roomCheckLine;
    void applyCalibrationQuality(const std::vector<CameraQuality>& cameras);
    const StoredCalibration& storedCalibration(const std::string& configPath);
    void storeCalibrationRecords(const std::vector<std::string>& matrixFiles);
};

} // namespace tavorin
