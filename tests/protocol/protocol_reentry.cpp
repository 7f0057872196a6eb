// An application that answers the source from inside the source manager's
// callback, round after round: it transfers the image inside MSG_XFERREADY
// and disables the source inside MSG_CLOSEDSREQ, then closes it on its main
// thread as soon as the disable returned, while the dialog's handler that
// sent the request is still on its way out. The dialog is the one KIVDS_UI
// chooses: headless here, FLTK under the virtual display (tests/gui), and
// the Win32 dialog under Wine, whose messages the application's loop offers
// to the source.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/DsHost.h"
#include "support/ScopedEnv.h"

using namespace twain;
using kivtest::DsHost;
using kivtest::ScopedEnv;

namespace {

constexpr int kRounds = 100;
constexpr char kCamera[] = "caps=mjpeg:320x240;fps=200";
constexpr char kLostCamera[] = "caps=mjpeg:320x240;fps=200;lose=10";
constexpr char kTwoCapturesThenClose[] = "frame;capture;frame;capture;frame;close";

// Waits until the application's answers satisfy `done`; on Windows the
// dialog lives in the application's loop, which runs meanwhile.
bool WaitForAnswers(DsHost& host, const std::function<bool(const DsHost::AnswerCounts&)>& done) {
#ifdef _WIN32
    return host.PumpEvents(std::chrono::seconds(20), [&] { return done(host.Answered()); });
#else
    return host.WaitForAnswers(done);
#endif
}

bool HeadlessDialog() {
    const auto ui = kiv::GetEnv("KIVDS_UI");
    return ui && *ui == "headless";
}

TEST(ReentrantApplication, DisablesInsideTheCloseRequestAndTransfersInsideXferReady) {
    ScopedEnv camera{"KIVDS_CAMERA", "sim"};
    ScopedEnv sim{"KIVDS_SIM", kCamera};
    ScopedEnv script{"KIVDS_UI_SCRIPT", kTwoCapturesThenClose};
    ScopedEnv language{"LC_ALL", "en_US.UTF-8"};
    DsHost host;
    ASSERT_TRUE(host.Loaded());
    host.AnswerInside({true, true});
    // On the headless dialog every third round loses the camera instead (its
    // message needs nobody to close it): the other way the dialog ends itself.
    const bool loseSome = HeadlessDialog();
    int transfers = 0;
    for (int round = 1; round <= kRounds; ++round) {
        const bool lose = loseSome && round % 3 == 0;
        kivtest::SetEnv("KIVDS_SIM", lose ? kLostCamera : kCamera);
        kivtest::SetEnv("KIVDS_UI_SCRIPT", lose ? nullptr : kTwoCapturesThenClose);
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS()) << "round " << round;
        ASSERT_EQ(TWRC_SUCCESS, host.EnableUi()) << "round " << round << ", condition " << host.Status();
        ASSERT_TRUE(
            WaitForAnswers(host, [round](const DsHost::AnswerCounts& answered) { return answered.disabled >= round; }))
            << "round " << round << ": the close request was not answered";
        ASSERT_EQ(TWRC_SUCCESS, host.CloseDS()) << "round " << round;
        transfers += lose ? 0 : 2;
        if (round % 10 == 0) std::fprintf(stderr, "%d rounds\n", round);  // how far a killed run came
    }
    const DsHost::AnswerCounts answered = host.Answered();
    EXPECT_EQ(0, answered.failed);
    EXPECT_EQ(transfers, answered.transferred);
}

// An application that exits while the dialog is shown and the camera
// streams into it: the source is unloaded with it.
[[noreturn]] void ExitWithTheDialogOpen() {
    DsHost::Options options;
    options.closeBeforeUnload = false;
    DsHost host(options);
    host.AnswerInside({false, true});
    const bool up = host.Loaded() && host.OpenDS() == TWRC_SUCCESS && host.EnableUi() == TWRC_SUCCESS &&
                    WaitForAnswers(host,
                                   [](const DsHost::AnswerCounts& answered) { return answered.transferred == 1; });
    std::fprintf(stderr, "%s\n", up ? "dialog up, exiting" : "the dialog did not come up");
    std::exit(up ? 0 : 3);
}

TEST(ReentrantApplication, ExitsWithTheDialogOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedEnv camera{"KIVDS_CAMERA", "sim"};
    ScopedEnv sim{"KIVDS_SIM", "caps=mjpeg:320x240;fps=1000"};
    // The capture's transfer says the dialog is up with frames flowing.
    ScopedEnv script{"KIVDS_UI_SCRIPT", "frame;capture"};
    ScopedEnv language{"LC_ALL", "en_US.UTF-8"};
    for (int round = 1; round <= 5; ++round)
        EXPECT_EXIT(ExitWithTheDialogOpen(), ::testing::ExitedWithCode(0), "dialog up, exiting") << "round " << round;
}

}  // namespace
