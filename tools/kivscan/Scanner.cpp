#include "tools/kivscan/Scanner.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <vector>

#include "kivds/platform/Env.h"
#include "kivds/platform/MessageBox.h"
#include "tools/kivscan/CameraSettings.h"
#include "tools/kivscan/CapabilityTable.h"
#include "tools/kivscan/PictureFiles.h"
#include "tools/kivscan/ScanPlatform.h"
#include "tools/kivscan/Session.h"
#include "tools/kivscan/TwainNames.h"

namespace kiv {
namespace scan {

using namespace twain;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to = Clock::now()) {
    return std::chrono::duration<double>(to - from).count();
}

std::string Fixed(double value, int digits) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(digits) << value;
    return text.str();
}

// The environment the source reads when it is opened.
void PrepareEnvironment(const Options& options) {
    if (options.virtualCamera) {
        SetEnv("KIVDS_CAMERA", "sim");
        if (options.simSpec) SetEnv("KIVDS_SIM", options.simSpec->c_str());
    }
    // A console tool must not stop at a message box: unless the dialog is
    // wanted, the source prints its messages, and kivscan reports them.
    if (!options.showUi && !GetEnv("KIVDS_UI")) SetEnv("KIVDS_UI", "headless");
    // The headless dialog takes its pictures from a script: the one given,
    // else one capture per picture (a script already in the environment stays).
    if (options.uiScript) SetEnv("KIVDS_UI_SCRIPT", options.uiScript->c_str());
    else if (options.showUi && !GetEnv("KIVDS_UI_SCRIPT"))
        SetEnv("KIVDS_UI_SCRIPT", DefaultUiScript(options.count).c_str());
}

TW_UINT16 MechanismValue(Mechanism mechanism) {
    switch (mechanism) {
        case Mechanism::Native: return TWSX_NATIVE;
        case Mechanism::Memory: return TWSX_MEMORY;
        case Mechanism::File: return TWSX_FILE;
    }
    return TWSX_NATIVE;
}

struct Acquired {
    std::string path;
    std::int32_t width = 0;
    std::int32_t height = 0;
    double transferSeconds = 0;
    long long bytes = 0;
};

// One picture from state 6 to a file.
Acquired TransferOne(Session& session, const Options& options, const std::string& path, std::ostream& out) {
    const TW_IMAGEINFO info = session.ImageInfo();
    out << "Picture: " << info.ImageWidth << " x " << info.ImageLength << ", " << info.BitsPerPixel
        << " bits per pixel; " << MechanismName(options.mechanism) << " transfer\n"
        << std::flush;
    const auto start = Clock::now();
    Acquired acquired;
    acquired.path = path;
    std::string error;
    switch (options.mechanism) {
        case Mechanism::Native: {
            RgbPicture picture = session.NativeTransfer();
            out << "  received a DIB of " << picture.width << " x " << picture.height << '\n';
            if (!WritePictureFile(path, options.format, picture, error)) throw ScanError(error);
            acquired.width = picture.width;
            acquired.height = picture.height;
            break;
        }
        case Mechanism::Memory: {
            // Progress in tenths of the picture's rows; each strip when verbose.
            out << "  receiving strips:" << std::flush;
            unsigned shownTenths = 0;
            unsigned strips = 0;
            const auto height = static_cast<unsigned>(info.ImageLength > 0 ? info.ImageLength : 1);
            RgbPicture picture = session.MemoryTransfer(info, [&](unsigned index, unsigned first, unsigned rows) {
                strips = index;
                if (options.verbose) {
                    out << "\n  strip " << index << ": rows " << first << "-" << (rows ? first + rows - 1 : first);
                    return;
                }
                const unsigned tenths = static_cast<unsigned>((static_cast<std::uint64_t>(first) + rows) * 10 / height);
                for (; shownTenths < tenths && shownTenths < 10;) out << ' ' << ++shownTenths * 10 << '%' << std::flush;
            });
            out << (options.verbose ? "\n  " : " (") << strips << " strips" << (options.verbose ? "\n" : ")\n");
            if (!WritePictureFile(path, options.format, picture, error)) throw ScanError(error);
            acquired.width = picture.width;
            acquired.height = picture.height;
            break;
        }
        case Mechanism::File:
            session.FileTransfer(path, options.format);
            out << "  the source wrote " << path << '\n';
            acquired.width = info.ImageWidth;
            acquired.height = info.ImageLength;
            break;
    }
    acquired.transferSeconds = Seconds(start);
    acquired.bytes = FileSize(path);
    out << "Saved " << path << " (" << FileFormatName(options.format) << ", " << acquired.bytes << " bytes)\n"
        << std::flush;
    return acquired;
}

// Before the camera starts: a picture without a place to go is no use. The
// directory must exist (or be created when asked) and the first file must be
// writable; an existing file is left as it is, a probe file is removed again.
bool CheckOutput(const Options& options, std::ostream& err) {
    const std::string first = NumberedPath(options.output, 1, options.count);
    const std::filesystem::path path = std::filesystem::u8path(first);
    const std::filesystem::path parent = path.parent_path();
    std::error_code failed;
    if (!parent.empty() && !std::filesystem::is_directory(parent, failed)) {
        if (!options.createDirs || std::filesystem::exists(parent, failed)) {
            err << "kivscan: " << parent.u8string()
                << (std::filesystem::exists(parent, failed) ? " is not a directory\n"
                                                            : " does not exist (--create-dirs creates it)\n");
            return false;
        }
        if (!std::filesystem::create_directories(parent, failed)) {
            err << "kivscan: cannot create the directory " << parent.u8string() << ": " << failed.message() << '\n';
            return false;
        }
    }
    const bool existed = std::filesystem::exists(path, failed);
    {
        std::ofstream probe(path, std::ios::app | std::ios::binary);
        if (!probe) {
            err << "kivscan: cannot write " << first << '\n';
            return false;
        }
    }
    if (!existed) std::filesystem::remove(path, failed);
    return true;
}

