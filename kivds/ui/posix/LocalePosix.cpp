// The user's language on POSIX systems: the locale environment variables, in
// the order the C library gives them for messages.
#include "kivds/platform/Env.h"
#include "kivds/ui/Language.h"

namespace kiv {

std::uint32_t UserDefaultLcid() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = GetEnv(variable);
        if (value && !value->empty()) return LcidFromLocaleName(*value);
    }
    return 0;
}

}  // namespace kiv
