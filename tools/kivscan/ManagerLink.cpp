// The manager link: kivscan as an ordinary TWAIN application of a source
// manager library (DSM_Entry with six arguments).
#include <cstring>

#include "kivds/platform/GlobalMemory.h"
#include "tools/kivscan/ScanPlatform.h"
#include "tools/kivscan/TwainLink.h"
#include "tools/kivscan/TwainNames.h"

namespace kiv {
namespace scan {

using namespace twain;

namespace {

// TWAIN 2's callback registration, which this source does not use itself.
constexpr TW_UINT16 kDatCallback = 0x0010;
constexpr TW_UINT16 kMsgRegisterCallback = 0x0902;

#pragma pack(push, 2)
struct TwCallback {
    TW_MEMREF CallBackProc;
    TW_UINTPTR RefCon;  // zero: older managers read it as 32 bits, which is the same value
    TW_INT16 Message;
};
#pragma pack(pop)

TW_UINT16 KIV_TWAIN_CALL NotificationCallback(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                              TW_MEMREF) {
    if (dg != DG_CONTROL || dat != DAT_NULL) return TWRC_FAILURE;
    Mailbox::Instance().Post(msg);
    return TWRC_SUCCESS;
}

std::string Name(const TW_STR32 text) { return std::string(text, strnlen(text, sizeof(TW_STR32))); }

class ManagerLink : public TwainLink {
public:
    ManagerLink(std::string path, std::string sourceName)
        : path_(std::move(path)), sourceName_(std::move(sourceName)) {}
    ~ManagerLink() override { Stop(); }

    std::string Describe() const override { return "source manager " + path_; }

    bool Start(TW_IDENTITY& app, std::string& error) override {
        app_ = &app;
        parent_ = ManagerParentWindow();
        std::string reason;
        library_ = DynamicLibrary::Open(path_, &reason);
        if (!library_) {
            error = "cannot load the source manager " + path_ + ": " + reason;
            return false;
        }
        entry_ = reinterpret_cast<DSMENTRYPROC>(library_->Symbol("DSM_Entry"));
        if (!entry_) {
            error = path_ + " exports no DSM_Entry";
            library_.reset();
            return false;
        }
        const TW_UINT16 opened = entry_(app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent_);
        Log(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, opened);
        if (opened != TWRC_SUCCESS) {
            error = "the source manager refused MSG_OPENDSM (" + ConditionCodeName(ManagerStatus()) + ")";
            entry_ = nullptr;
            library_.reset();
            return false;
        }
        managerOpen_ = true;
        // A TWAIN 2 manager marks the identity and offers its memory functions.
        if (app.SupportedGroups & DF_DSM2) {
            TW_ENTRYPOINT points{};
            points.Size = sizeof points;
            const TW_UINT16 rc = entry_(app_, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points);
            Log(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, rc);
            if (rc == TWRC_SUCCESS) points_ = points;
        }
        return true;
    }

    bool FindSource(TW_IDENTITY& source, std::string& error) override {
        std::string seen;
        TW_IDENTITY candidate{};
        TW_UINT16 rc = entry_(app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &candidate);
        Log(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, rc);
        while (rc == TWRC_SUCCESS) {
            if (Name(candidate.ProductName) == sourceName_) {
                source = candidate;
                return true;
            }
            seen += (seen.empty() ? "" : ", ") + ("\"" + Name(candidate.ProductName) + "\"");
            candidate = TW_IDENTITY{};
            rc = entry_(app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &candidate);
            Log(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, rc);
        }
        error = "the source manager knows no source \"" + sourceName_ + "\"" +
                (seen.empty() ? std::string(" (it lists none)") : " (it lists " + seen + ")");
        return false;
    }

    TW_UINT16 ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) override {
        return entry_ ? entry_(app_, &source_, dg, dat, msg, data) : TWRC_FAILURE;
    }

    TW_UINT16 ToManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) override {
        if (!entry_) return TWRC_FAILURE;
        const TW_UINT16 rc = entry_(app_, nullptr, dg, dat, msg, data);
        if (dat == DAT_IDENTITY && msg == MSG_OPENDS && rc == TWRC_SUCCESS) source_ = *static_cast<TW_IDENTITY*>(data);
        return rc;
    }

    void SourceOpened() override {
        // Without a callback the messages wait for MSG_PROCESSEVENT, which
        // kivscan also polls.
        TwCallback callback{};
        callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&NotificationCallback);
        const TW_UINT16 rc = ToSource(DG_CONTROL, kDatCallback, kMsgRegisterCallback, &callback);
        Log(DG_CONTROL, kDatCallback, kMsgRegisterCallback, rc);
    }

    void Stop() override {
        if (managerOpen_ && entry_)
            Log(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM,
                entry_(app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_));
        managerOpen_ = false;
        entry_ = nullptr;
        library_.reset();
    }

    TW_HANDLE Allocate(TW_UINT32 size) override {
        return points_.DSM_MemAllocate ? points_.DSM_MemAllocate(size) : GlobalMemAlloc(size);
    }
    void* Lock(TW_HANDLE handle) override {
        return points_.DSM_MemLock ? points_.DSM_MemLock(handle) : GlobalMemLock(handle);
    }
    void Unlock(TW_HANDLE handle) override {
        if (points_.DSM_MemUnlock) points_.DSM_MemUnlock(handle);
        else GlobalMemUnlock(handle);
    }
    void Free(TW_HANDLE handle) override {
        if (points_.DSM_MemFree) points_.DSM_MemFree(handle);
        else GlobalMemFree(handle);
    }
    std::optional<std::size_t> BlockSize(TW_HANDLE) const override { return std::nullopt; }

private:
    TW_UINT16 ManagerStatus() {
        TW_STATUS status{};
        if (!entry_ || entry_(app_, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return 0xFFFF;
        return status.ConditionCode;
    }

    std::string path_;
    std::string sourceName_;
    TW_IDENTITY* app_ = nullptr;
    TW_IDENTITY source_{};
    TW_MEMREF parent_ = nullptr;  // the window handle MSG_OPENDSM receives (a pointer to it is passed)
    std::unique_ptr<DynamicLibrary> library_;
    DSMENTRYPROC entry_ = nullptr;
    bool managerOpen_ = false;
    TW_ENTRYPOINT points_{};
};

}  // namespace

std::unique_ptr<TwainLink> MakeManagerLink(const std::string& dsmPath, const std::string& sourceName) {
    return std::make_unique<ManagerLink>(dsmPath, sourceName);
}

}  // namespace scan
}  // namespace kiv
