#include "calibration/RoomRegistration.h"

#include "test_calibration_fake_source.h"

#include <gtest/gtest.h>

using tavorin::approxEqual, tavorin::AxisX, tavorin::AxisY, tavorin::DepthCameraData, tavorin::DepthCameraProcessor,
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
    EXPECT_EQ(out, formatMatrix("Difference", Mat4::identity()));
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
    EXPECT_EQ(out, formatMatrix("Difference", Mat4::identity()));
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

TEST(RoomRegistration, CollinearPointsApplyOnlyTheShiftAndNoCamerasOnlyPrint)
{
    MatrixRecordingSource source;
    const std::string out = stdoutOfRoomRegistration({cameraRecord("a", nullptr, 0, 0)}, &source,
                                                     {Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(2, 0, 0)});
    EXPECT_EQ(out, formatMatrix("Difference", Mat4::identity()));
    ASSERT_EQ(source.calls.size(), 1u);
    EXPECT_EQ(source.calls[0].second, translate(Mat4::identity(), -0.5f, 0.0f, -1.0f));

    MatrixRecordingSource empty;
    EXPECT_EQ(stdoutOfRoomRegistration({}, &empty, {Vec4::point(1, 0, 0), Vec4::point(0, 0, 0), Vec4::point(0, 0, 1)}),
              formatMatrix("Difference", Mat4::identity()));
    EXPECT_TRUE(empty.calls.empty());
}

} // namespace
