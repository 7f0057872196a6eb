// CKIVSVCAccess, the COM class of the server, and its class factory.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace kiv::svc {

// The process-wide class factory of CKIVSVCAccess (not reference counted).
IClassFactory* AccessClassFactory();

}  // namespace kiv::svc
