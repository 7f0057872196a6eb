// Seam: the diagnostics log, one sink for the whole process.
//
// A user turns it on with the environment, read once, at the first event of
// the process (or the first LogEnabled):
//   KIVDS_LOG       = "stderr" | a file name   (unset, empty or "off": no log)
//                     a file is opened for appending; its name is passed to
//                     the C runtime as it is (UTF-8 on Linux, the ANSI code
//                     page on Windows)
//   KIVDS_LOG_LEVEL = "error" | "info" | "debug"   (default and anything
//                     else: error; each level includes the ones before it)
// One line per event:
//   2026-12-08T08:37:10.123Z 4711:4712 error sim.run: busy (injected by ...)
//   UTC time          process:thread level operation: what happened
//
// Any thread may log. An event below the level costs one atomic load and
// formats nothing. Logging never throws and never fails its caller: a line
// that cannot be written is dropped.
#pragma once

#include <cstdint>
#include <string>

#if defined(__MINGW32__)
#define KIV_LOG_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define KIV_LOG_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define KIV_LOG_PRINTF(f, a)
#endif

namespace kiv {

enum class LogLevel { Error = 0, Info = 1, Debug = 2 };

enum class LogTarget { Off, Stderr, File };

struct LogSettings {
    LogTarget target = LogTarget::Off;
    std::string file;  // for LogTarget::File
    LogLevel level = LogLevel::Error;
};

// The settings KIVDS_LOG and KIVDS_LOG_LEVEL give (read now).
LogSettings LogSettingsFromEnvironment();

// Replaces the process's settings (the environment is then no longer read):
// for a host that has its own switch for the level, and for tests. A file
// left open by the previous settings is closed.
void ConfigureLog(const LogSettings& settings);

// True when an event of this level would be written.
bool LogEnabled(LogLevel level);

// Writes one event. operation names what failed or happened ("v4l2.run",
// "dialog.message"); the message is printf-formatted and may not contain a
// line break (one is replaced by a space).
void Log(LogLevel level, const char* operation, const char* format, ...) KIV_LOG_PRINTF(3, 4);

// A wide string (a device's name or path) as UTF-8 for a log line; an
// unpaired surrogate becomes U+FFFD.
std::string LogText(const std::wstring& text);

// The line of one event as the sink writes it, without the line break; for
// tests of the format. utcMilliseconds counts from 1970-01-01.
std::string FormatLogLine(std::int64_t utcMilliseconds, std::uint64_t process, std::uint64_t thread, LogLevel level,
                          const char* operation, const std::string& message);

// The calling thread's and process's ids as the system names them (the
// numbers a debugger or the system's tools show).
std::uint64_t CurrentThreadId();
std::uint64_t CurrentProcessId();

}  // namespace kiv
