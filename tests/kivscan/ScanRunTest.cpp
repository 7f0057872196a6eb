// Whole kivscan runs against the built data source with the virtual camera:
// each mechanism delivers the camera's pattern into BMP and TIFF files, and
// failures end with the condition code's name and the source's message.
// Every acquisition waits the source's 5 s start, so there are few of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "kivscan/ReadBack.h"
#include "support/DsHost.h"
#include "support/SimPattern.h"
#include "tools/kivscan/ScanPlatform.h"
#include "tools/kivscan/Scanner.h"

using namespace kiv::scan;

using kivscantest::TempPath;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

RunResult Scan(std::vector<std::string> args) {
    Options options;
    std::string error;
    EXPECT_TRUE(ParseOptions(args, kivtest::DataSourcePath(), options, error)) << error;
    std::ostringstream out, err;
    RunResult run;
    run.status = RunScan(options, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// Source row of picture row y for an MJPEG stream, whose still loses its
// first and last line and is stretched back to H rows.
int TrimmedRow(int y, int height) { return 1 + y * (height - 2) / height; }

// Compares every pixel with the pattern; `mjpeg` applies the trim,
// (left, top) is the frame's origin in the camera picture.
void ExpectPattern(const RgbPicture& picture, int width, int height, bool mjpeg, int left = 0, int top = 0,
                   int cameraHeight = 0) {
    ASSERT_EQ(width, picture.width);
    ASSERT_EQ(height, picture.height);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int sourceY = mjpeg ? TrimmedRow(y + top, cameraHeight ? cameraHeight : height) : y + top;
            const kivtest::Rgb want = kivtest::SimPixel(x + left, sourceY);
            const std::uint8_t* got = picture.Pixel(x, y);
            if (got[0] != want.r || got[1] != want.g || got[2] != want.b) {
                if (++wrong <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(got[0]) << "," << int(got[1]) << ","
                                  << int(got[2]) << " instead of " << int(want.r) << "," << int(want.g) << ","
                                  << int(want.b);
            }
        }
    EXPECT_EQ(0, wrong);
}

class ScanRun : public ::testing::Test {
protected:
    void SetUp() override {
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::UnsetEnv("KIVDS_SIM");
    }
    void TearDown() override {
        for (const std::string& path : files_) std::remove(path.c_str());
    }
    std::string File(const std::string& name) {
        files_.push_back(TempPath(name));
        std::remove(files_.back().c_str());
        return files_.back();
    }

private:
    std::vector<std::string> files_;
};

// An MJPEG camera (wider than 256 pixels so that blue changes too) through
// memory strips into a TIFF assembled by kivscan.
TEST_F(ScanRun, MemoryTransferIntoTiff) {
    const std::string path = File("kivscan_memory.tif");
    const RunResult run = Scan({"--virtual=caps=mjpeg:640x480", "--xfer", "memory", "--format", "tiff", "-o", path});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("Done: 1 picture 640x480, memory transfer, TIFF")) << run.out;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadTiff(path, picture));
    ExpectPattern(picture, 640, 480, true);
}

// Through the source's dialog, driven by its script: the size picked there
// is the picture's size; without a script each picture is one capture.
TEST_F(ScanRun, DialogScriptPicksTheSizeOfThePicture) {
    kivtest::ScopedEnv script("KIVDS_UI_SCRIPT", nullptr);
    const std::string path = File("kivscan_ui.bmp");
    const RunResult run = Scan(
        {"--virtual=caps=mjpeg:640x480,mjpeg:320x240", "--ui-script", "frame;size=320x240;frame;capture", "-o", path});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadBmp(path, picture));
    ExpectPattern(picture, 320, 240, true);

    kivtest::UnsetEnv("KIVDS_UI_SCRIPT");  // kivscan sets it for the process
    const RunResult two = Scan({"--virtual=caps=yuy2:320x240", "--ui", "--count", "2", "-o", path});
    ASSERT_EQ(kExitOk, two.status) << two.out << two.err;
    EXPECT_NE(std::string::npos, two.out.find("Image 2 of 2")) << two.out;
}

// A YUY2 camera of the default model is untouched: the DIB must come out as
// the exact pattern, right side up, in a BMP.
TEST_F(ScanRun, NativeTransferIntoBmp) {
    const std::string path = File("kivscan_native.bmp");
    const RunResult run = Scan(
        {"--virtual=name=KIVCAMA;caps=yuy2:322x260", "--xfer", "native", "--format", "bmp", "-o", path});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadBmp(path, picture));
    ExpectPattern(picture, 322, 260, false);
}

