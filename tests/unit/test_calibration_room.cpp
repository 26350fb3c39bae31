#include "calibration/registration/RoomRegistration.h"

#include "test_calibration_fake_source.h"

#include <gtest/gtest.h>

#include <cmath>

using tavorin::approxEqual, tavorin::inverse, tavorin::AxisX, tavorin::AxisY, tavorin::DepthCameraData, tavorin::DepthCameraProcessor,
    tavorin::formatMatrix, tavorin::Mat4, tavorin::registrateRoom, tavorin::rotate, tavorin::translate, tavorin::Vec4;

namespace {

std::string stdoutOfRoomRegistration(const std::vector<std::shared_ptr<DepthCameraData>>& cameras,
                                     DepthCameraProcessor* source, const std::array<Vec4, 3>& points)
{
    testing::internal::CaptureStdout();
    registrateRoom(cameras, source, points);
    return testing::internal::GetCapturedStdout();
}

TEST(RoomRegistration, InitialPointsShiftEveryCameraByHalfAMetre)
{
    MatrixRecordingSource source;
    const Mat4 T_room_b = translate(rotate(Mat4::identity(), 0.3f, AxisY), 1.0f, 2.0f, 3.0f);
    const auto cameras = std::vector<std::shared_ptr<DepthCameraData>>{
        cameraRecord("a", nullptr, 0, 0), cameraRecord("b", nullptr, 0, 0, T_room_b)};
    const std::string out = stdoutOfRoomRegistration(
        cameras, &source, {Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(0, 0, 1)});
    EXPECT_EQ(out, "Room rectangle: corner angle 90.0 degrees at Point 1, edges 1.000 m to Point 0 and 1.000 m to "
                   "Point 2\n" + formatMatrix("Difference", Mat4::identity()));
    ASSERT_EQ(source.calls.size(), 2u);
    EXPECT_EQ(source.calls[0].first, "a");
    EXPECT_EQ(source.calls[0].second, translate(Mat4::identity(), -0.5f, 0.0f, -0.5f));
    EXPECT_EQ(source.calls[1].first, "b");
    EXPECT_EQ(source.calls[1].second, translate(T_room_b, -0.5f, 0.0f, -0.5f));
}

TEST(RoomRegistration, ARectangleAlongTheAxesShiftsToItsMiddle)
{
    MatrixRecordingSource source;
    const std::string out = stdoutOfRoomRegistration({cameraRecord("a", nullptr, 0, 0)}, &source,
                                                     {Vec4::point(2, 0, 0), Vec4::point(0, 0, 0), Vec4::point(0, 0, 4)});
    EXPECT_NE(out.find(formatMatrix("Difference", Mat4::identity())), std::string::npos) << out;
    ASSERT_EQ(source.calls.size(), 1u);
    EXPECT_EQ(source.calls[0].second, translate(Mat4::identity(), -1.0f, 0.0f, -2.0f));
}

// Floor points picked in camera 0's frame (y down the image, floor tilted): the room frame must
// put them on y = 0 with the corner at (-lenA/2, 0, -lenB/2).
TEST(RoomRegistration, PickedFloorPointsLandOnTheRoomFloor)
{
    const Mat4 T_drawn_room = translate(rotate(rotate(Mat4::identity(), 0.4f, AxisX), 2.0f, AxisY), 0.3f, -1.4f, 2.5f);
    const Vec4 a = T_drawn_room * Vec4::point(1.5f, 0, 0);
    const Vec4 o = T_drawn_room * Vec4::point(0, 0, 0);
    const Vec4 b = T_drawn_room * Vec4::point(0, 0, 1.0f);
    MatrixRecordingSource source;
    stdoutOfRoomRegistration({cameraRecord("a", nullptr, 0, 0)}, &source, {a, o, b});
    ASSERT_EQ(source.calls.size(), 1u);
    const Mat4& T_room_drawn = source.calls[0].second;
    EXPECT_TRUE(approxEqual(T_room_drawn * o, Vec4::point(-0.75f, 0.0f, -0.5f)));
    EXPECT_TRUE(approxEqual(T_room_drawn * a, Vec4::point(0.75f, 0.0f, -0.5f)));
    EXPECT_TRUE(approxEqual(T_room_drawn * b, Vec4::point(-0.75f, 0.0f, 0.5f)));
}

// Clicked the other way round (Point 0 along the edge meant for Point 2), the edges would put y
// down and the cameras under the floor: the frame is turned up, x still toward Point 0.
TEST(RoomRegistration, EdgesClickedTheOtherWayRoundKeepTheCamerasAboveTheFloor)
{
    const Mat4 T_drawn_camera = translate(Mat4::identity(), 0.5f, 2.5f, -1.0f);
    MatrixRecordingSource source;
    const auto cameras = std::vector<std::shared_ptr<DepthCameraData>>{cameraRecord("a", nullptr, 0, 0, T_drawn_camera)};
    const std::string out = stdoutOfRoomRegistration(
        cameras, &source, {Vec4::point(0, 0, 2), Vec4::point(0, 0, 0), Vec4::point(3, 0, 0)});
    EXPECT_NE(out.find("the room frame is turned the right way up"), std::string::npos) << out;
    ASSERT_EQ(source.calls.size(), 1u);
    const Mat4& T_room_camera = source.calls[0].second;
    EXPECT_TRUE(approxEqual(T_room_camera.translation(), Vec4::point(-2.0f, 2.5f, 1.0f)))
        << T_room_camera.translation().x << " " << T_room_camera.translation().y << " " << T_room_camera.translation().z;
    EXPECT_NEAR(tavorin::determinant(T_room_camera), 1.0f, 1e-5f) << "a rotation, not a mirror image";
    EXPECT_TRUE(approxEqual(T_room_camera * inverse(T_drawn_camera) * Vec4::point(0, 0, 2), Vec4::point(1.0f, 0, 1.5f)));
}

// Points that span no rectangle change nothing and say why.
TEST(RoomRegistration, DegeneratePointsAreRefused)
{
    const struct {
        const char* name;
        std::array<Vec4, 3> points;
        const char* message;
    } cases[] = {
        {"equal", {Vec4::point(1, 0, 1), Vec4::point(1, 0, 1), Vec4::point(1, 0, 1)}, "Point 0 lies 0.000 m from"},
        {"collinear", {Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(2, 0, 0)},
         "the corner at Point 1 measures 0.0 degrees"},
        {"corner of 80 degrees",
         {Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(std::cos(1.3963f), 0, std::sin(1.3963f))},
         "the corner at Point 1 measures 80.0 degrees"},
        {"short edge", {Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(0, 0, 0.01f)},
         "Point 2 lies 0.010 m from"},
    };
    for (const auto& c : cases) {
        MatrixRecordingSource source;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(tavorin::RoomRegistrationResult::Refused,
                  registrateRoom({cameraRecord("a", nullptr, 0, 0)}, &source, c.points));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.name;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("Register World refused: ", 0), 0u) << c.name << ": " << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_TRUE(source.calls.empty()) << c.name;
    }
}

} // namespace
