/* kr_extract_driver: extracts a package through libkestrun's kr_extract, or
 * meets it through kr_test, and prints each entry's report, so that the
 * end-to-end containment cases run through the library as through the
 * command line. Written in C11 and built with every warning an error, it is
 * also the proof that the public header compiles as C.
 *
 *   kr_extract_driver PACKAGE DIR     kr_extract of PACKAGE into DIR
 *   kr_extract_driver --test PACKAGE  kr_test of PACKAGE
 *
 * KR_DRIVER_THREADS in the environment, when set, is kr_extract's threads.
 *
 * Prints "CODE PATH[: WHY]" for each report, then "= CODE[: WHY]" for the
 * result; exits 0 for KR_OK, 2 for KR_INCOMPLETE and 1 for anything else, as
 * the command line does. */
#define _POSIX_C_SOURCE 200809L

#include "kestrun/kestrun.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *CodeName(int code) {
    switch (code) {
    case KR_OK:
        return "KR_OK";
    case KR_INCOMPLETE:
        return "KR_INCOMPLETE";
    case KR_E_INVALID:
        return "KR_E_INVALID";
    case KR_E_IO:
        return "KR_E_IO";
    case KR_E_NOMEM:
        return "KR_E_NOMEM";
    case KR_E_NOT_RBD:
        return "KR_E_NOT_RBD";
    case KR_E_DAMAGED:
        return "KR_E_DAMAGED";
    case KR_E_NOT_FOUND:
        return "KR_E_NOT_FOUND";
    case KR_E_NO_DATA:
        return "KR_E_NO_DATA";
    case KR_E_UNSAFE:
        return "KR_E_UNSAFE";
    case KR_E_BUDGET:
        return "KR_E_BUDGET";
    default:
        return "unknown";
    }
}

static void Report(void *ctx, const kr_entry *entry, int outcome, const kr_error *why) {
    (void)ctx;
    printf("%s %s", CodeName(outcome), entry->path);
    if (why != NULL) {
        printf(": %s", why->message);
    }
    putchar('\n');
}

int main(int argc, char **argv) {
    int testing = argc == 3 && strcmp(argv[1], "--test") == 0;
    const char *package = testing ? argv[2] : argv[1];
    kr_package *pkg = NULL;
    kr_error err;
    kr_extract_options options = {.struct_size = sizeof(kr_extract_options), .report = Report};
    const char *threads = getenv("KR_DRIVER_THREADS");
    int code;
    if (threads != NULL) {
        options.threads = (unsigned)strtoul(threads, NULL, 10);
    }
    if (argc != 3) {
        fputs("usage: kr_extract_driver PACKAGE DIR | --test PACKAGE\n", stderr);
        return 1;
    }
    /* The library leaves signals alone: under a file size limit a write must
     * fail rather than end the program, as the command line arranges too. */
    signal(SIGXFSZ, SIG_IGN);
    code = kr_open(package, 0, &pkg, &err);
    if (code == KR_OK) {
        code = testing ? kr_test(pkg, &options, &err) : kr_extract(pkg, argv[2], &options, &err);
        kr_close(pkg);
    }
    printf("= %s", CodeName(code));
    if (code < 0) {
        printf(": %s", err.message);
    }
    putchar('\n');
    return code == KR_OK ? 0 : code == KR_INCOMPLETE ? 2 : 1;
}
