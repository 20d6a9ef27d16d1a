#include "shown_name.h"

#include "kestrun/kestrun.h"

#include <unistd.h>
#include <vector>

std::string ShownOn(FILE *stream, const char *text) {
    if (isatty(fileno(stream)) == 0) {
        return text;
    }
    int length = kr_escape_text(text, nullptr, 0);
    if (length < 0) {
        return text; // no memory to escape it: better than no warning
    }
    std::vector<char> shown(static_cast<size_t>(length) + 1);
    kr_escape_text(text, shown.data(), shown.size());
    return shown.data();
}
