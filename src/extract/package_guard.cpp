#include "package_guard.h"

#include "../types.h"
#include "writer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The package's path while it lies inside the output root, else empty.
fs::path guarded_package;

bool IsInside(const fs::path &path, const fs::path &root) {
    auto ends = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return ends.first == root.end();
}

} // namespace

void GuardPackage(const char *package_path) {
    std::error_code error;
    fs::path package = fs::weakly_canonical(package_path, error);
    // With -C the output root lies below another directory than the working
    // one, and the package may lie inside it there.
    fs::path root = fs::weakly_canonical(fs::path(RBD_OutputBase()) / package_name, error);
    // When either can't be resolved, compare every entry rather than guess.
    bool inside = error || IsInside(package, root);
    guarded_package = inside ? fs::path(package_path) : fs::path();
}

bool IsGuardedPackage(const char *out_path) {
    if (guarded_package.empty()) {
        return false;
    }
    std::error_code error;
    return fs::equivalent(out_path, guarded_package, error) && !error;
}
