#include "operations.h"

#include "node_attributes.h"
#include "spliced_read.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>

namespace {

// Nothing in the tree ever changes, so the kernel may keep every name and
// attribute, and every name that is missing, for as long as it likes.
const double kForever = 365.0 * 24 * 60 * 60;

// Reads of this many bytes or more are spliced: measured on the benchmark's
// workloads, spliced 128 KiB reads cost the daemon about 60% of the CPU time
// of copied ones, while below a few pages the extra system calls of splicing
// cost more than the copy saves.
const size_t kSpliceFrom = size_t{32} * 1024;

MountState &StateOf(fuse_req_t req) {
    return *static_cast<MountState *>(fuse_req_userdata(req));
}

void FillEntry(const MountTable &table, uint32_t node, fuse_entry_param &entry) {
    std::memset(&entry, 0, sizeof entry);
    entry.ino = node + 1;
    FillAttributes(table, node, entry.attr);
    entry.attr_timeout = kForever;
    entry.entry_timeout = kForever;
}

// The node of `ino` when it is a directory, else kNoNode after replying.
uint32_t DirectoryOrReply(fuse_req_t req, const MountTable &table, fuse_ino_t ino) {
    uint32_t node = NodeOfInode(table, ino);
    if (node == kNoNode) {
        fuse_reply_err(req, ENOENT);
    } else if (!IsDirectoryNode(table.nodes[node])) {
        fuse_reply_err(req, ENOTDIR);
        node = kNoNode;
    }
    return node;
}

void Init(void *userdata, fuse_conn_info *conn) {
    auto *state = static_cast<MountState *>(userdata);
    unsigned skip_opens = FUSE_CAP_NO_OPEN_SUPPORT | FUSE_CAP_NO_OPENDIR_SUPPORT;
    bool can_skip = (conn->capable & skip_opens) == skip_opens;
    if (can_skip) {
        conn->want |= skip_opens;
    }
    state->opens_skipped.store(can_skip, std::memory_order_relaxed);
    // Always names with their attributes: a reader of a directory stats its
    // entries next (find, ls -l, tar, cp -r), and then needs no lookups.
    if ((conn->capable & FUSE_CAP_READDIRPLUS) != 0) {
        conn->want |= FUSE_CAP_READDIRPLUS;
        conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    }
    // Entry bytes go from the package's page cache to the FUSE device
    // without a copy through our memory (see kSpliceFrom), unless the user
    // says -o no_splice_write.
    if ((conn->capable & FUSE_CAP_SPLICE_WRITE) != 0) {
        conn->want |= FUSE_CAP_SPLICE_WRITE;
    }
    fuse_apply_conn_info_opts(state->connection_options, conn);
    state->splice_replies.store((conn->want & FUSE_CAP_SPLICE_WRITE) != 0,
                                std::memory_order_relaxed);
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char *name) {
    const MountTable &table = StateOf(req).table;
    uint32_t dir = DirectoryOrReply(req, table, parent);
    if (dir == kNoNode) {
        return;
    }
    fuse_entry_param entry;
    uint32_t node = FindChild(table, dir, name);
    if (node == kNoNode) {
        // Inode 0: the kernel keeps the name as missing.
        std::memset(&entry, 0, sizeof entry);
        entry.entry_timeout = kForever;
    } else {
        FillEntry(table, node, entry);
    }
    fuse_reply_entry(req, &entry);
}

void Forget(fuse_req_t req, fuse_ino_t /*ino*/, uint64_t /*lookups*/) {
    fuse_reply_none(req);
}

void ForgetMany(fuse_req_t req, size_t /*count*/, fuse_forget_data * /*forgets*/) {
    fuse_reply_none(req);
}

void GetAttributes(fuse_req_t req, fuse_ino_t ino, fuse_file_info * /*fi*/) {
    const MountTable &table = StateOf(req).table;
    uint32_t node = NodeOfInode(table, ino);
    if (node == kNoNode) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    struct stat attributes;
    FillAttributes(table, node, attributes);
    fuse_reply_attr(req, &attributes, kForever);
}

void Open(fuse_req_t req, fuse_ino_t /*ino*/, fuse_file_info *fi) {
    if (StateOf(req).opens_skipped.load(std::memory_order_relaxed)) {
        fuse_reply_err(req, ENOSYS); // from now on the kernel opens alone
        return;
    }
    if ((fi->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(req, EROFS);
        return;
    }
    fi->keep_cache = 1;
    fuse_reply_open(req, fi);
}

void OpenDirectory(fuse_req_t req, fuse_ino_t /*ino*/, fuse_file_info *fi) {
    if (StateOf(req).opens_skipped.load(std::memory_order_relaxed)) {
        fuse_reply_err(req, ENOSYS);
        return;
    }
    fi->keep_cache = 1;
    fi->cache_readdir = 1;
    fuse_reply_open(req, fi);
}

// Adds the directory entry at `position` to `buffer` when it fits: "." at 0,
// ".." at 1, then the children in name order. Each entry's offset is the
// position after it, so a listing goes on where it stopped. Returns the
// bytes taken, 0 when it did not fit or the listing is over.
size_t AddDirectoryEntry(fuse_req_t req, const MountTable &table, uint32_t dir, uint64_t position,
                         bool plus, char *buffer, size_t room) {
    const MountNode &at = table.nodes[dir];
    uint32_t node = dir;
    const char *name = ".";
    if (position == 1) {
        node = at.parent;
        name = "..";
    } else if (position >= 2) {
        if (position - 2 >= at.child_count) {
            return 0;
        }
        node = table.children[at.first_child + (position - 2)];
        name = NodeName(table, node);
    }
    fuse_entry_param entry;
    FillEntry(table, node, entry);
    auto next = static_cast<off_t>(position + 1);
    size_t needed;
    if (!plus) {
        needed = fuse_add_direntry(req, buffer, room, name, &entry.attr, next);
    } else {
        if (position < 2) {
            entry.ino = 0; // "." and ".." are no lookups of their own
        }
        needed = fuse_add_direntry_plus(req, buffer, room, name, &entry, next);
    }
    return needed <= room ? needed : 0;
}

void ListDirectory(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, bool plus) {
    const MountTable &table = StateOf(req).table;
    uint32_t dir = DirectoryOrReply(req, table, ino);
    if (dir == kNoNode) {
        return;
    }
    char *buffer = static_cast<char *>(std::malloc(size > 0 ? size : 1));
    if (buffer == nullptr) {
        fuse_reply_err(req, ENOMEM);
        return;
    }
    size_t used = 0;
    if (offset >= 0) {
        for (auto position = static_cast<uint64_t>(offset);; ++position) {
            size_t added =
                AddDirectoryEntry(req, table, dir, position, plus, buffer + used, size - used);
            if (added == 0) {
                break;
            }
            used += added;
        }
    }
    fuse_reply_buf(req, buffer, used);
    std::free(buffer);
}

void ReadDirectory(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                   fuse_file_info * /*fi*/) {
    ListDirectory(req, ino, size, offset, false);
}

void ReadDirectoryPlus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                       fuse_file_info * /*fi*/) {
    ListDirectory(req, ino, size, offset, true);
}

void Read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info * /*fi*/) {
    const MountTable &table = StateOf(req).table;
    uint32_t node = NodeOfInode(table, ino);
    if (node == kNoNode || IsDirectoryNode(table.nodes[node])) {
        fuse_reply_err(req, node == kNoNode ? ENOENT : EISDIR);
        return;
    }
    const MountNode &file = table.nodes[node];
    if (offset < 0 || static_cast<uint64_t>(offset) >= file.size || size == 0) {
        fuse_reply_buf(req, nullptr, 0);
        return;
    }
    uint64_t left = file.size - static_cast<uint64_t>(offset);
    size_t wanted = left < size ? static_cast<size_t>(left) : size;
    const MountState &state = StateOf(req);
    if (wanted >= kSpliceFrom && state.splice_replies.load(std::memory_order_relaxed)) {
        kr_entry entry;
        kr_entry_at(table.package, file.entry, &entry);
        int why = ReplySpliced(req, state.package_fd, entry.offset + static_cast<uint64_t>(offset),
                               wanted);
        if (why == 0 || why == EIO) {
            if (why == EIO) {
                fuse_reply_err(req, EIO);
            }
            return;
        }
        // No splicing here: the bytes are copied as below.
    }
    char *buffer = static_cast<char *>(std::malloc(wanted));
    if (buffer == nullptr) {
        fuse_reply_err(req, ENOMEM);
        return;
    }
    // The library answers a package that shrank under the mount with an
    // error, never with fewer bytes than the entry holds.
    int64_t got =
        kr_read(table.package, file.entry, static_cast<uint64_t>(offset), buffer, wanted, nullptr);
    if (got < 0) {
        fuse_reply_err(req, EIO);
    } else {
        fuse_reply_buf(req, buffer, static_cast<size_t>(got));
    }
    std::free(buffer);
}

