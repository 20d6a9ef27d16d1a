#include "progress.h"

#include "streams.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

const auto kFlushInterval = std::chrono::milliseconds(100);
const uint64_t kLongCopy = uint64_t{1} << 20;

// The epoch of the clock, so that the first line goes out at once.
Clock::time_point last_flush;

void Flush() {
    RBD_FlushOutput();
    last_flush = Clock::now();
}

} // namespace

void RBD_LinePrinted() {
    if (Clock::now() - last_flush >= kFlushInterval) {
        Flush();
    }
}

void RBD_BeforeCopy(uint64_t size) {
    if (size >= kLongCopy) {
        Flush();
    }
}
