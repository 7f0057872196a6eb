#include "kivds/ui/KIVDlg.h"

#include <algorithm>
#include <string>
#include <utility>

#include "kivds/camera/IKIVCameraControl.h"
#include "kivds/camera/IKIVSVCClient.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/camera/ModelName.h"
#include "kivds/protocol/SourceNotifier.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/ErrorMessage.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/Viewer.h"

namespace kiv {
namespace {

constexpr char kFormatNameMjpeg[] = "MJPEG";
constexpr char kFormatNameYuy2[] = "YUY2";
constexpr wchar_t kPropertyCaption[] = L"Orvan Document Camera";
constexpr int kIconSize = 48;

// The models whose zoom buttons are polled, and those whose removal a device
// change can detect by name.
const wchar_t* const kPolledModels[] = {kModelB, kModelA, kModelAorB};
const wchar_t* const kPresenceModels[] = {kModelA, kModelAorB};

template <std::size_t N>
bool IsOneOf(const std::wstring& name, const wchar_t* const (&models)[N]) {
    for (const wchar_t* model : models) {
        if (SameModelName(name, model)) return true;
    }
    return false;
}

const char* FormatName(int type) {
    switch (type) {
        case UVCFMT_MJPEG: return kFormatNameMjpeg;
        case UVCFMT_YUY2: return kFormatNameYuy2;
        default: return nullptr;
    }
}

ViewRect Shrunk(ViewRect r, int by) { return {r.left + by, r.top + by, r.right - by, r.bottom - by}; }

}  // namespace

ButtonDrawPlan PlanButtonDrawing(int id, const ViewRect& item, bool focused, bool pressed) {
    ButtonDrawPlan plan;
    ViewRect r = item;
    if (focused) {
        plan.focusFrame = true;
        r = Shrunk(r, 1);
    }
    plan.face = r;
    plan.shadowFrame = pressed;
    if (focused) {
        plan.focusRect = true;
        plan.focus = Shrunk(r, 3);
        if (pressed) {
            plan.focus.left += 1;
            plan.focus.right += 1;
            plan.focus.top += 1;
            plan.focus.bottom += 1;
        }
    }
    const ControlRule* rule = FindControlRule(id);
    plan.iconId = rule ? rule->iconId : 0;
    const int p = pressed ? 1 : 0;
    plan.iconX = p + (item.Width() - kIconSize) / 2;
    plan.iconY = p + (item.Height() - kIconSize) / 2;
    return plan;
}

CKIVDlg::CKIVDlg(ICaptureDialogView& view) : CKIVDlg(view, OsViewerPlatform()) {}

CKIVDlg::CKIVDlg(ICaptureDialogView& view, IViewerPlatform& viewerPlatform)
    : m_view(view), m_viewerPlatform(viewerPlatform) {}

CKIVDlg::~CKIVDlg() = default;

// ------------------------------------------------------------ initialisation

bool CKIVDlg::OnInitDialog() {
    m_view.SetWindowIcon(IDI_APP);
    m_view.SetTitle(LoadKivString(IDS_PRODUCTNAME));
    m_view.AppendSystemMenuItem(IDM_VERSIONINFO, LoadLocalisedString(IDS_VERSIONMENU));
    LayoutPreview();

    // Steps that can fail: the first failure ends the dialog, which makes
    // its creation fail; the manager reports the camera's error.
    bool ok = (m_camera = CKIVUVCControl::GetInstance()) != nullptr;
    // A backend without settings pages keeps the settings button disabled:
    // pressing it could only fail and end the dialog.
    m_settingsAvailable = ok && m_camera->HasPropertyPages();
    ok = ok && FillLists();
    ok = ok && m_camera->SetPreviewWindow(m_view.ControlWindow(IDC_PREVIEW));
    if (ok) EnableControls(false);
    ok = ok && m_camera->Run();
    ok = ok && m_camera->SetNotifyWindow(m_view.Window());
    if (!ok) {
        m_camera = nullptr;
        OnCancel();
        return false;
    }
    ArmFrameCallback();

    std::unique_ptr<IKIVSVCClient> service = MakeServiceClient();
    if (service->HasInstance()) service->RegistryDeleteNodeInterfacesKey();
    if (m_viewerPath.empty()) {
        WindowHandle viewerWindow = nullptr;
        if (FindRunningViewer(m_viewerPlatform, viewerWindow, m_viewerPath)) {
            m_viewerPlatform.AskToClose(viewerWindow);
        }
    }
    return true;
}

void CKIVDlg::LayoutPreview() {
    const ViewRect dialog = m_view.ScreenRect(0);
    const ViewRect preview = m_view.ScreenRect(IDC_PREVIEW);
    const ViewRect capture = m_view.ScreenRect(IDC_CAPTURE);
    // A 5:4 preview; the dialog and the capture button follow its height.
    const std::int32_t delta = (preview.Width() / 5) * 4 - preview.Height();
    m_view.Move(0, {dialog.left, dialog.top, dialog.right, dialog.bottom + delta});
    m_view.Move(IDC_PREVIEW, {preview.left, preview.top, preview.right, preview.bottom + delta});
    m_view.Move(IDC_CAPTURE, {capture.left, capture.top + delta, capture.right, capture.bottom + delta});
}

bool CKIVDlg::FillLists() {
    m_view.SetText(IDC_FORMAT_LABEL, LoadLocalisedString(IDS_LABEL_FORMAT));
    m_view.SetText(IDC_SIZE_LABEL, LoadLocalisedString(IDS_LABEL_SIZE));
    if (!m_camera) return false;
    m_deviceInfo.reset();
    if (!m_camera->GetDeviceInfo(m_deviceInfo) || !m_deviceInfo) {
        m_deviceInfo.reset();
        return true;  // no information: both lists stay empty
    }

    const int currentType = m_deviceInfo->currentFormat.type;
    for (int type : m_deviceInfo->Types()) {
        if (const char* name = FormatName(type)) m_view.ListAdd(IDC_FORMAT_LIST, name, type);
    }
    for (int i = 0; i < m_view.ListCount(IDC_FORMAT_LIST); ++i) {
        if (m_view.ListData(IDC_FORMAT_LIST, i) == currentType) {
            m_view.ListSelect(IDC_FORMAT_LIST, i);
            m_curFormatIndex = i;
            break;
        }
    }

    const std::vector<CResolution> sizes = SortedSizes(currentType);
    // The size the pin reported is flagged; when the pin streamed another
    // format (YUY2 800 x 600, say), no size of the chosen one is, and the
    // entry of the size the camera now streams is selected instead, so a
    // capture delivers what the preview shows.
    int selected = -1;
    int streamed = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        m_view.ListAdd(IDC_SIZE_LIST, std::to_string(sizes[i].width) + " x " + std::to_string(sizes[i].height),
                       static_cast<std::intptr_t>(i));
        if (sizes[i].isDefault) selected = static_cast<int>(i);  // the last flagged one
        if (sizes[i].SameSize(m_deviceInfo->currentFormat.resolution)) streamed = static_cast<int>(i);
    }
    if (selected < 0) selected = streamed;
    if (!sizes.empty()) m_view.ListSelect(IDC_SIZE_LIST, selected);
    m_curSizeIndex = selected;
    return true;
}

