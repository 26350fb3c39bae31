// A frame source that shows an operating room: floor, walls and ceiling of a 6 x 3 x 7 m room and
// an operating table in its middle, seen from one camera pose.
#pragma once

#include <k4a_virtual/VirtualDevice.h>

#include <array>
#include <cstdint>
#include <vector>

namespace k4a_virtual {

class RoomScene : public FrameSource {
public:
    using Point = std::array<float, 3>;

    // Room coordinates in metres, y up, origin on the floor in the room's centre; the camera's
    // image x axis stays level.
    RoomScene(const Point& cameraPosition, const Point& lookAt);

    // The scene is static: it is rendered for the calibration given when the cameras start (or at
    // the first frame of a source that was not prepared), every frame repeats it.
    void prepare(const k4a_calibration_t& calibration, int depthWidth, int depthHeight, int colorWidth,
                 int colorHeight) override;
    void render(const k4a_calibration_t& calibration, std::uint64_t frameIndex, const FrameBuffers& frame) override;

private:
    void renderDepth(const k4a_calibration_t& calibration, int width, int height);
    void renderColor(const k4a_calibration_t& calibration, int width, int height);

    Point position;
    std::array<Point, 3> axes; // the camera's x (right), y (down), z (view) axes in room coordinates
    std::vector<std::uint16_t> depthMm;
    std::vector<std::uint8_t> bgra;
    bool rendered = false;
};

} // namespace k4a_virtual
