#include "left_out_warning.h"

#include "cli/output/shown_text.h"
#include "extract/entry_data.h"
#include "types.h"

#include <cstdio>

void WarnLeftOut(void *context, const kr_entry &entry, LeftOut why) {
    const auto *root_name = static_cast<const char *>(context);
    const char *group = ShownInMessage(entry.group);
    const char *name = ShownInMessage(entry.name);
    char out_path[RBD_MAX_PATH + 1] = "";
    switch (why) {
    case LEFT_OUT_UNSAFE:
        std::fprintf(stderr, "WARNING: Refusing unsafe path, \"%s%s\"!\n", group, name);
        break;
    case LEFT_OUT_TOO_LONG:
        std::fprintf(stderr, "WARNING: Path too long, \"%s%s\"!\n", group, name);
        break;
    case LEFT_OUT_FILE_IN_WAY:
        std::fprintf(stderr, "WARNING: Failed to create path, \"%s\"!\n", group);
        break;
    case LEFT_OUT_EMPTY_NAME:
    case LEFT_OUT_DIRECTORY_IN_WAY:
        RBD_FormatOutputPath(out_path, root_name, entry.group, entry.name);
        std::fprintf(stderr, "WARNING: Failed to write to destination, \"%s\"!\n",
                     ShownInMessage(out_path));
        break;
    }
}
