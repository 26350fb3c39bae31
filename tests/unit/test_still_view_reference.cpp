// The file of a camera's still view reference: what is written reads back, the previous file is
// kept, and what does not fit is refused with the reason, on writing and on reading.

#include "acquisition/config/StillViewReference.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace tavorin;

namespace {

constexpr char kMatrixPath[] = "config/cameras/hdf5/a/kinect_000000000001.json";

StillViewReference sample(float nearMm)
{
    StillViewReference reference;
    reference.width = 8;
    reference.height = 6;
    for (int k = 0; k < 48; ++k)
        reference.depthMm.push_back(k % 7 == 0 ? 0.0f : nearMm + 0.25f * k);
    reference.storedAt = "2026-12-10";
    reference.depthCorrection = DepthCorrection{-2.5, 0.0008};
    reference.frames = 45;
    return reference;
}

TEST(StillViewReference, ReadsBackWhatWasWrittenAndKeepsThePrevious)
{
    const std::string path = stillViewReferencePath(kMatrixPath);
    EXPECT_EQ(path, "config/cameras/hdf5/a/kinect_000000000001.still.bin");
    ASSERT_TRUE(writeStillViewReference(path, sample(2000.0f)));
    ASSERT_TRUE(writeStillViewReference(path, sample(3000.0f)));
    StillViewReference read;
    std::string why;
    ASSERT_EQ(loadStillViewReference(path, 8, 6, read, why), ReferenceRead::Read) << why;
    EXPECT_EQ(read.depthMm, sample(3000.0f).depthMm);
    EXPECT_EQ(read.storedAt, "2026-12-10");
    EXPECT_DOUBLE_EQ(read.depthCorrection.offsetMm, -2.5);
    EXPECT_EQ(read.frames, 45);
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator("config/cameras/hdf5/a"))
        kept += entry.path().filename().string().rfind("kinect_000000000001.still.bin.", 0) == 0;
    EXPECT_EQ(kept, 1);
}

TEST(StillViewReference, RefusesWhatDoesNotFit)
{
    StillViewReference shortOfDepths = sample(2000.0f);
    shortOfDepths.depthMm.pop_back();
    StillViewReference empty = sample(2000.0f);
    empty.depthMm.assign(48, 0.0f);
    StillViewReference tooFar = sample(2000.0f);
    tooFar.depthMm[1] = 17000.0f;
    for (const StillViewReference& refused : {shortOfDepths, empty, tooFar}) {
        EXPECT_FALSE(writeStillViewReference("config/refused.still.bin", refused));
        EXPECT_FALSE(std::filesystem::exists("config/refused.still.bin"));
    }

    const std::string path = "config/read.still.bin";
    ASSERT_TRUE(writeStillViewReference(path, sample(2000.0f)));
    std::string text;
    {
        std::ifstream in(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    struct Case {
        std::string content;
        int width, height;
        ReferenceRead read;
        std::string why;
    };
    const Case cases[] = {
        {text, 640, 576, ReferenceRead::Refused, "the camera's images 640 x 576"},
        {text.substr(0, text.size() - 20), 8, 6, ReferenceRead::Refused, "does not decode"},
        {"{\"modelMatrix\": []}\n", 8, 6, ReferenceRead::Refused, "not a still view reference"},
        {"no header", 8, 6, ReferenceRead::Refused, "no header line"},
    };
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
        StillViewReference read;
        std::string why;
        EXPECT_EQ(loadStillViewReference(path, c.width, c.height, read, why), c.read) << c.why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
    StillViewReference read;
    std::string why;
    EXPECT_EQ(loadStillViewReference("config/none.still.bin", 8, 6, read, why), ReferenceRead::Missing);
}

} // namespace
