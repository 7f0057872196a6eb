// The FLTK dialog as a session on its own thread: created and shown as the
// TWAIN manager does it, and a message box asked for by another thread (the
// DS_Entry thread) over the dialog, which a person closes with Enter.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <thread>

#include "gui/GuiSupport.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/ui/ErrorMessage.h"
#include "kivds/ui/fltk/FltkDialog.h"
#include "kivds/ui/fltk/FltkDisplay.h"
#include "support/ScopedEnv.h"

namespace kiv {
namespace {

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
            if (FILE* search = popen("timeout 30 xdotool search --sync --name '^Orvan Document Camera$' 2>/dev/null", "r")) {
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

}  // namespace
}  // namespace kiv
