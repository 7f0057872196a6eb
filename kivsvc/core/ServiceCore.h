// The service's own behaviour: the status it reports, the service main
// routine and the control handler. The system calls go through IServiceHost.
#pragma once

#include <cstdint>
#include <string>

#include "kivsvc/core/Codes.h"
#include "kivsvc/core/RunningMarker.h"

namespace kiv::svc {

// The fields of SERVICE_STATUS the service reports.
struct ServiceStatus {
    std::uint32_t serviceType = kServiceWin32OwnProcess;
    ServiceState currentState = ServiceState::Stopped;
    std::uint32_t controlsAccepted = kServiceAcceptStop;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

inline constexpr char kMsgBadServiceRequest[] = "Bad service request";
inline constexpr char kMsgHandlerNotInstalled[] = "Handler not installed";
inline constexpr char kMsgServiceStopped[] = "Service stopped";
// Longest message text handed to the event log.
inline constexpr std::size_t kMaxLogMessage = 255;

// What the service logic needs of the system.
class IServiceHost {
public:
    virtual ~IServiceHost() = default;
    // RegisterServiceCtrlHandler under the service name.
    virtual bool RegisterControlHandler() = 0;
    virtual void ReportStatus(const ServiceStatus& status) = 0;
    // Runs the COM server until its message loop ends.
    virtual void RunServer() = 0;
    // Posts WM_QUIT to the message-loop thread.
    virtual void PostQuit() = 0;
    // Event log in service mode, standard output otherwise.
    virtual void Log(const std::string& message) = 0;
};

enum class ControlAction { Stop, Ignore, BadRequest };

// Stop acts; pause, continue, interrogate and shutdown are accepted and do
// nothing; anything else is a bad request.
ControlAction ClassifyControl(std::uint32_t control);

// Cuts a message to what the event log is given.
std::string LimitLogMessage(const std::string& message);

class ServiceCore {
public:
    ServiceCore(IServiceHost& host, RunningMarker& marker) : host_(host), marker_(marker) {}

    // The service main routine: start pending, handler, run, stopped.
    void ServiceMain();
    // The control handler (runs on the dispatcher thread).
    void HandleControl(std::uint32_t control);
    // Called by the server once its class objects are registered (service mode).
    void ReportRunning() { SetState(ServiceState::Running); }

    const ServiceStatus& Status() const { return status_; }

private:
    void SetState(ServiceState state);

    IServiceHost& host_;
    RunningMarker& marker_;
    ServiceStatus status_;
};

}  // namespace kiv::svc
