// The members a run was asked for: patterns from the command line, matched
// against each entry's path under the output root ("data/snd/a.wav").
#pragma once

#include <vector>

// Takes the patterns; with none, every entry is chosen. A leading "./" and
// trailing slashes are dropped, so "./data/" names the group data.
void RBD_ChooseMembers(const std::vector<const char *> &patterns);

// True when the entry `filename` of the group path `path` (ending in a slash)
// is chosen: some pattern matches its path, or the path of one of its groups,
// which takes everything below that group. Notes which patterns matched.
bool RBD_IsChosen(const char *path, const char *filename);

// Prints a warning for each pattern that matched no entry.
void RBD_WarnUnmatchedMembers();
