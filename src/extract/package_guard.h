// Keeps the entry writer from replacing the package it is reading, under any
// name: the package is recognised by its identity (device and inode, or
// volume serial number and file index), not by its path.
#pragma once

#include "../hostkit/hostkit.h"

// Notes the identity of the package open as descriptor `package_fd`; called
// once it is open, before any entry is written.
void GuardPackage(int package_fd);

// True when `id`, the identity of something an entry would replace, is the
// package's; also when the package's identity could not be taken, so that
// nothing is replaced blindly. Only consulted when a name already exists, so
// a fresh extraction pays nothing.
bool IsGuardedPackage(const hkFileId &id);
