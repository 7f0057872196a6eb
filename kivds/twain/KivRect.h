// An image frame in camera pixels, with the RECT layout (left, top, right, bottom).
#pragma once

#include <cstdint>

namespace kiv {

struct KivRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

}  // namespace kiv
