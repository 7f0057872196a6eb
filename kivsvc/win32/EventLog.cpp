#include "kivsvc/win32/EventLog.h"

#include <windows.h>

#include "kivsvc/win32/Text.h"

namespace kiv::svc {

void WriteEventLog(const std::wstring& source, const std::string& message) {
    HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
    if (!log) return;
    const std::wstring text = Widen(message);
    LPCWSTR strings[1] = {text.c_str()};
    ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

void WriteStandardOutput(const std::string& message) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    const std::string line = message + "\r\n";
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace kiv::svc
