// The transfer triplets of the TWAIN manager: image information and layout,
// pending transfers, transfer setup, and the native, file and memory
// transfers.
#include <cstring>
#include <limits>

#include "kivds/camera/KIVUVCControl.h"
#include "kivds/caps/KIVCapabilityMgr.h"
#include "kivds/caps/KIVContainer.h"
#include "kivds/image/BitmapHeader.h"
#include "kivds/image/ImageReference.h"
#include "kivds/platform/Paths.h"
#include "kivds/protocol/DialogSession.h"
#include "kivds/twain/BoundedString.h"
#include "kivds/protocol/Fix32.h"
#include "kivds/twain/ImageRegion.h"
#include "kivds/twain/KIVTwainMgr.h"
#include "kivds/protocol/TwainMemory.h"
#include "kivds/ui/ErrorMessage.h"

namespace kiv {

using namespace twain;

namespace {

constexpr TW_UINT32 kMinBufSize = 6144;
constexpr TW_UINT32 kMaxBufSize = 65536;

void WriteLayout(TW_IMAGELAYOUT* layout, const KivRect& frame) {
    layout->Frame.Left = PixelsToFix32(frame.left);
    layout->Frame.Top = PixelsToFix32(frame.top);
    layout->Frame.Right = PixelsToFix32(frame.right);
    layout->Frame.Bottom = PixelsToFix32(frame.bottom);
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
}

// The default file of the file transfer: the temporary directory followed by
// "sample.bmp"; false when that path does not fit the 255 characters of a
// TW_STR255.
bool DefaultFileName(char (&fileName)[256]) {
    const std::string path = TempDirectory();
    if (path.empty()) return false;
    const std::string full = path + "sample.bmp";
    if (full.size() >= sizeof fileName) return false;
    std::memcpy(fileName, full.c_str(), full.size() + 1);
    return true;
}

}  // namespace

// ------------------------------------------------------------------ routers
// Called by Dispatch once the triplet's rule admitted the call (Route).

TW_UINT16 CKIVTwainMgr::OnPendingXfers(TW_UINT16 msg, TW_MEMREF pData) {
    auto* pending = static_cast<TW_PENDINGXFERS*>(pData);
    switch (msg) {
        case MSG_GET: return GetPendingXfers(pending);
        case MSG_ENDXFER: return EndXfer(pending);
        case MSG_RESET: return ResetPendingXfers(pending);
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 CKIVTwainMgr::OnSetupMemXfer(TW_UINT16, TW_MEMREF pData) {
    return GetSetupMemXfer(static_cast<TW_SETUPMEMXFER*>(pData));
}

TW_UINT16 CKIVTwainMgr::OnSetupFileXfer(TW_UINT16 msg, TW_MEMREF pData) {
    auto* setup = static_cast<TW_SETUPFILEXFER*>(pData);
    switch (msg) {
        case MSG_GET: return GetSetupFileXfer(setup);
        case MSG_GETDEFAULT: return GetDefaultSetupFileXfer(setup);
        case MSG_SET: return SetSetupFileXfer(setup);
        case MSG_RESET: return ResetSetupFileXfer(setup);
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 CKIVTwainMgr::OnXferGroup(TW_UINT16, TW_MEMREF pData) { return GetXferGroup(static_cast<TW_UINT32*>(pData)); }

TW_UINT16 CKIVTwainMgr::OnImageInfo(TW_UINT16, TW_MEMREF pData) {
    return GetImageInfo(static_cast<TW_IMAGEINFO*>(pData));
}

TW_UINT16 CKIVTwainMgr::OnImageLayout(TW_UINT16 msg, TW_MEMREF pData) {
    auto* layout = static_cast<TW_IMAGELAYOUT*>(pData);
    switch (msg) {
        case MSG_GET: return GetImageLayout(layout);
        case MSG_GETDEFAULT: return GetDefaultImageLayout(layout);
        case MSG_SET: return SetImageLayout(layout);
        case MSG_RESET: return ResetImageLayout(layout);
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 CKIVTwainMgr::OnImageNativeXfer(TW_UINT16, TW_MEMREF pData) { return NativeXfer(pData); }

TW_UINT16 CKIVTwainMgr::OnImageFileXfer(TW_UINT16, TW_MEMREF) { return FileXfer(); }

TW_UINT16 CKIVTwainMgr::OnImageMemXfer(TW_UINT16, TW_MEMREF pData) {
    return MemXfer(static_cast<TW_IMAGEMEMXFER*>(pData));
}

// ------------------------------------------------------ image information

TW_UINT16 CKIVTwainMgr::GetImageInfo(TW_IMAGEINFO* pInfo) {
    if (!m_capMgr) return Fail(TWCC_SEQERROR);
    auto* xres = dynamic_cast<CKIVContainerFix32*>(m_capMgr->FindCapability(ICAP_XRESOLUTION));
    auto* yres = dynamic_cast<CKIVContainerFix32*>(m_capMgr->FindCapability(ICAP_YRESOLUTION));
    if (!xres || !yres) return Fail(TWCC_BUMMER);
    auto* bitDepth = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_BITDEPTH));
    auto* pixelType = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_PIXELTYPE));
    auto* compression = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_COMPRESSION));
    if (!bitDepth || !pixelType || !compression) return Fail(TWCC_BUMMER);

    pInfo->XResolution = xres->GetCurrent();
    pInfo->YResolution = yres->GetCurrent();
    pInfo->ImageWidth = static_cast<TW_INT32>(static_cast<std::int64_t>(m_frame.right) - m_frame.left);
    pInfo->ImageLength = static_cast<TW_INT32>(static_cast<std::int64_t>(m_frame.bottom) - m_frame.top);
    pInfo->SamplesPerPixel = 3;
    pInfo->BitsPerSample[0] = 8;
    pInfo->BitsPerSample[1] = 8;
    pInfo->BitsPerSample[2] = 8;
    pInfo->BitsPerPixel = static_cast<TW_INT16>(bitDepth->GetCurrent());
    pInfo->Planar = 0;
    pInfo->PixelType = static_cast<TW_INT16>(pixelType->GetCurrent());
    pInfo->Compression = static_cast<TW_UINT16>(compression->GetCurrent());
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::GetImageLayout(TW_IMAGELAYOUT* pLayout) {
    WriteLayout(pLayout, m_frame);
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::GetDefaultImageLayout(TW_IMAGELAYOUT* pLayout) {
    KivRect frame;
    if (!GetDefaultFrame(frame)) return TWRC_FAILURE;
    WriteLayout(pLayout, frame);
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::ResetImageLayout(TW_IMAGELAYOUT* pLayout) {
    KivRect frame;
    if (!GetDefaultFrame(frame)) return TWRC_FAILURE;
    m_frame = frame;
    WriteLayout(pLayout, m_frame);
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::SetImageLayout(TW_IMAGELAYOUT* pLayout) {
    // Any frame is accepted here; the transfers refuse one that does not lie
    // inside the grabbed still.
    m_frame.left = Fix32ToPixels(pLayout->Frame.Left);
    m_frame.top = Fix32ToPixels(pLayout->Frame.Top);
    m_frame.right = Fix32ToPixels(pLayout->Frame.Right);
    m_frame.bottom = Fix32ToPixels(pLayout->Frame.Bottom);
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::GetXferGroup(TW_UINT32* pGroup) {
    *pGroup = DG_IMAGE;
    return TWRC_SUCCESS;
}

// -------------------------------------------------------- pending transfers

TW_UINT16 CKIVTwainMgr::GetPendingXfers(TW_PENDINGXFERS* pPending) {
    pPending->Count = m_pendingXfers.Count;
    return TWRC_SUCCESS;
}

void CKIVTwainMgr::StopCameraAfterXfer() {
    if (!m_stopAtEndXfer) return;
    m_stopAtEndXfer = false;
    if (m_camera) m_camera->Stop();
}

TW_UINT16 CKIVTwainMgr::EndXfer(TW_PENDINGXFERS* pPending) {
    StopCameraAfterXfer();
    if (m_dialog) m_dialog->SendXferDone();
    if (m_pendingXfers.Count == 0xFFFF || m_pendingXfers.Count == 0) m_pendingXfers.Count = 0;
    else --m_pendingXfers.Count;
    pPending->Count = m_pendingXfers.Count;
    m_state = m_pendingXfers.Count != 0 ? TwainState::TransferReady : TwainState::SourceEnabled;
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::ResetPendingXfers(TW_PENDINGXFERS* pPending) {
    StopCameraAfterXfer();
    m_pendingXfers.Count = 0;
    m_pendingXfers.EOJ = 0;
    std::memcpy(pPending, &m_pendingXfers, sizeof(TW_PENDINGXFERS));
    return TWRC_SUCCESS;
}

// ----------------------------------------------------------- transfer setup

TW_UINT16 CKIVTwainMgr::GetSetupMemXfer(TW_SETUPMEMXFER* pSetup) {
    pSetup->MinBufSize = kMinBufSize;
    pSetup->MaxBufSize = kMaxBufSize;
    pSetup->Preferred = kMaxBufSize;
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::GetSetupFileXfer(TW_SETUPFILEXFER* pSetup) {
    if (!m_capMgr) return Fail(TWCC_SEQERROR);
    auto* format = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_IMAGEFILEFORMAT));
    if (!format) return Fail(TWCC_BUMMER);
    std::memcpy(pSetup->FileName, m_fileName, sizeof pSetup->FileName);
    pSetup->Format = static_cast<TW_UINT16>(format->GetCurrent());
    pSetup->VRefNum = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::GetDefaultSetupFileXfer(TW_SETUPFILEXFER* pSetup) {
    char fileName[256];
    if (!DefaultFileName(fileName)) return Fail(TWCC_BUMMER);
    std::memcpy(pSetup->FileName, fileName, sizeof pSetup->FileName);
    pSetup->Format = TWFF_BMP;
    pSetup->VRefNum = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::SetSetupFileXfer(TW_SETUPFILEXFER* pSetup) {
    if (!m_capMgr) return Fail(TWCC_SEQERROR);
    auto* format = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_IMAGEFILEFORMAT));
    if (!format) return Fail(TWCC_BUMMER);
    TW_UINT16 condition = TWCC_SUCCESS;
    if (format->SetCurrent(pSetup->Format, &condition) != TWRC_SUCCESS) return Fail(condition);
    // An unterminated 256-byte name is cut to the 255 characters a TW_STR255 holds.
    CopyBounded(m_fileName, pSetup->FileName, sizeof m_fileName);
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::ResetSetupFileXfer(TW_SETUPFILEXFER* pSetup) {
    if (!m_capMgr) return Fail(TWCC_SEQERROR);
    auto* format = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_IMAGEFILEFORMAT));
    if (!format) return Fail(TWCC_BUMMER);
    if (format->Reset() != 0) return Fail(TWCC_BUMMER);
    pSetup->Format = TWFF_BMP;
    pSetup->VRefNum = 0;
    char fileName[256];
    if (DefaultFileName(fileName)) {
        std::memcpy(pSetup->FileName, fileName, sizeof pSetup->FileName);
        std::memcpy(m_fileName, fileName, sizeof m_fileName);
    }
    return TWRC_SUCCESS;
}

// ---------------------------------------------------------------- transfers

TW_UINT16 CKIVTwainMgr::GrabFrameImage(std::unique_ptr<CImageReference>& image) {
    image.reset();
    if (!m_camera) return TWCC_BUMMER;
    std::unique_ptr<CImageReference> still;
    const int grabbed = m_camera->GrabStill(still);
    if (!grabbed || !still) {
        // A grab that failed after storing an image is discarded with it.
        const TW_UINT16 condition = CameraErrorToCondition(LastCameraError);
        return condition ? condition : CC_OTHER_ERROR;
    }
    // The transfer delivers the frame the application was told about; a
    // frame that does not lie inside the still cannot be delivered.
    if (!CutToFrame(still, m_frame)) return TWCC_BADVALUE;
    image = std::move(still);
    return TWCC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::NativeXfer(TW_MEMREF pData) {
    m_image.reset();
    TW_IMAGEINFO info{};
    if (GetImageInfo(&info) != TWRC_SUCCESS) return FailWithMessage(m_conditionCode);
    const TW_UINT16 grabbed = GrabFrameImage(m_image);
    if (grabbed != TWCC_SUCCESS) return FailWithMessage(grabbed);

    std::unique_ptr<CImageReference> image = std::move(m_image);  // destroyed on every path
    const TW_UINT32 n = image->Size();
    if (n > std::numeric_limits<TW_UINT32>::max() - kBitmapInfoHeaderSize) return FailWithMessage(TWCC_LOWMEMORY);
    TW_HANDLE block = MemAllocate(n + static_cast<TW_UINT32>(kBitmapInfoHeaderSize));
    if (!block) return FailWithMessage(TWCC_LOWMEMORY);
    auto* bytes = static_cast<std::uint8_t*>(MemLock(block));
    if (!bytes) {
        MemFree(block);
        return FailWithMessage(TWCC_LOWMEMORY);
    }
    PutBitmapInfoHeader(bytes, static_cast<std::uint32_t>(info.ImageWidth),
                        static_cast<std::uint32_t>(info.ImageLength), static_cast<std::uint16_t>(info.BitsPerPixel),
                        static_cast<std::uint32_t>(info.ImageWidth) * static_cast<std::uint32_t>(info.ImageLength) *
                            3u);
    if (!image->CopyAll(n, bytes + kBitmapInfoHeaderSize)) {
        MemUnlock(block);
        MemFree(block);
        return FailWithMessage(TWCC_BADVALUE);
    }
    MemUnlock(block);
    *static_cast<TW_HANDLE*>(pData) = block;  // the application owns the block now
    return TWRC_XFERDONE;
}

TW_UINT16 CKIVTwainMgr::FileXfer() {
    if (!m_capMgr) return FailWithMessage(TWCC_SEQERROR);
    auto* format = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(ICAP_IMAGEFILEFORMAT));
    if (!format) return FailWithMessage(TWCC_BUMMER);
    const auto fileFormat = format->GetCurrent();
    if (fileFormat != TWFF_TIFF && fileFormat != TWFF_BMP) return FailWithMessage(TWCC_BADVALUE);

    m_image.reset();
    const TW_UINT16 grabbed = GrabFrameImage(m_image);
    if (grabbed != TWCC_SUCCESS) return FailWithMessage(grabbed);
    std::unique_ptr<CImageReference> image = std::move(m_image);
    const bool written = fileFormat == TWFF_TIFF ? image->WriteTiff(m_fileName) : image->WriteBmp(m_fileName);
    if (!written) return FailWithMessage(TWCC_FILEWRITEERROR);
    return TWRC_XFERDONE;
}

TW_UINT16 CKIVTwainMgr::MemXfer(TW_IMAGEMEMXFER* pXfer) {
    TW_IMAGEINFO info{};
    if (GetImageInfo(&info) != TWRC_SUCCESS) return FailWithMessage(m_conditionCode);
    // Sizes in 64 bits: an absurd frame must not wrap around.
    const std::uint64_t width = info.ImageWidth < 0 ? 0 : static_cast<std::uint64_t>(info.ImageWidth);
    const std::uint64_t bitsPerPixel = info.BitsPerPixel < 0 ? 0 : static_cast<std::uint64_t>(info.BitsPerPixel);
    const std::uint64_t bytesPerRow64 = ((bitsPerPixel * width + 31) / 32) * 4;
    // A transfer broken off is continued with its image only while the image
    // frame is the one it was cut to (the image is dropped at MSG_CLOSEDS):
    // anything else is a new image, grabbed afresh.
    const bool sameFrame = m_imageFrame.left == m_frame.left && m_imageFrame.top == m_frame.top &&
                           m_imageFrame.right == m_frame.right && m_imageFrame.bottom == m_frame.bottom;
    // Strips of another length than the image was prepared for (a bit depth
    // set in between) need it prepared afresh as well.
    const bool sameStrips = m_image &&
                            (bytesPerRow64 != static_cast<std::uint64_t>(m_image->BytesPerLine())) == m_imageTopDown;
    if (m_image && (!sameFrame || !sameStrips)) {
        m_image.reset();
        m_rowsDone = 0;
    }
    if (!m_image) {
        std::unique_ptr<CImageReference> image;
        const TW_UINT16 grabbed = GrabFrameImage(image);
        if (grabbed != TWCC_SUCCESS) return FailWithMessage(grabbed);
        // Strips of whole padded rows are converted to top-down RGB as they
        // are served; any other strip geometry needs the whole image converted.
        m_imageTopDown = bytesPerRow64 != static_cast<std::uint64_t>(image->BytesPerLine());
        if (m_imageTopDown && !image->FlipToTopDownRgb()) return FailWithMessage(TWCC_LOWMEMORY);
        // Without a dialog the stream ends with the transfer (MSG_ENDXFER),
        // not while its strips are served.
        if (!m_dialog) m_stopAtEndXfer = true;
        m_image = std::move(image);
        m_imageFrame = m_frame;
        m_rowsDone = 0;
    }

    if (bytesPerRow64 == 0 || bytesPerRow64 > std::numeric_limits<TW_UINT32>::max())
        return FailWithMessage(TWCC_BADVALUE);
    const auto bytesPerRow = static_cast<TW_UINT32>(bytesPerRow64);
    if (pXfer->Memory.Length < bytesPerRow) return FailWithMessage(TWCC_BADVALUE);
    const TW_UINT32 length = info.ImageLength < 0 ? 0 : static_cast<TW_UINT32>(info.ImageLength);
    const TW_UINT32 remaining = length > m_rowsDone ? length - m_rowsDone : 0;
    const TW_UINT32 rows = std::min(pXfer->Memory.Length / bytesPerRow, remaining);

    const bool isHandle = (pXfer->Memory.Flags & TWMF_POINTER) == 0 && (pXfer->Memory.Flags & TWMF_HANDLE) != 0;
    if ((pXfer->Memory.Flags & (TWMF_POINTER | TWMF_HANDLE)) == 0) return FailWithMessage(TWCC_BADVALUE);
    std::unique_ptr<MemLockGuard> lock;
    void* const theMem = pXfer->Memory.TheMem;  // a copy: the record is packed
    void* destination = theMem;
    if (isHandle) {
        lock = std::make_unique<MemLockGuard>(theMem);
        destination = lock->Data();
    }
    if (!destination) return FailWithMessage(TWCC_BADVALUE);
    const std::uint64_t offset = static_cast<std::uint64_t>(m_rowsDone) * bytesPerRow;
    const std::uint64_t count = static_cast<std::uint64_t>(rows) * bytesPerRow;
    const bool copied = m_imageTopDown ? offset <= std::numeric_limits<TW_UINT32>::max() &&
                                             m_image->CopyRange(static_cast<TW_UINT32>(offset),
                                                                static_cast<TW_UINT32>(count), destination)
                                       : bytesPerRow == static_cast<TW_UINT32>(m_image->BytesPerLine()) &&
                                             m_image->CopyRowsTopDownRgb(m_rowsDone, rows, destination);
    if (!copied) return FailWithMessage(TWCC_BADVALUE);

    pXfer->Compression = TWCP_NONE;
    pXfer->BytesPerRow = bytesPerRow;
    pXfer->Columns = static_cast<TW_UINT32>(width);
    pXfer->Rows = rows;
    pXfer->XOffset = 0;
    pXfer->YOffset = m_rowsDone;
    pXfer->BytesWritten = static_cast<TW_UINT32>(count);
    m_rowsDone += rows;
    if (m_rowsDone < length) return TWRC_SUCCESS;
    m_rowsDone = 0;
    m_image.reset();
    m_pendingXfers.Count = 0;
    return TWRC_XFERDONE;
}

}  // namespace kiv
