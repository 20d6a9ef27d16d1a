// kestrun_floor: the least work that extracting an RBD package can take, as a
// yardstick for the benchmark. It maps the whole package, walks the index as
// kestrun does, makes each group's directory once, and writes every entry
// straight from the mapping with one open, one write and one close. No
// messages, no checks: it trusts its input and is never installed.
//
//   kestrun_floor [--sendfile] PACKAGE
//
// extracts into ./NAME/, NAME the file name less 4 characters. With
// --sendfile each entry is moved by sendfile instead of a write from the
// mapping: where faulting the mapping in costs more than it saves (on some
// virtual machines), that is the least work.
#include "../src/types.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Walk {
    const unsigned char *package;
    int package_fd;
    bool send;         // sendfile from package_fd instead of a write from the mapping
    uint32_t total;    // index records the header announces
    uint32_t consumed; // index records read so far, counted as kestrun counts
    size_t next;       // where the next index record lies
};

uint32_t Big32(const unsigned char *bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
           uint32_t{bytes[3]};
}

// The name field of a record: 63 bytes from byte 33, cut at the last byte.
std::string RecordName(const unsigned char *record) {
    const char *name = reinterpret_cast<const char *>(record + 33);
    return std::string(name, strnlen(name, 62));
}

// mkdir -p, deepest level first: usually only that one is missing.
void MakeDirectory(const std::string &path) {
    if (mkdir(path.c_str(), 0777) == 0 || errno != ENOENT) {
        return;
    }
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        MakeDirectory(path.substr(0, slash));
    }
    mkdir(path.c_str(), 0777);
}

void WriteEntry(const Walk &walk, const std::string &path, const unsigned char *record) {
    off_t offset = Big32(record + 8);
    size_t left = Big32(record + 4);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (left > 0) {
        ssize_t put = walk.send ? sendfile(fd, walk.package_fd, &offset, left)
                                : write(fd, walk.package + offset, left);
        if (put <= 0) {
            break;
        }
        if (!walk.send) {
            offset += put;
        }
        left -= static_cast<size_t>(put);
    }
    close(fd);
}

void WriteFileGroup(Walk &walk, const std::string &directory, uint32_t count) {
    if (count > 0) {
        MakeDirectory(directory);
    }
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char *record = walk.package + walk.next;
        walk.next += RBD_RECORD_SIZE;
        WriteEntry(walk, directory + "/" + RecordName(record), record);
    }
    walk.consumed += count;
}

// Reads one group record and everything below it; false at the end of the index.
bool WalkGroup(Walk &walk, const std::string &parent) {
    if (++walk.consumed >= walk.total) {
        return false;
    }
    const unsigned char *record = walk.package + walk.next;
    walk.next += RBD_RECORD_SIZE;
    std::string directory = parent + "/" + RecordName(record);
    uint32_t flags = Big32(record);
    uint32_t count = Big32(record + 4);
    if (flags == RBD_DIRECTORY_GROUP) {
        for (uint32_t i = 0; i < count; ++i) {
            if (!WalkGroup(walk, directory)) {
                return false;
            }
        }
    } else if (flags == RBD_FILE_GROUP) {
        WriteFileGroup(walk, directory, count);
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    bool send = argc == 3 && std::strcmp(argv[1], "--sendfile") == 0;
    if (argc != (send ? 3 : 2)) {
        return 1;
    }
    const char *path = argv[argc - 1];
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) < RBD_HEADER_SIZE) {
        return 1;
    }
    void *mapped = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        return 1;
    }
    const char *slash = std::strrchr(path, '/');
    std::string name = slash != nullptr ? slash + 1 : path;
    std::string root = "./" + name.substr(0, name.size() >= 4 ? name.size() - 4 : 0);
    mkdir(root.c_str(), 0777);

    Walk walk{static_cast<const unsigned char *>(mapped), fd, send, 0, 0, RBD_HEADER_SIZE};
    walk.total = Big32(walk.package + 4);
    while (WalkGroup(walk, root)) {
    }
    return 0;
}
