#include "node_attributes.h"

#include <cstring>

void FillAttributes(const MountTable &table, uint32_t node, struct stat &out) {
    const MountNode &at = table.nodes[node];
    std::memset(&out, 0, sizeof out);
    out.st_ino = node + 1;
    if (IsDirectoryNode(at)) {
        out.st_mode = S_IFDIR | table.directory_mode;
        out.st_nlink = 2 + at.subdirectories;
    } else {
        out.st_mode = S_IFREG | table.file_mode;
        out.st_nlink = 1;
        out.st_size = static_cast<off_t>(at.size);
        out.st_blocks = static_cast<blkcnt_t>((at.size + 511) / 512);
    }
    out.st_blksize = 4096;
    out.st_uid = table.uid;
    out.st_gid = table.gid;
    out.st_atim = table.time;
    out.st_mtim = table.time;
    out.st_ctim = table.time;
}
