// Telling cameras apart: the palette, the short names and labels, the registration lines that
// carry them, and the view options as the scene applies them to each camera record.
#include "app/CameraViewOptions.h"
#include "calibration/quality/RegistrationProgress.h"
#include "scene/CameraIdentity.h"
#include "scene/DepthCameraData.h"
#include "ui/ViewOptionsViewModel.h"

#include <QColor>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

using tavorin::cameraAppearance, tavorin::cameraColor, tavorin::cameraLabel, tavorin::cameraShortName,
    tavorin::CameraViewOptions, tavorin::DepthCameraData, tavorin::kCameraPaletteSize, tavorin::progressLine,
    tavorin::RegistrationProgress, tavorin::Vec4, tavorin::ViewOptionsViewModel;

namespace {

float colourDistance(const Vec4& a, const Vec4& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// Hue in degrees (0..360) of an RGB colour with some saturation.
float hueDegrees(const Vec4& c)
{
    return static_cast<float>(QColor::fromRgbF(c.x, c.y, c.z).hsvHueF() * 360.0);
}

float hueGap(float a, float b)
{
    const float d = std::fabs(a - b);
    return std::min(d, 360.0f - d);
}

class FixedOptions : public CameraViewOptions {
public:
    FixedOptions(bool byCamera, std::set<std::size_t> hiddenCameras) : byCamera(byCamera), hidden(std::move(hiddenCameras)) {}
    bool colorByCamera() const override { return byCamera; }
    bool cameraShown(std::size_t index) const override { return hidden.count(index) == 0; }
    void setCameraNames(const std::vector<std::string>&) override {}

private:
    bool byCamera;
    std::set<std::size_t> hidden;
};

std::vector<std::string> labelsOf(const ViewOptionsViewModel& model)
{
    std::vector<std::string> labels;
    for (const QVariant& row : model.cameras())
        labels.push_back(row.toMap()["label"].toString().toStdString());
    return labels;
}

std::vector<bool> shownOf(const ViewOptionsViewModel& model)
{
    std::vector<bool> shown;
    for (const QVariant& row : model.cameras())
        shown.push_back(row.toMap()["shown"].toBool());
    return shown;
}

} // namespace

TEST(CameraPalette, ColoursAreDistinctFarFromTheAxisColoursAndTheBackgroundAndRepeatByIndex)
{
    const Vec4 axisAndMarkerColours[] = {Vec4(1, 0, 0, 1), Vec4(0, 1, 0, 1), Vec4(0, 0, 1, 1)};
    const Vec4 background(0.5f, 0.5f, 0.5f, 1.0f);
    constexpr float kMinDistance = 0.25f; // RGB, 0..1 per channel
    ASSERT_GE(kCameraPaletteSize, 8u);
    for (std::size_t i = 0; i < kCameraPaletteSize; ++i) {
        const Vec4 c = cameraColor(i);
        EXPECT_GT(colourDistance(c, background), 0.45f) << "camera " << i << " reads on the grey";
        for (const Vec4& axis : axisAndMarkerColours)
            EXPECT_GT(colourDistance(c, axis), 0.45f) << "camera " << i;
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_GT(colourDistance(c, cameraColor(j)), kMinDistance) << "cameras " << j << " and " << i;
        EXPECT_EQ(colourDistance(cameraColor(i + kCameraPaletteSize), c), 0.0f) << "the palette repeats";
    }
    // The cameras of a usual room (three) must tell apart by hue alone, as the view shades them.
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_GT(hueGap(hueDegrees(cameraColor(i)), hueDegrees(cameraColor(j))), 60.0f) << j << ", " << i;
        for (float axisHue : {0.0f, 120.0f, 240.0f})
            EXPECT_GT(hueGap(hueDegrees(cameraColor(i)), axisHue), 25.0f) << "camera " << i;
    }
}

