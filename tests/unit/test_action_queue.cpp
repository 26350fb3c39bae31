#include "scene/DepthCameraProcessor.h"
#include "app/SetDepthImageSourceAction.h"
#include "app/SetTubusTargetParametersAction.h"
#include "scene/OrvoAction.h"
#include "scene/SceneState.h"
#include "scene/TubeRecord.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

using tavorin::DepthCameraProcessor, tavorin::formatMatrix, tavorin::Mat4, tavorin::OrvoAction,
    tavorin::recomputeTubeSamplePoints, tavorin::SceneState, tavorin::SetDepthImageSourceAction,
    tavorin::SetTubusTargetParametersAction, tavorin::translate, tavorin::TubeDisplay, tavorin::TubeRecord,
    tavorin::TubeSamplePoint, tavorin::Vec4;

namespace {

// A depth source that only counts its process() calls and its own destruction.
class CountingSource : public DepthCameraProcessor {
public:
    explicit CountingSource(std::atomic<int>* destroyed = nullptr) : destroyed(destroyed) {}
    ~CountingSource() override
    {
        if (destroyed)
            ++*destroyed;
    }
    void process(SceneState&) override { ++processCalls; }
    void setModelMatrix(std::string, const Mat4&) override {}

    int processCalls = 0;
    std::atomic<int>* destroyed;
};

class RecordingAction : public OrvoAction {
public:
    RecordingAction(std::vector<int>& log, int value) : log(log), value(value) {}
    void execute(SceneState&, std::shared_ptr<DepthCameraProcessor>&) override { log.push_back(value); }

    std::vector<int>& log;
    int value;
};

class ReplaceSourceAction : public OrvoAction {
public:
    explicit ReplaceSourceAction(std::shared_ptr<DepthCameraProcessor> next) : next(std::move(next)) {}
    void execute(SceneState&, std::shared_ptr<DepthCameraProcessor>& depthSource) override
    {
        depthSource = std::move(next);
    }

    std::shared_ptr<DepthCameraProcessor> next;
};

// Captures standard output for the lifetime of the object.
class CoutCapture {
public:
    CoutCapture() : previous(std::cout.rdbuf(buffer.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(previous); }
    std::string text() const { return buffer.str(); }

private:
    std::ostringstream buffer;
    std::streambuf* previous;
};

std::shared_ptr<TubeRecord> tubeWithSamples(int gridHalfSize, std::size_t sampleCount)
{
    auto tube = std::make_shared<TubeRecord>();
    tube->gridHalfSize = gridHalfSize;
    for (std::size_t i = 0; i < sampleCount; ++i)
        tube->samplePoints.push_back(std::make_shared<TubeSamplePoint>());
    tube->display = std::make_shared<TubeDisplay>();
    return tube;
}

} // namespace

TEST(ActionQueue, RunsActionsInOrderOnceThenTheSource)
{
    SceneState state;
    auto source = std::make_shared<CountingSource>();
    state.depthSource = source;
    std::vector<int> log;

    struct EnqueueingAction : OrvoAction {
        explicit EnqueueingAction(std::vector<int>& log) : log(log) {}
        void execute(SceneState& s, std::shared_ptr<DepthCameraProcessor>&) override
        {
            log.push_back(2);
            s.enqueue(std::make_shared<RecordingAction>(log, 4));
        }
        std::vector<int>& log;
    };

    state.enqueue(std::make_shared<RecordingAction>(log, 1));
    state.enqueue(std::make_shared<EnqueueingAction>(log));
    state.enqueue(std::make_shared<RecordingAction>(log, 3));
    state.step();

    EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4})) << "an action enqueued by an action runs in the same step";
    EXPECT_EQ(state.pendingActions(), 0u);
    EXPECT_EQ(source->processCalls, 1);
    EXPECT_GT(source->endStampNs, 0);
    EXPECT_GE(source->endStampNs, source->startStampNs);

    state.step();
    EXPECT_EQ(log.size(), 4u) << "executed actions are released, not run again";
    EXPECT_EQ(source->processCalls, 2);
}

TEST(ActionQueue, SecondSourceSwitchWinsAndTheFirstNewSourceIsDestroyedInTheSameStep)
{
    SceneState state;
    std::atomic<int> destroyed{0};
    state.depthSource = std::make_shared<CountingSource>(&destroyed);
    auto first = std::make_shared<CountingSource>(&destroyed);
    auto second = std::make_shared<CountingSource>(&destroyed);
    CountingSource* secondRaw = second.get();
    state.enqueue(std::make_shared<ReplaceSourceAction>(std::move(first)));
    state.enqueue(std::make_shared<ReplaceSourceAction>(std::move(second)));
    state.step();

    EXPECT_EQ(destroyed.load(), 2) << "the original and the first new source are gone";
    EXPECT_EQ(state.depthSource.get(), secondRaw);
    EXPECT_EQ(secondRaw->processCalls, 1);
}

