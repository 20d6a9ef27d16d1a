#include "scan_tree.h"

#include "../../src/package/safe_name.h"
#include "../../src/types.h"
#include "exclude.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The longest name a record's name field holds with its terminating zero.
const size_t kMaxName = sizeof(RBDFileHeader::name) - 1;
// kestrun's limit for a path it forms, "./<package_name>/<group path><name>".
const size_t kMaxPath = RBD_MAX_PATH;
const uint64_t kMaxEntry = UINT32_MAX;

struct FileItem {
    std::string name;
    fs::path path;
    uint64_t size = 0;
};

// A directory that holds files somewhere below it.
struct DirNode {
    std::string name;
    std::vector<DirNode> subdirs;
    std::vector<FileItem> files;
};

struct Walk {
    TreeScan &scan;
    const ScanOptions &options;
    std::string root_prefix; // "./<package_name>/", what kestrun puts first
    // The directories being read, DIR first: with -L, a link to one of them
    // would lead round in a loop.
    std::vector<fs::path> open_dirs;
};

// `relative` is the path under DIR of what is refused, when leaving it out
// would let the rest go in.
void Refuse(Walk &walk, const char *what, const fs::path &path, const std::string &relative) {
    walk.scan.refusals.push_back(
        TreeRefusal{std::string(what) + ", \"" + path.string() + "\"", relative});
}

void RefuseUnreadable(Walk &walk, const fs::path &path, const std::string &relative,
                      const std::error_code &ec) {
    walk.scan.refusals.push_back(
        TreeRefusal{"Failed to read \"" + path.string() + "\": " + ec.message(), relative});
}

// A group's path without its trailing slash: the path under DIR of the
// directory it comes from.
std::string DirectoryPath(const std::string &group_path) {
    return group_path.empty() ? group_path : group_path.substr(0, group_path.size() - 1);
}

void Warn(Walk &walk, const char *what, const fs::path &path) {
    walk.scan.warnings.push_back(std::string("WARNING: ") + what + " \"" + path.string() + "\"!");
}

// Names become one path component each when kestrun extracts them.
bool CheckName(Walk &walk, const std::string &name, const fs::path &path,
               const std::string &relative) {
    if (name.size() > kMaxName) {
        Refuse(walk, "Name longer than 62 bytes", path, relative);
        return false;
    }
    if (!IsSafeName(name.c_str())) {
        Refuse(walk, "Unsafe name", path, relative);
        return false;
    }
    return true;
}

bool FitsPath(const Walk &walk, const std::string &relative) {
    return walk.root_prefix.size() + relative.size() <= kMaxPath;
}

// True when the directory `path`, reached through a link, is one of those
// being read.
bool LeadsRound(const Walk &walk, const fs::path &path) {
    return std::any_of(walk.open_dirs.begin(), walk.open_dirs.end(), [&](const fs::path &dir) {
        std::error_code ec;
        return fs::equivalent(path, dir, ec);
    });
}

void ScanDirectory(Walk &walk, const fs::path &path, const std::string &group_path, DirNode &node);

// The kind of a name that is no link, from what the listing said of it.
fs::file_status Kind(const fs::directory_entry &entry, std::error_code &ec) {
    if (entry.is_directory(ec)) {
        return fs::file_status(fs::file_type::directory);
    }
    if (!ec && entry.is_regular_file(ec)) {
        return fs::file_status(fs::file_type::regular);
    }
    return fs::file_status(fs::file_type::unknown);
}

void ScanSubdirectory(Walk &walk, const fs::path &path, const std::string &relative,
                      const std::string &name, DirNode &node) {
    if (!CheckName(walk, name, path, relative)) {
        return;
    }
    DirNode child;
    child.name = name;
    size_t refused = walk.scan.refusals.size();
    ScanDirectory(walk, path, relative + "/", child);
    if (child.subdirs.empty() && child.files.empty()) {
        // Unless what was in it was refused.
        if (walk.scan.refusals.size() == refused) {
            Warn(walk, "Skipping empty directory", path);
        }
    } else {
        node.subdirs.push_back(std::move(child));
    }
}

