// Device records: format equality, distinct formats, types and sizes.
#include <gtest/gtest.h>

#include <algorithm>

#include "kivds/camera/CameraRecords.h"
#include "kivds/camera/ModelName.h"

namespace kiv {
namespace {

TEST(RecordsTest, FormatEqualityIgnoresTheDefaultFlag) {
    const CUVCMediaFormat a(MediaSubtypeMJPG, UVCFMT_MJPEG, CResolution(640, 480, 1));
    EXPECT_EQ(a, CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_MJPEG, CResolution(640, 480, 0)));
    EXPECT_NE(a, CUVCMediaFormat(MediaSubtypeYUY2, UVCFMT_MJPEG, CResolution(640, 480)));
    EXPECT_NE(a, CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_YUY2, CResolution(640, 480)));
    EXPECT_NE(a, CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_MJPEG, CResolution(640, 360)));

    CUVCDeviceInfo info;
    info.AddFormat(a);
    info.AddFormat(CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_MJPEG, CResolution(640, 480, 0)));
    ASSERT_EQ(info.formats.size(), 1u);
    EXPECT_EQ(info.formats[0].resolution.isDefault, 1);  // the first one stays

    CUVCDeviceInfo copy(info);
    info.Clear();
    EXPECT_EQ(copy.formats.size(), 1u);
    EXPECT_TRUE(info.formats.empty());
    EXPECT_EQ(info.currentFormat.subtype, MediaSubtypeMJPG);
    EXPECT_EQ(info.currentFormat.resolution.width, 0);
}

TEST(RecordsTest, SizesSortByWidthAlone) {
    std::vector<CResolution> sizes{{1280, 720}, {640, 480}, {1920, 1080}, {640, 360}};
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes[0].width, 640);
    EXPECT_EQ(sizes[1].width, 640);
    EXPECT_EQ(sizes[2].width, 1280);
    EXPECT_EQ(sizes[3].width, 1920);
    EXPECT_FALSE(CResolution(640, 480) < CResolution(640, 360));
    EXPECT_FALSE(CResolution(640, 360) < CResolution(640, 480));
}

TEST(RecordsTest, ModelNamesFoldOnlyAsciiLetters) {
    EXPECT_TRUE(SameModelName(L"orvan kivcamb", L"ORVAN KIVCAMB"));
    EXPECT_FALSE(SameModelName(L"KIVCAMA ", L"KIVCAMA"));
    EXPECT_FALSE(SameModelName(L"KIVCAM\u00C4", L"KIVCAM\u00E4"));
}

}  // namespace
}  // namespace kiv
