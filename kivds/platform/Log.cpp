#include "kivds/platform/Log.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "kivds/platform/AsciiCase.h"
#include "kivds/platform/Env.h"

namespace kiv {
namespace {

constexpr const char* kLevelNames[] = {"error", "info", "debug"};
constexpr int kNoLog = -1;
constexpr int kUnread = -2;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The process's sink. m_threshold is the highest level written (kNoLog: none,
// kUnread: the environment is not read yet); the rest is guarded by m_mutex.
class Sink {
public:
    bool Enabled(LogLevel level) {
        int threshold = m_threshold.load(std::memory_order_acquire);
        if (threshold == kUnread) threshold = Load(nullptr);
        return static_cast<int>(level) <= threshold;
    }

    // Applies settings, or the environment's when there are none; returns the threshold.
    int Load(const LogSettings* settings) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!settings && m_threshold.load() != kUnread) return m_threshold.load();
        m_settings = settings ? *settings : LogSettingsFromEnvironment();
        m_file.reset();
        const int threshold = m_settings.target == LogTarget::Off ? kNoLog : static_cast<int>(m_settings.level);
        m_threshold.store(threshold, std::memory_order_release);
        return threshold;
    }

    void Write(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::FILE* out = stderr;
        if (m_settings.target == LogTarget::Off) return;
        if (m_settings.target == LogTarget::File) {
            if (!m_file) m_file.reset(std::fopen(m_settings.file.c_str(), "ab"));
            if (!m_file) return;
            out = m_file.get();
        }
        std::fputs(line.c_str(), out);
        std::fputc('\n', out);
        std::fflush(out);  // a crash or a killed process keeps every line written
    }

private:
    std::atomic<int> m_threshold{kUnread};
    std::mutex m_mutex;
    LogSettings m_settings;
    std::unique_ptr<std::FILE, FileCloser> m_file;
};

Sink& TheSink() {
    static Sink sink;
    return sink;
}

// Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

LogSettings LogSettingsFromEnvironment() {
    LogSettings settings;
    const std::optional<std::string> target = GetEnv("KIVDS_LOG");
    if (target && !target->empty() && !EqualsIgnoringAsciiCase(*target, "off")) {
        if (EqualsIgnoringAsciiCase(*target, "stderr")) {
            settings.target = LogTarget::Stderr;
        } else {
            settings.target = LogTarget::File;
            settings.file = *target;
        }
    }
    if (const std::optional<std::string> level = GetEnv("KIVDS_LOG_LEVEL")) {
        if (EqualsIgnoringAsciiCase(*level, "info")) settings.level = LogLevel::Info;
        if (EqualsIgnoringAsciiCase(*level, "debug")) settings.level = LogLevel::Debug;
    }
    return settings;
}

void ConfigureLog(const LogSettings& settings) {
    try {
        TheSink().Load(&settings);
    } catch (...) {
    }
}

bool LogEnabled(LogLevel level) {
    try {
        return TheSink().Enabled(level);
    } catch (...) {
        return false;
    }
}

std::string FormatLogLine(std::int64_t utcMilliseconds, std::uint64_t process, std::uint64_t thread, LogLevel level,
                          const char* operation, const std::string& message) {
    const std::int64_t msPerDay = 86400000;
    std::int64_t days = utcMilliseconds / msPerDay;
    std::int64_t ms = utcMilliseconds % msPerDay;
    if (ms < 0) {
        ms += msPerDay;
        --days;
    }
    int year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ %llu:%llu %s ", year, month, day,
                  static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
                  static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000),
                  static_cast<unsigned long long>(process), static_cast<unsigned long long>(thread),
                  kLevelNames[static_cast<int>(level)]);
    std::string line = stamp;
    line += operation ? operation : "?";
    line += ": ";
    for (char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

std::string LogText(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDFFF) {
            const std::uint32_t next = i + 1 < text.size() ? static_cast<std::uint32_t>(text[i + 1]) : 0;
            if (c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void Log(LogLevel level, const char* operation, const char* format, ...) {
    if (!LogEnabled(level)) return;
    try {
        char buffer[1024] = {};
        if (format) {
            std::va_list args;
            va_start(args, format);
            const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
            va_end(args);
            if (n < 0) return;
        }
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
        TheSink().Write(FormatLogLine(ms, CurrentProcessId(), CurrentThreadId(), level, operation, buffer));
    } catch (...) {
        // The log never breaks the source: a line that cannot be made is dropped.
    }
}

}  // namespace kiv
