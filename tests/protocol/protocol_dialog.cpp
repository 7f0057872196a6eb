// The capture dialog through DS_Entry: MSG_ENABLEDS with ShowUI, the headless
// view driven by its script (KIVDS_UI_SCRIPT) and read back from its journal
// (KIVDS_UI_RECORD), with the virtual camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/DsHost.h"
#include "support/FileBytes.h"
#include "support/SimPattern.h"
#include "tools/kivscan/ScanPlatform.h"

using namespace twain;
using kivtest::DsHost;

namespace {

// The headless dialog as its journal shows it, replayed line by line.
struct Shown {
    std::vector<std::string> lines;
    std::string title;
    std::map<int, std::string> texts;
    std::map<int, std::vector<std::pair<std::string, long>>> lists;
    std::map<int, int> selection;
    std::map<int, bool> enabled;
    std::map<int, unsigned> timers;
    std::vector<std::string> messages;  // "<owner> <text>"
    std::string versionTitle;
    std::map<int, std::string> versionTexts;

    bool Has(const std::string& line) const {
        for (const std::string& l : lines)
            if (l == line) return true;
        return false;
    }
    // Index of the first line equal to `line`, or -1.
    int IndexOf(const std::string& line) const {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == line) return static_cast<int>(i);
        return -1;
    }
    bool ControlsEnabled() const {
        for (int id : {2004, 2007, 2008, 2009}) {
            auto it = enabled.find(id);
            if (it == enabled.end() || !it->second) return false;
        }
        return true;
    }
    std::vector<std::string> ListTexts(int id) const {
        std::vector<std::string> listed;
        auto it = lists.find(id);
        if (it != lists.end())
            for (const auto& entry : it->second) listed.push_back(entry.first);
        return listed;
    }
    std::string Selected(int id) const {
        auto sel = selection.find(id);
        auto list = lists.find(id);
        if (sel == selection.end() || list == lists.end() || sel->second < 0 ||
            sel->second >= static_cast<int>(list->second.size()))
            return {};
        return list->second[static_cast<std::size_t>(sel->second)].first;
    }
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The value for `id`, or a failure (not an exception) when the journal has none.
template <typename Map>
typename Map::mapped_type Lookup(const Map& map, int id) {
    auto it = map.find(static_cast<typename Map::key_type>(id));
    if (it != map.end()) return it->second;
    ADD_FAILURE() << "the journal has no entry for " << id;
    return {};
}

// Replays the complete lines of the journal; the dialog's thread may be in the
// middle of writing the last one.
Shown Replay(const std::string& path) {
    Shown shown;
    std::string whole;
    {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        whole = bytes.str();
    }
    const std::size_t lastEnd = whole.find_last_of('\n');
    whole.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    std::istringstream in(whole);
    std::string line;
    while (std::getline(in, line)) {
        shown.lines.push_back(line);
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        auto rest = [&]() {
            std::string r;
            std::getline(words, r);
            if (!r.empty() && r[0] == ' ') r.erase(0, 1);
            return Unescape(r);
        };
        int id = 0;
        if (kind == "title") {
            shown.title = rest();
        } else if (kind == "text") {
            words >> id;
            shown.texts[id] = rest();
        } else if (kind == "list-add") {
            int index = 0;
            long data = 0;
            words >> id >> index >> data;
            auto& list = shown.lists[id];
            if (!words || index < 0 || index > static_cast<int>(list.size())) {
                ADD_FAILURE() << "malformed journal line: " << line;
                continue;
            }
            list.insert(list.begin() + index, {rest(), data});
            auto sel = shown.selection.find(id);
            if (sel != shown.selection.end() && sel->second >= index) ++sel->second;
        } else if (kind == "list-select") {
            int index = 0;
            words >> id >> index;
            shown.selection[id] = index;
        } else if (kind == "enable") {
            int on = 0;
            words >> id >> on;
            shown.enabled[id] = on != 0;
        } else if (kind == "timer-set") {
            unsigned ms = 0;
            words >> id >> ms;
            shown.timers[static_cast<unsigned>(id)] = ms;
        } else if (kind == "timer-kill") {
            words >> id;
            shown.timers.erase(static_cast<unsigned>(id));
        } else if (kind == "message") {
            shown.messages.push_back(rest());
        } else if (kind == "version-title") {
            shown.versionTitle = rest();
        } else if (kind == "version-text") {
            words >> id;
            shown.versionTexts[id] = rest();
        }
    }
    return shown;
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        journal = kivtest::TempPath("kivds-dialog-journal-" +
                                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                    ".txt");
        std::remove(journal.c_str());
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::SetEnv("KIVDS_CAMERA", "sim");
        kivtest::SetEnv("KIVDS_UI_RECORD", journal.c_str());
        kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:320x240,mjpeg:1280x720,mjpeg:640x480,mjpeg:320x240;current=640x480");
        kivtest::SetEnv("LANG", "en_US.UTF-8");
        kivtest::UnsetEnv("LC_ALL");
        kivtest::UnsetEnv("LC_MESSAGES");
        kivtest::UnsetEnv("KIVDS_UI_SCRIPT");
    }
    void TearDown() override {
        kivtest::UnsetEnv("KIVDS_UI_SCRIPT");
        kivtest::UnsetEnv("KIVDS_UI_RECORD");
    }

