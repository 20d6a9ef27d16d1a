/* Lists the entries of an RBD package, or copies one of them to standard
 * output, with libkestrun:
 *   list_and_copy PACKAGE        prints each entry's size and path
 *   list_and_copy PACKAGE PATH   writes the bytes of the entry PATH
 * Build: cc -std=c11 list_and_copy.c $(pkg-config --cflags --libs kestrun) */
#include <kestrun/kestrun.h>

#include <inttypes.h>
#include <stdio.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s PACKAGE [PATH]\n", argv[0]);
        return 2;
    }
    kr_package *pkg;
    kr_error err;
    if (kr_open(argv[1], 0, &pkg, &err) != KR_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], err.message);
        return 1;
    }
    int status = 0;
    if (argc == 2) {
        uint32_t count = kr_entry_count(pkg);
        for (uint32_t i = 0; i < count; i++) {
            kr_entry entry;
            kr_entry_at(pkg, i, &entry);
            printf("%10" PRIu64 "  %s\n", entry.size, entry.path);
        }
    } else {
        uint32_t index;
        int found = kr_find(pkg, argv[2], &index);
#ifdef _WIN32
        _setmode(1, _O_BINARY); /* the entry's bytes as they are, no CR added */
#endif
        if (found != KR_OK) {
            fprintf(stderr, "%s: %s\n", argv[2], kr_strerror(found));
            status = 1;
        } else if (kr_read_to_fd(pkg, index, 1, &err) != KR_OK) {
            fprintf(stderr, "%s: %s\n", argv[2], err.message);
            status = 1;
        }
    }
    kr_close(pkg);
    return status;
}