// --------------------------------------------------------------- the lists

std::vector<CResolution> CKIVDlg::SortedSizes(int type) const {
    if (!m_deviceInfo) return {};
    std::vector<CResolution> sizes = m_deviceInfo->Sizes(type);
    std::stable_sort(sizes.begin(), sizes.end());  // by width alone
    return sizes;
}

std::optional<CResolution> CKIVDlg::SizeAt(int type, int index) const {
    const std::vector<CResolution> sizes = SortedSizes(type);
    if (sizes.empty()) return std::nullopt;
    if (index < 0) return sizes.front();
    if (static_cast<std::size_t>(index) >= sizes.size()) return sizes.back();
    return sizes[static_cast<std::size_t>(index)];
}

int CKIVDlg::FormatTypeAt(int index) const {
    if (index >= 0 && index < m_view.ListCount(IDC_FORMAT_LIST))
        return static_cast<int>(m_view.ListData(IDC_FORMAT_LIST, index));
    return m_deviceInfo ? m_deviceInfo->currentFormat.type : UVCFMT_MJPEG;
}

void CKIVDlg::EnableControls(bool enable) {
    for (int id : kBusyControls) m_view.Enable(id, enable && (id != IDC_SETTINGS || m_settingsAvailable));
    for (int id : kBusyControls) m_view.Update(id);
}

