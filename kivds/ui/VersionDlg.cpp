#include "kivds/ui/VersionDlg.h"

#include <cstdio>

#include "KivVersion.h"

#include "kivds/ui/DialogControls.h"
#include "kivds/ui/Strings.h"

namespace kiv {
namespace {

// Fixed in the program (KivVersion.h); the file's version resource is not consulted.
constexpr int kVersionMajor = KIV_VERSION_MAJOR;
constexpr int kVersionMinor = KIV_VERSION_MINOR;
constexpr int kVersionBuild = KIV_VERSION_BUILD;

}  // namespace

std::string VersionText() {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%04d", kVersionMajor, kVersionMinor, kVersionBuild);
    return text;
}

bool CVersionDlg::OnInitDialog(IVersionDialogView& view) {
    view.SetIcon(IDC_VERSION_ICON, IDI_APP);  // a missing icon leaves the static empty
    view.SetText(IDC_VERSION_PRODUCT, LoadKivString(IDS_PRODUCTNAME));
    view.SetTitle(LoadLocalisedString(IDS_VERSIONTITLE));
    view.SetText(IDC_VERSION_NUMBER, VersionText());
    view.SetText(IDC_VERSION_LICENSE, LoadKivString(IDS_LICENSE));
    view.SetText(IDOK_BUTTON, LoadLocalisedString(IDS_OK));
    return true;
}

}  // namespace kiv
