// The tree that a mounted package shows: every directory and file that
// `kestrun PACKAGE` would write, numbered once at mount and never changed
// after, so that any number of threads answer the kernel from it without a
// lock. Node n is inode n + 1; node 0, the root, is FUSE's root inode 1.
#pragma once

#include "kestrun/kestrun.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <time.h>
#include <vector>

const uint32_t kNoNode = UINT32_MAX;
const uint32_t kNoEntry = UINT32_MAX; // MountNode::entry of a directory

struct MountNode {
    uint32_t parent;      // the root is its own parent
    uint32_t entry;       // a file's entry in the package; kNoEntry for a directory
    size_t name_at;       // the name's zero-terminated text in MountTable::names
    uint32_t name_length; // in bytes, without the zero
    // A directory's children: child_count node numbers from first_child in
    // MountTable::children, sorted by name (bytes, as strcmp orders them).
    uint32_t first_child;
    uint32_t child_count;
    uint32_t subdirectories; // children that are directories, for the link count
    uint64_t size;           // a file's length: 0 where its data is missing
};

struct MountTable {
    kr_package *package; // open for as long as the table is used
    std::vector<MountNode> nodes;
    std::vector<uint32_t> children;
    std::vector<char> names;
    // What every node shows besides its own: the package file's time, its
    // length (for statfs), the owner and the permission bits of files and
    // of directories.
    timespec time;
    uint64_t package_size;
    uid_t uid;
    gid_t gid;
    mode_t file_mode;
    mode_t directory_mode;
};

inline bool IsDirectoryNode(const MountNode &node) {
    return node.entry == kNoEntry;
}

inline const char *NodeName(const MountTable &table, uint32_t node) {
    return table.names.data() + table.nodes[node].name_at;
}

// The node of FUSE inode `ino`, or kNoNode for a number the table never gave.
uint32_t NodeOfInode(const MountTable &table, uint64_t ino);

// The child of directory `dir` named `name`, or kNoNode; a binary search.
uint32_t FindChild(const MountTable &table, uint32_t dir, const char *name);

// Fills every directory's child list, sorted as FindChild searches it, once
// every node is in the table with its parent. False when memory can't be had.
bool ListChildren(MountTable &table);
