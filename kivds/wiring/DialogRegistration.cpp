// Part of the data source module itself (not of a static library, whose
// unreferenced objects the linker would drop): the dialog factory is in place
// before the first DS_Entry call.
#include "kivds/wiring/DialogWiring.h"

namespace {

struct DialogRegistration {
    DialogRegistration() { kiv::InstallCaptureDialog(); }
};

const DialogRegistration g_registration;

}  // namespace
