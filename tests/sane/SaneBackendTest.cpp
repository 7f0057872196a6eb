// The backend through its entry points, with the virtual camera: option
// descriptors and their invariants, the info flags, scans checked pixel by
// pixel, blocking and non-blocking reads with the select descriptor, cancel
// from another thread and from a signal handler, one camera per process,
// init/exit cycles, and the camera's faults injected through KIVDS_SIM.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "kivds/camera/sim/SimPattern.h"
#include "sane/SaneHarness.h"
#include "support/ScopedEnv.h"

namespace kivtest {
namespace {

// Small frames keep the pixel checks quick; MJPEG gets the one-line trim.
constexpr const char* kSim = "name=KIVCAMA;caps=mjpeg:320x240,mjpeg:160x120,yuy2:320x240;current=320x240;fps=200";

std::string TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/kivsane-test-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    return dir;
}

class SaneBackend : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Sane().init(nullptr, nullptr), SANE_STATUS_GOOD); }
    void TearDown() override {
        Sane().exit();
        std::remove((dir_ + "/kiv.log").c_str());
        std::remove((dir_ + "/kiv.conf").c_str());
        rmdir(dir_.c_str());
    }

    SANE_Handle Open() {
        SANE_Handle h = nullptr;
        EXPECT_EQ(Sane().open("", &h), SANE_STATUS_GOOD);
        if (h) {
            EXPECT_EQ(SetWord(h, "settle-time", 0), SANE_STATUS_GOOD);
        }
        return h;
    }

    std::string dir_ = TempDir();
    ScopedEnv camera_{"KIVDS_CAMERA", "sim"};
    ScopedEnv sim_{"KIVDS_SIM", kSim};
    ScopedEnv config_{"SANE_CONFIG_DIR", dir_.c_str()};
    ScopedEnv log_{"KIVDS_LOG", (dir_ + "/kiv.log").c_str()};
};

// The expected pixel (i, j) of a scan of a width x height frame: zoom z
// (source rectangle as the camera logic centres it, with the MJPEG trim when
// it starts at the top), then the cut at (cx, cy).
struct Expect {
    int width, height;
    double zoom = 1.0;
    bool trim = true;
    int cx = 0, cy = 0;

    kiv::sim::PatternPixel At(int i, int j) const {
        int w = static_cast<int>(width / zoom), h = static_cast<int>(height / zoom);
        const int left = (width - w) / 2;
        int top = (height - h) / 2;
        if (top == 0 && trim) top = 1, h -= 2;
        const int x = cx + i, y = cy + j;
        return kiv::sim::PatternAt(left + x * w / width, top + y * h / height);
    }
};

