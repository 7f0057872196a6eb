// The resource script's ids are the ones the dialogs' logic uses.
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/win32/Resource.h"

namespace kiv {

static_assert(IDD_CAPTURE_RC == IDD_CAPTURE, "capture template");
static_assert(IDC_PREVIEW_RC == IDC_PREVIEW, "preview");
static_assert(IDC_FORMAT_LABEL_RC == IDC_FORMAT_LABEL, "format label");
static_assert(IDC_FORMAT_LIST_RC == IDC_FORMAT_LIST, "format list");
static_assert(IDC_SIZE_LABEL_RC == IDC_SIZE_LABEL, "size label");
static_assert(IDC_SIZE_LIST_RC == IDC_SIZE_LIST, "size list");
static_assert(IDC_SETTINGS_RC == IDC_SETTINGS, "settings button");
static_assert(IDC_CAPTURE_RC == IDC_CAPTURE, "capture button");
static_assert(IDD_VERSION_RC == IDD_VERSION, "version template");
static_assert(IDC_VERSION_PRODUCT_RC == IDC_VERSION_PRODUCT, "product name");
static_assert(IDC_VERSION_NUMBER_RC == IDC_VERSION_NUMBER, "version number");
static_assert(IDC_VERSION_COPYRIGHT_RC == IDC_VERSION_COPYRIGHT, "copyright");
static_assert(IDC_VERSION_ICON_RC == IDC_VERSION_ICON, "icon static");
static_assert(IDC_VERSION_LICENSE_RC == IDC_VERSION_LICENSE, "licence text");
static_assert(IDI_APP_RC == IDI_APP, "application icon");
static_assert(IDI_CAPTURE_RC == IDI_CAPTURE, "capture icon");
static_assert(IDI_SETTINGS_RC == IDI_SETTINGS, "settings icon");

}  // namespace kiv
