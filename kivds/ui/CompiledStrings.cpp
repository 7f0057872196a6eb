// The string table compiled into the program, for platforms without string
// resources. The rows come from StringTable.inc, the same rows the Windows
// resource file is built from.
#include <algorithm>
#include <iterator>

#include "kivds/ui/Strings.h"

namespace kiv {
namespace {

struct StringRow {
    unsigned id;
    const char* text;
};

constexpr StringRow kRows[] = {
#define KIV_STRING(id, text) {id, text},
#include "kivds/ui/StringTable.inc"
#undef KIV_STRING
};

constexpr bool RowsAscending() {
    for (std::size_t i = 1; i < std::size(kRows); ++i) {
        if (kRows[i - 1].id >= kRows[i].id) return false;
    }
    return true;
}
static_assert(RowsAscending(), "StringTable.inc must list each id once, in ascending order");

}  // namespace

std::string LoadKivString(unsigned id) {
    auto row = std::lower_bound(std::begin(kRows), std::end(kRows), id,
                                [](const StringRow& r, unsigned wanted) { return r.id < wanted; });
    if (row == std::end(kRows) || row->id != id) return {};
    return row->text;
}

}  // namespace kiv
