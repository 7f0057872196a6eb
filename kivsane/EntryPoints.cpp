// The entry points: each a thin shim over Guarded, the one place where an
// exception becomes a status (bad_alloc NO_MEM, anything else IO_ERROR,
// logged). The SANE loader looks up the sane_kiv_* names; the plain sane_*
// names are aliases of the same functions, for programs that link the
// backend directly. The library is linked with -Bsymbolic, so its own calls
// never resolve into the loader's sane_* functions.
#include <exception>
#include <new>

#include <sane/sane.h>

#include "kivds/platform/Log.h"
#include "kivsane/Backend.h"
#include "kivsane/Scanner.h"

namespace kiv {
namespace sane {
namespace {

template <class Body>
SANE_Status Guarded(const char* operation, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        Log(LogLevel::Error, operation, "out of memory");
        return SANE_STATUS_NO_MEM;
    } catch (const std::exception& e) {
        Log(LogLevel::Error, operation, "failed: %s", e.what());
    } catch (...) {
        Log(LogLevel::Error, operation, "failed");
    }
    return SANE_STATUS_IO_ERROR;
}

// The entry points without a status.
template <class Body>
void GuardedVoid(const char* operation, Body&& body) noexcept {
    Guarded(operation, [&] {
        body();
        return SANE_STATUS_GOOD;
    });
}

// An open handle, or null (a frontend's stale or foreign handle).
Scanner* Open(SANE_Handle handle) { return Backend::Instance().Find(handle); }

}  // namespace
}  // namespace sane
}  // namespace kiv

using kiv::sane::Backend;
using kiv::sane::Guarded;
using kiv::sane::GuardedVoid;
using kiv::sane::Scanner;

#define KIV_EXPORT extern "C" __attribute__((visibility("default")))
#define KIV_ALIAS(name) __attribute__((visibility("default"), alias(name)))

KIV_EXPORT SANE_Status sane_kiv_init(SANE_Int* version_code, SANE_Auth_Callback) {
    return Guarded("sane.init", [&] { return Backend::Instance().Init(version_code); });
}

KIV_EXPORT void sane_kiv_exit(void) {
    GuardedVoid("sane.exit", [] { Backend::Instance().Exit(); });
}

KIV_EXPORT SANE_Status sane_kiv_get_devices(const SANE_Device*** device_list, SANE_Bool) {
    return Guarded("sane.devices", [&] { return Backend::Instance().GetDevices(device_list); });
}

KIV_EXPORT SANE_Status sane_kiv_open(SANE_String_Const name, SANE_Handle* handle) {
    return Guarded("sane.open", [&] { return Backend::Instance().Open(name, handle); });
}

KIV_EXPORT void sane_kiv_close(SANE_Handle handle) {
    GuardedVoid("sane.close", [&] { Backend::Instance().Close(handle); });
}

KIV_EXPORT const SANE_Option_Descriptor* sane_kiv_get_option_descriptor(SANE_Handle handle, SANE_Int option) {
    const SANE_Option_Descriptor* descriptor = nullptr;
    GuardedVoid("sane.descriptor", [&] {
        if (Scanner* s = kiv::sane::Open(handle)) descriptor = s->Options().Descriptor(option);
    });
    return descriptor;
}

KIV_EXPORT SANE_Status sane_kiv_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                               SANE_Int* info) {
    return Guarded("sane.option", [&] {
        Scanner* s = kiv::sane::Open(handle);
        return s ? s->Options().Control(option, action, value, info) : SANE_STATUS_INVAL;
    });
}

KIV_EXPORT SANE_Status sane_kiv_get_parameters(SANE_Handle handle, SANE_Parameters* params) {
    return Guarded("sane.parameters", [&] {
        Scanner* s = kiv::sane::Open(handle);
        return s && params ? s->GetParameters(*params) : SANE_STATUS_INVAL;
    });
}

KIV_EXPORT SANE_Status sane_kiv_start(SANE_Handle handle) {
    return Guarded("sane.start", [&] {
        Scanner* s = kiv::sane::Open(handle);
        return s ? s->Start() : SANE_STATUS_INVAL;
    });
}

