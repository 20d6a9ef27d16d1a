#include "entry_data.h"

#include "../types.h"

bool RBD_DataInPackage(uint32_t offset, uint32_t size) {
    return size == 0 || uint64_t{offset} + size <= package_size;
}