// Number of pixels that differ; the first is reported.
int CountMismatches(const std::vector<unsigned char>& data, const SANE_Parameters& p, const Expect& e) {
    int bad = 0;
    for (int j = 0; j < p.lines; ++j)
        for (int i = 0; i < p.pixels_per_line; ++i) {
            const kiv::sim::PatternPixel want = e.At(i, j);
            const unsigned char* got = &data[static_cast<std::size_t>(j) * p.bytes_per_line +
                                             static_cast<std::size_t>(i) * (p.format == SANE_FRAME_RGB ? 3 : 1)];
            bool same;
            if (p.format == SANE_FRAME_RGB) same = got[0] == want.r && got[1] == want.g && got[2] == want.b;
            else same = got[0] == ((77 * want.r + 150 * want.g + 29 * want.b + 128) >> 8);
            if (!same && bad++ == 0) ADD_FAILURE() << "first wrong pixel " << i << "," << j;
        }
    return bad;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(SaneBackend, DevicesAreVideoCamerasNamedFromTheirPathWithoutPrefix) {
    ScopedEnv two("KIVDS_SIM",
                  "name=ORVAN KIVCAMB;path=usb#vid_1a3c&pid_0b22#sn_1#0|"
                  "name=Other;path=usb#vid_046d&pid_0825#sn_2#0|"
                  "name=ORVAN KIVCAMC;path=usb#vid_1a3c&pid_0b23#port_1-2#0;caps=yuy2:640x480");
    const SANE_Device** list = nullptr;
    ASSERT_EQ(Sane().get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    std::vector<std::string> names;
    for (; *list; ++list) {
        names.emplace_back((*list)->name);
        EXPECT_STREQ((*list)->vendor, "Orvan");
        EXPECT_STREQ((*list)->type, "video camera");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"usb-vid_1a3c-pid_0b22-sn_1-0", "usb-vid_1a3c-pid_0b23-port_1-2-0"}));

    // Another maker's camera only when kiv.conf allows any UVC camera.
    { std::ofstream(dir_ + "/kiv.conf") << "any-uvc  # every camera\n"; }
    Sane().exit();
    ASSERT_EQ(Sane().init(nullptr, nullptr), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    int count = 0;
    for (; *list; ++list) ++count;
    EXPECT_EQ(count, 3);
    std::remove((dir_ + "/kiv.conf").c_str());

    SANE_Handle h = nullptr;
    // The named camera, not the first: its one format and size.
    ASSERT_EQ(Sane().open("usb-vid_1a3c-pid_0b23-port_1-2-0", &h), SANE_STATUS_GOOD);
    const SANE_Option_Descriptor* format = Sane().get_option_descriptor(h, FindOption(h, "frame-format"));
    EXPECT_STREQ(format->constraint.string_list[0], "YUY2");
    EXPECT_EQ(format->constraint.string_list[1], nullptr);
    Sane().close(h);
    EXPECT_EQ(Sane().open("no-such-camera", &h), SANE_STATUS_INVAL);
}

TEST_F(SaneBackend, KivConfAndSaneDebugKivAreReadAtInit) {
    Sane().exit();
    { std::ofstream(dir_ + "/kiv.conf") << "# a desk of A4 width\nfield-of-view 148.5\nbogus line\n"; }
    {
        ScopedEnv quiet("SANE_DEBUG_KIV", "1");  // errors only
        ASSERT_EQ(Sane().init(nullptr, nullptr), SANE_STATUS_GOOD);
    }
    const std::string errorsOnly = ReadFile(dir_ + "/kiv.log");
    EXPECT_NE(errorsOnly.find("kiv.conf line 3 ignored: bogus line"), std::string::npos) << errorsOnly;
    EXPECT_EQ(errorsOnly.find("sane.init"), std::string::npos) << errorsOnly;
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    const SANE_Option_Descriptor* res = Sane().get_option_descriptor(h, FindOption(h, "resolution"));
    ASSERT_EQ(res->constraint.word_list[0], 2);
    EXPECT_EQ(res->constraint.word_list[1], 27);  // 160 px over 148.5 mm
    EXPECT_EQ(res->constraint.word_list[2], 55);
    Sane().exit();
    ScopedEnv info("SANE_DEBUG_KIV", "3");
    ASSERT_EQ(Sane().init(nullptr, nullptr), SANE_STATUS_GOOD);
    EXPECT_NE(ReadFile(dir_ + "/kiv.log").find("info sane.init: field of view 148.5 mm"), std::string::npos);
}

TEST_F(SaneBackend, DescriptorsKeepTheStandardsInvariants) {
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    const SANE_Option_Descriptor* zero = Sane().get_option_descriptor(h, 0);
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->type, SANE_TYPE_INT);
    EXPECT_FALSE(SANE_OPTION_IS_SETTABLE(zero->cap));
    SANE_Word count = 0;
    ASSERT_EQ(Sane().control_option(h, 0, SANE_ACTION_GET_VALUE, &count, nullptr), SANE_STATUS_GOOD);
    EXPECT_EQ(Sane().get_option_descriptor(h, count), nullptr);
    EXPECT_EQ(Sane().get_option_descriptor(h, -1), nullptr);
    std::set<std::string> names;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = Sane().get_option_descriptor(h, i);
        ASSERT_TRUE(d) << i;
        if (d->type == SANE_TYPE_GROUP) {
            EXPECT_EQ(Sane().control_option(h, i, SANE_ACTION_GET_VALUE, &count, nullptr), SANE_STATUS_INVAL);
            continue;
        }
        EXPECT_TRUE(names.insert(d->name).second) << d->name;
        if (d->type != SANE_TYPE_STRING) {
            EXPECT_EQ(d->size, static_cast<SANE_Int>(sizeof(SANE_Word))) << d->name;
        }
        if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
            EXPECT_LE(d->constraint.range->min, d->constraint.range->max);
        }
        if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
            EXPECT_GT(d->constraint.word_list[0], 0) << d->name;
        }
        if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
            ASSERT_TRUE(d->constraint.string_list[0]) << d->name;
            for (auto s = d->constraint.string_list; *s; ++s)
                EXPECT_LT(static_cast<SANE_Int>(std::strlen(*s)), d->size) << d->name;
        }
        // Every active value can be read, and its value is inside its constraint.
        if (!SANE_OPTION_IS_ACTIVE(d->cap)) continue;
        std::vector<char> value(static_cast<std::size_t>(d->size) + 1);
        ASSERT_EQ(Sane().control_option(h, i, SANE_ACTION_GET_VALUE, value.data(), nullptr), SANE_STATUS_GOOD)
            << d->name;
        SANE_Word word;
        std::memcpy(&word, value.data(), sizeof word);
        if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
            EXPECT_GE(word, d->constraint.range->min) << d->name;
            EXPECT_LE(word, d->constraint.range->max) << d->name;
        }
    }
    for (const char* name : {"mode", "resolution", "preview", "tl-x", "tl-y", "br-x", "br-y", "frame-format", "zoom",
                             "settle-time", "keep-streaming", "zoom-in", "zoom-out"})
        EXPECT_EQ(names.count(name), 1u) << name;
    // Resolution: one nominal dpi per MJPEG frame size over 297 mm.
    const SANE_Option_Descriptor* res = Sane().get_option_descriptor(h, FindOption(h, "resolution"));
    ASSERT_EQ(res->constraint.word_list[0], 2);
    EXPECT_EQ(res->constraint.word_list[1], 14);  // 160 px * 25.4 / 297
    EXPECT_EQ(res->constraint.word_list[2], 27);
    EXPECT_EQ(GetWord(h, "resolution"), 27);  // the camera's current size
    // Sensors are read-only, and model A's buttons rest.
    SANE_Word pressed = SANE_TRUE;
    EXPECT_EQ(SetWord(h, "zoom-in", SANE_TRUE), SANE_STATUS_INVAL);
    EXPECT_EQ(GetWord(h, "zoom-in"), SANE_FALSE);
    EXPECT_EQ(Sane().control_option(h, count + 3, SANE_ACTION_GET_VALUE, &pressed, nullptr), SANE_STATUS_INVAL);
    Sane().close(h);

    // A model without buttons has its sensors inactive.
    ScopedEnv modelC("KIVDS_SIM", "name=ORVAN KIVCAMC;path=usb#vid_1a3c&pid_0b23#sn_3#0;caps=yuy2:320x240");
    h = Open();
    ASSERT_TRUE(h);
    const SANE_Option_Descriptor* in = Sane().get_option_descriptor(h, FindOption(h, "zoom-in"));
    EXPECT_FALSE(SANE_OPTION_IS_ACTIVE(in->cap));
    EXPECT_EQ(Sane().control_option(h, FindOption(h, "zoom-in"), SANE_ACTION_GET_VALUE, &pressed, nullptr),
              SANE_STATUS_INVAL);
}