// A frame set with --layout: the native DIB holds that part of the camera
// picture, written as TIFF.
TEST_F(ScanRun, NativeTransferOfALayoutIntoTiff) {
    const std::string path = File("kivscan_layout.tif");
    const RunResult run = Scan({"--virtual=name=KIVCAMA;caps=yuy2:640x480", "--xfer", "native", "--format", "tiff",
                                "--layout", "200,250,470,400", "-o", path});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadTiff(path, picture));
    ExpectPattern(picture, 270, 150, false, 200, 250);
}

// The file transfer: the source writes the file kivscan names, in the
// format kivscan asks for.
TEST_F(ScanRun, FileTransferWritesBmpAndTiff) {
    const std::string bmp = File("kivscan_file.bmp");
    RunResult run = Scan({"--virtual=caps=mjpeg:320x240", "--xfer", "file", "--format", "bmp", "-o", bmp});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadBmp(bmp, picture));
    ExpectPattern(picture, 320, 240, true);

    const std::string tiff = File("kivscan_file.tif");
    run = Scan({"--virtual=caps=mjpeg:320x240", "--xfer", "file", "--format", "tiff", "-o", tiff});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    ASSERT_TRUE(kivscantest::ReadTiff(tiff, picture));
    ExpectPattern(picture, 320, 240, true);
}

TEST_F(ScanRun, ACameraInUseEndsWithTheConditionNameAndTheSourcesMessage) {
    const std::string path = File("kivscan_busy.bmp");
    const RunResult run = Scan({"--virtual=caps=mjpeg:640x480;fail=run:busy", "--verbose", "-o", path});
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_NE(std::string::npos, run.err.find("MSG_ENABLEDS failed: CC_CAMERA_IN_USE (0x8002)")) << run.err;
    // The source's own message box text, which it printed on standard error.
    EXPECT_NE(std::string::npos, run.err.find("the source says: [")) << run.err;
    // --verbose shows the triplet with its return and condition code by name.
    EXPECT_NE(std::string::npos,
              run.out.find("DG_CONTROL / DAT_USERINTERFACE / MSG_ENABLEDS -> TWRC_FAILURE, CC_CAMERA_IN_USE"))
        << run.out;
    // The source was closed again on the way out.
    EXPECT_NE(std::string::npos, run.out.find("MSG_CLOSEDS -> TWRC_SUCCESS")) << run.out;
    FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_EQ(nullptr, file) << "no picture file after a failure";
    if (file) std::fclose(file);
}

TEST_F(ScanRun, NoCameraOrNoSourceFileFailsBeforeAnyWait) {
    RunResult run = Scan({"--virtual=none", "-o", TempPath("kivscan_none.bmp")});
    EXPECT_EQ(kExitFailure, run.status);
    // The source tells why, while still closed, and kivscan names it.
    EXPECT_NE(std::string::npos, run.err.find("MSG_OPENDS failed: CC_CAMERA_DISCONNECTED (0x8001)")) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("no reason")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("the source says: [")) << run.err;

    run = Scan({"--source-file", TempPath("no-such-source.ds"), "-o", TempPath("kivscan_none.bmp")});
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_NE(std::string::npos, run.err.find("cannot load the data source")) << run.err;
}

// Checks that need no camera start: the place of the picture and the frame.
TEST_F(ScanRun, BadOutputPathsAndLayoutsFailBeforeTheCameraStarts) {
    const std::string missingDir = TempPath("kivscan-no-such-dir");
    std::remove(missingDir.c_str());
    RunResult run = Scan({"--virtual=caps=mjpeg:320x240", "-o", missingDir + "/page.bmp"});
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_NE(std::string::npos, run.err.find("does not exist (--create-dirs creates it)")) << run.err;
    EXPECT_EQ(std::string::npos, run.out.find("Source:")) << "the source was opened: " << run.out;
    FILE* created = std::fopen((missingDir + "/page.bmp").c_str(), "rb");
    EXPECT_EQ(nullptr, created);
    if (created) std::fclose(created);

    // A "directory" that is a file.
    const std::string plain = File("kivscan_plain_file");
    FILE* file = std::fopen(plain.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    run = Scan({"--virtual=caps=mjpeg:320x240", "-o", plain + "/page.bmp", "--create-dirs"});
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_NE(std::string::npos, run.err.find("is not a directory")) << run.err;

    // A frame beyond the camera's picture is refused after the open, before
    // MSG_ENABLEDS and its start-up wait.
    run = Scan(
        {"--virtual=caps=mjpeg:320x240", "--layout", "0,0,400,240", "--verbose", "-o", File("kivscan_layout.bmp")});
    EXPECT_EQ(kExitFailure, run.status);
    EXPECT_NE(std::string::npos, run.err.find("--layout 0,0,400,240 does not fit the camera's 320x240 picture"))
        << run.err;
    EXPECT_EQ(std::string::npos, run.out.find("MSG_ENABLEDS")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("MSG_CLOSEDS -> TWRC_SUCCESS")) << run.out;
}

TEST_F(ScanRun, CreateDirsMakesTheMissingDirectories) {
    const std::string dir = TempPath("kivscan-made-dir");
    const std::string path = dir + "/sub/page.bmp";
    std::remove(path.c_str());
    const RunResult run = Scan({"--virtual=caps=yuy2:320x240", "--create-dirs", "-o", path});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadBmp(path, picture));
    ExpectPattern(picture, 320, 240, false);
    std::remove(path.c_str());
    std::remove((dir + "/sub").c_str());
    std::remove(dir.c_str());
}