TEST(CameraIdentity, ShortNameIsTheSerialOfADeviceARecordingOrANamespace)
{
    struct Case {
        const char* sourceName;
        const char* shortName;
        const char* label; // of camera 2
    };
    const Case cases[] = {
        {"000218790512", "000218790512", "2  000218790512"},
        {"samples/OP1/kinect_000218790512.h5", "000218790512", "2  000218790512"},
        {"/data/rec/kinect_000135193412.h5", "000135193412", "2  000135193412"},
        {"kinect/000402694812", "000402694812", "2  000402694812"},
        {"/kinect/node_a/", "node_a", "2  node_a"},
        {"recordings/other.h5", "other.h5", "2  other.h5"},
        {"kinect_.h5", "kinect_.h5", "2  kinect_.h5"},
        {"", "", "2"},
        {"///", "", "2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cameraShortName(c.sourceName), c.shortName) << c.sourceName;
        EXPECT_EQ(cameraLabel(2, c.sourceName), c.label) << c.sourceName;
    }
}

TEST(CameraIdentity, RegistrationLinesNameTheCameraWhereItsNameIsKnown)
{
    RegistrationProgress seen;
    seen.framesFound = 87;
    seen.framesExamined = 120;
    RegistrationProgress notSeen;
    notSeen.framesExamined = 12;
    struct Case {
        std::size_t index;
        RegistrationProgress progress;
        const char* sourceName;
        const char* line;
    };
    const Case cases[] = {
        {1, seen, "samples/OP1/kinect_000218790512.h5", "Camera 1 (000218790512): 87/120 frames, not calibrated yet"},
        {0, notSeen, "000402694812", "Camera 0 (000402694812): plate not seen yet (12 frames)"},
        {2, seen, "", "Camera 2: 87/120 frames, not calibrated yet"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progressLine(c.index, c.progress, c.sourceName), c.line);
}

TEST(CameraViewOptions, TheSceneShowsEachRecordInItsColourWithItsLabelAsTheOptionsSay)
{
    DepthCameraData record;
    record.sourceName = "samples/OP1/kinect_000218790512.h5";
    const FixedOptions byCameraCamera1Hidden(true, {1});
    const FixedOptions imageColours(false, {});
    struct Case {
        std::size_t index;
        const CameraViewOptions* options;
        bool shown;
        bool colorByCamera;
    };
    const Case cases[] = {
        {0, &byCameraCamera1Hidden, true, true},
        {1, &byCameraCamera1Hidden, false, true},
        {2, &byCameraCamera1Hidden, true, true},
        {1, &imageColours, true, false},
        {1, nullptr, true, false},
    };
    for (const Case& c : cases) {
        const tavorin::DepthCamera::Appearance appearance = cameraAppearance(c.index, record, c.options);
        EXPECT_EQ(appearance.cloudShown, c.shown) << "camera " << c.index;
        EXPECT_EQ(appearance.colorByCamera, c.colorByCamera) << "camera " << c.index;
        EXPECT_EQ(colourDistance(appearance.color, cameraColor(c.index)), 0.0f);
        EXPECT_EQ(appearance.label, cameraLabel(c.index, record.sourceName));
    }
}

TEST(ViewOptionsViewModel, AHiddenCameraStaysHiddenByItsNameWhenTheRecordsChange)
{
    ViewOptionsViewModel model;
    model.setCameraNames({"a", "b", "c"});
    int changes = 0;
    QObject::connect(&model, &ViewOptionsViewModel::camerasChanged, [&] { ++changes; });
    model.setCameraShown(1, false);
    model.setCameraShown(1, false);
    EXPECT_EQ(changes, 1) << "an equal value signals nothing";
    EXPECT_EQ(shownOf(model), (std::vector<bool>{true, false, true}));

    struct Step {
        std::vector<std::string> names;
        std::vector<bool> shown;
    };
    const Step steps[] = {
        {{"b", "a", "c"}, {false, true, true}}, // reordered: "b" is hidden where it now stands
        {{"a", "c"}, {true, true}},             // gone
        {{"a", "c", "b"}, {true, true, true}},  // back as a new camera: shown
    };
    for (const Step& step : steps) {
        model.setCameraNames(step.names);
        EXPECT_EQ(shownOf(model), step.shown);
        for (std::size_t i = 0; i < step.shown.size(); ++i)
            EXPECT_EQ(model.cameraShown(i), step.shown[i]) << "camera " << i << " as the scene reads it";
    }
    EXPECT_EQ(labelsOf(model), (std::vector<std::string>{"0  a", "1  c", "2  b"}));
}

TEST(ViewOptionsViewModel, IndicesOutsideTheListChangeNothing)
{
    ViewOptionsViewModel model;
    model.setCameraNames({"a", "b"});
    for (int index : {-1, 2, 64, 1000})
        model.setCameraShown(index, false);
    EXPECT_EQ(shownOf(model), (std::vector<bool>{true, true}));
    EXPECT_TRUE(model.cameraShown(5000)) << "a camera the list does not hold is drawn";

    std::vector<std::string> many;
    for (int i = 0; i < 70; ++i)
        many.push_back("camera" + std::to_string(i));
    model.setCameraNames(many);
    model.setCameraShown(69, false);
    model.setCameraShown(63, false);
    EXPECT_TRUE(model.cameraShown(69)) << "beyond the hideable cameras every cloud is shown";
    EXPECT_FALSE(model.cameraShown(63));
}

TEST(ViewOptionsViewModel, ColourByCameraSignalsOnlyAChange)
{
    ViewOptionsViewModel model;
    std::vector<bool> signalled;
    QObject::connect(&model, &ViewOptionsViewModel::colorByCameraChanged, [&](bool value) { signalled.push_back(value); });
    for (bool value : {false, true, true, false})
        model.setColorByCamera(value);
    EXPECT_EQ(signalled, (std::vector<bool>{true, false}));
    EXPECT_FALSE(model.colorByCamera());
}