// Adds one directory entry to `node`, or skips or refuses it.
void ScanEntry(Walk &walk, const fs::directory_entry &entry, const std::string &group_path,
               DirNode &node) {
    const fs::path &path = entry.path();
    std::string name = path.filename().string();
    std::string relative = group_path + name;
    if (IsExcluded(walk.options.excludes, relative)) {
        return;
    }
    // The directory's listing gives the kind of most names: they are looked
    // at once, for their size, or not at all.
    std::error_code ec;
    bool link = entry.is_symlink(ec);
    if (link && !walk.options.dereference) {
        return Warn(walk, "Skipping symbolic link", path);
    }
    fs::file_status status = ec ? fs::file_status() : link ? entry.status(ec) : Kind(entry, ec);
    if (ec) {
        return RefuseUnreadable(walk, path, relative, ec);
    }
    if (fs::is_directory(status)) {
        if (link && LeadsRound(walk, path)) {
            return Warn(walk, "Skipping symbolic link to a directory it is in", path);
        }
        return ScanSubdirectory(walk, path, relative, name, node);
    }
    if (!fs::is_regular_file(status)) {
        return Warn(walk, "Skipping special file", path);
    }
    if (!CheckName(walk, name, path, relative)) {
        return;
    }
    if (!FitsPath(walk, relative)) {
        return Refuse(walk, "Path too long for kestrun", path, relative);
    }
    uint64_t size = walk.options.measure ? entry.file_size(ec) : 0;
    if (ec) {
        return RefuseUnreadable(walk, path, relative, ec);
    }
    if (size > kMaxEntry) {
        return Refuse(walk, "Entry of 4 GiB or more", path, relative);
    }
    // A file record belongs to a named group, so the top has no place for one.
    if (group_path.empty()) {
        return Refuse(walk,
                      "File outside every subdirectory (a package keeps files in directories "
                      "only)",
                      path, relative);
    }
    node.files.push_back(FileItem{name, path, size});
}

void ScanDirectory(Walk &walk, const fs::path &path, const std::string &group_path, DirNode &node) {
    // Any file below would make a longer path; this also bounds the recursion.
    if (!FitsPath(walk, group_path)) {
        return Refuse(walk, "Path too long for kestrun", path, DirectoryPath(group_path));
    }
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    if (ec) {
        return RefuseUnreadable(walk, path, DirectoryPath(group_path), ec);
    }
    // Byte order of the names makes the package the same on every run.
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry &a, const fs::directory_entry &b) {
                  return a.path().filename().string() < b.path().filename().string();
              });
    walk.open_dirs.push_back(path);
    for (const fs::directory_entry &entry : entries) {
        ScanEntry(walk, entry, group_path, node);
    }
    walk.open_dirs.pop_back();
}

// A directory with subdirectories is a directory group, and its own files go
// to a file group of the same name right after everything below it, so that
// both give the same group path and the index ends on a file record.
uint32_t GroupsFor(const DirNode &node) {
    return (node.subdirs.empty() ? 0 : 1) + (node.files.empty() ? 0 : 1);
}

void Emit(const DirNode &node, const std::string &group_path, TreeScan &scan) {
    const std::string path = group_path + node.name + "/";
    if (!node.subdirs.empty()) {
        uint32_t children = 0;
        for (const DirNode &child : node.subdirs) {
            children += GroupsFor(child);
        }
        scan.layout.entries.push_back(DirectoryGroup(node.name, children));
        for (const DirNode &child : node.subdirs) {
            Emit(child, path, scan);
        }
    }
    if (!node.files.empty()) {
        scan.layout.entries.push_back(
            FileGroup(node.name, static_cast<uint32_t>(node.files.size())));
        for (const FileItem &file : node.files) {
            PackEntry entry = FileEntry(file.name, std::string());
            entry.source = file.path.string();
            entry.source_size = file.size;
            scan.layout.entries.push_back(std::move(entry));
            scan.files.push_back(TreeFile{path + file.name, file.path.string(), file.size});
        }
    }
}

// Offsets are 32 bits wide: every entry's data must start below 4 GiB.
void CheckOffsets(Walk &walk) {
    std::vector<uint64_t> offsets = LayOutData(walk.scan.layout);
    for (size_t i = 0; i < offsets.size(); ++i) {
        const PackEntry &entry = walk.scan.layout.entries[i];
        if (entry.is_file && offsets[i] > UINT32_MAX) {
            return Refuse(walk, "Data would start past 4 GiB", entry.source, std::string());
        }
    }
}

} // namespace

TreeScan ScanTree(const std::string &dir, const ScanOptions &options) {
    TreeScan scan;
    Walk walk{scan, options, "./" + options.root_name + "/", {}};
    DirNode root;
    ScanDirectory(walk, fs::path(dir), "", root);
    for (const DirNode &child : root.subdirs) {
        Emit(child, "", scan);
    }
    if (!options.whole_package || !scan.refusals.empty()) {
        return scan;
    }
    if (scan.files.empty()) {
        Refuse(walk, "Nothing to pack", fs::path(dir), std::string());
    } else {
        CheckOffsets(walk);
    }
    return scan;
}

std::string PathInTree(const std::string &dir, const std::string &source) {
    // ScanTree forms every path as `dir` / name / ... / name, so `dir` with a
    // separator after it is how each one starts.
    std::string prefix = (fs::path(dir) / "").string();
    return source.compare(0, prefix.size(), prefix) == 0 ? source.substr(prefix.size())
                                                         : std::string();
}

bool IsInsideTree(const std::string &path, const std::string &dir) {
    std::error_code ec;
    fs::path inner = fs::weakly_canonical(path, ec);
    fs::path outer = fs::canonical(dir, ec);
    if (ec) {
        return false;
    }
    auto mismatch = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return mismatch.first == outer.end();
}
