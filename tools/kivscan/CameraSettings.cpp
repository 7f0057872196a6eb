#include "tools/kivscan/CameraSettings.h"

#include <ostream>
#include <string>

#include "kivds/camera/CameraControls.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/platform/Env.h"
#include "tools/kivscan/Scanner.h"

namespace kiv {
namespace scan {

int RunCameraSettings(const Options& options, std::ostream& out, std::ostream& err) {
    if (!options.listControls && options.setControls.empty()) return kExitOk;
    CCameraLogic camera(CreateVideoPlatform());
    if (!camera.Open()) {
        err << "kivscan: the camera cannot be opened for its controls (camera error " << LastCameraError << ")\n";
        return kExitFailure;
    }
    ICameraControls* controls = camera.CameraControls();
    if (!controls) {
        err << "kivscan: this camera's controls are the driver's own settings pages here\n";
        camera.Close();
        return kExitFailure;
    }
    int status = kExitOk;
    std::string handedOn;
    for (const auto& [name, value] : options.setControls) {
        const ControlOutcome outcome = SetControlByName(*controls, name, value);
        if (!outcome.Ok()) {
            err << "kivscan: --set " << name << "=" << value << ": " << outcome.message << '\n';
            status = kExitFailure;
            continue;
        }
        handedOn += (handedOn.empty() ? "" : ";") + name + "=" + value;
    }
    if (options.listControls) {
        std::string group;
        for (const CameraControl& control : controls->List()) {
            if (control.group != group) out << (group = control.group) << ":\n";
            out << "  " << DescribeControl(control) << '\n';
        }
    }
    camera.Close();
    if (status == kExitOk && !handedOn.empty()) SetEnv("KIVDS_CONTROLS", handedOn.c_str());
    return status;
}

}  // namespace scan
}  // namespace kiv
