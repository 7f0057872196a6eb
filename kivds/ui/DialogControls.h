// The control ids, messages, timers and icons of the two dialog templates,
// the per-control rules of the capture dialog and the version dialog's
// layout as tables (their rectangles from DialogGeometry.h), and the
// conversion of dialog units to pixels.
#pragma once

#include <cstddef>

#include "kivds/camera/IWindowBridge.h"
#include "kivds/ui/DialogGeometry.h"

namespace kiv {

// Capture dialog, template IDD_CAPTURE.
constexpr int IDD_CAPTURE = 2000;
constexpr int IDC_PREVIEW = 2001;
constexpr int IDC_FORMAT_LABEL = 2002;
constexpr int IDC_FORMAT_LIST = 2004;
constexpr int IDC_SIZE_LABEL = 2005;
constexpr int IDC_SIZE_LIST = 2007;
constexpr int IDC_SETTINGS = 2008;
constexpr int IDC_CAPTURE = 2009;

// Version dialog, template IDD_VERSION.
constexpr int IDD_VERSION = 2017;
constexpr int IDC_VERSION_PRODUCT = 2018;
constexpr int IDC_VERSION_NUMBER = 2019;
constexpr int IDC_VERSION_COPYRIGHT = 2020;
constexpr int IDC_VERSION_ICON = 2021;
constexpr int IDC_VERSION_LICENSE = 2022;
constexpr int IDOK_BUTTON = 1;
constexpr int IDCANCEL_RESULT = 2;

// Icons.
constexpr int IDI_APP = 2003;
constexpr int IDI_CAPTURE = 2015;
constexpr int IDI_SETTINGS = 2016;

// System-menu item of the capture dialog, and the mask of system commands.
constexpr unsigned IDM_VERSIONINFO = 0x0010;
constexpr unsigned kSysCommandMask = 0xFFF0;
// The close box (SC_CLOSE), which default processing turns into IDCANCEL.
constexpr unsigned kScClose = 0xF060;

// Private messages of the capture dialog.
// WM_GRAPHNOTIFY (0x0401) and WM_FRAMEARRIVED (0x0403) come from the camera
// (IWindowBridge.h); WM_XFERDONE from the TWAIN manager.
constexpr unsigned WM_XFERDONE = 0x0402;

// Notifications of WM_COMMAND, with the values of the Windows macros of the
// same names; where <windows.h> came first, its macros stand in for these.
#ifndef BN_CLICKED
constexpr unsigned BN_CLICKED = 0;
#endif
#ifndef CBN_SELCHANGE
constexpr unsigned CBN_SELCHANGE = 1;
#endif
static_assert(BN_CLICKED == 0 && CBN_SELCHANGE == 1, "the values of WM_COMMAND's notifications");

// The zoom-button poll.
constexpr unsigned kPollTimer = 0;
constexpr unsigned kPollPeriodMs = 200;

enum class ControlKind { Static, List, Button };

// What the capture dialog does with each control of its template.
struct ControlRule {
    int id;
    ControlKind kind;
    int x, y, w, h;          // template rectangle, dialog units
    bool sortedList;         // the list sorts its entries by text
    bool disabledWhileBusy;  // one of the four controls switched off while starting, switching, capturing
    int iconId;              // owner-drawn button's icon, 0 for none
};

constexpr ControlRule kCaptureControls[] = {
    {IDC_PREVIEW, ControlKind::Static, KIV_RECT_PREVIEW, false, false, 0},
    {IDC_FORMAT_LABEL, ControlKind::Static, KIV_RECT_FORMAT_LABEL, false, false, 0},
    {IDC_FORMAT_LIST, ControlKind::List, KIV_RECT_FORMAT_LIST, true, true, 0},
    {IDC_SIZE_LABEL, ControlKind::Static, KIV_RECT_SIZE_LABEL, false, false, 0},
    {IDC_SIZE_LIST, ControlKind::List, KIV_RECT_SIZE_LIST, false, true, 0},
    {IDC_SETTINGS, ControlKind::Button, KIV_RECT_SETTINGS, false, true, IDI_SETTINGS},
    {IDC_CAPTURE, ControlKind::Button, KIV_RECT_CAPTURE, false, true, IDI_CAPTURE},
};

// The dialog's own size in dialog units.
constexpr int kCaptureDialogWidth = KIV_CAPTURE_DIALOG_W;
constexpr int kCaptureDialogHeight = KIV_CAPTURE_DIALOG_H;

// A control of the version dialog's template and its rectangle in dialog units.
struct TemplateRect {
    int id;
    int x, y, w, h;
};

constexpr TemplateRect kVersionControls[] = {
    {IDC_VERSION_ICON, KIV_RECT_VERSION_ICON},       {IDC_VERSION_PRODUCT, KIV_RECT_VERSION_PRODUCT},
    {IDC_VERSION_NUMBER, KIV_RECT_VERSION_NUMBER},   {IDC_VERSION_COPYRIGHT, KIV_RECT_VERSION_COPYRIGHT},
    {IDC_VERSION_LICENSE, KIV_RECT_VERSION_LICENSE}, {IDOK_BUTTON, KIV_RECT_VERSION_OK},
};

constexpr int kVersionDialogWidth = KIV_VERSION_DIALOG_W;
constexpr int kVersionDialogHeight = KIV_VERSION_DIALOG_H;

// The four controls, in the order they are switched (format list, size list,
// settings, capture).
constexpr int kBusyControls[] = {IDC_FORMAT_LIST, IDC_SIZE_LIST, IDC_SETTINGS, IDC_CAPTURE};

// The dialog is ready for the user (the first frame came, no capture or
// switch is pending): the lists and the capture button are enabled. The
// settings button is left out: it stays disabled on a camera without
// settings pages.
template <typename IsEnabled>
bool ReadyControlsEnabled(IsEnabled isEnabled) {
    for (int id : {IDC_FORMAT_LIST, IDC_SIZE_LIST, IDC_CAPTURE})
        if (!isEnabled(id)) return false;
    return true;
}

// The rule of control `id`, or null.
const ControlRule* FindControlRule(int id);
// The version dialog's control `id`; every id of kVersionControls has one.
const TemplateRect& VersionControlRect(int id);

// Dialog units of the templates to pixels for their font ("MS Shell Dlg"
// 8 pt at 96 dpi, base units 6 x 13): a dialog unit is a quarter of the
// horizontal and an eighth of the vertical base unit, rounded as
// MapDialogRect rounds (MulDiv: halves away from zero).
int DialogUnitsX(int units);
int DialogUnitsY(int units);

}  // namespace kiv
