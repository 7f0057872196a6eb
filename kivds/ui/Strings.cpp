#include "kivds/ui/Strings.h"

#include "kivds/ui/Language.h"

namespace kiv {

std::string LoadLocalisedString(unsigned base) { return LoadKivString(base + GetLanguageIndex()); }

}  // namespace kiv
