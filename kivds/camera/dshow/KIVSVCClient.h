// The COM client of the node-interface registration service (kivsvc), the
// Windows default behind MakeServiceClient. One client serves one call: COM
// is initialised for its lifetime (an apartment of another kind on the
// thread is accepted), the service's object is created in a context that
// admits its local server, and released again; a service that is not
// registered leaves the client without an instance and every call silent.
#pragma once

#include <memory>

#include "kivds/camera/IKIVSVCClient.h"

namespace kiv {
namespace dshow {

// A new client; never null. Called on the dialog's thread.
std::unique_ptr<IKIVSVCClient> MakeComServiceClient();

}  // namespace dshow
}  // namespace kiv
