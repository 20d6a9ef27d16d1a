// The paths that --exclude leaves out of a package, matched as kestrun matches
// member patterns against the paths in a package: the path under DIR of a
// file or directory is its path in the package.
#pragma once

#include <string>
#include <vector>

// True when one of `patterns` (as NormalizedPattern gives them) matches `relative`, the path of a
// file or directory under DIR ("a/b/f"). A directory left out takes everything below it with it.
bool IsExcluded(const std::vector<std::string> &patterns, const std::string &relative);

// The words "--exclude PATTERN" that leave out `relative` alone, ready to be
// pasted into a shell: the pattern's own special characters escaped, then the
// whole quoted where the shell would take it apart.
std::string ExcludeArgument(const std::string &relative);
