// A minimal TWAIN source manager for kivscan's --dsm tests, written from the
// TWAIN standard's description of the manager: MSG_OPENDSM / MSG_CLOSEDSM,
// DAT_ENTRYPOINT with its memory functions, a source list of one (the file
// named by KIVSCAN_FAKEDSM_SOURCE, or the first *.ds found under the folder it
// names; unset on Windows, under %WINDIR%\twain_32 or twain_64 as the managers
// search for sources), MSG_OPENDS / MSG_CLOSEDS, callback
// registration, and the source's notifications passed to that callback.
// Everything else addressed to the source is forwarded to its DS_Entry.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kivds/platform/AsciiCase.h"
#include "kivds/platform/Env.h"
#include "kivds/platform/Library.h"
#include "kivds/platform/Paths.h"
#include "kivds/protocol/Twain.h"

#if defined(_WIN32)
#define FAKEDSM_EXPORT __declspec(dllexport)
#else
#define FAKEDSM_EXPORT __attribute__((visibility("default")))
#endif

using namespace twain;

namespace {

using DsEntryProc = TW_UINT16(KIV_TWAIN_CALL*)(TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

constexpr TW_UINT16 kDatCallback = 0x0010;
constexpr TW_UINT16 kMsgRegisterCallback = 0x0902;
constexpr TW_UINT32 kSourceId = 9;

struct Manager {
    bool open = false;
    TW_UINT16 condition = TWCC_SUCCESS;
    std::unique_ptr<kiv::DynamicLibrary> library;
    DsEntryProc dsEntry = nullptr;
    TW_IDENTITY source{};
    bool listed = false;
    DSMENTRYPROC callback = nullptr;
};

Manager& M() {
    static Manager manager;
    return manager;
}

TW_HANDLE KIV_TWAIN_CALL Allocate(TW_UINT32 size) { return std::calloc(size ? size : 1, 1); }
void KIV_TWAIN_CALL Free(TW_HANDLE handle) { std::free(handle); }
TW_MEMREF KIV_TWAIN_CALL Lock(TW_HANDLE handle) { return handle; }
void KIV_TWAIN_CALL Unlock(TW_HANDLE) {}

TW_UINT16 KIV_TWAIN_CALL Entry(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

TW_ENTRYPOINT EntryPoints() {
    TW_ENTRYPOINT points{};
    points.Size = sizeof points;
    points.DSM_Entry = Entry;
    points.DSM_MemAllocate = Allocate;
    points.DSM_MemFree = Free;
    points.DSM_MemLock = Lock;
    points.DSM_MemUnlock = Unlock;
    return points;
}

TW_UINT16 Fail(TW_UINT16 condition) {
    M().condition = condition;
    return TWRC_FAILURE;
}

// The first *.ds (any case) under `folder` and its subfolders, by path; empty when there is none.
std::string FirstSourceUnder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code fileError;
        if (it->is_regular_file(fileError) && kiv::EqualsIgnoringAsciiCase(it->path().extension().u8string(), ".ds"))
            found.push_back(it->path());
    }
    if (found.empty()) return {};
    return std::min_element(found.begin(), found.end())->u8string();
}

std::string SourcePath() {
    std::string where;
    if (auto named = kiv::GetEnv("KIVSCAN_FAKEDSM_SOURCE")) where = *named;
    else if (!kiv::WindowsDirectory().empty())
        where = kiv::WindowsDirectory() + (sizeof(void*) == 8 ? "\\twain_64" : "\\twain_32");
    std::error_code error;
    if (where.empty() || !std::filesystem::is_directory(std::filesystem::u8path(where), error)) return where;
    return FirstSourceUnder(std::filesystem::u8path(where));
}

bool LoadSource(TW_IDENTITY* app) {
    if (M().dsEntry) return true;
    const std::string path = SourcePath();
    if (path.empty()) return false;
    M().library = kiv::DynamicLibrary::Open(path);
    if (!M().library) return false;
    M().dsEntry = reinterpret_cast<DsEntryProc>(M().library->Symbol("DS_Entry"));
    if (!M().dsEntry || M().dsEntry(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &M().source) != TWRC_SUCCESS) {
        M().dsEntry = nullptr;
        M().library.reset();
        return false;
    }
    M().source.Id = kSourceId;
    return true;
}

TW_UINT16 ManagerTriplet(TW_IDENTITY* app, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (dat == DAT_PARENT && msg == MSG_OPENDSM) {
        app->Id = 1;
        app->SupportedGroups |= DF_DSM2;
        M().open = true;
        return TWRC_SUCCESS;
    }
    if (!M().open) return Fail(TWCC_SEQERROR);
    if (dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
        M().open = false;
        M().callback = nullptr;
        M().dsEntry = nullptr;
        M().library.reset();
        return TWRC_SUCCESS;
    }
    if (dat == DAT_STATUS && msg == MSG_GET && data) {
        static_cast<TW_STATUS*>(data)->ConditionCode = M().condition;
        M().condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_ENTRYPOINT && msg == MSG_GET && data) {
        *static_cast<TW_ENTRYPOINT*>(data) = EntryPoints();
        return TWRC_SUCCESS;
    }
    if (dat != DAT_IDENTITY || !data) return Fail(TWCC_BADPROTOCOL);
    auto* identity = static_cast<TW_IDENTITY*>(data);
    switch (msg) {
        case MSG_GETFIRST:
            if (!LoadSource(app)) return Fail(TWCC_NODS);
            *identity = M().source;
            M().listed = true;
            return TWRC_SUCCESS;
        case MSG_GETNEXT: return TWRC_ENDOFLIST;
        case MSG_OPENDS: {
            if (!LoadSource(app) || identity->Id != kSourceId) return Fail(TWCC_NODS);
            TW_ENTRYPOINT points = EntryPoints();
            M().dsEntry(app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points);
            const TW_UINT16 rc = M().dsEntry(app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, identity);
            if (rc != TWRC_SUCCESS) {
                // As the TWAIN working group's managers do: ask the source,
                // still closed, why, and report that; TWCC_NODS if it will not say.
                TW_STATUS status{};
                const TW_UINT16 asked = M().dsEntry(app, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
                return Fail(asked == TWRC_SUCCESS ? status.ConditionCode : TWCC_NODS);
            }
            return rc;
        }
        case MSG_CLOSEDS:
            if (!M().dsEntry) return Fail(TWCC_SEQERROR);
            M().callback = nullptr;
            return M().dsEntry(app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, identity);
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 KIV_TWAIN_CALL Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               TW_MEMREF data) {
    if (!origin) return Fail(TWCC_BADPROTOCOL);
    // The source's notification to its application.
    if (origin->Id == kSourceId) {
        if (dg != DG_CONTROL || dat != DAT_NULL || !M().callback) return Fail(TWCC_BADPROTOCOL);
        M().callback(origin, dest, DG_CONTROL, DAT_NULL, msg, nullptr);
        return TWRC_SUCCESS;
    }
    if (!dest) return ManagerTriplet(origin, dat, msg, data);
    if (!M().dsEntry || dest->Id != kSourceId) return Fail(TWCC_BADDEST);
    if (dg == DG_CONTROL && dat == kDatCallback && msg == kMsgRegisterCallback && data) {
        // TW_CALLBACK starts with the procedure.
        TW_MEMREF proc = nullptr;
        std::memcpy(&proc, data, sizeof proc);
        M().callback = reinterpret_cast<DSMENTRYPROC>(proc);
        return TWRC_SUCCESS;
    }
    return M().dsEntry(origin, dg, dat, msg, data);
}

}  // namespace

extern "C" FAKEDSM_EXPORT TW_UINT16 KIV_TWAIN_CALL DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                                             TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return Entry(origin, dest, dg, dat, msg, data);
}
