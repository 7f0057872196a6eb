#include "kivds/ui/DialogControls.h"

#include <iterator>

namespace kiv {

const ControlRule* FindControlRule(int id) {
    for (const ControlRule& rule : kCaptureControls) {
        if (rule.id == id) return &rule;
    }
    return nullptr;
}

}  // namespace kiv
