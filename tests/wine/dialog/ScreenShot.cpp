#include "wine/dialog/ScreenShot.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "kivds/platform/Env.h"

namespace kivtest {
namespace {

struct DcReleaser {
    void operator()(HDC dc) const { ReleaseDC(nullptr, dc); }
};
struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcReleaser>;
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, ObjectDeleter>;

class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectGuard() { SelectObject(dc_, previous_); }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

void PutU16(std::FILE* file, std::uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
    std::fwrite(bytes, 1, 2, file);
}

void PutU32(std::FILE* file, std::uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::fwrite(bytes, 1, 4, file);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

ScreenShot ScreenShot::Take(const RECT& area) {
    ScreenShot shot;
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT clipped{};
    if (!IntersectRect(&clipped, &area, &screen)) return shot;
    const int width = clipped.right - clipped.left;
    const int height = clipped.bottom - clipped.top;

    ScreenDc screenDc(GetDC(nullptr));
    if (!screenDc) return shot;
    MemoryDc memoryDc(CreateCompatibleDC(screenDc.get()));
    if (!memoryDc) return shot;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Bitmap bitmap(CreateDIBSection(screenDc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return shot;
    {
        SelectGuard select(memoryDc.get(), bitmap.get());
        if (!BitBlt(memoryDc.get(), 0, 0, width, height, screenDc.get(), clipped.left, clipped.top,
                    SRCCOPY | CAPTUREBLT))
            return shot;
        GdiFlush();
    }
    shot.width_ = width;
    shot.height_ = height;
    shot.origin_ = POINT{clipped.left, clipped.top};
    shot.bgr_.resize(static_cast<std::size_t>(width) * height * 3);
    const auto* source = static_cast<const std::uint8_t*>(bits);
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
        shot.bgr_[i * 3 + 0] = source[i * 4 + 0];
        shot.bgr_[i * 3 + 1] = source[i * 4 + 1];
        shot.bgr_[i * 3 + 2] = source[i * 4 + 2];
    }
    return shot;
}

ScreenPixel ScreenShot::AtScreen(int x, int y) const {
    const int px = x - origin_.x;
    const int py = y - origin_.y;
    if (px < 0 || py < 0 || px >= width_ || py >= height_) return ScreenPixel{};
    const std::uint8_t* p = &bgr_[(static_cast<std::size_t>(py) * width_ + px) * 3];
    return ScreenPixel{p[2], p[1], p[0]};
}

bool ScreenShot::SaveBmp(const std::string& path) const {
    if (Empty()) return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    const std::uint32_t stride = (static_cast<std::uint32_t>(width_) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(height_);
    // BITMAPFILEHEADER
    PutU16(file.get(), 0x4D42);
    PutU32(file.get(), 14 + 40 + imageSize);
    PutU16(file.get(), 0);
    PutU16(file.get(), 0);
    PutU32(file.get(), 14 + 40);
    // BITMAPINFOHEADER, bottom-up
    PutU32(file.get(), 40);
    PutU32(file.get(), static_cast<std::uint32_t>(width_));
    PutU32(file.get(), static_cast<std::uint32_t>(height_));
    PutU16(file.get(), 1);
    PutU16(file.get(), 24);
    PutU32(file.get(), 0);
    PutU32(file.get(), imageSize);
    PutU32(file.get(), 3780);
    PutU32(file.get(), 3780);
    PutU32(file.get(), 0);
    PutU32(file.get(), 0);
    std::vector<std::uint8_t> row(stride, 0);
    for (int y = height_ - 1; y >= 0; --y) {
        std::copy_n(&bgr_[static_cast<std::size_t>(y) * width_ * 3], static_cast<std::size_t>(width_) * 3, row.begin());
        if (std::fwrite(row.data(), 1, row.size(), file.get()) != row.size()) return false;
    }
    return std::fflush(file.get()) == 0;
}

std::string ArtifactDirectory() {
    std::string dir;
    if (auto env = kiv::GetEnv("KIV_GUI_ARTIFACTS"); env && !env->empty()) {
        dir = *env;
    } else {
        char module[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
        dir.assign(module, length);
        const std::size_t slash = dir.find_last_of("\\/");
        dir = (slash == std::string::npos ? std::string(".") : dir.substr(0, slash)) + "\\gui-artifacts\\win32";
    }
    // Create every level.
    for (std::size_t i = 0; i <= dir.size(); ++i)
        if (i == dir.size() || ((dir[i] == '\\' || dir[i] == '/') && i > 2))
            CreateDirectoryA(dir.substr(0, i).c_str(), nullptr);
    return dir;
}

std::string SaveArtifact(const ScreenShot& shot, const std::string& name) {
    const auto tag = kiv::GetEnv("KIV_GUI_TAG");
    const std::string path = ArtifactDirectory() + "\\" + (tag && !tag->empty() ? *tag : std::string("en")) + "-" +
                             name + ".bmp";
    return shot.SaveBmp(path) ? path : std::string();
}

}  // namespace kivtest
