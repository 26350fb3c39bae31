// A virtual device streaming the operating room: its point cloud, placed by the camera's known
// pose, must lie on the room's surfaces, with the colours of those surfaces.

// Virtual devices exist only in our own SDK layer; against the installed SDK these tests drop out.
#if __has_include(<k4a_virtual/VirtualDevice.h>)
#include "test_capture_support.h"

#include "acquisition/live/AzureKinectReadingThread.h"

#include <k4a_virtual/RoomScene.h>

#include <array>
#include <cmath>

using tavorin::AzureKinectReadingThread;

using namespace capture_test;

namespace {

using Point = std::array<double, 3>;

// The room the scene draws, in metres: floor at y = 0, ceiling at 3, walls at x = +-3 and
// z = +-3.5, the table a box of 2 x 0.9 x 0.6 m around the centre.
double distanceToRoomSurfaces(const Point& p)
{
    double best = std::min({std::abs(p[1]), std::abs(p[1] - 3.0), std::abs(std::abs(p[0]) - 3.0),
                            std::abs(std::abs(p[2]) - 3.5)});
    const Point low{-1.0, 0.0, -0.3};
    const Point high{1.0, 0.9, 0.3};
    double outside = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = std::max({low[i] - p[i], 0.0, p[i] - high[i]});
        outside += d * d;
    }
    return std::min(best, std::sqrt(outside));
}

bool onTableTop(const Point& p)
{
    return std::abs(p[1] - 0.9) < 0.005 && std::abs(p[0]) < 0.95 && std::abs(p[2]) < 0.25;
}

Point normalized(const Point& a)
{
    const double length = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    return {a[0] / length, a[1] / length, a[2] / length};
}

Point cross(const Point& a, const Point& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

using CaptureRoom = VirtualDevices;

} // namespace

TEST_F(CaptureRoom, CloudLiesOnTheRoomsSurfacesWithTheirColours)
{
    const Point position{0.4, 2.0, -2.6};
    const Point target{0.0, 0.9, 0.0};
    auto scene = std::make_shared<k4a_virtual::RoomScene>(
        k4a_virtual::RoomScene::Point{0.4f, 2.0f, -2.6f}, k4a_virtual::RoomScene::Point{0.0f, 0.9f, 0.0f});
    const auto device = std::make_shared<k4a_virtual::VirtualDevice>("000000000021", realBlob(), scene);
    k4a_virtual::plugIn(device);
    AzureKinectReadingThread thread(0);
    ASSERT_TRUE(thread.open());
    ASSERT_TRUE(eventually([&] { return thread.points() && device->framesDelivered.load() >= 2; }));
    thread.stop();

    // Camera axes in the room: view towards the target, image x level, image y down.
    const Point view = normalized({target[0] - position[0], target[1] - position[1], target[2] - position[2]});
    const Point right = normalized(cross(view, {0.0, 1.0, 0.0}));
    const Point down = cross(view, right);
    constexpr double kSurfaceToleranceM = 0.005; // depths are whole millimetres
    constexpr std::uint8_t kTableTop[4] = {200, 140, 60, 255};
    int points = 0;
    int tableTop = 0;
    int tableTopColoured = 0;
    for (int k = 0; k < thread.width() * thread.height(); ++k) {
        const float* p = thread.points() + 4 * k;
        if (p[2] == 0.0f)
            continue;
        ++points;
        // Camera points have x to the image's left and y up: the SDK's frame is (-x, -y, z).
        const double sdk[3] = {-p[0], -p[1], p[2]};
        Point room;
        for (int i = 0; i < 3; ++i)
            room[i] = position[i] + right[i] * sdk[0] + down[i] * sdk[1] + view[i] * sdk[2];
        ASSERT_LT(distanceToRoomSurfaces(room), kSurfaceToleranceM) << room[0] << " " << room[1] << " " << room[2];
        if (onTableTop(room)) {
            ++tableTop;
            if (std::equal(kTableTop, kTableTop + 4, thread.colors() + 4 * k))
                ++tableTopColoured;
        }
    }
    EXPECT_GT(points, thread.width() * thread.height() * 2 / 5) << "the floor and the table lie within range";
    EXPECT_GT(tableTop, 10000);
    EXPECT_GT(tableTopColoured, tableTop * 95 / 100)
        << "the colour camera sees the table top where the depth camera does";
}

#endif
