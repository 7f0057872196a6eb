// The command-line switches of kivsvc.exe.
#pragma once

#include <string_view>

namespace kiv::svc {

enum class CommandSwitch { None, UnregServer, RegServer, Service };

// Scans the whole command line (program path included) for "-" and "/". After
// each one, the rest of the line from the next character on is compared,
// ignoring ASCII case, with "UnregServer", "RegServer" and "Service"; the
// first match is the result. A separator whose rest matches nothing is
// skipped, so of two switches only the last one can match.
CommandSwitch ScanCommandLine(std::string_view commandLine);

// True when the line carries "-Embedding" or "/Embedding" as a word: the
// server was started by COM for a client.
bool HasEmbeddingSwitch(std::string_view commandLine);

}  // namespace kiv::svc