// Before the camera starts: a frame outside the camera's largest picture
// would only fail at the transfer, after the camera's start-up wait.
void CheckLayout(Session& session, const std::array<std::int32_t, 4>& frame) {
    const std::optional<TW_FIX32> width = CurrentFix32(session, ICAP_PHYSICALWIDTH);
    const std::optional<TW_FIX32> height = CurrentFix32(session, ICAP_PHYSICALHEIGHT);
    if (!width || !height) return;  // the source does not say: let it judge the frame itself
    if (frame[0] >= 0 && frame[1] >= 0 && frame[2] <= width->Whole && frame[3] <= height->Whole) return;
    throw ScanError("--layout " + std::to_string(frame[0]) + "," + std::to_string(frame[1]) + "," +
                    std::to_string(frame[2]) + "," + std::to_string(frame[3]) + " does not fit the camera's " +
                    std::to_string(width->Whole) + "x" + std::to_string(height->Whole) + " picture");
}

void PrintFailure(const ScanError& failure, std::ostream& err) {
    err << "kivscan: " << failure.what();
    if (failure.Condition() && *failure.Condition() != 0)
        err << ": " << ConditionCodeName(*failure.Condition()) << " (0x" << std::hex << std::setw(4)
            << std::setfill('0') << *failure.Condition() << std::dec << std::setfill(' ') << ')';
    else if (failure.Condition()) err << " (the source gave no reason)";
    else if (failure.IsTwainFailure()) err << " (the source did not answer DAT_STATUS)";
    if (!failure.SourceMessage().empty()) err << "\nkivscan: the source says: " << failure.SourceMessage();
    err << '\n';
}

}  // namespace

int RunScan(const Options& options, std::ostream& out, std::ostream& err) {
    PrepareEnvironment(options);
    // The camera's own controls, before the source (and its camera) starts.
    const int controls = RunCameraSettings(options, out, err);
    if (controls != kExitOk || options.listControls) return controls;
    const bool headless = HeadlessUiRequested();
    std::unique_ptr<TwainLink> link = options.dsmPath.empty() ? MakeDirectLink(options.sourcePath)
                                                              : MakeManagerLink(options.dsmPath, options.sourceName);
    out << "Using " << link->Describe() << (options.virtualCamera ? " with the virtual camera" : "") << '\n';

    Session::Settings settings;
    settings.verbose = options.verbose;
    settings.captureSourceOutput = headless;
    const auto started = Clock::now();
    std::vector<Acquired> pictures;
    if (!options.listCaps && !CheckOutput(options, err)) return kExitFailure;
    try {
        Session session(*link, out, err, settings);
        session.Open();
        if (options.listCaps) {
            PrintCapabilityTable(session, out);
            session.Close();
            return kExitOk;
        }
        if (options.layout) {
            CheckLayout(session, *options.layout);
            session.SetLayout(*options.layout);
        }
        session.SetCapability(ICAP_XFERMECH, TWTY_UINT16, MechanismValue(options.mechanism));

        bool closedByUser = false;
        while (pictures.size() < options.count && !closedByUser) {
            if (session.State() == 4) session.Enable(options.showUi);
            if (session.State() == 5 && session.WaitForEvent(options.showUi) == Session::Event::CloseRequested) {
                closedByUser = true;
                break;
            }
            // State 6: as many pictures as the source has pending.
            for (;;) {
                const unsigned index = static_cast<unsigned>(pictures.size()) + 1;
                out << "Image " << index << " of " << options.count << '\n';
                pictures.push_back(
                    TransferOne(session, options, NumberedPath(options.output, index, options.count), out));
                const TW_UINT16 pending = session.EndTransfer();
                if (pending == 0) break;
                if (pictures.size() >= options.count) {
                    session.ResetTransfers();
                    break;
                }
            }
            // Without the dialog every picture needs a new MSG_ENABLEDS.
            if (!options.showUi && session.State() == 5) session.Disable();
        }
        if (session.State() == 5) session.Disable();
        session.Close();
        if (closedByUser) {
            err << "kivscan: the dialog was closed after " << pictures.size() << " of " << options.count
                << " pictures\n";
            if (pictures.empty()) return kExitClosed;
        }
    } catch (const ScanError& failure) {
        PrintFailure(failure, err);
        return kExitFailure;
    }

    if (pictures.empty()) return kExitClosed;
    const Acquired& first = pictures.front();
    double transfer = 0;
    for (const Acquired& picture : pictures) transfer += picture.transferSeconds;
    out << "Done: " << pictures.size() << (pictures.size() == 1 ? " picture " : " pictures ") << first.width << "x"
        << first.height << ", " << MechanismName(options.mechanism) << " transfer, " << FileFormatName(options.format)
        << ", " << Fixed(Seconds(started), 1) << " s in all (" << Fixed(transfer, 3) << " s transferring) -> "
        << first.path;
    if (pictures.size() > 1) out << " ... " << pictures.back().path;
    out << '\n';
    return pictures.size() == options.count ? kExitOk : kExitClosed;
}

}  // namespace scan
}  // namespace kiv
