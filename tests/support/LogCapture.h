// The process's diagnostics log sent to a fresh file for the life of an
// object, and read back; the log is off again afterwards.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "kivds/platform/Log.h"
#include "support/FileBytes.h"

namespace kivtest {

class LogCapture {
public:
    explicit LogCapture(const std::string& name, kiv::LogLevel level = kiv::LogLevel::Error) : path_(TempPath(name)) {
        std::remove(path_.c_str());
        kiv::LogSettings settings;
        settings.target = kiv::LogTarget::File;
        settings.file = path_;
        settings.level = level;
        kiv::ConfigureLog(settings);
    }
    ~LogCapture() {
        kiv::ConfigureLog(kiv::LogSettings());
        std::remove(path_.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& Path() const { return path_; }
    std::string Text() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string path_;
};

}  // namespace kivtest
