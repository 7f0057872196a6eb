#include "tools/kivscan/CapabilityTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/kivscan/TwainNames.h"

namespace kiv {
namespace scan {

using namespace twain;

namespace {

constexpr std::uint32_t kMaxItems = 4096;

std::size_t ItemBytes(TW_UINT16 itemType) {
    switch (itemType) {
        case TWTY_INT8:
        case TWTY_UINT8: return 1;
        case TWTY_INT16:
        case TWTY_UINT16:
        case TWTY_BOOL: return 2;
        case TWTY_INT32:
        case TWTY_UINT32:
        case TWTY_FIX32: return 4;
        case TWTY_FRAME: return 16;
        case TWTY_STR32: return 34;
        case TWTY_STR64: return 66;
        case TWTY_STR128: return 130;
        case TWTY_STR255: return 256;
        case TWTY_STR1024: return 1026;
        case TWTY_UNI512: return 1024;
        default: return 0;
    }
}

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(U16(p)) | static_cast<std::uint32_t>(U16(p + 2)) << 16;
}

std::string Fix32Text(const std::uint8_t* p) {
    const auto whole = static_cast<std::int16_t>(U16(p));
    const std::uint16_t frac = U16(p + 2);
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", whole + frac / 65536.0);
    return text;
}

std::string WithName(TW_UINT16 cap, std::int64_t value) {
    const std::string name = CapabilityValueName(cap, value);
    return name.empty() ? std::to_string(value) : name;
}

}  // namespace

std::string FormatItem(TW_UINT16 cap, TW_UINT16 itemType, const std::uint8_t* p) {
    switch (itemType) {
        case TWTY_INT8: return WithName(cap, static_cast<std::int8_t>(p[0]));
        case TWTY_UINT8: return WithName(cap, p[0]);
        case TWTY_INT16: return WithName(cap, static_cast<std::int16_t>(U16(p)));
        case TWTY_UINT16: return WithName(cap, U16(p));
        case TWTY_INT32: return WithName(cap, static_cast<std::int32_t>(U32(p)));
        case TWTY_UINT32: return WithName(cap, U32(p));
        case TWTY_BOOL: return U16(p) ? "TRUE" : "FALSE";
        case TWTY_FIX32: return Fix32Text(p);
        case TWTY_FRAME:
            return "(" + Fix32Text(p) + ", " + Fix32Text(p + 4) + ", " + Fix32Text(p + 8) + ", " + Fix32Text(p + 12) +
                   ")";
        default: break;
    }
    const std::size_t bytes = ItemBytes(itemType);
    if (bytes >= 34 && itemType != TWTY_UNI512) {
        const char* text = reinterpret_cast<const char*>(p);
        return "\"" + std::string(text, strnlen(text, bytes)) + "\"";
    }
    return "?";
}

bool ReadContainer(const std::uint8_t* bytes, std::optional<std::size_t> size, TW_UINT16 conType, TW_UINT16 cap,
                   ContainerValues& values, std::string& error) {
    values = ContainerValues{};
    values.conType = conType;
    auto fits = [&](std::uint64_t needed) {
        if (size && needed > *size) {
            error = ContainerName(conType) + " needs " + std::to_string(needed) + " bytes, the block has " +
                    std::to_string(*size);
            return false;
        }
        return true;
    };
    if (!bytes || !fits(2)) {
        if (error.empty()) error = "no container";
        return false;
    }
    values.itemType = U16(bytes);
    const std::size_t itemBytes = ItemBytes(values.itemType);
    if (itemBytes == 0) {
        error = "unknown item type " + std::to_string(values.itemType);
        return false;
    }
    switch (conType) {
        case TWON_ONEVALUE:
            // The item stands where the 32-bit Item is; longer items extend it.
            if (!fits(2 + std::max<std::size_t>(itemBytes, 4))) return false;
            values.items.push_back(FormatItem(cap, values.itemType, bytes + 2));
            values.currentIndex = values.defaultIndex = 0;
            return true;
        case TWON_ENUMERATION:
        case TWON_ARRAY: {
            const bool enumeration = conType == TWON_ENUMERATION;
            const std::size_t header = enumeration ? 14 : 6;
            if (!fits(header)) return false;
            const std::uint32_t count = U32(bytes + 2);
            if (count > kMaxItems) {
                error = "a container of " + std::to_string(count) + " items";
                return false;
            }
            if (!fits(header + static_cast<std::uint64_t>(count) * itemBytes)) return false;
            for (std::uint32_t i = 0; i < count; ++i)
                values.items.push_back(FormatItem(cap, values.itemType, bytes + header + i * itemBytes));
            if (enumeration) {
                const std::uint32_t current = U32(bytes + 6);
                const std::uint32_t def = U32(bytes + 10);
                if (current < count) values.currentIndex = current;
                if (def < count) values.defaultIndex = def;
            }
            return true;
        }
        case TWON_RANGE: {
            if (!fits(22) || itemBytes > 4) {
                if (error.empty()) error = "a range of an item type that does not fit in 32 bits";
                return false;
            }
            const char* labels[] = {"min", "max", "step", "default", "current"};
            for (int i = 0; i < 5; ++i)
                values.items.push_back(std::string(labels[i]) + " " +
                                       FormatItem(cap, values.itemType, bytes + 2 + 4 * i));
            return true;
        }
        default: error = "unknown container kind " + std::to_string(conType); return false;
    }
}

std::optional<TW_FIX32> CurrentFix32(Session& session, TW_UINT16 cap) {
    TW_UINT16 conType = 0;
    TW_HANDLE handle = session.QueryCapability(cap, MSG_GETCURRENT, conType);
    if (!handle) return std::nullopt;
    TwainLink& link = session.Link();
    std::optional<TW_FIX32> value;
    {
        BlockLock lock(link, handle);
        const std::optional<std::size_t> size = link.BlockSize(handle);
        const std::uint8_t* bytes = lock.Data();
        // TW_ONEVALUE: ItemType, then the item, little-endian as TWAIN packs it.
        if (bytes && conType == TWON_ONEVALUE && (!size || *size >= sizeof(TW_ONEVALUE)) && U16(bytes) == TWTY_FIX32) {
            TW_FIX32 fix;
            fix.Whole = static_cast<TW_INT16>(U16(bytes + 2));
            fix.Frac = U16(bytes + 4);
            value = fix;
        }
    }
    link.Free(handle);
    return value;
}

namespace {

// The values of one DAT_CAPABILITY answer, read and freed.
std::optional<ContainerValues> Ask(Session& session, TW_UINT16 cap, TW_UINT16 msg, bool named = true) {
    TW_UINT16 conType = 0;
    TW_HANDLE handle = session.QueryCapability(cap, msg, conType);
    if (!handle) return std::nullopt;
    TwainLink& link = session.Link();
    ContainerValues values;
    std::string error;
    bool ok = false;
    {
        BlockLock lock(link, handle);
        ok = ReadContainer(lock.Data(), link.BlockSize(handle), conType, named ? cap : 0, values, error);
    }
    link.Free(handle);
    if (!ok) {
        values = ContainerValues{};
        values.items.push_back("(" + error + ")");
    }
    return values;
}

std::string OneValue(const std::optional<ContainerValues>& values) {
    if (!values || values->items.empty()) return "-";
    if (values->conType == TWON_ONEVALUE) return values->items.front();
    if (values->currentIndex) return values->items[*values->currentIndex];
    return values->items.front();
}

std::string Allowed(const std::optional<ContainerValues>& values) {
    if (!values) return "-";
    std::string text;
    for (const std::string& item : values->items) text += (text.empty() ? "" : ", ") + item;
    if (values->conType == TWON_RANGE) return "range " + text;
    return text.empty() ? "(none)" : text;
}

constexpr std::size_t kAllowedColumnWidth = 40;

// `text` split after ", " into lines of at most `width` characters (an item
// longer than that stands on a line of its own).
std::vector<std::string> WrapList(const std::string& text, std::size_t width) {
    std::vector<std::string> lines(1);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(", ", start);
        end = (end == std::string::npos) ? text.size() : end + 2;
        std::string piece = text.substr(start, end - start);
        std::string& last = lines.back();
        if (!last.empty() && last.size() + piece.size() > width + 1) {  // the trailing blank may overhang
            while (!last.empty() && last.back() == ' ') last.pop_back();
            lines.emplace_back();
        }
        lines.back() += piece;
        start = end;
    }
    for (std::string& line : lines)
        while (!line.empty() && line.back() == ' ') line.pop_back();
    return lines;
}

}  // namespace