TEST(ActionQueue, UnknownSourceTypeIsDroppedAndRecordingSwitchWithoutFilesReplaces)
{
    SceneState state;
    auto original = std::make_shared<CountingSource>();
    state.depthSource = original;
    state.enqueue(std::make_shared<SetDepthImageSourceAction>(7, std::vector<std::string>{"a.h5"}));
    state.step();
    EXPECT_EQ(state.depthSource, original);

    state.enqueue(std::make_shared<SetDepthImageSourceAction>(SetDepthImageSourceAction::kRecordings,
                                                              std::vector<std::string>{}));
    state.step();
    EXPECT_NE(state.depthSource, original);
}

TEST(ActionQueue, ProducerAndConsumerThreadsLoseAndRepeatNothing)
{
    constexpr int kActions = 20000;
    SceneState state;
    std::vector<int> log; // written only by the consumer thread
    std::atomic<bool> producing{true};

    std::thread consumer([&] {
        while (producing.load() || state.pendingActions() > 0)
            state.step();
    });
    for (int i = 0; i < kActions; ++i)
        state.enqueue(std::make_shared<RecordingAction>(log, i));
    producing.store(false);
    consumer.join();

    ASSERT_EQ(log.size(), static_cast<std::size_t>(kActions));
    for (int i = 0; i < kActions; ++i)
        ASSERT_EQ(log[static_cast<std::size_t>(i)], i);
}

TEST(TubusParameters, WithoutTubeNothingHappensAndNothingIsPrinted)
{
    SceneState state;
    CoutCapture capture;
    state.enqueue(std::make_shared<SetTubusTargetParametersAction>(1, 2, 3, 0.1f, 0.2f, 0.05f, 0.075f));
    state.step();
    EXPECT_EQ(capture.text(), "");
}

TEST(TubusParameters, SetsSizePoseAndPrintsTheMatrix)
{
    SceneState state;
    auto tube = tubeWithSamples(2, 25);
    state.tubes.push_back(tube);
    constexpr float kPi = 3.14159265358979f;
    CoutCapture capture;
    state.enqueue(std::make_shared<SetTubusTargetParametersAction>(1, 2, 3, kPi / 2, kPi / 2, 0.4f, 0.1f));
    state.step();

    EXPECT_FLOAT_EQ(tube->diameter, 0.4f);
    EXPECT_FLOAT_EQ(tube->depth, 0.1f);
    EXPECT_FLOAT_EQ(tube->display->diameter, 0.4f);
    EXPECT_FLOAT_EQ(tube->display->depth, 0.1f);
    // First about X (+90: y -> z), then about Y (+90: z -> x), then the position.
    const Vec4 p = tube->transform * Vec4::point(0, 1, 0);
    EXPECT_NEAR(p.x, 2.0f, 1e-5f);
    EXPECT_NEAR(p.y, 2.0f, 1e-5f);
    EXPECT_NEAR(p.z, 3.0f, 1e-5f);
    EXPECT_EQ(capture.text(), formatMatrix("TubusMatrix", tube->transform));
}

TEST(TubusParameters, SamplePointsFormAGridClippedToTheOpenDisc)
{
    auto tube = tubeWithSamples(2, 25);
    tube->diameter = 1.0f;
    tube->depth = 0.3f;
    const Mat4 untouched = translate(Mat4(), 9, 9, 9);
    for (auto& s : tube->samplePoints)
        s->transform = untouched;
    recomputeTubeSamplePoints(*tube);

    // Spacing 0.245; +-0.49 only together with 0: 13 of the 25 grid positions are inside.
    int inside = 0;
    for (auto& s : tube->samplePoints) {
        if (s->transform == untouched)
            continue;
        ++inside;
        const Vec4 t = s->transform.translation();
        EXPECT_LT(std::hypot(t.x, t.z), 0.5f);
        EXPECT_FLOAT_EQ(t.y, -0.3f);
    }
    EXPECT_EQ(inside, 13);
    EXPECT_TRUE(tube->samplePoints[12]->transform != untouched);
    EXPECT_TRUE(tube->samplePoints[13]->transform == untouched) << "points beyond the disc's count stay";
    const Vec4 first = tube->samplePoints[0]->transform.translation();
    EXPECT_NEAR(first.x, -0.49f, 1e-6f);
    EXPECT_NEAR(first.z, 0.0f, 1e-6f);
    const Vec4 second = tube->samplePoints[1]->transform.translation();
    EXPECT_NEAR(second.x, -0.245f, 1e-6f);
    EXPECT_NEAR(second.z, -0.245f, 1e-6f);

    auto shortTube = tubeWithSamples(2, 3);
    shortTube->diameter = 1.0f;
    recomputeTubeSamplePoints(*shortTube); // stops at the end of a shorter sequence
    EXPECT_NEAR(shortTube->samplePoints[2]->transform.translation().x, -0.245f, 1e-6f);
}

TEST(TubusParameters, GridHalfSizeZeroUpdatesNoSamplePoint)
{
    auto tube = tubeWithSamples(0, 4);
    tube->diameter = 1.0f;
    const Mat4 untouched = translate(Mat4(), 9, 9, 9);
    for (auto& s : tube->samplePoints)
        s->transform = untouched;
    recomputeTubeSamplePoints(*tube);
    for (auto& s : tube->samplePoints)
        EXPECT_TRUE(s->transform == untouched);
}
