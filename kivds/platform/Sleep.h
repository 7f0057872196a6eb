// Seam: blocking the calling thread.
#pragma once

namespace kiv {

void SleepMilliseconds(unsigned ms);

}  // namespace kiv
