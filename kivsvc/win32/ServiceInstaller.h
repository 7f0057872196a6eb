// Installation of the service with the Service Control Manager.
#pragma once

#include <string>

namespace kiv::svc {

bool IsServiceInstalled(const std::wstring& name);
// Creates the service (own process, auto start, LocalSystem, dependency
// RPCSS, the given command line) and starts it. True only if both succeeded;
// true at once when it is installed already.
bool InstallAndStartService(const std::wstring& name, const std::wstring& commandLine);
// Stops and deletes the service; true when it is not installed.
bool UninstallService(const std::wstring& name);

}  // namespace kiv::svc
