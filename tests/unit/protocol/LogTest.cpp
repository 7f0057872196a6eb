// The diagnostics sink: the line's fields, the levels, appending to a file,
// whole lines from several threads, and what the environment selects.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kivds/platform/Log.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

using namespace kiv;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start) + "<no line break>");
    return lines;
}

TEST(LogTest, ALineHoldsTheUtcTimeProcessThreadLevelOperationAndMessage) {
    // 2024-02-29T23:59:58.007Z: a leap day, and milliseconds that need their zeros.
    EXPECT_EQ(FormatLogLine(1709251198007, 4711, 4712, LogLevel::Error, "v4l2.run", "busy"),
              "2024-02-29T23:59:58.007Z 4711:4712 error v4l2.run: busy");
    EXPECT_EQ(FormatLogLine(0, 1, 2, LogLevel::Debug, "ui.message", "two\nlines\r"),
              "1970-01-01T00:00:00.000Z 1:2 debug ui.message: two lines ");
    EXPECT_EQ(FormatLogLine(-1, 1, 2, LogLevel::Info, "x", ""), "1969-12-31T23:59:59.999Z 1:2 info x: ");
}

TEST(LogTest, TheLevelFiltersAndAFileIsAppendedTo) {
    kivtest::LogCapture capture("kivds_logtest_levels.log", LogLevel::Info);
    {
        std::ofstream before(capture.Path(), std::ios::binary);
        before << "an earlier run\n";
    }
    EXPECT_TRUE(LogEnabled(LogLevel::Error));
    EXPECT_TRUE(LogEnabled(LogLevel::Info));
    EXPECT_FALSE(LogEnabled(LogLevel::Debug));
    Log(LogLevel::Error, "sim.run", "busy (%s)", "injected");
    Log(LogLevel::Info, "sim.stream", "%d frames", 3);
    Log(LogLevel::Debug, "sim.grab", "not written");
    const std::vector<std::string> lines = Lines(capture.Text());
    ASSERT_EQ(lines.size(), 3u) << capture.Text();
    EXPECT_EQ(lines[0], "an earlier run");
    const std::string ids = " " + std::to_string(CurrentProcessId()) + ":" + std::to_string(CurrentThreadId()) + " ";
    EXPECT_NE(lines[1].find(ids + "error sim.run: busy (injected)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(ids + "info sim.stream: 3 frames"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[1][10], 'T');

    ConfigureLog(LogSettings());  // off: nothing more is written
    EXPECT_FALSE(LogEnabled(LogLevel::Error));
    Log(LogLevel::Error, "sim.run", "dropped");
    EXPECT_EQ(Lines(capture.Text()).size(), 3u);
}

TEST(LogTest, LinesFromSeveralThreadsStayWhole) {
    kivtest::LogCapture capture("kivds_logtest_threads.log");
    const std::string payload(200, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) Log(LogLevel::Error, "test.thread", "%s", payload.c_str());
        });
    for (std::thread& t : threads) t.join();
    const std::vector<std::string> lines = Lines(capture.Text());
    ASSERT_EQ(lines.size(), 400u);
    for (const std::string& line : lines) ASSERT_EQ(line.substr(line.size() - payload.size() - 2), ": " + payload);
}

TEST(LogTest, TheEnvironmentChoosesTheTargetAndTheLevel) {
    struct Case {
        const char* log;
        const char* level;
        LogTarget target;
        LogLevel expected;
    };
    const Case cases[] = {
        {nullptr, "debug", LogTarget::Off, LogLevel::Debug},
        {"", nullptr, LogTarget::Off, LogLevel::Error},
        {"OFF", nullptr, LogTarget::Off, LogLevel::Error},
        {"StdErr", "INFO", LogTarget::Stderr, LogLevel::Info},
        {"/tmp/k.log", "verbose", LogTarget::File, LogLevel::Error},
    };
    for (const Case& c : cases) {
        kivtest::ScopedEnv log("KIVDS_LOG", c.log);
        kivtest::ScopedEnv level("KIVDS_LOG_LEVEL", c.level);
        const LogSettings settings = LogSettingsFromEnvironment();
        EXPECT_EQ(settings.target, c.target) << (c.log ? c.log : "unset");
        EXPECT_EQ(settings.level, c.expected) << (c.level ? c.level : "unset");
        if (c.target == LogTarget::File) {
            EXPECT_EQ(settings.file, c.log);
        }
    }
}

}  // namespace
