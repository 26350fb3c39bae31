#pragma once

#include "sample_scene/DepthArtefacts.h"
#include "sample_scene/DepthError.h"
#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleFurniture.h"
#include "sample_scene/SampleRoom.h"

#include <Eigen/Core>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace sample_scene {

// One camera's image of the sample room: the static room is ray-cast once, each frame adds the
// plate where its bounding sphere can be hit, so a frame costs a few milliseconds.
class SampleView {
public:
    // rays: (x, y) per pixel, rows back to back, of the view's unit-depth rays (x / z, y / z of its
    // x-right, y-down frame), NaN where a pixel has no ray. The view's frame is the camera's depth
    // frame moved by (R_sdk_view, t_sdk_view_m): identity and zero for the depth camera itself.
    SampleView(const CameraPose& pose, int width, int height, const std::vector<float>& rays,
               const Eigen::Matrix3d& R_sdk_view = Eigen::Matrix3d::Identity(),
               const Eigen::Vector3d& t_sdk_view_m = Eigen::Vector3d::Zero());

    // The depth image (millimetres, 0 outside the sensor's 0.5 m to 3.86 m): the far side of a depth
    // step is lost as on the sensor, and each depth carries noise of 1.5 mm before rounding. With a
    // depth error, each depth is where the sensor's range error puts it along its ray; with
    // artefacts, the sensor's random faults come on top (DepthArtefacts), drawn from `rng`.
    void renderDepth(const PlatePose& plate, std::mt19937& rng, std::uint16_t* depthMm);
    // The colour image, B, G, R, A (255).
    void renderColor(const PlatePose& plate, std::uint8_t* bgra);
    // Both, as renderDepth and renderColor give them, of a view whose colour is seen through the
    // depth camera's own pixels: the scene is cast once for the two.
    void renderDepthAndColor(const PlatePose& plate, std::mt19937& rng, std::uint16_t* depthMm, std::uint8_t* bgra);

    // The sensor's systematic range error and its random faults, in every depth image from now on;
    // colour images show neither.
    void setDepthError(const DepthError& error) { depthError = error; }
    void simulateArtefacts() { artefacts = std::make_unique<DepthArtefacts>(); }
    const DepthError& currentDepthError() const { return depthError; }

    // What stands still in the room besides its floor and markers (the room is cast again), and
    // what moves in it in the frames from now on (cast every frame).
    void furnish(const std::vector<FloorBox>& still);
    void setMoving(const std::vector<FloorBox>& moving) { movingBoxes = moving; }
    // The camera knocked to a new pose: the room is cast again from there.
    void moveCamera(const CameraPose& pose);

    int width() const { return columns; }
    int height() const { return rows; }

private:
    struct PlateSpan {
        int rowBegin = 0, rowEnd = 0, columnBegin = 0, columnEnd = 0; // pixels the plate covers, end excluded
    };
    // A pixel next to a depth step of the frame: on its far side (next to a nearer surface) or its
    // near side, with the depth across the step (millimetres).
    struct StepPixel {
        std::size_t pixel;
        float acrossMm;
        bool farSide;
    };
    // The floor, markers and still boxes along every pixel's ray.
    void castBackground();
    void castMoving();
    float coarseStepAngle() const;
    PlateSpan plateSpan(const Eigen::Vector3f& toCentre) const;
    // Distance along each ray (ray parameter, metres) and colour of the nearest surface.
    void renderPlate(const PlatePose& plate);
    // The frame's arrays back to the background where they differ from it.
    void restoreBackground();
    // Turn frameT from ray parameters (metres) into the depths the sensor reports (millimetres).
    void measure();
    void measureWithArtefacts();
    float measuredDepthMm(std::size_t pixel) const;
    void findSteps();
    void dropMixedPixels();
    void mixPixelsAtSteps();
    void addNoise(std::mt19937& rng, std::uint16_t* depthMm) const;
    // The depth image and the colour image of the frame that renderPlate cast.
    void depthFromFrame(std::mt19937& rng, std::uint16_t* depthMm);
    void colorFromFrame(std::uint8_t* bgra);

    int columns;
    int rows;
    Eigen::Vector3d origin;                  // room metres
    std::vector<Eigen::Vector3f> directions; // room, per pixel; NaN where none
    std::vector<float> inverseLengthSquared;
    std::vector<float> backgroundT;          // infinity where nothing is hit
    std::vector<std::array<std::uint8_t, 3>> backgroundBgr;
    std::vector<std::uint8_t> backgroundBgra; // made with the first colour frame
    std::vector<float> backgroundCos;        // cosine of incidence of the background's surface
    std::vector<float> frameT;               // the frame being rendered
    std::vector<float> frameCos;
    std::vector<std::array<std::uint8_t, 3>> frameBgr;
    std::vector<StepPixel> steps;            // of the frame being rendered
    std::vector<float> noiseMm;              // drawn once, read from a random start every frame
    PlateSpan span;
    // What of the frame's arrays differs from the background: all of frameT after a depth image
    // (it then holds millimetres), all three after moving boxes were cast or the background
    // changed (and before the first frame), and otherwise only the last plate's span.
    // renderPlate restores no more than that.
    bool depthsDirty = true;
    bool surfacesDirty = true;
    PlateSpan dirtySpan;
    float stepAngle = 0.0f;
    DepthError depthError;
    std::unique_ptr<DepthArtefacts> artefacts; // null: none
    std::vector<float> unitRays;             // as given
    Eigen::Matrix3d R_sdk_view;
    Eigen::Vector3d t_sdk_view_m;
    Eigen::Matrix3d R_room_view;             // of the camera's pose now
    std::vector<FloorBox> stillBoxes;
    std::vector<FloorBox> movingBoxes;
};

} // namespace sample_scene
