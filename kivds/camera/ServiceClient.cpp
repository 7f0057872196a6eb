#include <mutex>
#include <utility>

#include "kivds/camera/IKIVSVCClient.h"
#ifdef _WIN32
#include "kivds/camera/dshow/KIVSVCClient.h"
#endif

namespace kiv {
namespace {

// No service on this platform (Linux): nothing to call.
class AbsentServiceClient final : public IKIVSVCClient {
public:
    bool HasInstance() const override { return false; }
    void RegistryDeleteNodeInterfacesKey() override {}
    void CreateNodeInterfacesKeyForKIVVIEW() override {}
};

std::mutex g_factoryMutex;
ServiceClientFactory g_factory;

}  // namespace

std::unique_ptr<IKIVSVCClient> MakeServiceClient() {
    ServiceClientFactory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) {
        if (auto client = factory()) return client;
    }
#ifdef _WIN32
    return dshow::MakeComServiceClient();
#else
    return std::make_unique<AbsentServiceClient>();
#endif
}

void SetServiceClientFactory(ServiceClientFactory factory) {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}

}  // namespace kiv
