#include "wine/camera/TestCameraHost.h"

#include "kivds/camera/sim/SimConfig.h"
#include "support/ScopedEnv.h"
#include "wine/camera/TestCamera.h"

namespace kivtest {
namespace {

const wchar_t kCategoryInstances[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

std::wstring InstanceKey(int slot) {
    return std::wstring(kCategoryInstances) + L"\\kivtestcam" + std::to_wstring(slot);
}

bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

template <class Proc>
Proc Export(HMODULE module, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

TestCameraHost::TestCameraHost(const std::string& description) {
    SetEnv("KIVDS_SIM", description.c_str());
    kiv::sim::SimConfig config;
    std::string error;
    if (!kiv::sim::ParseSimConfig(description, config, error)) return;
    module_ = LoadLibraryW(L"kivtestcam.dll");
    if (!module_) return;
    auto reg = Export<HRESULT(STDAPICALLTYPE*)()>(module_, "DllRegisterServer");
    auto reset = Export<void(WINAPI*)()>(module_, "KivTestCamReset");
    if (!reg || !reset || FAILED(reg())) return;
    reset();
    Unlist();
    for (const kiv::sim::SimDevice& device : config.devices) {
        if (listed_ == kTestCamSlots) return;
        wchar_t clsid[64];
        StringFromGUID2(TestCamClsid(listed_), clsid, 64);
        const std::wstring key = InstanceKey(listed_);
        ++listed_;
        if (!SetString(key, L"CLSID", clsid) || !SetString(key, L"FriendlyName", device.name) ||
            !SetString(key, L"DevicePath", device.path))
            return;
    }
    ready_ = true;
}

TestCameraHost::~TestCameraHost() {
    Unlist();
    if (module_) {
        if (auto unreg = Export<HRESULT(STDAPICALLTYPE*)()>(module_, "DllUnregisterServer")) unreg();
        FreeLibrary(module_);
    }
}

void TestCameraHost::Unlist() {
    for (int slot = 0; slot < kTestCamSlots; ++slot) RegDeleteTreeW(HKEY_CLASSES_ROOT, InstanceKey(slot).c_str());
    listed_ = 0;
}

long TestCameraHost::LiveObjects() const {
    auto live = module_ ? Export<LONG(WINAPI*)()>(module_, "KivTestCamLiveObjects") : nullptr;
    return live ? live() : -1;
}

long TestCameraHost::LiveDecoders() const {
    auto live = module_ ? Export<LONG(WINAPI*)()>(module_, "KivTestCamLiveDecoders") : nullptr;
    return live ? live() : -1;
}

long TestCameraHost::PagesActivated() const {
    auto pages = module_ ? Export<LONG(WINAPI*)()>(module_, "KivTestCamPagesActivated") : nullptr;
    return pages ? pages() : -1;
}

long TestCameraHost::TopologyQueries() const {
    auto queries = module_ ? Export<LONG(WINAPI*)()>(module_, "KivTestCamTopologyQueries") : nullptr;
    return queries ? queries() : -1;
}

long TestCameraHost::UnitProbes() const {
    auto probes = module_ ? Export<LONG(WINAPI*)()>(module_, "KivTestCamUnitProbes") : nullptr;
    return probes ? probes() : -1;
}

long TestCameraHost::ButtonReads(int slot) const {
    auto reads = module_ ? Export<LONG(WINAPI*)(int)>(module_, "KivTestCamButtonReads") : nullptr;
    return reads ? reads(slot) : -1;
}

void TestCameraHost::Unplug(int slot) {
    if (auto unplug = module_ ? Export<void(WINAPI*)(int)>(module_, "KivTestCamUnplug") : nullptr) unplug(slot);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, InstanceKey(slot).c_str());
}

namespace {

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

}  // namespace

OpenableDevicePath::OpenableDevicePath(const std::string& path) {
    const std::string prefix = "\\\\?\\";
    const std::size_t last = path.rfind('\\');
    char unixPrefix[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("WINEPREFIX", unixPrefix, MAX_PATH);
    if (path.compare(0, prefix.size(), prefix) != 0 || last == std::string::npos || last < prefix.size() ||
        length == 0 || length >= MAX_PATH || unixPrefix[0] != '/')
        return;
    // Drive Z: is the Unix root.
    std::wstring dosdevices = L"Z:";
    for (const char* p = unixPrefix; *p; ++p) dosdevices += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    dosdevices += L"\\dosdevices\\";
    folder_ = dosdevices + Widen(path.substr(prefix.size(), last - prefix.size()));
    file_ = folder_ + L"\\" + Widen(path.substr(last + 1));
    if (!CreateDirectoryW(folder_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return;
    const HANDLE file = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    CloseHandle(file);
    ready_ = Opens(path);
}

OpenableDevicePath::~OpenableDevicePath() {
    if (!file_.empty()) DeleteFileW(file_.c_str());
    if (!folder_.empty()) RemoveDirectoryW(folder_.c_str());
}

bool OpenableDevicePath::Opens(const std::string& path) {
    const HANDLE device = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    CloseHandle(device);
    return true;
}

}  // namespace kivtest
