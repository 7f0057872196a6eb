// The version dialog: product name, version number, and the licence notice of
// the TIFF library, in the user's language.
#pragma once

#include <string>

#include "kivds/ui/ICaptureDialogView.h"

namespace kiv {

// The version number shown by the dialog, "2.00.0006".
std::string VersionText();

class CVersionDlg {
public:
    CVersionDlg() = default;
    virtual ~CVersionDlg() = default;
    CVersionDlg(const CVersionDlg&) = delete;
    CVersionDlg& operator=(const CVersionDlg&) = delete;

    // Fills the dialog's texts and icon; returns true (focus to the first
    // tab stop). Called by the view once the controls exist.
    virtual bool OnInitDialog(IVersionDialogView& view);
};

}  // namespace kiv