TEST_F(SaneBackend, SettingOptionsReportsInexactValuesAndWhatToReload) {
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    SANE_Int info = -1;
    // A dpi between the list's values: the nearest, INEXACT, written back.
    SANE_Word dpi = 16;
    ASSERT_EQ(Sane().control_option(h, FindOption(h, "resolution"), SANE_ACTION_SET_VALUE, &dpi, &info),
              SANE_STATUS_GOOD);
    EXPECT_EQ(dpi, 14);
    EXPECT_EQ(info, SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    SANE_Parameters p;
    ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(p.pixels_per_line, 160);
    EXPECT_EQ(p.lines, 120);
    // The same value again changes nothing.
    EXPECT_EQ(SetWord(h, "resolution", 14, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, 0);

    // Zoom: quantised to steps of 0.25; the surface shrinks by it and the
    // bottom-right edge at the end of the surface follows it.
    SANE_Word zoom = SANE_FIX(2.1);
    ASSERT_EQ(Sane().control_option(h, FindOption(h, "zoom"), SANE_ACTION_SET_VALUE, &zoom, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(zoom, SANE_FIX(2.0));
    EXPECT_EQ(info, SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    const SANE_Option_Descriptor* brx = Sane().get_option_descriptor(h, FindOption(h, "br-x"));
    EXPECT_EQ(brx->constraint.range->max, SANE_FIX(148.5));
    EXPECT_EQ(GetWord(h, "br-x"), SANE_FIX(148.5));
    EXPECT_EQ(GetWord(h, "resolution"), 27);  // the 160-pixel frame over 148.5 mm

    // Strings: the list's spelling, exact or INEXACT; others refused.
    std::string mode = "gray";
    ASSERT_EQ(SetString(h, "mode", mode, &info), SANE_STATUS_GOOD);
    EXPECT_STREQ(mode.c_str(), "Gray");
    EXPECT_EQ(info, SANE_INFO_INEXACT | SANE_INFO_RELOAD_PARAMS);
    ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(p.format, SANE_FRAME_GRAY);
    EXPECT_EQ(p.bytes_per_line, 160);
    mode = "Lineart";
    EXPECT_EQ(SetString(h, "mode", mode, &info), SANE_STATUS_INVAL);
    EXPECT_EQ(SetWord(h, "preview", 7), SANE_STATUS_INVAL);  // not a SANE_Bool

    // A format change reloads the resolutions (YUY2 has one size here).
    std::string format = "YUY2";
    ASSERT_EQ(SetString(h, "frame-format", format, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    EXPECT_EQ(Sane().get_option_descriptor(h, FindOption(h, "resolution"))->constraint.word_list[0], 1);
    EXPECT_EQ(Sane().control_option(h, FindOption(h, "mode"), SANE_ACTION_SET_AUTO, nullptr, &info), SANE_STATUS_INVAL);
}

TEST_F(SaneBackend, ScansArePixelExactWithTrimZoomCutAndGray) {
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    std::vector<unsigned char> data;
    SANE_Parameters p;

    // The whole MJPEG frame: trimmed by one line top and bottom, stretched back.
    // Odd chunks: rows split across reads.
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(p.pixels_per_line, 320);
    EXPECT_EQ(p.lines, 240);
    EXPECT_EQ(ReadAll(h, data, 1001), SANE_STATUS_EOF);
    ASSERT_EQ(data.size(), 320u * 3 * 240);
    EXPECT_EQ(CountMismatches(data, p, Expect{320, 240}), 0);
    Sane().cancel(h);

    // 2x zoom, a cut in mm (surface 148.5 mm over 320 px), gray; the camera
    // keeps streaming from the last scan.
    ASSERT_EQ(SetWord(h, "zoom", SANE_FIX(2.0)), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "tl-x", SANE_FIX(10.0)), SANE_STATUS_GOOD);   // 21.55 -> 22 px
    ASSERT_EQ(SetWord(h, "tl-y", SANE_FIX(20.0)), SANE_STATUS_GOOD);   // 43.10 -> 43 px
    ASSERT_EQ(SetWord(h, "br-x", SANE_FIX(100.0)), SANE_STATUS_GOOD);  // 215.49 -> 215 px
    ASSERT_EQ(SetWord(h, "br-y", SANE_FIX(50.0)), SANE_STATUS_GOOD);   // 107.74 -> 108 px
    std::string gray = "Gray";
    ASSERT_EQ(SetString(h, "mode", gray), SANE_STATUS_GOOD);
    SANE_Parameters estimate;
    ASSERT_EQ(Sane().get_parameters(h, &estimate), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(p.pixels_per_line, 193);
    EXPECT_EQ(p.lines, 65);
    EXPECT_EQ(estimate.pixels_per_line, p.pixels_per_line);
    EXPECT_EQ(estimate.lines, p.lines);
    EXPECT_EQ(ReadAll(h, data, 4096), SANE_STATUS_EOF);
    ASSERT_EQ(data.size(), 193u * 65);
    EXPECT_EQ(CountMismatches(data, p, Expect{320, 240, 2.0, true, 22, 43}), 0);
    Sane().cancel(h);

    // YUY2 is not trimmed; preview takes the smallest frame of 640 or more
    // (here the widest) and leaves the other options as they are.
    std::string format = "YUY2", color = "Color";
    ASSERT_EQ(SetString(h, "frame-format", format), SANE_STATUS_GOOD);
    ASSERT_EQ(SetString(h, "mode", color), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "zoom", SANE_FIX(1.0)), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "tl-x", 0), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "tl-y", 0), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "br-x", SANE_FIX(297.0)), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "br-y", SANE_FIX(297.0)), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(h, "preview", SANE_TRUE), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(ReadAll(h, data, 320 * 3 * 7), SANE_STATUS_EOF);
    ASSERT_EQ(data.size(), 320u * 3 * 240);
    EXPECT_EQ(CountMismatches(data, p, Expect{320, 240, 1.0, false}), 0);
    EXPECT_EQ(GetWord(h, "br-x"), SANE_FIX(297.0));
}

TEST_F(SaneBackend, NonBlockingReadsFollowTheSelectDescriptor) {
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    SANE_Int fd = -1;
    EXPECT_EQ(Sane().set_io_mode(h, SANE_TRUE), SANE_STATUS_INVAL);  // before a scan
    EXPECT_EQ(Sane().get_select_fd(h, &fd), SANE_STATUS_INVAL);
    ASSERT_EQ(SetWord(h, "resolution", 14), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().set_io_mode(h, SANE_TRUE), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().get_select_fd(h, &fd), SANE_STATUS_GOOD);
    std::vector<unsigned char> data, chunk(10000);
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        ASSERT_EQ(poll(&ready, 1, 10000), 1) << "the descriptor must be readable while data is left";
        SANE_Int length = 0;
        ASSERT_EQ(Sane().read(h, chunk.data(), static_cast<SANE_Int>(chunk.size()), &length), SANE_STATUS_GOOD);
        ASSERT_GT(length, 0);
        data.insert(data.end(), chunk.begin(), chunk.begin() + length);
        if (data.size() == 160u * 3 * 120) break;
    }
    // Closed once the next read gives EOF.
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    SANE_Int length = -1;
    EXPECT_EQ(Sane().read(h, chunk.data(), 100, &length), SANE_STATUS_EOF);
    EXPECT_EQ(length, 0);
    SANE_Parameters p;
    ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
    EXPECT_EQ(CountMismatches(data, p, Expect{160, 120}), 0);
}

std::atomic<SANE_Handle> g_signalHandle{nullptr};
void CancelOnSignal(int) { Sane().cancel(g_signalHandle.load()); }

TEST_F(SaneBackend, CancelFromAnotherThreadOrASignalHandlerEndsTheWaitOrTheRead) {
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    // A settle time no test waits for: only the cancel ends the start.
    ASSERT_EQ(SetWord(h, "settle-time", 10000), SANE_STATUS_GOOD);
    std::atomic<bool> started{true};
    std::thread canceller([&] {
        while (started) {
            Sane().cancel(h);
            usleep(5000);
        }
    });
    EXPECT_EQ(Sane().start(h), SANE_STATUS_CANCELLED);
    started = false;
    canceller.join();

    // From a signal handler, repeating until the start gives up.
    g_signalHandle = h;
    struct sigaction action {};
    action.sa_handler = CancelOnSignal;
    struct sigaction saved {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &saved), 0);
    itimerval every{{0, 5000}, {0, 5000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    EXPECT_EQ(Sane().start(h), SANE_STATUS_CANCELLED);
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);

    // During the read: the next read is CANCELLED, and the device scans again.
    ASSERT_EQ(SetWord(h, "settle-time", 0), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
    std::vector<unsigned char> chunk(1000);
    SANE_Int length = 0;
    ASSERT_EQ(Sane().read(h, chunk.data(), 1000, &length), SANE_STATUS_GOOD);
    raise(SIGALRM);
    EXPECT_EQ(Sane().read(h, chunk.data(), 1000, &length), SANE_STATUS_CANCELLED);
    EXPECT_EQ(length, 0);
    sigaction(SIGALRM, &saved, nullptr);
    Sane().cancel(h);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
    std::vector<unsigned char> data;
    EXPECT_EQ(ReadAll(h, data, 65536), SANE_STATUS_EOF);
    EXPECT_EQ(data.size(), 320u * 3 * 240);
}

TEST_F(SaneBackend, OneCameraPerProcessAndExitEndsEverything) {
    SANE_Handle h = Open();
    ASSERT_TRUE(h);
    SANE_Handle second = nullptr;
    EXPECT_EQ(Sane().open("", &second), SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(second, nullptr);
    Sane().close(h);
    h = Open();
    ASSERT_TRUE(h);
    // Exit with a handle open, a scan half read and the camera streaming;
    // again and again (the sanitizer sees any thread or buffer left).
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
        std::vector<unsigned char> chunk(5000);
        SANE_Int length = 0;
        ASSERT_EQ(Sane().read(h, chunk.data(), 5000, &length), SANE_STATUS_GOOD);
        Sane().exit();
        ASSERT_EQ(Sane().init(nullptr, nullptr), SANE_STATUS_GOOD);
        h = Open();
        ASSERT_TRUE(h);
    }
    EXPECT_EQ(Sane().start(nullptr), SANE_STATUS_INVAL);
}

TEST_F(SaneBackend, CameraFaultsMapToStatusesWithTheirReasonAndPass) {
    SANE_Handle h = nullptr;
    {
        ScopedEnv busy("KIVDS_SIM", (std::string(kSim) + ";fail=run:busy").c_str());
        h = Open();
        ASSERT_TRUE(h);
        EXPECT_EQ(Sane().start(h), SANE_STATUS_DEVICE_BUSY);
    }
    EXPECT_NE(ReadFile(dir_ + "/kiv.log").find("camera in use by another program"), std::string::npos);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);  // the other program let go
    Sane().cancel(h);
    Sane().close(h);

    // Lost while settling.
    {
        ScopedEnv lost("KIVDS_SIM", (std::string(kSim) + ";lose=3").c_str());
        h = Open();
        ASSERT_TRUE(h);
        ASSERT_EQ(SetWord(h, "settle-time", 10000), SANE_STATUS_GOOD);
        EXPECT_EQ(Sane().start(h), SANE_STATUS_IO_ERROR);
    }
    EXPECT_NE(ReadFile(dir_ + "/kiv.log").find("settle"), std::string::npos);
    ASSERT_EQ(SetWord(h, "settle-time", 0), SANE_STATUS_GOOD);
    ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);  // plugged in again
    Sane().cancel(h);
    Sane().close(h);

    // Lost while the frontend reads: the still is whole, the next start
    // reports the loss (within its settle time at the latest; 400 frames
    // are 2 s at 200 fps).
    {
        ScopedEnv lost("KIVDS_SIM", (std::string(kSim) + ";lose=400").c_str());
        h = Open();
        ASSERT_TRUE(h);
        ASSERT_EQ(Sane().start(h), SANE_STATUS_GOOD);
        std::vector<unsigned char> data;
        EXPECT_EQ(ReadAll(h, data, 777), SANE_STATUS_EOF);
        SANE_Parameters p;
        ASSERT_EQ(Sane().get_parameters(h, &p), SANE_STATUS_GOOD);
        EXPECT_EQ(CountMismatches(data, p, Expect{320, 240}), 0);
        Sane().cancel(h);
        ASSERT_EQ(SetWord(h, "settle-time", 10000), SANE_STATUS_GOOD);
        EXPECT_EQ(Sane().start(h), SANE_STATUS_IO_ERROR);
    }
    ASSERT_EQ(SetWord(h, "settle-time", 0), SANE_STATUS_GOOD);
    EXPECT_EQ(Sane().start(h), SANE_STATUS_GOOD);
}

}  // namespace
}  // namespace kivtest
