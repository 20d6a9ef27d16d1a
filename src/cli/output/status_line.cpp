#include "status_line.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define write _write
#else
#include <unistd.h>
#endif

bool status_on;

namespace {

using Clock = std::chrono::steady_clock;

const char kClear[] = "\r\x1b[K";
const long long kTerminalIntervalMs = 100;
const long long kLineIntervalMs = 1000;
// Pieces of a copy while the line is on: large enough that they cost nothing.
const uint64_t kStatusPiece = uint64_t{64} << 20;

struct RBDStatus {
    bool terminal;
    bool stdout_terminal; // standard output shows on the terminal too
    bool shown;           // drawn and not taken away since
    uint64_t total;
    uint64_t done;
    uint64_t entry_done; // of `done`, what belongs to the entry in hand
    long long start_ms;
    long long drawn_ms; // when it was last drawn (or started)
};

RBDStatus status;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// "512 B", "1.5 KiB", ..., "3.2 TiB".
void FormatBytes(char *out, size_t size, double bytes) {
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        bytes /= 1024;
        ++unit;
    }
    if (unit == 0) {
        std::snprintf(out, size, "%.0f B", bytes);
    } else {
        std::snprintf(out, size, "%.1f %s", bytes, units[unit]);
    }
}

// "0:05", "12:34", "1:02:03"; "--:--" while no rate is known.
void FormatTimeLeft(char *out, size_t size, double seconds) {
    if (seconds < 0 || seconds > 359999) {
        std::snprintf(out, size, "--:--");
        return;
    }
    auto whole = static_cast<unsigned long>(std::lround(seconds));
    if (whole >= 3600) {
        std::snprintf(out, size, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(out, size, "%lu:%02lu", whole / 60, whole % 60);
    }
}

void Draw(long long now_ms) {
    double done = static_cast<double>(status.done);
    double total = static_cast<double>(status.total);
    double percent = status.total == 0 ? 100 : 100 * done / total;
    double seconds = static_cast<double>(now_ms - status.start_ms) / 1000;
    double rate = seconds > 0 ? done / seconds : 0;
    char done_text[32];
    char total_text[32];
    char rate_text[32];
    char left_text[32];
    FormatBytes(done_text, sizeof done_text, done);
    FormatBytes(total_text, sizeof total_text, total);
    FormatBytes(rate_text, sizeof rate_text, rate);
    FormatTimeLeft(left_text, sizeof left_text, rate > 0 ? (total - done) / rate : -1);
    char line[160];
    std::snprintf(line, sizeof line, "%s%3.0f%%  %s of %s  %s/s  %s left%s",
                  status.terminal ? "\r" : "", percent > 100 ? 100 : percent, done_text, total_text,
                  rate_text, left_text, status.terminal ? "\x1b[K" : "\n");
    // Standard error is unbuffered: the line goes out in one write.
    std::fputs(line, stderr);
    status.shown = status.terminal;
    status.drawn_ms = now_ms;
}

void DrawWhenDue() {
    long long now_ms = NowMs();
    long long interval = status.terminal ? kTerminalIntervalMs : kLineIntervalMs;
    if (now_ms - status.drawn_ms >= interval) {
        Draw(now_ms);
    }
}

} // namespace

void RBD_StartStatus(uint64_t total, bool terminal) {
    status = RBDStatus{};
    status.terminal = terminal;
    status.stdout_terminal = isatty(1) != 0;
    status.total = total;
    status.start_ms = NowMs();
    status.drawn_ms = status.start_ms;
    status_on = true;
    if (terminal) {
        Draw(status.start_ms);
    }
}

void RBD_AdvanceStatus(uint64_t bytes) {
    if (!status_on) {
        return;
    }
    status.done += bytes;
    status.entry_done += bytes;
    DrawWhenDue();
}

namespace {

void Advance(void * /*context*/, uint64_t bytes) {
    RBD_AdvanceStatus(bytes);
}

} // namespace

RBDPieces RBD_StatusPieces() {
    return RBDPieces{status_on ? kStatusPiece : 0, Advance, nullptr};
}

void RBD_EntryDoneForStatus(uint64_t size) {
    if (!status_on) {
        return;
    }
    if (size > status.entry_done) {
        status.done += size - status.entry_done;
    }
    status.entry_done = 0;
    DrawWhenDue();
}

void RBD_ClearStatus() {
    if (status.shown) {
        std::fputs(kClear, stderr);
        status.shown = false;
    }
}

void RBD_ClearStatusForStdout() {
    if (status.shown && status.stdout_terminal) {
        RBD_ClearStatus();
    }
}

void RBD_EndStatus() {
    RBD_ClearStatus();
    status_on = false;
}

void RBD_ClearStatusFromHandler() {
    if (status_on && status.terminal) {
        // The line may be half drawn; taking away the terminal's last line
        // is harmless when it is not.
        (void)!write(2, kClear, sizeof kClear - 1);
    }
}
