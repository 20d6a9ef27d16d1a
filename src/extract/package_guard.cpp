#include "package_guard.h"

namespace {

hkFileId package_id;
bool package_known;

} // namespace

void GuardPackage(int package_fd) {
    package_known = hkDescriptorIdentity(package_fd, &package_id);
}

bool IsGuardedPackage(const hkFileId &id) {
    return !package_known || (id.volume == package_id.volume && id.file == package_id.file);
}
