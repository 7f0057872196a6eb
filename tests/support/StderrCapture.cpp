#include "support/StderrCapture.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#define kiv_dup _dup
#define kiv_dup2 _dup2
#define kiv_close _close
#define kiv_open _open
#else
#include <unistd.h>
#define kiv_dup dup
#define kiv_dup2 dup2
#define kiv_close close
#define kiv_open open
#endif

namespace kivtest {

StderrCapture::StderrCapture() {
#if defined(_WIN32)
    const char* dir = std::getenv("TEMP");
    path_ = std::string(dir ? dir : ".") + "\\kivds-stderr-" + std::to_string(_getpid()) + ".txt";
#else
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/kivds-stderr-" + std::to_string(getpid()) + ".txt";
#endif
    std::fflush(stderr);
    saved_ = kiv_dup(2);
    int file = kiv_open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file >= 0) {
        kiv_dup2(file, 2);
        kiv_close(file);
    }
}

StderrCapture::~StderrCapture() { Finish(); }

std::string StderrCapture::Finish() {
    if (finished_) return text_;
    finished_ = true;
    std::fflush(stderr);
    if (saved_ >= 0) {
        kiv_dup2(saved_, 2);
        kiv_close(saved_);
    }
    std::ifstream in(path_, std::ios::binary);
    text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    in.close();
    std::remove(path_.c_str());
    return text_;
}

}  // namespace kivtest
