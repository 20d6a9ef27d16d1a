/* kestrun_bench_zip: libzip's side of the open-and-find benchmark in
 * bench/library.sh: zip_open of an archive, then zip_name_locate of every
 * line of NAMES; prints the seconds both took, and those of zip_open alone. Built by the script
 * when libzip's headers are there (Debian package libzip-dev); never installed.
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

/* The whole file, zero-terminated, or null. */
static char *ReadText(const char *path) {
    FILE *in = fopen(path, "rb");
    char *text = NULL;
    long length;
    if (in == NULL) {
        return NULL;
    }
    if (fseek(in, 0, SEEK_END) == 0 && (length = ftell(in)) >= 0 && fseek(in, 0, SEEK_SET) == 0 &&
        (text = malloc((size_t)length + 1)) != NULL) {
        if (fread(text, 1, (size_t)length, in) == (size_t)length) {
            text[length] = '\0';
        } else {
            free(text);
            text = NULL;
        }
    }
    fclose(in);
    return text;
}

/* Finds every line of `text` (cut at its line feeds) in the archive; prints
 * the seconds and returns how many were not found, or -1. */
static long OpenAndFind(const char *archive_path, char *text) {
    size_t count = 0;
    long missing = 0;
    char **names;
    char *line;
    double start;
    double opened;
    zip_t *archive;
    int error = 0;
    for (char *at = text; *at != '\0'; ++at) {
        count += *at == '\n';
    }
    names = malloc((count + 1) * sizeof *names);
    if (names == NULL) {
        return -1;
    }
    count = 0;
    for (line = text; *line != '\0';) {
        char *end = strchr(line, '\n');
        names[count++] = line;
        if (end == NULL) {
            break;
        }
        *end = '\0';
        line = end + 1;
    }

    start = Now();
    archive = zip_open(archive_path, ZIP_RDONLY, &error);
    if (archive == NULL) {
        fprintf(stderr, "%s: zip_open error %d\n", archive_path, error);
        free(names);
        return -1;
    }
    opened = Now();
    for (size_t i = 0; i < count; ++i) {
        missing += zip_name_locate(archive, names[i], 0) < 0;
    }
    printf("%.6f %.6f\n", Now() - start, opened - start);
    zip_discard(archive);
    free(names);
    return count == 0 ? -1 : missing;
}

int main(int argc, char **argv) {
    char *text;
    long missing;
    if (argc != 3) {
        fputs("usage: kestrun_bench_zip ARCHIVE NAMES\n", stderr);
        return 2;
    }
    text = ReadText(argv[2]);
    if (text == NULL) {
        fprintf(stderr, "can't read %s\n", argv[2]);
        return 1;
    }
    missing = OpenAndFind(argv[1], text);
    free(text);
    if (missing != 0) {
        fprintf(stderr, "%ld names not found, or no names\n", missing);
        return 1;
    }
    return 0;
}