void StatFileSystem(fuse_req_t req, fuse_ino_t /*ino*/) {
    const MountTable &table = StateOf(req).table;
    struct statvfs answer;
    std::memset(&answer, 0, sizeof answer);
    answer.f_bsize = 4096;
    answer.f_frsize = 4096;
    answer.f_blocks = (table.package_size + 4095) / 4096;
    answer.f_files = table.nodes.size();
    answer.f_namemax = NAME_MAX;
    answer.f_flag = ST_RDONLY;
    fuse_reply_statfs(req, &answer);
}

fuse_lowlevel_ops MakeOperations() {
    fuse_lowlevel_ops ops;
    std::memset(&ops, 0, sizeof ops);
    ops.init = Init;
    ops.lookup = Lookup;
    ops.forget = Forget;
    ops.forget_multi = ForgetMany;
    ops.getattr = GetAttributes;
    ops.open = Open;
    ops.read = Read;
    ops.opendir = OpenDirectory;
    ops.readdir = ReadDirectory;
    ops.readdirplus = ReadDirectoryPlus;
    ops.statfs = StatFileSystem;
    return ops;
}

} // namespace

const fuse_lowlevel_ops &MountOperations() {
    static const fuse_lowlevel_ops ops = MakeOperations();
    return ops;
}
