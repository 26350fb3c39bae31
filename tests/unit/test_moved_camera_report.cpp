// What the window's moved-camera check writes on the console: each camera's verdict once, when it
// changes, whatever its figures do meanwhile; nothing for a camera without a reference.

#include "app/MovedCameraReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavorin;

namespace {

struct Step {
    const char* camera;
    DriftVerdict verdict;
    double turnDeg;
    bool hasReference;
    const char* said; // "" when nothing is said
};

MovedCameraCheck checked(const Step& step)
{
    MovedCameraCheck camera;
    camera.configPath = std::string("config/") + step.camera + ".json";
    camera.name = step.camera;
    camera.index = 1;
    camera.check.hasReference = step.hasReference;
    camera.check.verdict = step.verdict;
    camera.check.estimate.told = step.verdict != DriftVerdict::CannotTell;
    camera.check.estimate.turnDeg = step.turnDeg;
    camera.check.estimate.why = "too little of what it saw still stands";
    camera.check.storedAt = "2026-12-10";
    return camera;
}

} // namespace

TEST(MovedCameraReport, SaysEachCamerasVerdictOncePerChange)
{
    const std::vector<Step> steps = {
        {"a", DriftVerdict::InPlace, 0.004, true, "Camera 1 (a): in place (0.004 deg, 0.00 mm)"},
        {"a", DriftVerdict::InPlace, 0.006, true, ""},
        {"b", DriftVerdict::InPlace, 0.002, true, "Camera 1 (b): in place (0.002 deg, 0.00 mm)"},
        {"a", DriftVerdict::Moved, 0.512, true, "Camera 1 (a): moved 0.512 deg, 0.00 mm since 2026-12-10"},
        {"a", DriftVerdict::Moved, 0.498, true, ""},
        {"a", DriftVerdict::CannotTell, 0.0, true, "Camera 1 (a): cannot tell: too little of what it saw still stands"},
        {"a", DriftVerdict::CannotTell, 0.0, true, ""},
        {"b", DriftVerdict::CannotTell, 0.0, false, ""},
        {"b", DriftVerdict::InPlace, 0.002, true, "Camera 1 (b): in place (0.002 deg, 0.00 mm)"},
    };
    MovedCameraReport report;
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(report.lineFor(checked(steps[i])), steps[i].said) << "step " << i;
}
