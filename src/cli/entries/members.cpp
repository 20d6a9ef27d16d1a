#include "members.h"

#include "../output/messages.h"
#include "../output/shown_text.h"
#include "pattern.h"

#include <string>

namespace {

struct RBDMember {
    std::string pattern;
    const char *as_given;
    bool matched;
};

std::vector<RBDMember> members;
std::vector<std::string> excluded;

// The entry's own path, then the path of each group above it, from the
// innermost out: "a/b/f", "a/b", "a".
bool Matches(const std::string &pattern, std::string entry_path) {
    for (;;) {
        if (MatchPattern(pattern.c_str(), entry_path.c_str())) {
            return true;
        }
        size_t slash = entry_path.rfind('/');
        if (slash == std::string::npos) {
            return false;
        }
        entry_path.erase(slash);
    }
}

} // namespace

void RBD_ChooseMembers(const std::vector<const char *> &patterns,
                       const std::vector<const char *> &excludes) {
    for (const char *pattern : patterns) {
        members.push_back({NormalizedPattern(pattern), pattern, false});
    }
    for (const char *pattern : excludes) {
        excluded.push_back(NormalizedPattern(pattern));
    }
}

bool RBD_IsChosen(const char *path, const char *filename) {
    if (members.empty() && excluded.empty()) {
        return true;
    }
    std::string entry_path = std::string(path) + filename;
    bool chosen = members.empty();
    // Every pattern is tried, so that each one that matches is noted.
    for (RBDMember &member : members) {
        if (Matches(member.pattern, entry_path)) {
            member.matched = true;
            chosen = true;
        }
    }
    for (const std::string &pattern : excluded) {
        if (chosen && Matches(pattern, entry_path)) {
            chosen = false;
        }
    }
    return chosen;
}

void RBD_WarnUnmatchedMembers() {
    for (const RBDMember &member : members) {
        if (member.matched) {
            continue;
        }
        if (member.as_given[0] == '-') {
            RBD_Warning("WARNING: No entry matches \"%s\" (options go before the package)!\n",
                        ShownInMessage(member.as_given));
        } else {
            RBD_Warning("WARNING: No entry matches \"%s\"!\n", ShownInMessage(member.as_given));
        }
    }
}