void PrintCapabilityTable(Session& session, std::ostream& out) {
    std::vector<TW_UINT16> caps;
    {
        TW_UINT16 conType = 0;
        TW_HANDLE handle = session.QueryCapability(CAP_SUPPORTEDCAPS, MSG_GET, conType);
        if (handle) {
            TwainLink& link = session.Link();
            {
                BlockLock lock(link, handle);
                const std::uint8_t* bytes = lock.Data();
                const std::optional<std::size_t> size = link.BlockSize(handle);
                if (bytes && conType == TWON_ARRAY && (!size || *size >= 6)) {
                    const std::uint32_t count = std::min<std::uint32_t>(U32(bytes + 2), kMaxItems);
                    for (std::uint32_t i = 0; i < count && (!size || 6 + 2 * (i + 1) <= *size); ++i)
                        caps.push_back(U16(bytes + 6 + 2 * i));
                }
            }
            link.Free(handle);
        }
    }
    if (std::find(caps.begin(), caps.end(), CAP_SUPPORTEDCAPS) == caps.end()) caps.push_back(CAP_SUPPORTEDCAPS);

    struct Row {
        std::string cells[6];
    };
    std::vector<Row> rows;
    rows.push_back(Row{{"Capability", "Type", "Current", "Default", "Messages", "Allowed (MSG_GET)"}});
    for (TW_UINT16 cap : caps) {
        Row row;
        row.cells[0] = CapabilityName(cap);
        std::optional<ContainerValues> all = Ask(session, cap, MSG_GET);
        std::optional<ContainerValues> current = Ask(session, cap, MSG_GETCURRENT);
        std::optional<ContainerValues> def = Ask(session, cap, MSG_GETDEFAULT);
        std::optional<ContainerValues> support = Ask(session, cap, MSG_QUERYSUPPORT, false);
        const std::optional<ContainerValues>& typed = all ? all : current;
        row.cells[1] = typed ? ItemTypeName(typed->itemType) + " " + ContainerName(typed->conType) : "-";
        row.cells[2] = OneValue(current);
        row.cells[3] = OneValue(def);
        row.cells[5] = Allowed(all);
        // MSG_QUERYSUPPORT answers a TW_ONEVALUE of TWQC_ bits (read without value names).
        std::string messages = "-";
        if (support && support->conType == TWON_ONEVALUE && !support->items.empty()) {
            const std::string& mask = support->items.front();
            if (!mask.empty() && mask.find_first_not_of("0123456789") == std::string::npos)
                messages = SupportedMessagesText(static_cast<TW_UINT32>(std::stoul(mask)));
        }
        row.cells[4] = messages;
        rows.push_back(row);
    }
    // The allowed values are wrapped between items, so that a long list
    // (CAP_SUPPORTEDCAPS) continues under its column instead of making every
    // line of the table as wide as itself.
    std::vector<std::vector<std::string>> allowed;
    for (const Row& row : rows) allowed.push_back(WrapList(row.cells[5], kAllowedColumnWidth));
    std::size_t widths[6] = {};
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < 5; ++c) widths[c] = std::max(widths[c], rows[r].cells[c].size());
        for (const std::string& piece : allowed[r]) widths[5] = std::max(widths[5], piece.size());
    }
    std::size_t indent = 0;
    for (int c = 0; c < 5; ++c) indent += widths[c] + 2;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (int c = 0; c < 5; ++c)
            line += rows[r].cells[c] + std::string(widths[c] - rows[r].cells[c].size() + 2, ' ');
        out << line << allowed[r].front() << '\n';
        for (std::size_t i = 1; i < allowed[r].size(); ++i) out << std::string(indent, ' ') << allowed[r][i] << '\n';
        if (r == 0) out << std::string(indent + widths[5], '-') << '\n';
    }
}

}  // namespace scan
}  // namespace kiv
