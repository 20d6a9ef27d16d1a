#include "members.h"

#include "../../package/member_pattern.h"
#include "../output/messages.h"
#include "../output/shown_text.h"

#include <string>

void RBD_ChooseMembers(RBDMembers &members, const std::vector<const char *> &patterns,
                       const std::vector<const char *> &excludes) {
    for (const char *pattern : patterns) {
        members.patterns.push_back({NormalizedPattern(pattern), pattern, false});
    }
    for (const char *pattern : excludes) {
        members.excludes.push_back(NormalizedPattern(pattern));
    }
}

bool RBD_IsChosen(RBDMembers &members, const char *path, const char *filename) {
    if (members.patterns.empty() && members.excludes.empty()) {
        return true;
    }
    std::string entry_path = std::string(path) + filename;
    bool chosen = members.patterns.empty();
    // Every pattern is tried, so that each one that matches is noted.
    for (RBDMember &member : members.patterns) {
        if (RBD_MemberMatches(member.pattern.c_str(), entry_path.c_str())) {
            member.matched = true;
            chosen = true;
        }
    }
    for (const std::string &pattern : members.excludes) {
        if (chosen && RBD_MemberMatches(pattern.c_str(), entry_path.c_str())) {
            chosen = false;
        }
    }
    return chosen;
}

void RBD_WarnUnmatchedMembers(const RBDMembers &members, RBDStreams &out) {
    for (const RBDMember &member : members.patterns) {
        if (member.matched) {
            continue;
        }
        if (member.as_given[0] == '-') {
            RBD_Warning(out, "WARNING: No entry matches \"%s\" (options go before the package)!\n",
                        ShownInMessage(member.as_given));
        } else {
            RBD_Warning(out, "WARNING: No entry matches \"%s\"!\n",
                        ShownInMessage(member.as_given));
        }
    }
}
