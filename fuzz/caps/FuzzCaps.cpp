// Feeds arbitrary DAT_CAPABILITY triplets, application containers and direct
// current-value calls to a fresh capability set, and checks after each call
// what must always hold: the application's handle comes back unlocked and
// unfreed, an answer is a complete unlocked container of its own size, a
// failure leaves nothing allocated, and the condition code agrees with the
// return code. The camera is the virtual one (KIVDS_CAMERA=sim), seen through
// a wrapper that can, per input, answer the CAP_DEVICEONLINE probe and the
// device information itself: quickly, and with injected failures.
//
// Containers the fuzzer hands over are as large as their own header claims
// (a whole record header and NumItems elements of up to four bytes): the
// source cannot learn the size of a TWAIN handle. Everything else in them is
// arbitrary.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/caps/KIVCapabilityMgr.h"
#include "kivds/caps/KIVContainer.h"
#include "kivds/platform/GlobalMemory.h"
#include "kivds/protocol/TwainMemory.h"

using namespace twain;

namespace {

[[noreturn]] void Violation(const char* what) {
    std::fprintf(stderr, "fuzz_caps: %s\n", what);
    __builtin_trap();
}

#define CHECK(cond)                    \
    do {                               \
        if (!(cond)) Violation(#cond); \
    } while (0)

// ---- Source-manager memory functions that know every block ---------------

struct Block {
    std::size_t size = 0;
    int locks = 0;
    bool app = false;
};
std::unordered_map<void*, Block> g_blocks;

void* NewBlock(std::size_t size, bool app) {
    void* p = std::calloc(size ? size : 1, 1);
    if (!p) std::abort();
    g_blocks[p] = Block{size, 0, app};
    return p;
}

TW_HANDLE KIV_TWAIN_CALL DsmAllocate(TW_UINT32 size) { return NewBlock(size, false); }
void KIV_TWAIN_CALL DsmFree(TW_HANDLE h) {
    auto it = g_blocks.find(h);
    CHECK(it != g_blocks.end());
    CHECK(!it->second.app);
    g_blocks.erase(it);
    std::free(h);
}
TW_MEMREF KIV_TWAIN_CALL DsmLock(TW_HANDLE h) {
    auto it = g_blocks.find(h);
    if (it == g_blocks.end()) return nullptr;
    ++it->second.locks;
    return h;
}
void KIV_TWAIN_CALL DsmUnlock(TW_HANDLE h) {
    auto it = g_blocks.find(h);
    CHECK(it != g_blocks.end());
    CHECK(it->second.locks > 0);
    --it->second.locks;
}

bool g_dsmMemory = true;

TW_HANDLE AppContainer(const std::vector<std::uint8_t>& bytes) {
    void* h = g_dsmMemory ? NewBlock(bytes.size(), true) : kiv::GlobalMemAlloc(bytes.size() ? bytes.size() : 1);
    if (!h) std::abort();
    void* p = g_dsmMemory ? h : kiv::GlobalMemLock(h);
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    if (!g_dsmMemory) kiv::GlobalMemUnlock(h);
    return h;
}

void ReleaseAppContainer(TW_HANDLE h) {
    if (!h) return;
    if (g_dsmMemory) {
        auto it = g_blocks.find(h);
        CHECK(it != g_blocks.end());  // the source must not have freed it
        CHECK(it->second.locks == 0);
        g_blocks.erase(it);
        std::free(h);
    } else {
        kiv::GlobalMemFree(h);
    }
}

int LiveSourceBlocks() {
    int n = 0;
    for (const auto& [h, b] : g_blocks) n += b.app ? 0 : 1;
    return n;
}

// ---- The camera ------------------------------------------------------------

struct CameraScript {
    bool scripted = false;  // answer the probe here instead of running the virtual camera
    int failStep = 0;       // scripted probe: 1 preview, 2 run, 3 stop fails
    bool failInfo = false;  // GetDeviceInfo fails (the set cannot be built)
    int probes = 0;
    bool lastProbeScripted = false;
};
// Starting and stopping the virtual camera's stream costs milliseconds; after
// this many real probes in one input the rest are scripted.
constexpr int kSimProbesPerInput = 2;
CameraScript g_script;
kiv::CCameraLogic* g_sim = nullptr;

class FuzzCamera : public kiv::IKIVCameraControl {
public:
    explicit FuzzCamera(std::unique_ptr<kiv::CCameraLogic> sim) : sim_(std::move(sim)) { g_sim = sim_.get(); }
    ~FuzzCamera() override { g_sim = nullptr; }
    int Open() override { return sim_->Open(); }
    void Close() override { sim_->Close(); }
    int SetNotifyWindow(kiv::WindowHandle w) override { return sim_->SetNotifyWindow(w); }
    int SetPreviewWindow(kiv::WindowHandle w) override {
        g_script.lastProbeScripted = g_script.scripted || g_script.probes >= kSimProbesPerInput;
        ++g_script.probes;
        if (g_script.lastProbeScripted) return g_script.failStep == 1 ? 0 : 1;
        return sim_->SetPreviewWindow(w);
    }
    int Run() override {
        if (g_script.lastProbeScripted) return g_script.failStep == 2 ? 0 : 1;
        return sim_->Run();
    }
    int Stop() override {
        if (g_script.lastProbeScripted) return g_script.failStep == 3 ? 0 : 1;
        return sim_->Stop();
    }
    int SetMediaFormat(int type, const kiv::CResolution& size) override { return sim_->SetMediaFormat(type, size); }
    int GetDeviceInfo(std::unique_ptr<kiv::CUVCDeviceInfo>& out) override {
        return g_script.failInfo ? 0 : sim_->GetDeviceInfo(out);
    }
    int HandleGraphEvents(kiv::CUVCState& state) override { return sim_->HandleGraphEvents(state); }
    int SetFrameCallback(kiv::WindowHandle w, int enable) override { return sim_->SetFrameCallback(w, enable); }
    int GrabStill(std::unique_ptr<kiv::CImageReference>& out) override { return sim_->GrabStill(out); }
    int ShowPropertyPages(kiv::WindowHandle owner, const std::wstring& caption) override {
        return sim_->ShowPropertyPages(owner, caption);
    }
    int PollButtons(kiv::CameraButtonState* state) override { return sim_->PollButtons(state); }
    int IsDevicePresent(const std::wstring& modelName) override { return sim_->IsDevicePresent(modelName); }

private:
    std::unique_ptr<kiv::CCameraLogic> sim_;
};

// ---- Input ---------------------------------------------------------------

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    bool Empty() const { return n_ == 0; }
    std::uint8_t U8() { return n_ ? (--n_, *p_++) : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(U16()) | (static_cast<std::uint32_t>(U16()) << 16); }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        std::vector<std::uint8_t> v(count);
        for (auto& b : v) b = U8();
        return v;
    }

private:
    const std::uint8_t* p_;
    std::size_t n_;
};

