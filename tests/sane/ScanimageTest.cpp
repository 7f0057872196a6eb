// Debian's scanimage against the backend in the build tree (SANE_CONFIG_DIR
// with a dll.conf naming "kiv", LD_LIBRARY_PATH to the library): listing,
// options, the stepped-read test, PNM and PNG files checked pixel by pixel
// against the virtual camera's pattern, geometry in mm, gray, batches, a
// cancel by SIGINT, and the same through the emulated UVC camera.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/SimPattern.h"

namespace {

constexpr const char* kSim = "name=KIVCAMA;caps=mjpeg:320x240,mjpeg:160x120,yuy2:320x240;current=320x240;fps=200";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Picture {
    bool gray = false;
    int width = 0, height = 0;
    std::string pixels;
};

// A binary PNM (P5 or P6, maxval 255), comments skipped.
bool ParsePnm(const std::string& bytes, Picture& picture) {
    std::istringstream in(bytes);
    std::string magic;
    in >> magic;
    if (magic != "P5" && magic != "P6") return false;
    picture.gray = magic == "P5";
    int fields[3], n = 0;
    while (n < 3 && in) {
        in >> std::ws;
        if (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            continue;
        }
        in >> fields[n++];
    }
    if (n < 3 || fields[2] != 255) return false;
    in.get();
    picture.width = fields[0];
    picture.height = fields[1];
    picture.pixels.assign(std::istreambuf_iterator<char>(in), {});
    return picture.pixels.size() == static_cast<std::size_t>(picture.width) * picture.height * (picture.gray ? 1 : 3);
}

// Scan pixel (i, j) of a frame of width x height, trimmed (MJPEG) and cut at
// (cx, cy): the row map of the one-line trim, the columns unchanged.
kivtest::Rgb Expected(int i, int j, int height, bool trim, int cx, int cy) {
    const int y = cy + j;
    return kivtest::SimPixel(cx + i, trim ? 1 + y * (height - 2) / height : y);
}

// The largest difference of a channel from the expected picture, over every
// pixel (step 1) or a sample.
int WorstDifference(const Picture& p, int frameHeight, bool trim, int cx, int cy, int step = 1) {
    int worst = 0;
    for (int j = 0; j < p.height; j += step)
        for (int i = 0; i < p.width; i += step) {
            const kivtest::Rgb want = Expected(i, j, frameHeight, trim, cx, cy);
            const auto* px = reinterpret_cast<const unsigned char*>(p.pixels.data()) +
                             (static_cast<std::size_t>(j) * p.width + i) * (p.gray ? 1 : 3);
            if (p.gray) {
                worst = std::max(worst, std::abs(px[0] - ((77 * want.r + 150 * want.g + 29 * want.b + 128) >> 8)));
            } else {
                worst = std::max({worst, std::abs(px[0] - want.r), std::abs(px[1] - want.g), std::abs(px[2] - want.b)});
            }
        }
    return worst;
}

class Scanimage : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        dir_ = std::string(base && *base ? base : "/tmp") + "/kivsane-scanimage-" + std::to_string(getpid());
        mkdir(dir_.c_str(), 0700);
        env_["SANE_CONFIG_DIR"] = KIV_SANE_ETC;
        env_["LD_LIBRARY_PATH"] = KIV_SANE_LIBDIR;
        env_["LD_PRELOAD"] = KIV_SANE_PRELOAD;
        env_["ASAN_OPTIONS"] = "detect_leaks=0";  // scanimage's own allocations
        env_["KIVDS_CAMERA"] = "sim";
        env_["KIVDS_SIM"] = kSim;
        env_["KIVDS_LOG"] = dir_ + "/kiv.log";
        env_["KIVDS_LOG_LEVEL"] = "info";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Starts scanimage with the arguments; standard output and error go to
    // files of the test's directory.
    pid_t Spawn(const std::vector<std::string>& args) {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        const int out = open((dir_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open((dir_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(dir_.c_str()) != 0) _exit(126);
        for (const auto& [name, value] : env_) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv{const_cast<char*>("scanimage")};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp("scanimage", argv.data());
        _exit(127);
    }

    // The exit status (or 128 + signal).
    int Run(const std::vector<std::string>& args) {
        int status = 0;
        waitpid(Spawn(args), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string Out() const { return ReadFile(dir_ + "/stdout"); }
    std::string Err() const { return ReadFile(dir_ + "/stderr"); }
    std::string Device() const {
        return "kiv:usb-vid_1a3c-pid_0b21-mi_00-6-1f2e3d4c-0-0000-65e8773d-8f56-11d0-a3b9-00a0c9223196-global";
    }

    Picture Load(const std::string& name) {
        Picture p;
        EXPECT_TRUE(ParsePnm(ReadFile(dir_ + "/" + name), p)) << name << "\n" << Err();
        return p;
    }

    std::string dir_;
    std::map<std::string, std::string> env_;
};

TEST_F(Scanimage, ListsDescribesAndTestsTheVirtualCamera) {
    ASSERT_EQ(Run({"-L"}), 0) << Err();
    EXPECT_NE(Out().find("device `" + Device() + "' is a Orvan KIVCAMA video camera"), std::string::npos) << Out();
    ASSERT_EQ(Run({"-d", Device(), "-A"}), 0) << Err();
    for (const char* line : {"--mode Color|Gray [Color]", "--resolution 14|27dpi [27]", "-l 0..297mm [0]",
                             "-x 0..297mm [297]", "-y 0..222.75mm [222.75]", "--zoom 1..8 (in steps of 0.25) [1]"})
        EXPECT_NE(Out().find(line), std::string::npos) << line << "\n" << Out();
    // The stepped-read test: reads of every size, all the way to EOF.
    EXPECT_EQ(Run({"-d", Device(), "-T", "--settle-time", "0", "--resolution", "14"}), 0) << Err();
}

TEST_F(Scanimage, PnmAndPngAreThePatternWithTrimGeometryAndGray) {
    ASSERT_EQ(Run({"-d", Device(), "--settle-time", "0", "--format=pnm", "-o", "full.pnm"}), 0) << Err();
    Picture full = Load("full.pnm");
    EXPECT_EQ(full.width, 320);
    EXPECT_EQ(full.height, 240);
    EXPECT_EQ(WorstDifference(full, 240, true, 0, 0), 0);

    // -l/-t/-x/-y in mm (320 px over 297 mm): 25 mm -> 26.94 -> 27 px,
    // 40 mm -> 43.10 -> 43 px, width 100 mm to 125 mm -> 134.68 -> 135 px,
    // height 50 mm to 90 mm -> 96.97 -> 97 px.
    ASSERT_EQ(Run({"-d", Device(), "--settle-time", "0", "-l", "25", "-t", "40", "-x", "100", "-y", "50", "--mode",
                   "Gray", "--format=pnm", "-o", "cut.pgm"}),
              0)
        << Err();
    Picture cut = Load("cut.pgm");
    EXPECT_TRUE(cut.gray);
    EXPECT_EQ(cut.width, 135 - 27);
    EXPECT_EQ(cut.height, 97 - 43);
    EXPECT_EQ(WorstDifference(cut, 240, true, 27, 43), 0);

    ASSERT_EQ(Run({"-d", Device(), "--settle-time", "0", "--frame-format", "YUY2", "--format=png", "-o", "yuy2.png"}),
              0)
        << Err();
    ASSERT_EQ(std::system(("convert '" + dir_ + "/yuy2.png' '" + dir_ + "/yuy2.ppm'").c_str()), 0);
    Picture png = Load("yuy2.ppm");
    EXPECT_EQ(png.width, 320);
    EXPECT_EQ(WorstDifference(png, 240, false, 0, 0), 0);  // YUY2: no trim
}

TEST_F(Scanimage, ABatchOfThreeReusesTheStreamingCamera) {
    ASSERT_EQ(Run({"-d", Device(), "--settle-time", "0", "--resolution", "14", "--batch=page%d.pnm", "--batch-count=3",
                   "--format=pnm"}),
              0)
        << Err();
    for (int page = 1; page <= 3; ++page) {
        Picture p = Load("page" + std::to_string(page) + ".pnm");
        EXPECT_EQ(p.width, 160);
        EXPECT_EQ(WorstDifference(p, 120, true, 0, 0), 0) << page;
    }
    // One start of the camera for the three pages.
    const std::string log = ReadFile(dir_ + "/kiv.log");
    std::size_t starts = 0;
    for (std::size_t at = log.find("streams MJPEG"); at != std::string::npos; at = log.find("streams MJPEG", at + 1))
        ++starts;
    EXPECT_EQ(starts, 1u) << log;
}

TEST_F(Scanimage, SigintCancelsAScanThatIsWaitingForTheCamera) {
    const pid_t pid = Spawn({"-d", Device(), "--settle-time", "10000", "--format=pnm", "-o", "never.pnm"});
    // The camera streams (logged), the settle time runs: interrupt it.
    while (ReadFile(dir_ + "/kiv.log").find("streams MJPEG") == std::string::npos) usleep(10000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "scanimage died of a signal";
    EXPECT_NE(Err().find("sane_start: Operation was cancel"), std::string::npos) << Err();
}

TEST_F(Scanimage, TheEmulatedUvcCameraThroughV4l2) {
    env_["LD_PRELOAD"] = std::string(KIV_SANE_PRELOAD) + (std::string(KIV_SANE_PRELOAD).empty() ? "" : ":") +
                         KIV_UVCEMUL;
    env_["UVCEMUL_CAMERA"] = "yuyv";
    env_["KIVDS_CAMERA"] = "";  // the platform's own backend
    ASSERT_EQ(Run({"-L"}), 0) << Err();
    const std::string list = Out();
    const std::size_t quote = list.find("device `kiv:");
    ASSERT_NE(quote, std::string::npos) << list;
    const std::string device = list.substr(quote + 8, list.find('\'', quote) - quote - 8);
    EXPECT_EQ(device.find("kiv:usb-vid_1a3c-pid_"), 0u) << device;
    EXPECT_NE(list.find("' is a Orvan "), std::string::npos) << list;
    EXPECT_NE(list.find(" video camera"), std::string::npos) << list;
    ASSERT_EQ(Run({"-d", device, "--settle-time", "0", "--resolution", "55", "--format=pnm", "-o", "v4l2.pnm"}), 0)
        << Err();
    Picture p = Load("v4l2.pnm");
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    EXPECT_LE(WorstDifference(p, 480, false, 0, 0, 7), 4);  // the YUV 4:2:2 round trip of the pattern
}

}  // namespace
