#include "progress.h"

#include "streams.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

const long long kFlushIntervalMs = 100;
const uint64_t kLongCopy = uint64_t{1} << 20;

// When the last flush was, in milliseconds of the monotonic clock; none yet,
// so that the first line goes out at once.
bool flushed;
long long last_flush_ms;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

void Flush(long long now_ms) {
    RBD_FlushOutput();
    flushed = true;
    last_flush_ms = now_ms;
}

} // namespace

void RBD_LinePrinted() {
    long long now_ms = NowMs();
    if (!flushed || now_ms - last_flush_ms >= kFlushIntervalMs) {
        Flush(now_ms);
    }
}

void RBD_BeforeCopy(uint64_t size) {
    if (size >= kLongCopy) {
        Flush(NowMs());
    }
}
