#include "streams.h"

#include "../hostkit/hostkit.h"
#include "messages.h"
#include "shown_text.h"

#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fdopen _fdopen
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

// Standard output until the streams are set up (a program that only loads
// packages, such as the fuzz target, never sets them up).
FILE *product = stdout;

FILE *OpenProductApart(bool binary) {
    std::fflush(stdout);
    int product_fd = dup(fileno(stdout));
    if (product_fd < 0 || dup2(fileno(stderr), fileno(stdout)) < 0) {
        return nullptr;
    }
#ifdef _WIN32
    if (binary) {
        _setmode(product_fd, _O_BINARY);
    }
#else
    (void)binary;
#endif
    return fdopen(product_fd, binary ? "wb" : "w");
}

} // namespace

void RBD_SetUpStreams(bool product_apart, bool binary) {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    product = product_apart ? OpenProductApart(binary) : stdout;
    if (product == nullptr) {
        std::fprintf(stderr, "ERROR: Failed to set up standard output, aborting!\n%s\n",
                     hkGetError());
        RBD_Exit(1);
    }
    NoteTerminals(stdout, product);
}

FILE *RBD_Product() {
    return product;
}

void RBD_FailProduct() {
    RBD_Fatal("ERROR: Failed to write to standard output, aborting!\n%s\n", hkGetError());
}

void RBD_FlushOutput() {
    std::fflush(stdout);
    if (product != stdout && std::fflush(product) != 0) {
        RBD_FailProduct();
    }
}

void RBD_FinishProduct() {
    RBD_FlushOutput();
    if (product != stdout && std::ferror(product) != 0) {
        RBD_FailProduct();
    }
}
