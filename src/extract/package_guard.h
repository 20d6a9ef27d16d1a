// Keeps the entry writer from overwriting the package it is reading, which
// can happen when the package lies inside its own output root.
#pragma once

// Notes where the package is; called once it is open, before any entry is
// written. Entries are only compared with it when it lies inside the output
// root, so ordinary runs pay nothing per entry.
void GuardPackage(const char *package_path);

// True when `out_path` names the package noted by GuardPackage.
bool IsGuardedPackage(const char *out_path);