// ----------------------------------------------------------------- commands

void CKIVDlg::OnCommand(int id, unsigned notification) {
    if (m_ended) return;
    if (id == IDC_FORMAT_LIST && notification == CBN_SELCHANGE) {
        const int f = m_view.ListSelection(IDC_FORMAT_LIST);
        if (f == m_curFormatIndex || !m_camera) return;
        ChangeFormatOrSize(f, m_view.ListSelection(IDC_SIZE_LIST), true);
    } else if (id == IDC_SIZE_LIST && notification == CBN_SELCHANGE) {
        const int s = m_view.ListSelection(IDC_SIZE_LIST);
        if (s == m_curSizeIndex || !m_camera) return;
        ChangeFormatOrSize(m_view.ListSelection(IDC_FORMAT_LIST), s, false);
    } else if (id == IDC_CAPTURE && notification == BN_CLICKED) {
        Capture();
    } else if (id == IDC_SETTINGS && notification == BN_CLICKED) {
        CameraSettings();
    }
}

void CKIVDlg::ChangeFormatOrSize(int formatIndex, int sizeIndex, bool formatChanged) {
    const int type = FormatTypeAt(formatIndex);
    // The size at the same list position in the new format's sizes; the size
    // list is not rebuilt, so it may be longer than that format's list.
    const std::optional<CResolution> size = SizeAt(type, sizeIndex);
    if (!size) return;  // nothing to apply: the camera keeps what it has
    EnableControls(false);
    m_camera->Stop();
    m_view.InvalidateAll();
    if (!m_camera->SetMediaFormat(type, *size)) {
        FailCameraOperation();
        return;
    }
    if (formatChanged) m_curFormatIndex = formatIndex;
    else m_curSizeIndex = sizeIndex;
    ArmFrameCallback();  // the controls return with the next frame
}

void CKIVDlg::Capture() {
    EnableControls(false);
    const int type = FormatTypeAt(m_view.ListSelection(IDC_FORMAT_LIST));
    const std::optional<CResolution> size = SizeAt(type, m_view.ListSelection(IDC_SIZE_LIST));
    if (size) {
        std::int32_t frame[4] = {0, 0, size->width, size->height};
        NotifyActiveManager(twain::MSG_XFERREADY, frame);
    } else {
        // No size is listed: the manager keeps the frame it has.
        NotifyActiveManager(twain::MSG_XFERREADY, nullptr);
    }
}

void CKIVDlg::CameraSettings() {
    if (!m_camera || !m_settingsAvailable) return;
    m_propertyFrameOpen = 1;
    if (!m_camera->ShowPropertyPages(m_view.Window(), kPropertyCaption)) {
        m_propertyFrameOpen = 0;
        FailCameraOperation();
    }
    m_propertyFrameOpen = 0;
}

void CKIVDlg::FailCameraOperation() {
    ShowErrorMessage(m_view.Window(), CameraErrorToCondition(LastCameraError));
    // The message's loop serves the dialog's queue: the manager may have
    // destroyed the dialog meanwhile.
    if (!m_ended) OnCancel();
}

// ----------------------------------------------------------------- messages

void CKIVDlg::OnMessage(unsigned message) {
    // Notifications are posted: one may arrive after the dialog ended.
    if (m_ended) return;
    switch (message) {
        case WM_GRAPHNOTIFY: GraphEvents(); break;
        case WM_FRAMEARRIVED: FirstFrame(); break;
        case WM_XFERDONE: EnableControls(true); break;
        default: break;
    }
}

