#include "contents.h"

#include "output/shown_text.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Text fields are printed no further than their own size, whether or not the
// loader left a zero byte in them, and escaped on a terminal.
std::string Field(const char *field, size_t field_size) {
    return ShownOnStdout(std::string(field, strnlen(field, field_size)).c_str());
}

void ListFiles(const RBDGroup *group) {
    for (uint32_t i = 0; i < group->header.num_indices; ++i) {
        const RBDFileHeader &file = group->files[i];
        std::printf("  %s (file)\n   size:   %u\n   offset: %u\n",
                    Field(file.name, sizeof file.name).c_str(), file.size, file.offset);
    }
}

} // namespace

void RBD_ListContents(const RBDPackage *package) {
    // Whatever the label says, this is the count of index records consumed,
    // the final call that found the end included.
    std::printf("total groups: %u\n", package->records_read);

    const RBDHeader &header = package->header;
    std::printf("\n%s\n version: %X\n indices: %u\n comment: %s\n\n", ShownOnStdout(package->path),
                static_cast<unsigned>(header.version), header.num_indices,
                Field(header.comments, sizeof header.comments).c_str());

    // Only top-level groups are chained; children of a directory group were
    // extracted during the load but are not listed here.
    for (const RBDGroup *group = package->groups; group != nullptr; group = group->next) {
        const RBDGroupHeader &group_header = group->header;
        std::printf(" %s (group)\n  flags:   %u\n  indices: %u\n  files:   %u\n",
                    Field(group_header.name, sizeof group_header.name).c_str(), group_header.flags,
                    group_header.num_indices, group_header.num_files);
        if (group->files != nullptr) {
            ListFiles(group);
        }
    }
}