constexpr TW_UINT16 kIds[] = {CAP_XFERCOUNT,        ICAP_COMPRESSION,   ICAP_PIXELTYPE,      ICAP_UNITS,
                              ICAP_XFERMECH,        CAP_SUPPORTEDCAPS,  CAP_UICONTROLLABLE,  CAP_DEVICEONLINE,
                              ICAP_IMAGEFILEFORMAT, ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, ICAP_XRESOLUTION,
                              ICAP_YRESOLUTION,     ICAP_BITORDER,      ICAP_PIXELFLAVOR,    ICAP_PLANARCHUNKY,
                              ICAP_SUPPORTEDSIZES,  ICAP_BITDEPTH};
constexpr TW_UINT16 kMsgs[] = {MSG_GET,      MSG_GETCURRENT, MSG_GETDEFAULT, MSG_GETFIRST,
                               MSG_GETNEXT,  MSG_SET,        MSG_RESET,      MSG_QUERYSUPPORT,
                               MSG_RESETALL, MSG_GETHELP,    MSG_GETLABEL,   MSG_GETLABELENUM};
constexpr TW_UINT16 kConTypes[] = {TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY, TWON_RANGE};

TW_UINT16 PickId(Input& in) {
    const std::uint8_t b = in.U8();
    return b < 2 * std::size(kIds) ? kIds[b % std::size(kIds)] : in.U16();
}
TW_UINT16 PickMsg(Input& in) {
    const std::uint8_t b = in.U8();
    return b < 2 * std::size(kMsgs) ? kMsgs[b % std::size(kMsgs)] : in.U16();
}
TW_UINT16 PickConType(Input& in) {
    const std::uint8_t b = in.U8();
    return b < 2 * std::size(kConTypes) ? kConTypes[b % std::size(kConTypes)] : in.U16();
}

