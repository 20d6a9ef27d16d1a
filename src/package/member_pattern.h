// Shell-style patterns for choosing members, matched the same way on every
// system.
#pragma once

#include <string>

// True when `pattern` matches the whole of `text`. `*` matches any run of
// characters and `?` any one character, a slash included (as archivers match
// member names); `[abc]`, `[a-z]` and `[!a]` (or `[^a]`) match one character
// of a set, and a `]` right after the opening `[` (or its `!`) is part of the
// set; `\` takes the next character as it is. A `[` without its `]` is an
// ordinary character.
bool MatchPattern(const char *pattern, const char *text);

// A pattern as the user gave it, made to match paths under the output root:
// a leading "./" and trailing slashes are dropped, so "./data/" names the
// group data.
std::string NormalizedPattern(const char *given);

// True when the normalised `pattern` chooses the entry at `entry_path`, as
// the command line chooses members: it matches the whole path or the path of
// one of its groups, tried from the innermost ("a/b/f", "a/b", then "a"), so
// that naming a group chooses everything below it.
bool RBD_MemberMatches(const char *pattern, const char *entry_path);