    Shown Journal() const { return Replay(journal); }

    // Waits until the journal satisfies `condition`.
    bool WaitJournal(const std::function<bool(const Shown&)>& condition, int ms = 20000) const {
        for (int waited = 0; waited < ms; waited += 10) {
            if (condition(Journal())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void OpenAndEnable(DsHost& host, const char* script) {
        if (script) kivtest::SetEnv("KIVDS_UI_SCRIPT", script);
        ASSERT_TRUE(host.Loaded());
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
        ASSERT_EQ(TWRC_SUCCESS, host.EnableUi()) << host.Status();
    }

    static void ExpectImageSize(DsHost& host, int width, int height) {
        TW_IMAGEINFO info{};
        ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        EXPECT_EQ(width, info.ImageWidth);
        EXPECT_EQ(height, info.ImageLength);
    }

    std::string journal;
};

TEST_F(Dialog, ShowsTitleLabelsAndListsAndEnablesOnTheFirstFrame) {
    DsHost host;
    OpenAndEnable(host, nullptr);
    // The poll starts right after the controls come on.
    ASSERT_TRUE(WaitJournal([](const Shown& s) { return s.ControlsEnabled() && s.timers.count(0) != 0; }));
    const Shown shown = Journal();
    EXPECT_EQ("TWAIN Driver for Orvan Document Camera", shown.title);
    EXPECT_EQ("Video Format:", Lookup(shown.texts, 2002));
    EXPECT_EQ("Size:", Lookup(shown.texts, 2005));
    EXPECT_TRUE(shown.Has("menu 16 Version information..."));
    // MJPEG first although the camera lists YUY2 first.
    EXPECT_EQ((std::vector<std::string>{"MJPEG", "YUY2"}), shown.ListTexts(2004));
    EXPECT_EQ("MJPEG", shown.Selected(2004));
    EXPECT_EQ((std::vector<std::string>{"320 x 240", "640 x 480", "1280 x 720"}), shown.ListTexts(2007));
    EXPECT_EQ("640 x 480", shown.Selected(2007));
    // Disabled during the start, enabled by the first frame.
    const int off = shown.IndexOf("enable 2009 0");
    const int on = shown.IndexOf("enable 2009 1");
    ASSERT_GE(off, 0);
    EXPECT_GT(on, off);
    EXPECT_LT(shown.IndexOf("enable 2004 0"), shown.IndexOf("show"));
    // The default camera name is model A: the zoom buttons are polled.
    EXPECT_EQ(200u, Lookup(shown.timers, 0));
    // The preview, laid out 5:4, shows the 4:3 picture across its width and
    // centred in its height: letterboxed into the laid-out size, not the
    // template's.
    ASSERT_TRUE(WaitJournal([](const Shown& s) {
        for (const std::string& l : s.lines)
            if (l.rfind("preview ", 0) == 0) return true;
        return false;
    }));
    int previewW = 0, previewH = 0, left = -1, top = -1, pictureW = 0, pictureH = 0;
    for (const std::string& l : Journal().lines) {
        std::sscanf(l.c_str(), "move 2001 %dx%d", &previewW, &previewH);
        std::sscanf(l.c_str(), "preview %d,%d %dx%d", &left, &top, &pictureW, &pictureH);
    }
    ASSERT_GT(previewH, 0);
    EXPECT_EQ(0, left);
    EXPECT_EQ(previewW, pictureW);
    // The offset of a 4:3 video; the placement shrinks from both sides by it.
    EXPECT_EQ((previewH - previewW / 4 * 3) / 2, top);
    EXPECT_EQ(previewH - 2 * top, pictureH);
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_TRUE(Journal().Has("destroy"));
}

TEST_F(Dialog, ACameraThatCannotRunFailsTheEnableWithItsCondition) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;fail=run:busy");
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWRC_FAILURE, host.EnableUi());
    EXPECT_EQ(CC_CAMERA_IN_USE, host.Status());
    const Shown shown = Journal();
    EXPECT_TRUE(shown.Has("end 2"));      // the dialog ended itself during its start
    EXPECT_TRUE(shown.messages.empty());  // the manager shows the message, not the dialog
    EXPECT_EQ(0u, host.Notifications().size());
    // The source stays open in state 4.
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(Dialog, Yuy2OnlyCameraOfModelCListsOneFormatAndPollsNoButtons) {
    kivtest::SetEnv("KIVDS_SIM",
                    "name=ORVAN "
                    "KIVCAMC;path=\\\\?\\usb#vid_1a3c&pid_0c33&mi_00#7&1&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
                    "\\global;caps=yuy2:640x480,yuy2:320x240");
    DsHost host;
    OpenAndEnable(host, nullptr);
    ASSERT_TRUE(WaitJournal([](const Shown& s) { return s.ControlsEnabled(); }));
    const Shown shown = Journal();
    EXPECT_EQ((std::vector<std::string>{"YUY2"}), shown.ListTexts(2004));
    EXPECT_EQ((std::vector<std::string>{"320 x 240", "640 x 480"}), shown.ListTexts(2007));
    EXPECT_EQ("640 x 480", shown.Selected(2007));
    EXPECT_TRUE(shown.timers.empty());
}

TEST_F(Dialog, ACameraThatPowersUpInYuy2ListsAndCapturesTheMjpegSizeItStreams) {
    // No MJPEG size matches the pin's 800 x 600: the source streams the first
    // MJPEG size listed, and the list and the still must say the same.
    kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:800x600,mjpeg:1920x1080,mjpeg:640x480;current=800x600");
    DsHost host;
    OpenAndEnable(host, "frame;capture");
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 1));
    EXPECT_EQ("1920 x 1080", Journal().Selected(2007));
    ExpectImageSize(host, 1920, 1080);
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

TEST_F(Dialog, CaptureAnnouncesTheChosenSizeAndWaitsForTheEndOfTheTransfer) {
    DsHost host;
    OpenAndEnable(host, "frame;size=320x240;frame;capture;frame;capture;frame;capture");
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 1));
    ExpectImageSize(host, 320, 240);
    // Disabled until the transfer ends, however long that takes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(Journal().ControlsEnabled());
    EXPECT_EQ(1u, host.CountNotifications(MSG_XFERREADY));

    TW_MEMREF dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
    ASSERT_NE(nullptr, dib);
    const auto* header = static_cast<const unsigned char*>(dib);
    EXPECT_EQ(320u, kivtest::Le32(header + 4));
    EXPECT_EQ(240u, kivtest::Le32(header + 8));
    DsHost::Free(dib);
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());

    // The second capture, after WM_XFERDONE: a memory transfer.
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 2));
    ExpectImageSize(host, 320, 240);
    std::vector<unsigned char> buffer(320 * 3 * 240);
    TW_IMAGEMEMXFER xfer{};
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
    xfer.Memory.TheMem = buffer.data();
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer)) << host.Status();
    EXPECT_EQ(320u, +xfer.Columns);
    EXPECT_EQ(240u, +xfer.Rows);
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());

    // The third: a BMP file.
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 3));
    const std::string path = kivtest::TempPath("kivds-dialog-capture.bmp");
    std::remove(path.c_str());
    TW_SETUPFILEXFER setup{};
    std::snprintf(setup.FileName, sizeof setup.FileName, "%s", path.c_str());
    setup.Format = TWFF_BMP;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr)) << host.Status();
    const std::vector<unsigned char> file = kivtest::ReadBytes(path);
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(320u, kivtest::Le32(&file[18]));
    EXPECT_EQ(240u, kivtest::Le32(&file[22]));
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    EXPECT_TRUE(WaitJournal([](const Shown& s) { return s.ControlsEnabled(); }));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

