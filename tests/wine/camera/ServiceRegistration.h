// The x64 kivsvc.exe of this build registered as a plain local server in the
// test prefix for the lifetime of a ServiceRegistration, and the
// node-interface key the server writes and deletes, read back directly.
#pragma once

#include <string>

namespace kivtest {

class ServiceRegistration {
public:
    // Runs kivsvc.exe /RegServer; the destructor runs /UnregServer.
    ServiceRegistration();
    ~ServiceRegistration();
    ServiceRegistration(const ServiceRegistration&) = delete;
    ServiceRegistration& operator=(const ServiceRegistration&) = delete;

    // kivsvc.exe is part of this build.
    static bool Available();
    bool Registered() const { return registered_; }

private:
    bool registered_ = false;
};

// HKLM\SYSTEM\CurrentControlSet\Control\NodeInterfaces\{model A's unit}.
bool NodeKeyExists();
unsigned NodeKeyValueCount();
void DeleteNodeKey();
void CreateNodeKey();

}  // namespace kivtest
