#include "shown_text.h"

#include "../../package/escaped_text.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

bool messages_on_terminal;
bool stdout_on_terminal;

const char *Shown(const char *text, bool on_terminal) {
    // Cheap test first: most names hold no byte that could need escaping.
    if (!on_terminal || !RBD_NeedsEscaping(text)) {
        return text;
    }
    static std::string slots[4];
    static unsigned next_slot;
    std::string &slot = slots[next_slot++ % 4];
    slot = RBD_EscapeControls(text);
    return slot.c_str();
}

} // namespace

void NoteTerminals(FILE *messages) {
    messages_on_terminal = isatty(fileno(messages)) != 0;
    stdout_on_terminal = isatty(fileno(stdout)) != 0;
}

const char *ShownInMessage(const char *text) {
    return Shown(text, messages_on_terminal);
}

const char *ShownOnStdout(const char *text) {
    return Shown(text, stdout_on_terminal);
}
