// What a node shows to stat: the table's permission bits and owner (by
// default directories 0555 and files 0444 of the user who mounted the
// package), every time the package file's modification time, and inode
// numbers that are the node numbers plus one.
#pragma once

#include "node_table.h"

#include <sys/stat.h>

void FillAttributes(const MountTable &table, uint32_t node, struct stat &out);
