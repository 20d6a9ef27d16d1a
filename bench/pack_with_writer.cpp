// The packing form of rbdpack as it would be on libkestrun's writer
// (bench/rbdpack.sh): a new package, each file of the tree given with
// kr_writer_put_fd in rbdpack's order, then committed. It weighs moving
// `rbdpack DIR OUT.rbd` onto the writer; the tree is not walked, its paths
// come in rbdpack's order from a list (`kestrun -l` of rbdpack's package).
//
//   kestrun_pack_with_writer TREE LIST OUT.rbd
#include "kestrun/kestrun.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s TREE LIST OUT.rbd\n", argv[0]);
        return 2;
    }
    std::ifstream list(argv[2]);
    kr_writer *w = nullptr;
    kr_error err{};
    if (kr_writer_begin(nullptr, argv[3], 0, &w, &err) != KR_OK) {
        std::fprintf(stderr, "kr_writer_begin: %s\n", err.message);
        return 1;
    }
    for (std::string path; std::getline(list, path);) {
        int fd = open((std::string(argv[1]) + "/" + path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || kr_writer_put_fd(w, path.c_str(), fd, &err) != KR_OK) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), fd < 0 ? "can't open" : err.message);
            return 1;
        }
        close(fd);
    }
    if (kr_writer_commit(w, &err) != KR_OK) {
        std::fprintf(stderr, "kr_writer_commit: %s\n", err.message);
        return 1;
    }
    return 0;
}
