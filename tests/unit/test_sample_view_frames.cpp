// A sample view renders each frame as if it were its first: what earlier frames drew (the plate
// elsewhere, a person walking, the room before the camera moved) never shows in a later one.

#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleFurniture.h"
#include "sample_scene/SampleView.h"

#include "PinholeRays.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 144;
constexpr double kFocal = 126.0; // pixels: the sensor's 75 x 65 degrees at a quarter of its resolution
constexpr double kPlatePeriod = 4.0;

struct Frame {
    double plateSeconds; // negative: the plate out of sight
    bool person;
    bool knocked;        // the camera 2 cm to the side of where it hung
};

PlatePose plateOf(const Frame& frame)
{
    if (frame.plateSeconds >= 0.0)
        return sample_scene::plateAt(frame.plateSeconds, kPlatePeriod);
    return PlatePose{Eigen::Vector3d(0.0, -50.0, 0.0), Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitZ(),
                     -Eigen::Vector3d::UnitY()};
}

// The view's state for `frame`: who walks, and where the camera hangs (moved only when it changes).
void stage(sample_scene::SampleView& view, const Frame& frame, bool& knocked)
{
    view.setMoving(frame.person ? std::vector<sample_scene::FloorBox>{sample_scene::walkingPerson(1.0)}
                                : std::vector<sample_scene::FloorBox>{});
    if (frame.knocked != knocked) {
        sample_scene::CameraPose pose = sample_scene::cameraPose(0);
        if (frame.knocked)
            pose.position.x() += 0.02;
        view.moveCamera(pose);
        knocked = frame.knocked;
    }
}

struct Images {
    std::vector<std::uint16_t> depth;
    std::vector<std::uint8_t> bgra;
};

enum class Kind { Depth, Color, Both };

Images render(sample_scene::SampleView& view, const Frame& frame, Kind kind, unsigned seed)
{
    Images images{std::vector<std::uint16_t>(std::size_t(kWidth) * kHeight),
                  std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight * 4)};
    std::mt19937 rng(seed);
    if (kind == Kind::Depth)
        view.renderDepth(plateOf(frame), rng, images.depth.data());
    else if (kind == Kind::Color)
        view.renderColor(plateOf(frame), images.bgra.data());
    else
        view.renderDepthAndColor(plateOf(frame), rng, images.depth.data(), images.bgra.data());
    return images;
}

sample_scene::SampleView furnishedView(const std::vector<float>& rays, bool artefacts)
{
    sample_scene::SampleView view(sample_scene::cameraPose(0), kWidth, kHeight, rays);
    view.furnish(sample_scene::furnishedRoom());
    if (artefacts)
        view.simulateArtefacts();
    return view;
}

TEST(SampleViewFrames, EachFrameIsAsIfItWereTheFirst)
{
    const std::vector<float> rays = pinholeRays(kWidth, kHeight, kFocal);
    // The plate moving, gone, back; a person walking through; the camera knocked and put back.
    const std::vector<Frame> frames = {{0.0, false, false},  {0.5, false, false}, {-1.0, false, false},
                                       {1.0, true, false},   {1.2, false, false}, {1.4, false, true},
                                       {-1.0, false, true},  {2.0, false, false}, {2.2, true, true},
                                       {2.4, false, true}};
    for (const Kind kind : {Kind::Depth, Kind::Color, Kind::Both})
        for (const bool artefacts : {false, true}) {
            sample_scene::SampleView running = furnishedView(rays, artefacts);
            bool runningKnocked = false;
            for (std::size_t f = 0; f < frames.size(); ++f) {
                SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", artefacts " << artefacts
                                                << ", frame " << f);
                stage(running, frames[f], runningKnocked);
                const Images later = render(running, frames[f], kind, static_cast<unsigned>(f));
                sample_scene::SampleView fresh = furnishedView(rays, artefacts);
                bool freshKnocked = false;
                stage(fresh, frames[f], freshKnocked);
                const Images first = render(fresh, frames[f], kind, static_cast<unsigned>(f));
                EXPECT_EQ(later.depth, first.depth);
                EXPECT_EQ(later.bgra, first.bgra);
            }
        }
}

} // namespace
