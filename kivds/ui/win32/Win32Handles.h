// Owning handles of the Win32 dialogs: icons, and the loading of an icon
// resource of this module at a given size. Include after the kivds headers
// that declare BN_CLICKED and the like (windows.h defines them as macros).
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace kiv {

struct IconDeleter {
    void operator()(HICON icon) const {
        if (icon) DestroyIcon(icon);
    }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// Icon resource `id` of the module that holds the dialogs, at `width` x
// `height`; null when the resource is missing.
IconHandle LoadIconResource(int id, int width, int height);

}  // namespace kiv
