// libFuzzer target: a sequence of triplets with arbitrary records sent to
// DS_Entry of a fresh TWAIN manager per input.
//
// Input: repeated [dg][dat][msg][length][length bytes of record]. The three
// selector bytes pick from the triplets the source knows plus a few it does
// not, so that most sequences reach deep states. Pointers inside records are
// fixed up to point at buffers the fuzzer owns (the application's side of the
// protocol), and file names are kept inside a scratch directory.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kivds/twain/KIVDSApp.h"
#include "kivds/ui/headless/HeadlessDialog.h"
#include "kivds/wiring/DialogWiring.h"
#include "kivds/twain/KIVTwainMgr.h"
#include "kivds/protocol/Twain.h"

using namespace twain;

extern "C" TW_UINT16 DS_Entry(TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);

namespace {

TW_HANDLE FuzzAlloc(TW_UINT32 size) { return std::calloc(size ? size : 1, 1); }
void FuzzFree(TW_HANDLE handle) { std::free(handle); }
TW_MEMREF FuzzLock(TW_HANDLE handle) { return handle; }
void FuzzUnlock(TW_HANDLE) {}
TW_UINT16 FuzzDsm(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) { return TWRC_SUCCESS; }

const TW_UINT32 kGroups[] = {DG_CONTROL, DG_IMAGE, DG_AUDIO, 0};
const TW_UINT16 kDats[] = {DAT_CAPABILITY,      DAT_EVENT,         DAT_IDENTITY,     DAT_PENDINGXFERS,
                           DAT_SETUPMEMXFER,    DAT_SETUPFILEXFER, DAT_STATUS,       DAT_USERINTERFACE,
                           DAT_XFERGROUP,       DAT_IMAGEINFO,     DAT_IMAGELAYOUT,  DAT_IMAGEMEMXFER,
                           DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER, DAT_EXTIMAGEINFO, DAT_ENTRYPOINT,
                           DAT_PARENT,          DAT_NULL};
const TW_UINT16 kMsgs[] = {MSG_GET,          MSG_GETCURRENT,
                           MSG_GETDEFAULT,   MSG_SET,
                           MSG_RESET,        MSG_QUERYSUPPORT,
                           MSG_OPENDS,       MSG_CLOSEDS,
                           MSG_ENABLEDS,     MSG_DISABLEDS,
                           MSG_PROCESSEVENT, MSG_ENDXFER,
                           MSG_RESETALL,     MSG_GETFIRST,
                           MSG_USERSELECT,   MSG_ENABLEDSUIONLY,
                           MSG_NULL,         0x7FFF};

// What a user or the system does to a shown dialog between two triplets;
// empty entries do nothing, so most triplets are not followed by one.
const char* const kDialogSteps[] = {
    "capture",    "settings", "version",     "close",        "format=MJPEG", "format=YUY2", "size=32x24",
    "size=64x48", "xferdone", "graphnotify", "framearrived", "devicechange", "timer",       "",
    "",           ""};

template <typename T, std::size_t N>
T Pick(const T (&table)[N], std::uint8_t selector) {
    return table[selector % N];
}

struct Session {
    kiv::CKIVDSApp app;
    TW_IDENTITY appIdentity{};
    TW_IDENTITY sourceIdentity{};
    std::vector<TW_HANDLE> handed;  // blocks the source handed over
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("KIVDS_UI", "headless", 1);
    unsetenv("KIVDS_UI_SCRIPT");
    kiv::InstallCaptureDialog();
    setenv("KIVDS_CAMERA", "sim", 1);
    setenv("KIVDS_SIM", "caps=mjpeg:64x48,yuy2:32x24;fps=1000", 1);
    setenv("TMPDIR", "/tmp/kivds-fuzz", 1);
    std::system("mkdir -p /tmp/kivds-fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Session session;
    if (!session.app.InitInstance()) return 0;
    session.appIdentity.Id = 1;
    session.appIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    session.sourceIdentity.Id = 2;

    std::vector<std::uint8_t> record(1024);
    std::vector<std::uint8_t> container(512);
    std::vector<std::uint8_t> strip(65536);
    std::size_t at = 0;
    int steps = 0;
    while (at + 4 <= size && steps++ < 64) {
        const char* dialogStep = Pick(kDialogSteps, static_cast<std::uint8_t>(data[at] >> 2));
        const TW_UINT32 dg = Pick(kGroups, data[at]);
        const TW_UINT16 dat = Pick(kDats, data[at + 1]);
        const TW_UINT16 msg = Pick(kMsgs, data[at + 2]);
        std::size_t length = data[at + 3];
        at += 4;
        if (length > size - at) length = size - at;
        std::fill(record.begin(), record.end(), 0);
        std::memcpy(record.data(), data + at, length);
        at += length;

        void* pData = record.data();
        if (length == 0 && (data[at - 1] & 1)) pData = nullptr;
        if (pData) {
            switch (dat) {
                case DAT_CAPABILITY: {
                    // The container handle points at fuzz bytes in a block of our own.
                    auto* cap = reinterpret_cast<TW_CAPABILITY*>(record.data());
                    std::memcpy(container.data(), record.data() + sizeof(TW_CAPABILITY), 256);
                    cap->hContainer = (record[3] & 0x80) ? nullptr : container.data();
                    // An application's container is as large as its header says
                    // (a source cannot learn a handle's size): keep NumItems of an
                    // enumeration or array within the block.
                    const TW_UINT16 conType = cap->ConType;
                    if (conType == TWON_ENUMERATION || conType == TWON_ARRAY) {
                        TW_UINT32 items = 0;
                        std::memcpy(&items, container.data() + 2, sizeof items);
                        const TW_UINT32 header = conType == TWON_ENUMERATION ? 14 : 6;
                        const TW_UINT32 fits = static_cast<TW_UINT32>((container.size() - header) / 4);
                        if (items > fits) items %= fits + 1;
                        std::memcpy(container.data() + 2, &items, sizeof items);
                    }
                    break;
                }
                case DAT_IDENTITY:
                    if (msg == MSG_OPENDS || msg == MSG_CLOSEDS) pData = &session.sourceIdentity;
                    break;
                case DAT_ENTRYPOINT: {
                    TW_ENTRYPOINT points{};
                    points.Size = sizeof points;
                    points.DSM_Entry = FuzzDsm;
                    points.DSM_MemAllocate = FuzzAlloc;
                    points.DSM_MemFree = FuzzFree;
                    points.DSM_MemLock = FuzzLock;
                    points.DSM_MemUnlock = FuzzUnlock;
                    std::memcpy(record.data(), &points, sizeof points);
                    break;
                }
                case DAT_USERINTERFACE: {
                    auto* ui = reinterpret_cast<TW_USERINTERFACE*>(record.data());
                    ui->hParent = nullptr;
                    break;
                }
                case DAT_EVENT: {
                    auto* event = reinterpret_cast<TW_EVENT*>(record.data());
                    event->pEvent = nullptr;
                    break;
                }
                case DAT_IMAGEMEMXFER: {
                    auto* xfer = reinterpret_cast<TW_IMAGEMEMXFER*>(record.data());
                    xfer->Memory.TheMem = strip.data();
                    if (xfer->Memory.Length > strip.size()) xfer->Memory.Length = static_cast<TW_UINT32>(strip.size());
                    break;
                }
                case DAT_SETUPFILEXFER: {
                    auto* setup = reinterpret_cast<TW_SETUPFILEXFER*>(record.data());
                    std::snprintf(setup->FileName, sizeof setup->FileName, "/tmp/kivds-fuzz/out%u",
                                  static_cast<unsigned>(record[0] % 4));
                    break;
                }
                default: break;
            }
        }
        const TW_UINT16 rc = DS_Entry(&session.appIdentity, dg, dat, msg, pData);
        if (*dialogStep) kiv::DriveHeadlessDialogs(dialogStep);
        if (pData == record.data() && rc != TWRC_FAILURE) {
            if (dat == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE) {
                TW_HANDLE dib = nullptr;
                std::memcpy(&dib, record.data(), sizeof dib);
                session.handed.push_back(dib);
            }
            if (dat == DAT_CAPABILITY) {
                TW_CAPABILITY cap;
                std::memcpy(&cap, record.data(), sizeof cap);
                const TW_HANDLE handle = cap.hContainer;
                if (handle && handle != container.data()) session.handed.push_back(handle);
            }
        }
    }
    session.app.ExitInstance();
    for (TW_HANDLE handle : session.handed) std::free(handle);
    return 0;
}