// The camera's own controls: listed without opening the source; a bad name
// or value fails before anything starts; a good one shows in the picture.
TEST_F(ScanRun, ControlsAreListedAndSetBeforeTheCaptureAndABadOneFailsFirst) {
    RunResult run = Scan({"--virtual=caps=yuy2:320x240", "--controls"});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("Camera Controls:\n  Auto Exposure [menu] {1: Manual Mode, 3: "
                                              "Aperture Priority Mode} default Aperture Priority Mode"))
        << run.out;
    EXPECT_NE(std::string::npos, run.out.find("  Focus, Absolute [range] 0..250 step 5 default 0 value 0 inactive"))
        << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("Using")) << "the source was opened: " << run.out;

    for (const char* bad : {"Zoom=2", "Power Line Frequency=55 Hz", "Privacy=on", "Exposure Time, Absolute=100"}) {
        run = Scan({"--virtual=caps=yuy2:320x240", "--set", bad, "-o", File("kivscan_set.bmp")});
        EXPECT_EQ(kExitFailure, run.status) << bad;
        EXPECT_NE(std::string::npos, run.err.find(std::string("kivscan: --set ") + bad + ": ")) << run.err;
        EXPECT_EQ(std::string::npos, run.out.find("Using")) << bad << ": the source was opened";
    }
    EXPECT_EQ(std::string::npos, run.err.find("the camera cannot be opened")) << run.err;

    const std::string path = File("kivscan_bright.bmp");
    run = Scan({"--virtual=caps=yuy2:320x240", "--set", "brightness=40", "-o", path});
    kivtest::UnsetEnv("KIVDS_CONTROLS");  // kivscan hands the controls on through the process's environment
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadBmp(path, picture));
    for (int y : {0, 100, 239}) {
        for (int x : {0, 200, 319}) {
            const kivtest::Rgb p = kivtest::SimPixel(x, y);
            const std::uint8_t* got = picture.Pixel(x, y);
            EXPECT_EQ(std::min(255, p.r + 40), got[0]) << x << "," << y;
            EXPECT_EQ(std::min(255, p.b + 40), got[2]) << x << "," << y;
        }
    }
}

TEST_F(ScanRun, CapsTableListsEveryCapabilityWithItsValues) {
    const RunResult run = Scan({"--virtual=caps=mjpeg:640x480,mjpeg:1280x720", "--caps"});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    auto row = [&](const std::string& cap) {
        const std::size_t at = run.out.find("\n" + cap + " ");
        if (at == std::string::npos) return std::string();
        return run.out.substr(at + 1, run.out.find('\n', at + 1) - at - 1);
    };
    const std::string mech = row("ICAP_XFERMECH");
    EXPECT_NE(std::string::npos, mech.find("TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY")) << mech;
    EXPECT_NE(std::string::npos, mech.find("GET SET GETDEFAULT GETCURRENT RESET")) << mech;
    // The widest frame of the camera, whatever size is current.
    EXPECT_NE(std::string::npos, row("ICAP_PHYSICALWIDTH").find(" 1280 ")) << row("ICAP_PHYSICALWIDTH");
    // The seventeen supported capabilities wrap under the Allowed column; the
    // last one is on a continuation line.
    const std::size_t table = run.out.find("\nCapability ");
    ASSERT_NE(std::string::npos, table);
    const std::size_t supportedAt = run.out.find("\nCAP_SUPPORTEDCAPS ", table);
    ASSERT_NE(std::string::npos, supportedAt);
    EXPECT_NE(std::string::npos, run.out.find("ICAP_SUPPORTEDSIZES", supportedAt)) << run.out;
    // No line is wider than the rule under the header.
    std::istringstream lines(run.out.substr(table + 1));
    std::string header, rule, line;
    std::getline(lines, header);
    std::getline(lines, rule);
    ASSERT_EQ(std::string::npos, rule.find_first_not_of('-')) << rule;
    EXPECT_GE(rule.size(), header.size());
    EXPECT_LT(rule.size(), 170u) << "the table is as wide as its longest list";
    while (std::getline(lines, line)) EXPECT_LE(line.size(), rule.size()) << line;
    // Every listed capability has its own row.
    for (const char* cap : {"CAP_XFERCOUNT", "ICAP_IMAGEFILEFORMAT", "CAP_UICONTROLLABLE", "CAP_DEVICEONLINE",
                            "ICAP_BITDEPTH", "ICAP_YRESOLUTION"})
        EXPECT_FALSE(row(cap).empty()) << cap;
}