TEST_F(Dialog, ASecondPressBeforeTheTransferEndsIsImpossible) {
    DsHost host;
    OpenAndEnable(host, "frame;capture;capture");
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(1u, host.CountNotifications(MSG_XFERREADY));
    const Shown shown = Journal();
    EXPECT_EQ(1, std::count(shown.lines.begin(), shown.lines.end(), std::string("press 2009")));
}

TEST_F(Dialog, FormatChangeAppliesTheSizeAtTheSameListPositionWithinTheNewList) {
    DsHost host;
    // Position 2 of the MJPEG list; YUY2 has one size only.
    OpenAndEnable(host, "frame;size=1280x720;frame;format=YUY2;frame;capture");
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 1));
    ExpectImageSize(host, 320, 240);
    const Shown shown = Journal();
    // The size list still shows the sizes of the first format.
    EXPECT_EQ((std::vector<std::string>{"320 x 240", "640 x 480", "1280 x 720"}), shown.ListTexts(2007));
    EXPECT_EQ("YUY2", shown.Selected(2004));
    // Each change disabled the controls and the next frame enabled them again.
    // Enabled by the first frame and by the frame after each change, then
    // disabled by the capture.
    EXPECT_EQ(3, std::count(shown.lines.begin(), shown.lines.end(), std::string("enable 2009 1")));
    EXPECT_EQ(4, std::count(shown.lines.begin(), shown.lines.end(), std::string("enable 2009 0")));
}

