#include "kivsvc/core/CommandLine.h"

#include <cstddef>

namespace kiv::svc {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool IsSeparator(char c) { return c == '-' || c == '/'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct SwitchName {
    const char* text;
    CommandSwitch value;
};

constexpr SwitchName kSwitches[] = {
    {"UnregServer", CommandSwitch::UnregServer},
    {"RegServer", CommandSwitch::RegServer},
    {"Service", CommandSwitch::Service},
};

}  // namespace

CommandSwitch ScanCommandLine(std::string_view commandLine) {
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        if (!IsSeparator(commandLine[i])) continue;
        const std::string_view rest = commandLine.substr(i + 1);
        for (const SwitchName& s : kSwitches) {
            if (EqualsIgnoreCase(rest, s.text)) return s.value;
        }
    }
    return CommandSwitch::None;
}

bool HasEmbeddingSwitch(std::string_view commandLine) {
    constexpr std::string_view kEmbedding = "Embedding";
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        if (!IsSeparator(commandLine[i])) continue;
        if (i > 0 && !IsBlank(commandLine[i - 1])) continue;
        const std::string_view word = commandLine.substr(i + 1, kEmbedding.size());
        const std::size_t end = i + 1 + kEmbedding.size();
        if (EqualsIgnoreCase(word, kEmbedding) && (end == commandLine.size() || IsBlank(commandLine[end]))) return true;
    }
    return false;
}

}  // namespace kiv::svc
