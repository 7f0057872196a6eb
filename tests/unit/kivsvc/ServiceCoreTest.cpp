#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kivsvc/core/ModuleLifetime.h"
#include "kivsvc/core/ServiceCore.h"

namespace kiv::svc {
namespace {

// Records every system step of the service as a line.
class RecordingServiceHost : public IServiceHost {
public:
    std::vector<std::string> events;
    bool handlerOk = true;
    ServiceCore* core = nullptr;
    RunningMarker* marker = nullptr;
    std::uint32_t stopDuringRun = 0;  // a control code to deliver while "running"

    bool RegisterControlHandler() override { return events.push_back("handler"), handlerOk; }
    void ReportStatus(const ServiceStatus& s) override {
        events.push_back("status " + std::to_string(static_cast<unsigned>(s.currentState)));
        EXPECT_EQ(s.serviceType, 0x10u);
        EXPECT_EQ(s.controlsAccepted, 1u);
        EXPECT_EQ(s.win32ExitCode, 0u);
    }
    void RunServer() override {
        events.push_back("run");
        marker->Create();
        core->ReportRunning();
        if (stopDuringRun) core->HandleControl(stopDuringRun);
    }
    void PostQuit() override { events.push_back("quit"); }
    void Log(const std::string& m) override { events.push_back("log " + m); }
};

class ServiceCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.core = &core;
        host.marker = &marker;
    }
    RecordingServiceHost host;
    RunningMarker marker;
    ServiceCore core{host, marker};
};

TEST_F(ServiceCoreTest, ServiceMainReportsTheStatesInOrder) {
    host.stopDuringRun = 1;  // SERVICE_CONTROL_STOP
    core.ServiceMain();
    EXPECT_EQ(host.events, (std::vector<std::string>{"handler", "status 2", "run", "status 4", "status 3", "quit",
                                                     "status 1", "log Service stopped"}));
    EXPECT_FALSE(marker.Exists());
    EXPECT_EQ(core.Status().currentState, ServiceState::Stopped);
}

TEST_F(ServiceCoreTest, WithoutAHandlerTheServiceDoesNotRun) {
    host.handlerOk = false;
    core.ServiceMain();
    EXPECT_EQ(host.events, (std::vector<std::string>{"handler", "log Handler not installed"}));
    EXPECT_FALSE(marker.Exists());
}

TEST_F(ServiceCoreTest, OnlyStopActsAndUnknownCodesAreLogged) {
    marker.Create();
    for (std::uint32_t code : {2u, 3u, 4u, 5u}) core.HandleControl(code);
    EXPECT_TRUE(host.events.empty());
    EXPECT_TRUE(marker.Exists());
    for (std::uint32_t code : {0u, 6u, 128u, 0xFFFFFFFFu}) core.HandleControl(code);
    EXPECT_EQ(host.events, std::vector<std::string>(4, "log Bad service request"));
    EXPECT_TRUE(marker.Exists());
    host.events.clear();
    core.HandleControl(1);
    EXPECT_EQ(host.events, (std::vector<std::string>{"status 3", "quit"}));
    EXPECT_FALSE(marker.Exists());
}

TEST(ServiceLog, MessagesAreCutTo255Characters) {
    EXPECT_EQ(LimitLogMessage("Service stopped"), "Service stopped");
    EXPECT_EQ(LimitLogMessage(std::string(300, 'a')), std::string(255, 'a'));
}

TEST(ModuleLifetime, LastReleaseEndsOnlyAPlainLocalServer) {
    ModuleLifetime plain(false);
    plain.Lock();
    plain.Lock();
    EXPECT_FALSE(plain.Unlock());
    EXPECT_TRUE(plain.Unlock());

    ModuleLifetime service(true);
    service.Lock();
    EXPECT_FALSE(service.Unlock());
}

TEST(ModuleLifetime, IdleTimerEndsOnlyAServerNobodyUsedDuringAWholeTick) {
    ModuleLifetime plain(false);
    EXPECT_TRUE(plain.IdleTick());  // nobody ever came
    plain.Lock();
    EXPECT_FALSE(plain.IdleTick());  // an object is alive
    plain.Unlock();
    plain.Lock();
    plain.Unlock();
    EXPECT_FALSE(plain.IdleTick());  // a client came and went during this tick
    EXPECT_TRUE(plain.IdleTick());

    ModuleLifetime service(true);
    EXPECT_FALSE(service.IdleTick());
}

}  // namespace
}  // namespace kiv::svc
