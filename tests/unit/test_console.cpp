#include "base/Console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace console = tavorin::console;

// Eight threads write long lines at once: every line comes out whole, on the stream it was meant for.
TEST(Console, LinesFromSeveralThreadsNeverInterleave)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    constexpr std::size_t kLength = 3000;
    const struct {
        void (*write)(const std::string&);
        void (*capture)();
        std::string (*captured)();
    } streams[] = {
        {[](const std::string& s) { console::out(s); }, &testing::internal::CaptureStdout,
         &testing::internal::GetCapturedStdout},
        {[](const std::string& s) { console::err(s); }, &testing::internal::CaptureStderr,
         &testing::internal::GetCapturedStderr},
    };
    for (const auto& stream : streams) {
        stream.capture();
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t)
            writers.emplace_back([&, t] {
                for (int i = 0; i < kLines; ++i)
                    stream.write(std::string(kLength, static_cast<char>('a' + t)));
            });
        for (std::thread& writer : writers)
            writer.join();
        std::istringstream lines(stream.captured());
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            ASSERT_EQ(std::string(kLength, line[0]), line) << "line " << count << " is mixed or cut";
        EXPECT_EQ(kThreads * kLines, count);
    }
}

// A text that comes every frame is written once, then as a count per window; another text counts
// on its own; after a quiet window the unwritten count of the last burst comes before the text.
TEST(Console, RepeatedTextsAreWrittenOnceThenCounted)
{
    console::RepeatLimiter limiter;
    const std::string flood = "No points given (addCorrespondencePoints)!\n";
    const std::string matrix = "Matrix\n1\t0\t0\t0\n0\t1\t0\t0\n0\t0\t1\t0\n0\t0\t0\t1\n\n";
    const struct {
        const std::string& text;
        double seconds;
        std::string written;
    } arrivals[] = {
        {flood, 0.0, flood},
        {flood, 0.1, ""},
        {matrix, 0.2, matrix},
        {flood, 5.0, ""},
        {matrix, 5.0, ""},
        {flood, 10.0, "No points given (addCorrespondencePoints)! (repeated 3 times in 10 s)\n"},
        {matrix, 10.2, "Matrix (repeated 2 times in 10 s)\n"},
        {flood, 12.0, ""},
        {flood, 30.0, "No points given (addCorrespondencePoints)! (repeated 1 time in 2 s)\n" + flood},
        {flood, 45.0, flood},
    };
    for (const auto& arrival : arrivals)
        EXPECT_EQ(arrival.written, limiter.admit(arrival.text, arrival.seconds)) << "at " << arrival.seconds << " s";
}
