#pragma once

#include "math/DepthCorrection.h"
#include "math/Mat4.h"

#include <optional>
#include <string>
#include <vector>

// What a sample scene's ground_truth.json says about the recordings, in room coordinates
// (metres). Camera matrices map the calibrated point convention into the room.
struct GroundTruth {
    struct Camera {
        std::string file;   // recording path as written by the generator
        std::string serial;
        std::optional<tavorin::Mat4> T_room_camera;
        std::optional<tavorin::Mat4> T_camera0_camera;
        // What the scene's sensor added to the range ("depthError": {"offsetMm", "scale"}).
        std::optional<tavorin::DepthCorrection> depthError;
        // How far its recorded stamps are ahead of the trajectory's true times ("clockOffsetMs").
        double clockOffsetSeconds = 0.0;
    };
    struct PlateFrame {
        double timestamp = 0.0; // seconds, true time: a camera's stamps are ahead by its clock offset
        tavorin::Vec4 centre;
        tavorin::Vec4 u; // in-plane axes, unit
        tavorin::Vec4 v;
        tavorin::Vec4 normal;
    };

    std::vector<Camera> cameras;
    std::vector<PlateFrame> trajectory;
    float plateSize = 0.44f; // edge length, metres

    // The entry of the recording at `path`: same file name, else its serial in the path, else the
    // entry at `index`; null when none fits.
    const Camera* cameraFor(const std::string& path, std::size_t index) const;
    // The plate frame nearest timestamp t, when one lies within half a frame.
    const PlateFrame* plateAt(double t) const;
};

// Reads the file; prints the reason on standard error and returns nothing when it is unusable.
std::optional<GroundTruth> loadGroundTruth(const std::string& path);
