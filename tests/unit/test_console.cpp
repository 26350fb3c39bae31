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
