#include "streams.h"

#include "../../hostkit/hostkit.h"
#include "messages.h"
#include "shown_text.h"
#include "status_line.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define fileno _fileno
#endif

namespace {

// The reader of the product is gone: no message (it would say nothing the
// user does not know), and the end a shell expects of a pipeline's writer.
[[noreturn]] void EndAtClosedPipe(RBDStreams &out) {
    RBD_ClearStatus(out.status);
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);
    std::raise(SIGPIPE);
#endif
    std::_Exit(128 + 13); // where there is no SIGPIPE, the status a shell would show
}

// The last write failed because nothing reads the pipe any more.
bool ReaderGone() {
#ifdef _WIN32
    // ERROR_BROKEN_PIPE, ERROR_NO_DATA, ERROR_PIPE_NOT_CONNECTED.
    int code = hkErrorCode();
    return code == 109 || code == 232 || code == 233;
#else
    return errno == EPIPE;
#endif
}

} // namespace

void RBD_SetUpStreams(RBDStreams &out, bool messages_apart, bool product, bool binary) {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    out.messages = messages_apart ? stderr : stdout;
    out.stdout_is_product = product;
#ifdef _WIN32
    if (binary) {
        std::fflush(stdout);
        _setmode(fileno(stdout), _O_BINARY);
    }
#else
    (void)binary;
#endif
    NoteTerminals(out.messages);
}

FILE *RBD_Product() {
    return stdout;
}

void RBD_FailProduct(RBDStreams &out) {
    if (ReaderGone()) {
        RBD_StopWorkers(out); // after ReaderGone: it may change errno
        EndAtClosedPipe(out);
    }
    RBD_Fatal(out, "ERROR: Failed to write to standard output, aborting!\n%s\n", hkGetError());
}

void RBD_FlushOutput(RBDStreams &out) {
    if (std::fflush(stdout) != 0 && out.stdout_is_product) {
        RBD_FailProduct(out);
    }
}

void RBD_FinishProduct(RBDStreams &out) {
    RBD_FlushOutput(out);
    if (out.stdout_is_product && std::ferror(stdout) != 0) {
        RBD_FailProduct(out);
    }
}
