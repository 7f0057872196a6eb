// Where the service's messages go: the Application event log, or standard
// output when the program is not running as a service.
#pragma once

#include <string>

namespace kiv::svc {

// One information event (category 0, id 0, the message as its one string).
void WriteEventLog(const std::wstring& source, const std::string& message);
void WriteStandardOutput(const std::string& message);

}  // namespace kiv::svc
