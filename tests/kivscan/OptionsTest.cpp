// kivscan's command line.
#include <gtest/gtest.h>

#include "tools/kivscan/Options.h"

using namespace kiv::scan;

namespace {

Options Parse(std::vector<std::string> args, bool expectOk = true, std::string* errorOut = nullptr) {
    Options options;
    std::string error;
    const bool ok = ParseOptions(args, "/built/kivds.ds", options, error);
    EXPECT_EQ(expectOk, ok) << error;
    if (errorOut) *errorOut = error;
    return options;
}

TEST(Options, TheReadmeCommandLine) {
    const Options options = Parse({"--virtual", "--xfer", "memory", "--format", "tiff", "-o", "out/page.tif"});
    EXPECT_TRUE(options.virtualCamera);
    EXPECT_FALSE(options.simSpec.has_value());  // KIVDS_SIM stays as the environment has it
    EXPECT_EQ(Mechanism::Memory, options.mechanism);
    EXPECT_EQ(FileFormat::Tiff, options.format);
    EXPECT_EQ("out/page.tif", options.output);
    EXPECT_EQ("/built/kivds.ds", options.sourcePath);
    EXPECT_TRUE(options.dsmPath.empty());
}

TEST(Options, ValuesWithEqualsSignsAndTheVirtualCameraSpec) {
    // The spec itself contains '=' and ';'.
    const Options options = Parse({"--virtual=caps=mjpeg:640x480;fail=run:busy", "--xfer=file", "--count=3",
                                   "--layout=-1,2,640,480", "--dsm", "/usr/lib/libtwaindsm.so", "--verbose"});
    EXPECT_EQ("caps=mjpeg:640x480;fail=run:busy", options.simSpec.value());
    EXPECT_EQ(Mechanism::File, options.mechanism);
    EXPECT_EQ(3u, options.count);
    EXPECT_EQ((std::array<std::int32_t, 4>{-1, 2, 640, 480}), options.layout.value());
    EXPECT_EQ("/usr/lib/libtwaindsm.so", options.dsmPath);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ("kivscan.bmp", options.output);  // the default follows the format
    EXPECT_EQ("kivscan.tif", Parse({"--format", "tif"}).output);
    // A control's name may hold commas and spaces; its value follows the last '='.
    const Options set = Parse({"--set=Focus, Absolute=120", "--set", " Brightness = 40 ", "--controls"});
    ASSERT_EQ(2u, set.setControls.size());
    EXPECT_EQ("Focus, Absolute", set.setControls[0].first);
    EXPECT_EQ("120", set.setControls[0].second);
    EXPECT_EQ("Brightness", set.setControls[1].first);
    EXPECT_EQ("40", set.setControls[1].second);
    EXPECT_TRUE(set.listControls);
}

TEST(Options, BadCommandLinesAreRefusedWithAReason) {
    std::string error;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--xfer", "fax"},
             {"--format", "png"},
             {"--count", "0"},
             {"--count", "2x"},
             {"--layout", "1,2,3"},
             {"--layout", "1,2,3,4,5"},
             {"--layout", "0,0,40000,10"},  // beyond what TW_FIX32 carries
             {"--layout", "10,0,10,10"},    // no width
             {"--layout", "0,20,10,10"},    // upside down
             {"-o"},
             {"--caps=yes"},
             {"--set", "Brightness"},
             {"--set", "=4"},
             {"--controls=all"},
             {"--frobnicate"},
         }) {
        Parse(args, false, &error);
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(Options, NumberedPathsForSeveralPictures) {
    EXPECT_EQ("out/page.tif", NumberedPath("out/page.tif", 1, 1));
    EXPECT_EQ("out/page-2.tif", NumberedPath("out/page.tif", 2, 3));
    EXPECT_EQ("out.d/page-2", NumberedPath("out.d/page", 2, 3));  // a dot in a directory is no extension
    EXPECT_EQ(".hidden-1", NumberedPath(".hidden", 1, 2));
}

}  // namespace
