// The FLTK dialog as a session on its own thread: created and shown as the
// TWAIN manager does it, and a message box asked for by another thread (the
// DS_Entry thread) over the dialog, which a person closes with Enter; the
// modal windows the dialog opens itself (version dialog, message box) while
// the camera goes and other threads want the source.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <mutex>
#include <thread>

// Before the X headers of GuiSupport.h, whose macros (None, Status) clash.
#include "kivds/camera/CameraControls.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/sim/SimConfig.h"
#include "kivds/camera/sim/SimVideoPlatform.h"

#include "gui/GuiSupport.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/platform/SourceLock.h"
#include "kivds/protocol/SourceNotifier.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/ErrorMessage.h"
#include "kivds/ui/fltk/FltkDialog.h"
#include "kivds/ui/fltk/FltkDisplay.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedCamera.h"

namespace kiv {
namespace {

// The X window titled `title` (an anchored pattern) once it is there, or
// nothing after `seconds`.
std::string WaitForWindow(const std::string& title, int seconds = 15) {
    std::string id;
    const std::string command = "timeout " + std::to_string(seconds) + " xdotool search --sync --name '" + title +
                                "' 2>/dev/null";
    if (FILE* search = popen(command.c_str(), "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, search)) id = std::strtok(line, "\n");
        pclose(search);
    }
    return id;
}

// Polls `condition` for a few seconds (FLTK is the dialog thread's here).
template <typename Condition>
bool WaitUntil(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

bool WindowThere(const std::string& title) {
    return std::system(("xdotool search --name '" + title + "' >/dev/null 2>&1").c_str()) == 0;
}

void PressReturn(const std::string& window) {
    (void)std::system(("xdotool key --window " + window + " Return >/dev/null 2>&1").c_str());
}

constexpr char kDialogTitle[] = "^TWAIN Driver for Orvan Document Camera$";
constexpr char kVersionTitle[] = "^Version information$";
constexpr char kBoxTitle[] = "^Orvan Document Camera$";

// The close requests the dialog sends.
class CountingManager final : public ISourceNotifier {
public:
    int Notify(twain::TW_UINT16 message, void*) override {
        if (message == twain::MSG_CLOSEDSREQ) ++closeRequests;
        return 1;
    }
    std::atomic<int> closeRequests{0};
};

// The shown FLTK dialog over the unpluggable camera, the messages' owners
// recorded on their way to the FLTK message box.
class FltkModalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FltkDisplayUsable()) GTEST_SKIP() << "no display";
        if (!kivgui::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is not installed";
        CKIVUVCControl::DestroyInstance();
        camera.lossIsOneEvent = true;
        CKIVUVCControl::SetCameraFactory([this] { return std::make_unique<ScriptedCamera>(camera); });
        SetActiveNotifier(&manager);
        auto show = [this](const ShownMessage& message) {
            {
                // On the dialog's thread, where FLTK runs.
                std::lock_guard<std::mutex> guard(mutex);
                const char* title = static_cast<Fl_Window*>(message.owner)->label();
                ownerTitle = title ? title : "";
            }
            ShowFltkMessageBox(message);
        };
        RegisterMessageBoxBackend({[] { return true; }, show});
        session = MakeFltkDialogSession();
        ASSERT_NE(session, nullptr);
        ASSERT_TRUE(session->Create(nullptr));
        session->Show();
        dialog = WaitForWindow(kDialogTitle);
        ASSERT_FALSE(dialog.empty()) << "the dialog was not on the display";
    }
    void TearDown() override {
        // Whatever the code under test left open is answered, so the dialog's
        // thread can be stopped.
        for (const char* title : {kBoxTitle, kVersionTitle, kBoxTitle}) {
            if (WindowThere(title)) PressReturn(WaitForWindow(title, 2));
        }
        if (session) session->DestroyWindow();
        session.reset();
        InstallFltkMessageBox();
        SetActiveNotifier(nullptr);
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory({});
    }

    // The version item of the dialog's right-click menu, as a person chooses
    // it; again when the keys came before the menu was up.
    std::string OpenVersionDialog() {
        const std::string menu = "xdotool mousemove --window " + dialog + " 30 30 click 3 sleep 0.2 key Down Return";
        std::string version;
        for (int attempt = 0; attempt < 5 && version.empty(); ++attempt) {
            (void)std::system((menu + " >/dev/null 2>&1").c_str());
            version = WaitForWindow(kVersionTitle, 3);
            if (version.empty()) (void)std::system("xdotool key Escape >/dev/null 2>&1");
        }
        return version;
    }

    void UnplugCamera() {
        camera.lost = true;
        DialogBridge::Instance().PostGraphNotify(session->Window());
    }

    std::string OwnerTitle() {
        std::lock_guard<std::mutex> guard(mutex);
        return ownerTitle;
    }

    kivtest::ScopedEnv noScript{"KIVDS_UI_SCRIPT", nullptr};
    CameraScript camera;  // graph events report the loss once `lost` is set
    CountingManager manager;
    std::mutex mutex;
    std::string ownerTitle;
    std::unique_ptr<IDialogSession> session;
    std::string dialog;
};

// Another thread (the application's, calling DS_Entry) takes the source lock
// within a few seconds.
bool SourceLockTakenByAnotherThread() {
    bool taken = false;
    std::thread other([&] {
        for (int i = 0; i < 500 && !taken; ++i) {
            if (TheSourceLock().try_lock()) {
                taken = true;
                TheSourceLock().unlock();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    });
    other.join();
    return taken;
}

TEST(FltkSession, AMessageFromAnotherThreadIsShownOverTheDialogAndReturnsWhenClosed) {
    if (!FltkDisplayUsable()) GTEST_SKIP() << "no display";
    if (!kivgui::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    kivtest::ScopedEnv noScript{"KIVDS_UI_SCRIPT", nullptr};
    CKIVUVCControl* camera = CKIVUVCControl::GetInstance();
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(camera->Open());
    {
        std::unique_ptr<IDialogSession> session = MakeFltkDialogSession();
        ASSERT_NE(session, nullptr);
        ASSERT_TRUE(session->Create(nullptr));
        session->Show();
        ASSERT_NE(session->Window(), nullptr);

        // A person answers the box: Enter on the window titled with the caption.
        std::atomic<bool> found{false};
        std::thread person([&] {
            std::string id;
            if (FILE* search = popen("timeout 30 xdotool search --sync --name '^Orvan Document Camera$' 2>/dev/null",
                                     "r")) {
                char line[64] = {};
                if (std::fgets(line, sizeof line, search)) id = std::strtok(line, "\n");
                pclose(search);
            }
            found = !id.empty();
            const std::string key = "xdotool key --window " + (id.empty() ? std::string("0") : id) + " Return";
            (void)std::system((key + " >/dev/null 2>&1").c_str());
        });
        ShowFltkMessageBox({session->Window(), kMessageCaption, "Test message", kMbIconError});
        person.join();
        EXPECT_TRUE(found.load()) << "the box was not on the display";

        session->DestroyWindow();
    }
    CKIVUVCControl::DestroyInstance();
}

TEST_F(FltkModalTest, CameraLossWithTheVersionDialogOpenShowsItsMessageOverItThenEndsItAndTheDialog) {
    const std::string version = OpenVersionDialog();
    ASSERT_FALSE(version.empty()) << "the version dialog did not open";
    UnplugCamera();
    const std::string box = WaitForWindow(kBoxTitle);
    ASSERT_FALSE(box.empty()) << "no message while the version dialog is open";
    EXPECT_EQ(OwnerTitle(), "Version information");
    EXPECT_TRUE(WindowThere(kVersionTitle)) << "the message is shown over the version dialog";
    EXPECT_EQ(manager.closeRequests.load(), 0) << "the close request follows the message";
    PressReturn(box);
    EXPECT_TRUE(WaitUntil([&] { return manager.closeRequests.load() > 0; }));
    EXPECT_EQ(manager.closeRequests.load(), 1);
    EXPECT_TRUE(WaitUntil([&] { return !WindowThere(kVersionTitle); })) << "the version dialog was not ended";
}

TEST_F(FltkModalTest, AnotherThreadTakesTheSourceLockWhileAModalWindowWaitsForTheUser) {
    const std::string version = OpenVersionDialog();
    ASSERT_FALSE(version.empty()) << "the version dialog did not open";
    EXPECT_TRUE(SourceLockTakenByAnotherThread()) << "the version dialog holds the source lock";
    PressReturn(version);
    ASSERT_TRUE(WaitUntil([&] { return !WindowThere(kVersionTitle); }));

    UnplugCamera();
    const std::string box = WaitForWindow(kBoxTitle);
    ASSERT_FALSE(box.empty()) << "no message on camera loss";
    EXPECT_EQ(OwnerTitle(), "TWAIN Driver for Orvan Document Camera");
    EXPECT_TRUE(SourceLockTakenByAnotherThread()) << "the message box holds the source lock";
    PressReturn(box);
}

// MSG_DISABLEDS from the application's thread, inside its DS_Entry call,
// while the user has a modal window open: the manager's calls are served by
// the modal loop, the window goes with the capture dialog, and the dialog
// that opened it asks for nothing more.
class FltkDisableTest : public FltkModalTest {
protected:
    void DisableWhileOpen(const char* modal) {
        ASSERT_FALSE(WaitForWindow(modal).empty()) << "the modal window did not open";
        std::unique_lock<SourceLock> call(TheSourceLock(), std::defer_lock);
        ASSERT_TRUE(WaitUntil([&] { return call.try_lock(); })) << "the modal window holds the source lock";
        session->DestroyWindow();
        session.reset();
        call.unlock();
        EXPECT_FALSE(WindowThere(modal));
        EXPECT_FALSE(WindowThere(kDialogTitle));
        EXPECT_EQ(manager.closeRequests.load(), 0) << "a disabled source asks for nothing";
    }
};

TEST_F(FltkDisableTest, WhileTheVersionDialogIsOpen) {
    ASSERT_FALSE(OpenVersionDialog().empty());
    DisableWhileOpen(kVersionTitle);
}

TEST_F(FltkDisableTest, WhileTheDisconnectedMessageIsShown) {
    UnplugCamera();
    DisableWhileOpen(kBoxTitle);
}

// The FLTK dialog over the virtual camera, its settings window opened by the
// script's settings step.
class FltkSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FltkDisplayUsable()) GTEST_SKIP() << "no display";
        if (!kivgui::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is not installed";
        std::string error;
        ASSERT_TRUE(sim::ParseSimConfig("caps=mjpeg:640x480", config, error)) << error;
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory([this] {
            auto p = std::make_unique<sim::SimVideoPlatform>(config);
            platform = p.get();
            return std::make_unique<CCameraLogic>(std::move(p));
        });
        SetActiveNotifier(&manager);
        RegisterMessageBoxBackend({[] { return true; },
                                   [this](const ShownMessage& message) {
                                       // Recorded on the dialog's thread; nobody has to answer it.
                                       std::lock_guard<std::mutex> guard(mutex);
                                       auto* owner = static_cast<Fl_Window*>(message.owner);
                                       ownerTitle = owner && owner->label() ? owner->label() : "";
                                       ownerShown = owner && owner->shown();
                                   }});
        ASSERT_NE(CKIVUVCControl::GetInstance(), nullptr);
        ASSERT_TRUE(CKIVUVCControl::GetInstance()->Open());
        session = MakeFltkDialogSession();
        ASSERT_NE(session, nullptr);
        ASSERT_TRUE(session->Create(nullptr));
        session->Show();
        settings = WaitForWindow(kBoxTitle);
        ASSERT_FALSE(settings.empty()) << "the settings window did not open";
    }
    void TearDown() override {
        if (session) session->DestroyWindow();
        session.reset();
        InstallFltkMessageBox();
        SetActiveNotifier(nullptr);
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory({});
    }

    // The camera's value of control `name` (-1 when it has none).
    std::int64_t CameraValue(const char* name) {
        const std::vector<CameraControl> all = platform->CameraControls()->List();
        const CameraControl* control = FindControl(all, name);
        return control ? control->value : -1;
    }

    kivtest::ScopedEnv script{"KIVDS_UI_SCRIPT", "frame;settings"};
    sim::SimConfig config;
    sim::SimVideoPlatform* platform = nullptr;  // owned by the camera
    CountingManager manager;
    std::mutex mutex;
    std::string ownerTitle;
    bool ownerShown = false;
    std::unique_ptr<IDialogSession> session;
    std::string settings;  // its X window
};

// The camera's loss shows the message over the settings window, closes it,
// then the dialog asks once to be closed.
TEST_F(FltkSettingsTest, CameraLossWhileOpenIsReportedOverTheSettingsWhichCloseThenTheDialogAsksOnce) {
    platform->Unplug();
    EXPECT_TRUE(WaitUntil([&] { return manager.closeRequests.load() > 0; }));
    EXPECT_TRUE(WaitUntil([&] { return !WindowThere(kBoxTitle); })) << "the settings window stayed open";
    {
        std::lock_guard<std::mutex> guard(mutex);
        EXPECT_EQ(ownerTitle, "Orvan Document Camera");
        EXPECT_TRUE(ownerShown) << "the message came after the settings window was closed";
    }
    EXPECT_EQ(manager.closeRequests.load(), 1);
}

// Keys as a person presses them: the first row has the keyboard, Right moves
// its slider a step, Tab goes to the next row, Esc closes the window and the
// capture dialog goes on.
TEST_F(FltkSettingsTest, TabMovesBetweenRowsArrowsMoveTheSliderEscCloses) {
    ASSERT_EQ(CameraValue("Brightness"), 0);
    ASSERT_EQ(CameraValue("Contrast"), 32);
    const auto keys = [&](const char* sequence) {
        const std::string command = "xdotool key --window " + settings + " --delay 100 " + sequence;
        (void)std::system((command + " >/dev/null 2>&1").c_str());
    };
    keys("Right");
    EXPECT_TRUE(WaitUntil([&] { return CameraValue("Brightness") == 1; })) << CameraValue("Brightness");
    keys("Tab Right Right");
    EXPECT_TRUE(WaitUntil([&] { return CameraValue("Contrast") == 34; })) << CameraValue("Contrast");
    EXPECT_EQ(CameraValue("Brightness"), 1);
    keys("Escape");
    EXPECT_TRUE(WaitUntil([&] { return !WindowThere(kBoxTitle); })) << "Esc left the settings window open";
    EXPECT_TRUE(WindowThere(kDialogTitle));
    EXPECT_EQ(manager.closeRequests.load(), 0) << "closing the settings is not closing the dialog";
}

}  // namespace
}  // namespace kiv
