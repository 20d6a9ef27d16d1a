#include "header_text.h"

#include <cstdio>

bool RBD_WordHeaderProblem(const RBDWalkError &error, char *text, size_t size) {
    text[0] = '\0';
    const char *why = nullptr;
    switch (error.problem) {
    case RBD_PROBLEM_HEADER_SHORT:
        why = error.os_error != 0 ? nullptr : "shorter than its 1024-byte header";
        break;
    case RBD_PROBLEM_NO_INDICES:
        why = "the header announces no index records";
        break;
    case RBD_PROBLEM_VERSION:
        std::snprintf(text, size, "not an RBD package (unknown version 0x%04x)",
                      static_cast<unsigned>(error.version));
        return true;
    case RBD_PROBLEM_COMMENT:
        why = "the header lacks the format's comment";
        break;
    default:
        break;
    }
    if (why == nullptr) {
        return false;
    }
    std::snprintf(text, size, "not an RBD package (%s)", why);
    return true;
}
