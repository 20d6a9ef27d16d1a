#include "progress.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

const long long kFlushIntervalMs = 100;
const uint64_t kLongCopy = uint64_t{1} << 20;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

void Flush(RBDStreams &out, long long now_ms) {
    RBD_FlushOutput(out);
    out.flushed = true;
    out.last_flush_ms = now_ms;
}

} // namespace

void RBD_LinePrinted(RBDStreams &out) {
    long long now_ms = NowMs();
    if (!out.flushed || now_ms - out.last_flush_ms >= kFlushIntervalMs) {
        Flush(out, now_ms);
    }
}

void RBD_BeforeCopy(RBDStreams &out, uint64_t size) {
    if (size >= kLongCopy) {
        Flush(out, NowMs());
    }
}
