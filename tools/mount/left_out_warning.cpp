#include "left_out_warning.h"

#include "shown_name.h"

#include <cstdio>
#include <vector>

void WarnLeftOut(void *context, const kr_package *package, const kr_entry &entry, int outcome) {
    const auto *root_name = static_cast<const char *>(context);
    int length = kr_outcome_text(package, entry.index, root_name, outcome, nullptr, 0);
    if (length <= 0) {
        return;
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    kr_outcome_text(package, entry.index, root_name, outcome, text.data(), text.size());
    std::fprintf(stderr, "WARNING: %s!\n", ShownOn(stderr, text.data()).c_str());
}
