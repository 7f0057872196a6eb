// Captures what the process writes to standard error (file descriptor 2)
// while it lives, for tests of the headless message box.
#pragma once

#include <string>

namespace kivtest {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Stops capturing (once) and returns everything captured.
    std::string Finish();

private:
    std::string path_;
    int saved_ = -1;
    bool finished_ = false;
    std::string text_;
};

}  // namespace kivtest
