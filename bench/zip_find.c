/* kestrun_bench_zip: libzip's side of the open-and-find benchmark in
 * bench/library.sh: zip_open of an archive, then zip_name_locate of every
 * line of NAMES; prints the seconds both took. Built by the script when
 * libzip's headers are there (Debian package libzip-dev); never installed.
 *
 *   kestrun_bench_zip ARCHIVE NAMES */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zip.h>

static double Now(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    FILE *in;
    char **names = NULL;
    size_t count = 0;
    size_t room = 0;
    size_t missing = 0;
    char *line = NULL;
    size_t line_room = 0;
    ssize_t length;
    double start;
    zip_t *archive;
    int error = 0;
    if (argc != 3 || (in = fopen(argv[2], "r")) == NULL) {
        fputs("usage: kestrun_bench_zip ARCHIVE NAMES\n", stderr);
        return 2;
    }
    while ((length = getline(&line, &line_room, in)) > 0) {
        if (line[length - 1] == '\n') {
            line[length - 1] = '\0';
        }
        if (count == room) {
            room = room ? 2 * room : 1024;
            names = realloc(names, room * sizeof *names);
            if (names == NULL) {
                return 1;
            }
        }
        names[count++] = strdup(line);
    }
    fclose(in);
    free(line);

    start = Now();
    archive = zip_open(argv[1], ZIP_RDONLY, &error);
    if (archive == NULL) {
        fprintf(stderr, "%s: zip_open error %d\n", argv[1], error);
        return 1;
    }
    for (size_t i = 0; i < count; ++i) {
        if (zip_name_locate(archive, names[i], 0) < 0) {
            ++missing;
        }
    }
    printf("%.6f\n", Now() - start);
    zip_discard(archive);
    for (size_t i = 0; i < count; ++i) {
        free(names[i]);
    }
    free(names);
    if (missing != 0 || count == 0) {
        fprintf(stderr, "%zu of %zu names not found\n", missing, count);
        return 1;
    }
    return 0;
}
