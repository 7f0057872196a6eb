// The direct link: kivscan loads the source file and is its source manager.
// It hands the source DAT_ENTRYPOINT with its own DSM_Entry (which takes the
// source's notifications) and memory functions (which remember each block's
// size, so that a native transfer's DIB can be checked against its block).
#include <cstdlib>
#include <cstring>
#include <map>

#include "tools/kivscan/TwainLink.h"

namespace kiv {
namespace scan {

using namespace twain;

namespace {

// Blocks handed to the source through DSM_MemAllocate, by handle.
struct BlockRegistry {
    std::mutex lock;
    std::map<void*, std::size_t> sizes;
};

BlockRegistry& Blocks() {
    static BlockRegistry registry;
    return registry;
}

TW_HANDLE KIV_TWAIN_CALL AppAllocate(TW_UINT32 size) {
    void* block = std::calloc(size ? size : 1, 1);
    if (!block) return nullptr;
    std::lock_guard<std::mutex> guard(Blocks().lock);
    Blocks().sizes[block] = size;
    return block;
}

void KIV_TWAIN_CALL AppFree(TW_HANDLE handle) {
    if (!handle) return;
    {
        std::lock_guard<std::mutex> guard(Blocks().lock);
        // A handle that is not ours is left alone rather than freed twice.
        if (Blocks().sizes.erase(handle) == 0) return;
    }
    std::free(handle);
}

TW_MEMREF KIV_TWAIN_CALL AppLock(TW_HANDLE handle) { return handle; }
void KIV_TWAIN_CALL AppUnlock(TW_HANDLE) {}

TW_UINT16 KIV_TWAIN_CALL ManagerEntry(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                      TW_MEMREF) {
    // The source's only business with its manager here is a notification.
    if (dg != DG_CONTROL || dat != DAT_NULL) return TWRC_FAILURE;
    Mailbox::Instance().Post(msg);
    return TWRC_SUCCESS;
}

using DsEntryProc = TW_UINT16(KIV_TWAIN_CALL*)(TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

class DirectLink : public TwainLink {
public:
    explicit DirectLink(std::string path) : path_(std::move(path)) {}
    ~DirectLink() override { Stop(); }

    std::string Describe() const override { return "data source " + path_ + " (loaded directly)"; }

    bool Start(TW_IDENTITY& app, std::string& error) override {
        app_ = &app;
        // As a TWAIN 2 source manager would, it marks the application's identity.
        app.SupportedGroups |= DF_DSM2;
        library_ = DynamicLibrary::Open(path_);
        if (!library_) {
            error = "cannot load the data source " + path_;
            return false;
        }
        entry_ = reinterpret_cast<DsEntryProc>(library_->Symbol("DS_Entry"));
        if (!entry_) {
            error = path_ + " exports no DS_Entry";
            library_.reset();
            return false;
        }
        return true;
    }

    bool FindSource(TW_IDENTITY& source, std::string& error) override {
        source = TW_IDENTITY{};
        const TW_UINT16 rc = entry_(app_, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source);
        Log(DG_CONTROL, DAT_IDENTITY, MSG_GET, rc);
        if (rc != TWRC_SUCCESS) {
            error = "the data source does not tell its identity (DAT_IDENTITY / MSG_GET failed)";
            return false;
        }
        source.Id = 2;  // the Id this manager assigns
        // The source's entry points, before anything else, as a TWAIN 2 manager does.
        TW_ENTRYPOINT points{};
        points.Size = sizeof points;
        points.DSM_Entry = ManagerEntry;
        points.DSM_MemAllocate = AppAllocate;
        points.DSM_MemFree = AppFree;
        points.DSM_MemLock = AppLock;
        points.DSM_MemUnlock = AppUnlock;
        Log(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, entry_(app_, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points));
        return true;
    }

    TW_UINT16 ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) override {
        return entry_ ? entry_(app_, dg, dat, msg, data) : TWRC_FAILURE;
    }

    TW_UINT16 ToManager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) override {
        return ToSource(dg, dat, msg, data);
    }

    void SourceOpened() override {}

    void Stop() override {
        entry_ = nullptr;
        library_.reset();  // unloading runs the source's exit
    }

    TW_HANDLE Allocate(TW_UINT32 size) override { return AppAllocate(size); }
    void* Lock(TW_HANDLE handle) override { return AppLock(handle); }
    void Unlock(TW_HANDLE handle) override { AppUnlock(handle); }
    void Free(TW_HANDLE handle) override { AppFree(handle); }

    std::optional<std::size_t> BlockSize(TW_HANDLE handle) const override {
        std::lock_guard<std::mutex> guard(Blocks().lock);
        auto found = Blocks().sizes.find(handle);
        if (found == Blocks().sizes.end()) return std::size_t{0};  // not a block of ours: nothing to read
        return found->second;
    }

private:
    std::string path_;
    TW_IDENTITY* app_ = nullptr;
    std::unique_ptr<DynamicLibrary> library_;
    DsEntryProc entry_ = nullptr;
};

}  // namespace

std::unique_ptr<TwainLink> MakeDirectLink(const std::string& sourcePath) {
    return std::make_unique<DirectLink>(sourcePath);
}

}  // namespace scan
}  // namespace kiv