void CKIVDlg::ArmFrameCallback() {
    m_awaitingFrame = true;
    m_camera->SetFrameCallback(m_view.Window(), 1);  // its result does not matter
}

void CKIVDlg::FirstFrame() {
    if (m_ended || !m_camera || !m_awaitingFrame) return;
    m_awaitingFrame = false;
    m_camera->SetFrameCallback(nullptr, 0);
    EnableControls(true);
    if (m_deviceInfo && IsOneOf(m_deviceInfo->friendlyName, kPolledModels)) m_view.SetTimer(kPollTimer, kPollPeriodMs);
}

void CKIVDlg::OnTimer(unsigned id) {
    if (m_ended || id != kPollTimer || !m_camera) return;
    CameraButtonState buttons;
    m_camera->PollButtons(&buttons);  // the camera applies the zoom itself
}

void CKIVDlg::GraphEvents() {
    if (!m_camera) return;
    CUVCState state;
    state.state = CUVCState::NoEvent;
    if (!m_camera->HandleGraphEvents(state) || state.state != CUVCState::CameraRemoved) return;

    m_view.KillTimer(kPollTimer);
    if (m_propertyFrameOpen == 1) {
        for (WindowHandle frame : m_view.OwnedWindowsWithText(kMessageCaption)) {
            ShowErrorMessage(frame, twain::CC_CAMERA_DISCONNECTED);
            m_view.CloseWindow(frame);
        }
        m_propertyFrameOpen = 0;
    } else {
        IVersionDialogView* version = m_view.VersionDialog();
        WindowHandle owner = (version && version->IsVisible()) ? version->Window() : m_view.Window();
        ShowErrorMessage(owner, twain::CC_CAMERA_DISCONNECTED);
    }
    // Ended or destroyed while a message was shown: nothing is left to close.
    if (!m_ended) OnCancel();
}

void CKIVDlg::OnDeviceChange() {
    if (m_ended || !m_deviceInfo || !m_camera) return;
    const std::wstring& name = m_deviceInfo->friendlyName;
    if (IsOneOf(name, kPresenceModels) && !m_camera->IsDevicePresent(name)) m_view.KillTimer(kPollTimer);
}

void CKIVDlg::OnSysCommand(unsigned command) {
    if (m_ended) return;
    if ((command & kSysCommandMask) == IDM_VERSIONINFO) {
        m_view.RunVersionDialog([this](IVersionDialogView& version) { m_versionDlg.OnInitDialog(version); });
    } else if (command == kScClose) {
        OnCancel();  // the close box reaches IDCANCEL through the dialog manager
    }
}

// ------------------------------------------------------------ closing

void CKIVDlg::OnCancel() {
    IVersionDialogView* version = m_view.VersionDialog();
    if (version && version->IsVisible()) version->End(0);
    m_awaitingFrame = false;
    // The dialog lets go of the camera before the application hears of the
    // close request: it may disable and close the source (destroying the
    // camera) before the notification returns. Only the view is used after.
    if (CKIVUVCControl* camera = std::exchange(m_camera, nullptr)) {
        camera->Stop();
        NotifyActiveManager(twain::MSG_CLOSEDSREQ, &m_closeCondition);
    }
    m_view.KillTimer(kPollTimer);
    EndDialog(IDCANCEL_RESULT);
}

void CKIVDlg::EndDialog(int result) {
    m_ended = true;
    m_view.EndDialog(result);
}

void CKIVDlg::DestroyWindow() {
    m_ended = true;  // for good: a handler that is still running closes nothing
    m_view.KillTimer(kPollTimer);
    // The manager closes the camera only after this.
    m_camera = nullptr;
    m_awaitingFrame = false;
    if (!m_viewerPath.empty()) {
        std::unique_ptr<IKIVSVCClient> service = MakeServiceClient();
        if (service->HasInstance()) service->CreateNodeInterfacesKeyForKIVVIEW();
        m_viewerPlatform.Start(m_viewerPath);
        m_viewerPath.clear();
    }
}

}  // namespace kiv
