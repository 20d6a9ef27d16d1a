/* kr_read_to_fd_check: a C caller of kr_read_to_fd and kr_read_to_fd_at that
 * leaves SIGPIPE at its default action, as most programs do, so that a
 * signal the library let through would end it (status 141 in the shell).
 *
 *   kr_read_to_fd_check PACKAGE   checks entry 0, which must be larger than
 *                                 a pipe holds (64 KiB)
 *
 * Prints "FAIL: ..." for each check that fails, "ok" at the end, and exits 0
 * only when all passed. */
#define _POSIX_C_SOURCE 200809L

#include "kestrun/kestrun.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int failures;

static void Check(int passed, const char *what) {
    if (!passed) {
        printf("FAIL: %s\n", what);
        ++failures;
    }
}

static int PipeSignalPending(void) {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

static int PipeSignalBlocked(void) {
    sigset_t mask;
    return pthread_sigmask(SIG_SETMASK, NULL, &mask) == 0 && sigismember(&mask, SIGPIPE) == 1;
}

/* A pipe whose reader has gone: the write end. */
static int BrokenPipe(void) {
    int ends[2];
    if (pipe(ends) != 0) {
        perror("pipe");
        exit(1);
    }
    close(ends[0]);
    return ends[1];
}

static void ClosedReaderIsEpipe(const kr_package *pkg) {
    int out = BrokenPipe();
    kr_error err;
    uint64_t written = 99;
    Check(kr_read_to_fd(pkg, 0, out, &err) == KR_E_IO, "kr_read_to_fd: KR_E_IO");
    Check(err.os_error == EPIPE, "kr_read_to_fd: os_error EPIPE");
    Check(kr_read_to_fd_at(pkg, 0, 10, out, &written, &err) == KR_E_IO && err.os_error == EPIPE,
          "kr_read_to_fd_at: EPIPE");
    Check(written == 0, "kr_read_to_fd_at: nothing written to a closed pipe");
    Check(!PipeSignalPending(), "no SIGPIPE left pending");
    Check(!PipeSignalBlocked(), "the signal mask is the caller's again");
    close(out);
}

/* A caller that blocks SIGPIPE and has one pending keeps it; one the call
 * raises is taken away all the same. */
static void CallersPendingSignalStays(const kr_package *pkg) {
    sigset_t pipe_only;
    sigset_t before;
    struct timespec now = {0, 0};
    kr_error err;
    int out = BrokenPipe();
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &before);

    Check(kr_read_to_fd(pkg, 0, out, &err) == KR_E_IO && err.os_error == EPIPE, "blocked: EPIPE");
    Check(!PipeSignalPending(), "blocked: the call's own SIGPIPE taken away");

    raise(SIGPIPE);
    Check(PipeSignalPending(), "raise: SIGPIPE pending");
    Check(kr_read_to_fd(pkg, 0, out, &err) == KR_E_IO && err.os_error == EPIPE, "pending: EPIPE");
    Check(PipeSignalPending(), "pending: the caller's SIGPIPE still pending");
    Check(PipeSignalBlocked(), "pending: SIGPIPE still blocked, as the caller had it");
    Check(sigtimedwait(&pipe_only, NULL, &now) == SIGPIPE, "pending: the caller takes it");
    pthread_sigmask(SIG_SETMASK, &before, NULL);
    close(out);
}

/* Through a non-blocking pipe the entry goes in several calls, each going on
 * where the last one's EAGAIN left it; the bytes are the entry's. */
static void NonBlockingPipeResumes(const kr_package *pkg) {
    kr_entry entry;
    int ends[2];
    char *expected;
    char *arrived;
    uint64_t offset = 0;
    uint64_t got = 0;
    int refusals = 0;
    kr_entry_at(pkg, 0, &entry);
    expected = malloc(entry.size);
    arrived = malloc(entry.size);
    if (expected == NULL || arrived == NULL || pipe(ends) != 0 ||
        fcntl(ends[1], F_SETFL, O_NONBLOCK) != 0 ||
        kr_read(pkg, 0, 0, expected, entry.size, NULL) != (int64_t)entry.size) {
        perror("setting up");
        exit(1);
    }
    while (offset < entry.size) {
        kr_error err;
        uint64_t written = 0;
        int code = kr_read_to_fd_at(pkg, 0, offset, ends[1], &written, &err);
        offset += written;
        if (code == KR_E_IO && (err.os_error == EAGAIN || err.os_error == EWOULDBLOCK)) {
            ++refusals;
        } else if (code != KR_OK) {
            printf("FAIL: kr_read_to_fd_at: %s\n", err.message);
            ++failures;
            break;
        }
        /* The reader takes what was written, and the writer goes on. */
        while (got < offset) {
            ssize_t n = read(ends[0], arrived + got, (size_t)(offset - got));
            if (n <= 0) {
                break;
            }
            got += (uint64_t)n;
        }
    }
    Check(refusals > 0, "the pipe refused bytes for a while (EAGAIN)");
    Check(offset == entry.size && got == entry.size, "every byte went through the pipe");
    Check(memcmp(expected, arrived, (size_t)got) == 0, "the bytes are the entry's");
    close(ends[0]);
    close(ends[1]);
    free(expected);
    free(arrived);
}

int main(int argc, char **argv) {
    kr_package *pkg = NULL;
    kr_error err;
    if (argc != 2) {
        fputs("usage: kr_read_to_fd_check PACKAGE\n", stderr);
        return 1;
    }
    signal(SIGPIPE, SIG_DFL);
    if (kr_open(argv[1], 0, &pkg, &err) != KR_OK) {
        printf("FAIL: kr_open: %s\n", err.message);
        return 1;
    }
    ClosedReaderIsEpipe(pkg);
    CallersPendingSignalStays(pkg);
    NonBlockingPipeResumes(pkg);
    kr_close(pkg);
    if (failures == 0) {
        puts("ok");
    }
    return failures == 0 ? 0 : 1;
}
