#include "kivsvc/core/ServiceCore.h"

namespace kiv::svc {

ControlAction ClassifyControl(std::uint32_t control) {
    switch (control) {
        case kControlStop: return ControlAction::Stop;
        case kControlPause:
        case kControlContinue:
        case kControlInterrogate:
        case kControlShutdown: return ControlAction::Ignore;
        default: return ControlAction::BadRequest;
    }
}

std::string LimitLogMessage(const std::string& message) { return message.substr(0, kMaxLogMessage); }

void ServiceCore::SetState(ServiceState state) {
    status_.currentState = state;
    host_.ReportStatus(status_);
}

void ServiceCore::ServiceMain() {
    status_.currentState = ServiceState::StartPending;
    if (!host_.RegisterControlHandler()) {
        host_.Log(kMsgHandlerNotInstalled);
        return;
    }
    SetState(ServiceState::StartPending);
    status_.win32ExitCode = 0;
    status_.checkPoint = 0;
    status_.waitHint = 0;
    host_.RunServer();
    SetState(ServiceState::Stopped);
    host_.Log(kMsgServiceStopped);
}

void ServiceCore::HandleControl(std::uint32_t control) {
    switch (ClassifyControl(control)) {
        case ControlAction::Stop:
            SetState(ServiceState::StopPending);
            marker_.Destroy();
            host_.PostQuit();
            break;
        case ControlAction::Ignore: break;
        case ControlAction::BadRequest: host_.Log(kMsgBadServiceRequest); break;
    }
}

}  // namespace kiv::svc
