// The string table of the data source. Localised texts live at base id +
// language index (GetLanguageIndex); IDS_LICENSE and IDS_PRODUCTNAME are single
// ids. Windows loads them from the module's STRINGTABLE resource, the other
// platforms from the same table compiled in (both come from StringTable.inc).
#pragma once

#include <string>

namespace kiv {

constexpr unsigned IDS_VERSIONMENU = 3000;
constexpr unsigned IDS_VERSIONTITLE = 3050;
constexpr unsigned IDS_ERR_INUSE = 3100;
constexpr unsigned IDS_ERR_DISCONNECTED = 3150;
constexpr unsigned IDS_ERR_OTHER = 3200;
constexpr unsigned IDS_LABEL_FORMAT = 3250;
constexpr unsigned IDS_LABEL_SIZE = 3300;
constexpr unsigned IDS_LICENSE = 3350;
constexpr unsigned IDS_OK = 3400;
constexpr unsigned IDS_SETTINGS_DEFAULTS = 3450;
constexpr unsigned IDS_SETTINGS_CLOSE = 3500;
constexpr unsigned IDS_SETTINGS_NONE = 3550;
constexpr unsigned IDS_PRODUCTNAME = 4000;

// The text with this exact id, UTF-8; empty when there is no such string.
std::string LoadKivString(unsigned id);

// The text of `base` in the user's language: LoadKivString(base + GetLanguageIndex()).
std::string LoadLocalisedString(unsigned base);

// A wide text (a caption a camera call passes) as UTF-8.
std::string Utf8Text(const std::wstring& text);

}  // namespace kiv