// The container bytes, grown so that a claimed NumItems of up to 1024
// elements lies inside the block (a larger claim is cut down first).
std::vector<std::uint8_t> ContainerBytes(Input& in) {
    std::vector<std::uint8_t> bytes = in.Bytes(in.U8());
    if (!bytes.empty()) {
        if (bytes.size() < 16) bytes.resize(16);  // at least a whole record header
        std::uint32_t num;
        std::memcpy(&num, &bytes[2], 4);
        if (num > 1024) {
            num %= 1025;
            std::memcpy(&bytes[2], &num, 4);
        }
        const std::size_t need = 16 + std::size_t{num} * 4;
        if (bytes.size() < need) bytes.resize(need);
    }
    return bytes;
}

// Checks an answer of the source and frees it as the application would.
void TakeAnswer(const TW_CAPABILITY& cap) {
    CHECK(cap.hContainer != nullptr);
    if (!g_dsmMemory) {
        kiv::MemFree(cap.hContainer);
        return;
    }
    const TW_HANDLE answer = cap.hContainer;  // a copy: the packed member is not pointer-aligned
    auto it = g_blocks.find(answer);
    CHECK(it != g_blocks.end());
    CHECK(!it->second.app);
    CHECK(it->second.locks == 0);
    const auto* p = static_cast<const std::uint8_t*>(cap.hContainer);
    const std::size_t size = it->second.size;
    std::uint16_t itemType;
    std::memcpy(&itemType, p, 2);
    std::uint32_t num = 0;
    if (cap.ConType != TWON_ONEVALUE) {
        CHECK(size >= 6);
        std::memcpy(&num, p + 2, 4);
    }
    const std::size_t width = itemType == TWTY_INT8 || itemType == TWTY_UINT8                               ? 1
                              : itemType == TWTY_INT32 || itemType == TWTY_UINT32 || itemType == TWTY_FIX32 ? 4
                                                                                                            : 2;
    switch (cap.ConType) {
        case TWON_ONEVALUE: CHECK(size == 6); break;
        case TWON_ENUMERATION: {
            CHECK(size == 16 + num * width);
            std::uint32_t cur, def;
            std::memcpy(&cur, p + 6, 4);
            std::memcpy(&def, p + 10, 4);
            CHECK(num > 0 && cur < num && def < num);
            break;
        }
        case TWON_ARRAY: CHECK(size == 8 + num * width); break;
        default: Violation("answer of an unexpected container kind");
    }
    DsmFree(cap.hContainer);
}

void Triplet(kiv::CKIVCapabilityMgr& mgr, Input& in) {
    const TW_UINT16 msg = PickMsg(in);
    TW_CAPABILITY cap{};
    cap.Cap = PickId(in);
    cap.ConType = PickConType(in);
    const std::vector<std::uint8_t> bytes = ContainerBytes(in);
    const TW_HANDLE mine = bytes.empty() ? nullptr : AppContainer(bytes);
    cap.hContainer = mine;

    TW_UINT16 cc = 0xBEEF;
    const int probesBefore = g_script.probes;
    const TW_UINT16 rc = mgr.HandleCapability(msg, &cap, cc);
    CHECK(rc == TWRC_SUCCESS || rc == TWRC_FAILURE);
    if (cap.Cap == CAP_DEVICEONLINE && (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT)) {
        // Probed on every GET; the stream is left stopped; the value is the probe's.
        CHECK(rc == TWRC_SUCCESS);
        CHECK(g_script.probes == probesBefore + 1);
        CHECK(!g_sim->IsRunning());
        auto* online = dynamic_cast<kiv::CKIVContainerBool*>(mgr.FindCapability(CAP_DEVICEONLINE));
        CHECK(online != nullptr);
        if (g_script.lastProbeScripted) CHECK(online->GetCurrent() == (g_script.failStep == 0 ? 1 : 0));
        else CHECK(online->GetCurrent() == 1);
    }
    CHECK((rc == TWRC_SUCCESS) == (cc == TWCC_SUCCESS));

    const bool answers = msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT || msg == MSG_RESET ||
                         msg == MSG_QUERYSUPPORT;
    if (rc == TWRC_SUCCESS && answers) {
        CHECK(cap.hContainer != mine || mine == nullptr);
        TakeAnswer(cap);
    } else if (msg == MSG_SET) {
        CHECK(cap.hContainer == mine);
    }
    ReleaseAppContainer(mine);
    if (g_dsmMemory) CHECK(LiveSourceBlocks() == 0);

    if (rc == TWRC_SUCCESS && msg == MSG_QUERYSUPPORT) CHECK(cap.ConType == TWON_ONEVALUE);
}

