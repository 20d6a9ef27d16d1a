#include "status_line.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define write _write
#else
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

const char kClear[] = "\r\x1b[K";
const long long kTerminalIntervalMs = 100;
const long long kLineIntervalMs = 1000;
// Pieces of a copy while the line is on: large enough that they cost nothing.
const uint64_t kStatusPiece = uint64_t{64} << 20;

// The one thing a signal handler may know of the line: that a run's line is
// on a terminal, where the handler takes it away. Set and cleared with the
// line; a handler reads it and nothing else.
volatile std::sig_atomic_t on_terminal;

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

void Draw(RBDStatusLine &status, long long now_ms) {
    uint64_t counted = status.done + status.moving;
    double done = static_cast<double>(counted < status.total ? counted : status.total);
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

void DrawWhenDue(RBDStatusLine &status) {
    long long now_ms = NowMs();
    long long interval = status.terminal ? kTerminalIntervalMs : kLineIntervalMs;
    if (now_ms - status.drawn_ms >= interval) {
        Draw(status, now_ms);
    }
}

} // namespace

void RBD_StartStatus(RBDStatusLine &status, uint64_t total, bool terminal) {
    status = RBDStatusLine{};
    status.terminal = terminal;
    status.stdout_terminal = isatty(1) != 0;
    status.total = total;
    status.start_ms = NowMs();
    status.drawn_ms = status.start_ms;
    status.on = true;
    on_terminal = terminal ? 1 : 0;
    if (terminal) {
        Draw(status, status.start_ms);
    }
}

void RBD_AdvanceStatus(RBDStatusLine &status, uint64_t bytes) {
    if (!status.on) {
        return;
    }
    status.done += bytes;
    status.entry_done += bytes;
    DrawWhenDue(status);
}

namespace {

void Advance(void *context, uint64_t bytes) {
    RBD_AdvanceStatus(*static_cast<RBDStatusLine *>(context), bytes);
}

} // namespace

void RBD_ShowMoving(RBDStatusLine &status, uint64_t bytes) {
    if (!status.on) {
        return;
    }
    status.moving = bytes;
    DrawWhenDue(status);
}

RBDPieces RBD_StatusPieces(RBDStatusLine &status) {
    return RBDPieces{status.on ? kStatusPiece : 0, Advance, &status};
}

void RBD_EntryDoneForStatus(RBDStatusLine &status, uint64_t size) {
    if (!status.on) {
        return;
    }
    if (size > status.entry_done) {
        status.done += size - status.entry_done;
    }
    status.entry_done = 0;
    DrawWhenDue(status);
}

void RBD_ClearStatus(RBDStatusLine &status) {
    if (status.shown) {
        std::fputs(kClear, stderr);
        status.shown = false;
    }
}

void RBD_ClearStatusForStdout(RBDStatusLine &status) {
    if (status.shown && status.stdout_terminal) {
        RBD_ClearStatus(status);
    }
}

void RBD_EndStatus(RBDStatusLine &status) {
    RBD_ClearStatus(status);
    status.on = false;
    on_terminal = 0;
}

void RBD_ClearStatusFromHandler() {
    if (on_terminal != 0) {
        // The line may be half drawn; taking away the terminal's last line
        // is harmless when it is not.
        (void)!write(2, kClear, sizeof kClear - 1);
    }
}