// Through a source manager (a minimal one built for these tests): the
// source is found by its product name, the notification arrives through the
// registered callback, and the memory strips go into a BMP.
TEST_F(ScanRun, ThroughASourceManagerMemoryTransferIntoBmp) {
    kivtest::SetEnv("KIVSCAN_FAKEDSM_SOURCE", kivtest::DataSourcePath().c_str());
    const std::string dsm = ExecutableDirectory() + KIVSCAN_FAKEDSM_NAME;
    const std::string path = File("kivscan_dsm.bmp");
    const RunResult run = Scan(
        {"--dsm", dsm, "--virtual=caps=mjpeg:640x480", "--xfer", "memory", "--format", "bmp", "--verbose", "-o", path});
    ASSERT_EQ(kExitOk, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("DAT_CALLBACK / MSG_REGISTER_CALLBACK -> TWRC_SUCCESS")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("notification from the source: MSG_XFERREADY")) << run.out;
    RgbPicture picture;
    ASSERT_TRUE(kivscantest::ReadBmp(path, picture));
    ExpectPattern(picture, 640, 480, true);

    const RunResult other = Scan({"--dsm", dsm, "--source", "Another Scanner", "--virtual", "--caps"});
    EXPECT_EQ(kExitFailure, other.status);
    EXPECT_NE(std::string::npos,
              other.err.find("knows no source \"Another Scanner\" (it lists \"Orvan Document Camera\")"))
        << other.err;

    // The manager asks the source that failed to open why, and the
    // application learns it: no camera, a camera in use.
    const RunResult none = Scan({"--dsm", dsm, "--virtual=none", "--caps"});
    EXPECT_EQ(kExitFailure, none.status);
    EXPECT_NE(std::string::npos, none.err.find("MSG_OPENDS failed: CC_CAMERA_DISCONNECTED (0x8001)")) << none.err;
    const RunResult busy = Scan({"--dsm", dsm, "--virtual=caps=mjpeg:640x480;fail=connect:busy", "--caps"});
    EXPECT_EQ(kExitFailure, busy.status);
    EXPECT_NE(std::string::npos, busy.err.find("MSG_OPENDS failed: CC_CAMERA_IN_USE (0x8002)")) << busy.err;

    // A manager that cannot be loaded: the loader's own reason.
    const RunResult missing = Scan({"--dsm", TempPath("no-such-manager.so"), "--virtual", "--caps"});
    EXPECT_EQ(kExitFailure, missing.status);
    const std::string prefix = "cannot load the source manager " + TempPath("no-such-manager.so") + ": ";
    const std::size_t at = missing.err.find(prefix);
    ASSERT_NE(std::string::npos, at) << missing.err;
    EXPECT_GT(missing.err.find('\n', at), at + prefix.size() + 3) << "no reason given: " << missing.err;
}

// A manager finds its sources by searching a folder tree for *.ds files (on
// Windows %WINDIR%\twain_32 and twain_64): the source lies two folders deep,
// beside files that are no source.
TEST_F(ScanRun, ASourceManagerFindsTheSourceInAFolderTree) {
    namespace fs = std::filesystem;
    const fs::path tree = fs::u8path(TempPath("kivscan_twain_tree"));
    std::error_code error;
    fs::remove_all(tree, error);
    fs::create_directories(tree / "a-notes", error);
    fs::create_directories(tree / "b-vendor" / "kiv", error);
    std::FILE* notes = std::fopen((tree / "a-notes" / "kivds.txt").u8string().c_str(), "w");
    ASSERT_NE(nullptr, notes);
    std::fclose(notes);
    fs::copy_file(fs::u8path(kivtest::DataSourcePath()), tree / "b-vendor" / "kiv" / "KIVDS.DS", error);
    ASSERT_FALSE(error) << error.message();
    kivtest::SetEnv("KIVSCAN_FAKEDSM_SOURCE", tree.u8string().c_str());
    const RunResult run = Scan({"--dsm", ExecutableDirectory() + KIVSCAN_FAKEDSM_NAME, "--virtual", "--caps"});
    EXPECT_EQ(kExitOk, run.status) << run.out << run.err;
    // A tree without a source (the one above stays loaded on Windows: it cannot be deleted).
    kivtest::SetEnv("KIVSCAN_FAKEDSM_SOURCE", (tree / "a-notes").u8string().c_str());
    const RunResult none = Scan({"--dsm", ExecutableDirectory() + KIVSCAN_FAKEDSM_NAME, "--virtual", "--caps"});
    EXPECT_EQ(kExitFailure, none.status) << none.out;
    fs::remove_all(tree, error);
}

}  // namespace