// The setters other parts of the source use directly.
void CurrentValue(kiv::CKIVCapabilityMgr& mgr, Input& in) {
    kiv::CKIVContainer* c = mgr.FindCapability(PickId(in));
    const std::uint32_t raw = in.U32();
    const std::uint8_t what = in.U8();
    if (!c) return;
    TW_UINT16 cc = 0xBEEF;
    if (what & 1) {
        c->Reset();
        return;
    }
    if (auto* i = dynamic_cast<kiv::CKIVContainerInt*>(c)) {
        const auto v = static_cast<TW_INT32>(raw);
        if (i->SetCurrent(v, &cc) == TWRC_SUCCESS) CHECK(i->GetCurrent() == v && cc == TWCC_SUCCESS);
        else CHECK(cc == TWCC_BADVALUE);
    } else if (auto* b = dynamic_cast<kiv::CKIVContainerBool*>(c)) {
        const auto v = static_cast<TW_UINT16>(raw);
        if (b->SetCurrent(v, &cc) == TWRC_SUCCESS) CHECK(b->GetCurrent() == v && v <= 1);
        else CHECK(cc == TWCC_BADVALUE);
    } else if (auto* f = dynamic_cast<kiv::CKIVContainerFix32*>(c)) {
        TW_FIX32 v;
        std::memcpy(&v, &raw, 4);
        if (f->SetCurrent(v, &cc) == TWRC_SUCCESS) {
            const TW_FIX32 now = f->GetCurrent();
            CHECK(now.Whole == v.Whole && now.Frac == v.Frac);
        } else {
            CHECK(cc == TWCC_BADVALUE);
        }
    } else {
        Violation("capability of no typed container");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("KIVDS_CAMERA", "sim", 1);
    setenv("KIVDS_SIM", "caps=mjpeg:640x480,mjpeg:1920x1080,mjpeg:1280x720;current=640x480", 1);
    kiv::CKIVUVCControl::SetCameraFactory([]() -> std::unique_ptr<kiv::IKIVCameraControl> {
        std::unique_ptr<kiv::IVideoPlatform> platform = kiv::CreateVideoPlatform();
        if (!platform) return nullptr;
        return std::make_unique<FuzzCamera>(std::make_unique<kiv::CCameraLogic>(std::move(platform)));
    });
    kiv::CKIVUVCControl* camera = kiv::CKIVUVCControl::GetInstance();
    if (!camera || !camera->Open()) {
        std::fprintf(stderr, "fuzz_caps: the virtual camera does not open\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.U8();
    const bool twain2 = flags & 1;
    g_dsmMemory = !(flags & 2);
    g_script = CameraScript{};
    g_script.scripted = flags & 4;
    g_script.failStep = (flags >> 3) & 3;
    const bool failFirstOpen = (flags & 0xE0) == 0xE0;
    kiv::g_entryPoints = TW_ENTRYPOINT{};
    if (g_dsmMemory) {
        kiv::g_entryPoints.DSM_MemAllocate = &DsmAllocate;
        kiv::g_entryPoints.DSM_MemFree = &DsmFree;
        kiv::g_entryPoints.DSM_MemLock = &DsmLock;
        kiv::g_entryPoints.DSM_MemUnlock = &DsmUnlock;
    }

    {
        kiv::CKIVCapabilityMgr mgr;
        if (failFirstOpen) {
            // An open that cannot build the set leaves no capability behind.
            g_script.failInfo = true;
            CHECK(mgr.CreateCapabilities(twain2) == 0);
            CHECK(mgr.FindCapability(CAP_XFERCOUNT) == nullptr);
            g_script.failInfo = false;
        }
        CHECK(mgr.CreateCapabilities(twain2) == 1);
        for (int ops = 0; ops < 64 && !in.Empty(); ++ops) {
            const std::uint8_t op = in.U8() % 8;
            if (op < 5) {
                Triplet(mgr, in);
            } else if (op == 5) {
                TW_UINT16 cc = 0;
                CHECK(mgr.HandleCapability(PickMsg(in), nullptr, cc) == TWRC_FAILURE && cc == TWCC_BUMMER);
            } else if (op == 6) {
                CurrentValue(mgr, in);
            } else {
                // MSG_CLOSEDS / MSG_OPENDS: a new set from the initial values.
                mgr.DestroyCapabilities();
                TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, nullptr};
                TW_UINT16 cc = 0;
                CHECK(mgr.HandleCapability(MSG_GET, &cap, cc) == TWRC_FAILURE && cc == TWCC_CAPUNSUPPORTED);
                CHECK(mgr.CreateCapabilities(twain2) == 1);
            }
        }
    }
    CHECK(g_blocks.empty());
    kiv::g_entryPoints = TW_ENTRYPOINT{};
    return 0;
}