KIV_EXPORT SANE_Status sane_kiv_read(SANE_Handle handle, SANE_Byte* data, SANE_Int max_length, SANE_Int* length) {
    if (length) *length = 0;
    return Guarded("sane.read", [&] {
        Scanner* s = kiv::sane::Open(handle);
        return s && length ? s->Read(data, max_length, *length) : SANE_STATUS_INVAL;
    });
}

// Async-signal-safe: no lock, no allocation, no log; the handle is trusted
// (a signal handler cannot take the backend's lock to check it).
KIV_EXPORT void sane_kiv_cancel(SANE_Handle handle) {
    if (handle) static_cast<Scanner*>(handle)->Cancel();
}

KIV_EXPORT SANE_Status sane_kiv_set_io_mode(SANE_Handle handle, SANE_Bool non_blocking) {
    return Guarded("sane.iomode", [&] {
        Scanner* s = kiv::sane::Open(handle);
        return s ? s->SetIoMode(non_blocking) : SANE_STATUS_INVAL;
    });
}

KIV_EXPORT SANE_Status sane_kiv_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
    return Guarded("sane.selectfd", [&] {
        Scanner* s = kiv::sane::Open(handle);
        return s && fd ? s->GetSelectFd(*fd) : SANE_STATUS_INVAL;
    });
}

// The plain names, for a program linked with the backend itself.
extern "C" {
SANE_Status sane_init(SANE_Int*, SANE_Auth_Callback) KIV_ALIAS("sane_kiv_init");
void sane_exit(void) KIV_ALIAS("sane_kiv_exit");
SANE_Status sane_get_devices(const SANE_Device***, SANE_Bool) KIV_ALIAS("sane_kiv_get_devices");
SANE_Status sane_open(SANE_String_Const, SANE_Handle*) KIV_ALIAS("sane_kiv_open");
void sane_close(SANE_Handle) KIV_ALIAS("sane_kiv_close");
const SANE_Option_Descriptor* sane_get_option_descriptor(SANE_Handle, SANE_Int)
    KIV_ALIAS("sane_kiv_get_option_descriptor");
SANE_Status sane_control_option(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*)
    KIV_ALIAS("sane_kiv_control_option");
SANE_Status sane_get_parameters(SANE_Handle, SANE_Parameters*) KIV_ALIAS("sane_kiv_get_parameters");
SANE_Status sane_start(SANE_Handle) KIV_ALIAS("sane_kiv_start");
SANE_Status sane_read(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*) KIV_ALIAS("sane_kiv_read");
void sane_cancel(SANE_Handle) KIV_ALIAS("sane_kiv_cancel");
SANE_Status sane_set_io_mode(SANE_Handle, SANE_Bool) KIV_ALIAS("sane_kiv_set_io_mode");
SANE_Status sane_get_select_fd(SANE_Handle, SANE_Int*) KIV_ALIAS("sane_kiv_get_select_fd");
}

KIV_EXPORT SANE_String_Const sane_strstatus(SANE_Status status) {
    switch (status) {
        case SANE_STATUS_GOOD: return "Success";
        case SANE_STATUS_UNSUPPORTED: return "Operation not supported";
        case SANE_STATUS_CANCELLED: return "Operation was canceled";
        case SANE_STATUS_DEVICE_BUSY: return "Device busy";
        case SANE_STATUS_INVAL: return "Invalid argument";
        case SANE_STATUS_EOF: return "End of file reached";
        case SANE_STATUS_JAMMED: return "Document feeder jammed";
        case SANE_STATUS_NO_DOCS: return "Document feeder out of documents";
        case SANE_STATUS_COVER_OPEN: return "Scanner cover is open";
        case SANE_STATUS_IO_ERROR: return "Error during device I/O";
        case SANE_STATUS_NO_MEM: return "Out of memory";
        case SANE_STATUS_ACCESS_DENIED: return "Access to resource has been denied";
    }
    return "Unknown SANE status code";
}
