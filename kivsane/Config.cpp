#include "kivsane/Config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kivds/platform/Env.h"

namespace kiv {
namespace sane {
namespace {

constexpr const char* kDefaultConfigDir = "/etc/sane.d";

std::string Trim(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

BackendConfig ParseConfig(const std::string& text) {
    BackendConfig config;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = Trim(line);
        if (line.empty()) continue;
        std::istringstream words(line);
        std::string key, value, extra;
        words >> key >> value >> extra;
        if (key == "virtual" && value.empty()) {
            config.virtualCamera = true;
        } else if (key == "any-uvc" && value.empty()) {
            config.anyUvc = true;
        } else if (key == "field-of-view" && !value.empty() && extra.empty()) {
            char* end = nullptr;
            const double mm = std::strtod(value.c_str(), &end);
            if (end && *end == '\0' && mm >= 10.0 && mm <= 2000.0) config.fieldOfViewMm = mm;
            else
                Log(LogLevel::Error, "sane.config", "kiv.conf line %d: field of view %s mm ignored", number,
                    value.c_str());
        } else {
            Log(LogLevel::Error, "sane.config", "kiv.conf line %d ignored: %s", number, line.c_str());
        }
    }
    return config;
}

std::string ConfigSearchPath() {
    const std::optional<std::string> dirs = GetEnv("SANE_CONFIG_DIR");
    if (!dirs || dirs->empty()) return kDefaultConfigDir;
    if (dirs->back() == ':') return *dirs + kDefaultConfigDir;
    return *dirs;
}

BackendConfig LoadConfig() {
    std::istringstream dirs(ConfigSearchPath());
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        std::ifstream file(dir + "/kiv.conf");
        if (!file) continue;
        std::ostringstream text;
        text << file.rdbuf();
        Log(LogLevel::Info, "sane.config", "reading %s/kiv.conf", dir.c_str());
        return ParseConfig(text.str());
    }
    return BackendConfig();
}

LogSettings BackendLogSettings() {
    LogSettings settings = LogSettingsFromEnvironment();
    const std::optional<std::string> debug = GetEnv("SANE_DEBUG_KIV");
    if (!debug || debug->empty()) return settings;
    const long level = std::strtol(debug->c_str(), nullptr, 10);
    if (level <= 0) {
        settings.target = LogTarget::Off;
        return settings;
    }
    settings.level = level >= 5 ? LogLevel::Debug : level >= 3 ? LogLevel::Info : LogLevel::Error;
    if (settings.target == LogTarget::Off) settings.target = LogTarget::Stderr;
    return settings;
}

}  // namespace sane
}  // namespace kiv