// A failing format change is covered by tests/unit/ui/KIVDlgTest.cpp:
// the virtual camera cannot fail SetMediaFormat without failing the open.

TEST_F(Dialog, CameraLossShowsTheDisconnectedMessageAndAsksOnceToClose) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;lose=15");
    DsHost host;
    OpenAndEnable(host, nullptr);
    ASSERT_TRUE(host.WaitForNotification(MSG_CLOSEDSREQ, 1));
    ASSERT_TRUE(WaitJournal([](const Shown& s) { return !s.messages.empty(); }));
    const Shown shown = Journal();
    EXPECT_EQ("dialog A camera has been disconnected or has not been connected. Connect a camera to the computer.",
              shown.messages[0]);
    EXPECT_TRUE(shown.timers.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(1u, host.CountNotifications(MSG_CLOSEDSREQ));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

// The settings button opens the camera's controls; a script sets them by name
// and the next still shows what brightness did.
TEST_F(Dialog, SettingsSetByTheScriptShowInTheNextStill) {
    kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:320x240");
    DsHost host;
    OpenAndEnable(host,
                  "frame;settings;set=Brightness:40;set=Focus, Absolute:100;set=Focus, Automatic Continuous:off;"
                  "set=focus, absolute:252;set=Zoom:2;close-settings;capture");
    ASSERT_TRUE(host.WaitForNotification(MSG_XFERREADY, 1));
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
    const unsigned char* bits = static_cast<const unsigned char*>(dib) + 40;
    for (int y : {0, 120, 239}) {
        for (int x : {0, 100, 230, 319}) {
            const kivtest::Rgb p = kivtest::SimPixel(x, y);
            const unsigned char* px = bits + (239 - y) * 960 + x * 3;
            EXPECT_EQ(std::min(255, p.b + 40), px[0]) << x << "," << y;
            EXPECT_EQ(std::min(255, p.g + 40), px[1]) << x << "," << y;
            EXPECT_EQ(std::min(255, p.r + 40), px[2]) << x << "," << y;
        }
    }
    DsHost::Free(dib);
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());

    const Shown shown = Journal();
    const int opened = shown.IndexOf("settings-open Orvan Document Camera");
    ASSERT_GE(opened, 0);
    EXPECT_LT(shown.IndexOf("press 2008"), opened);
    EXPECT_GT(shown.IndexOf("settings-buttons Defaults|Close"), opened);
    EXPECT_EQ(18, std::count_if(shown.lines.begin(), shown.lines.end(),
                                [](const std::string& l) { return l.rfind("settings-row ", 0) == 0; }));
    // Refused while autofocus owned it, the window staying open; taken (and
    // stepped to its maximum) once focus was manual.
    const int refused = shown.IndexOf("settings-error Focus, Absolute: inactive: an automatic mode owns it");
    const int manual = shown.IndexOf("settings-set Focus, Automatic Continuous off");
    EXPECT_GE(refused, 0);
    EXPECT_LT(refused, manual);
    EXPECT_GE(shown.IndexOf("settings-change Focus, Absolute [range] 0..250 step 5 default 0 value 250"), manual);
    EXPECT_TRUE(shown.Has("settings-error Zoom: no such control"));
    EXPECT_LT(shown.IndexOf("settings-close"), shown.IndexOf("press 2009"));
    EXPECT_TRUE(shown.messages.empty());
    EXPECT_EQ(0u, host.CountNotifications(MSG_CLOSEDSREQ));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

// A camera that lists no controls: the settings button opens a window that
// says so, with Close alone, and the dialog stays open.
TEST_F(Dialog, SettingsOfACameraWithoutControlsSaySoAndTheDialogStaysOpen) {
    kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:320x240;controls=none");
    DsHost host;
    OpenAndEnable(host, "frame;settings;close-settings");
    ASSERT_TRUE(WaitJournal([](const Shown& s) { return s.Has("settings-close"); }));
    const Shown shown = Journal();
    EXPECT_GE(shown.IndexOf("settings-none This camera has no settings."), 0);
    EXPECT_GE(shown.IndexOf("settings-buttons Close"), 0);
    EXPECT_TRUE(shown.messages.empty());
    EXPECT_EQ(0u, host.CountNotifications(MSG_CLOSEDSREQ));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

TEST_F(Dialog, CameraLossWithTheSettingsOpenIsReportedOverThemThenTheDialogAsksOnceToClose) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;lose=30");
    DsHost host;
    OpenAndEnable(host, "frame;settings");
    ASSERT_TRUE(host.WaitForNotification(MSG_CLOSEDSREQ, 1));
    ASSERT_TRUE(WaitJournal([](const Shown& s) { return s.Has("settings-close"); }));
    const Shown shown = Journal();
    ASSERT_EQ(1u, shown.messages.size());
    EXPECT_EQ("window A camera has been disconnected or has not been connected. Connect a camera to the computer.",
              shown.messages[0]);
    EXPECT_LT(shown.IndexOf("settings-open Orvan Document Camera"), shown.IndexOf("close-window"));
    EXPECT_LT(shown.IndexOf("close-window"), shown.IndexOf("settings-close"));
    EXPECT_EQ(1u, host.CountNotifications(MSG_CLOSEDSREQ));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

TEST_F(Dialog, VersionDialogShowsVersionLicenceAndLocalisedButton) {
#ifdef _WIN32
    // Windows takes the language from the user's locale, not from variables.
    const char* const languages[] = {"en_US.UTF-8"};
#else
    const char* const languages[] = {"en_US.UTF-8", "es_ES.UTF-8"};
#endif
    for (const char* lang : languages) {
        std::remove(journal.c_str());
        kivtest::SetEnv("LANG", lang);
        DsHost host;
        OpenAndEnable(host, "frame;version");
        ASSERT_TRUE(WaitJournal([](const Shown& s) { return s.Has("version-end 1"); }));
        const Shown shown = Journal();
        EXPECT_EQ("2.00.0006", Lookup(shown.versionTexts, 2019));
        EXPECT_EQ("TWAIN Driver for Orvan Document Camera", Lookup(shown.versionTexts, 2018));
        const std::string licence = Lookup(shown.versionTexts, 2022);
        EXPECT_EQ(0u, licence.find("LibTIFF Copyright and License Agreement\r\n\r\nCopyright "));
        EXPECT_NE(std::string::npos,
                  licence.find("Permission to use, copy, modify, distribute, and sell this software"));
        for (std::size_t i = 0; i < licence.size(); ++i) {
            if (licence[i] == '\n') {
                ASSERT_TRUE(i > 0 && licence[i - 1] == '\r') << "bare line feed at " << i;
            }
        }
        if (std::string(lang).compare(0, 2, "es") == 0) {
            EXPECT_EQ("Aceptar", Lookup(shown.versionTexts, 1));
            EXPECT_EQ("Información sobre la versión", shown.versionTitle);
        } else {
            EXPECT_EQ("OK", Lookup(shown.versionTexts, 1));
            EXPECT_EQ("Version information", shown.versionTitle);
        }
        EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    }
}

// An application without an event loop: it blocks until the source manager
// calls it back with MSG_XFERREADY, as the working group's sample does.
TEST_F(Dialog, ApplicationBlockedOnASemaphoreGetsItsImageAndTheCloseRequest) {
    DsHost host;
    std::mutex mutex;
    std::condition_variable signalled;
    std::vector<TW_UINT16> pending;
    host.SetNotificationCallback([&](TW_UINT16 msg) {
        std::lock_guard<std::mutex> guard(mutex);
        pending.push_back(msg);
        signalled.notify_all();
    });
    auto waitFor = [&](TW_UINT16 msg) {
        std::unique_lock<std::mutex> guard(mutex);
        return signalled.wait_for(guard, std::chrono::seconds(20), [&] {
            for (auto it = pending.begin(); it != pending.end(); ++it) {
                if (*it == msg) {
                    pending.erase(it);
                    return true;
                }
            }
            return false;
        });
    };
    OpenAndEnable(host, "frame;capture;frame;close");
    ASSERT_TRUE(waitFor(MSG_XFERREADY));
    TW_MEMREF dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
    const auto* header = static_cast<const unsigned char*>(dib);
    EXPECT_EQ(640u, kivtest::Le32(header + 4));
    DsHost::Free(dib);
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    ASSERT_TRUE(waitFor(MSG_CLOSEDSREQ));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

// Two application threads call DS_Entry while the dialog captures and the
// main thread transfers.
TEST_F(Dialog, ConcurrentCallsWhileTheDialogRuns) {
    DsHost host;
    OpenAndEnable(host, "frame;capture;frame;capture;frame;capture;frame;close");
    std::atomic<bool> stop{false};
    auto hammer = [&] {
        while (!stop.load()) {
            TW_STATUS status{};
            host.Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
            TW_EVENT event{};
            host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
            TW_IDENTITY identity{};
            host.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
            TW_IMAGELAYOUT layout{};
            host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout);
        }
    };
    std::thread a(hammer);
    std::thread b(hammer);
    int transferred = 0;
    for (int i = 1; i <= 3; ++i) {
        if (!host.WaitForNotification(MSG_XFERREADY, static_cast<std::size_t>(i))) break;
        TW_MEMREF dib = nullptr;
        if (host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib) == TWRC_XFERDONE) ++transferred;
        if (dib) DsHost::Free(dib);
        host.EndXfer();
    }
    const bool closeRequested = host.WaitForNotification(MSG_CLOSEDSREQ, 1);
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(3, transferred);
    EXPECT_TRUE(closeRequested);
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

#ifdef _WIN32
// The viewer program (a stand-in named kivview.exe beside this test) is asked
// to close while the dialog runs and is started again when it is destroyed.
// Windows only: under Wine the test's prefix holds nobody else's processes.
TEST_F(Dialog, RunningViewerIsClosedWhileTheDialogRunsAndStartedAgain) {
    auto viewerWindow = [] { return FindWindowW(L"KivFakeViewer", nullptr); };
    auto waitFor = [](const std::function<bool()>& condition) {
        for (int i = 0; i < 1000; ++i) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring viewerPath(self, length);
    viewerPath = viewerPath.substr(0, viewerPath.find_last_of(L"\\/") + 1) + L"kivview.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + viewerPath + L"\"";
    ASSERT_TRUE(CreateProcessW(viewerPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(process.hThread);
    ASSERT_TRUE(waitFor([&] { return viewerWindow() != nullptr && IsWindowVisible(viewerWindow()); }));

    DsHost host;
    OpenAndEnable(host, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 10000));  // closed at initialisation
    CloseHandle(process.hProcess);
    EXPECT_EQ(nullptr, viewerWindow());

    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    ASSERT_TRUE(waitFor([&] { return viewerWindow() != nullptr; }));  // started again
    PostMessageW(viewerWindow(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitFor([&] { return viewerWindow() == nullptr; }));
}
#endif

}  // namespace
