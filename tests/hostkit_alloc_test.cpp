// Entry buffers from hostkit: every byte asked for is usable, whichever way
// the block was obtained, and goes back without complaint.
#include "hostkit/hostkit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(HostkitAllocTest, BlocksOfEverySizeAreWholeAndGoBack) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{4096}, (size_t{4} << 20) - 1, size_t{4} << 20,
                        (size_t{5} << 20) + 3}) {
        auto *block = static_cast<unsigned char *>(hkAllocate(size));
        ASSERT_NE(block, nullptr) << size;
        std::memset(block, 0xA5, size > 0 ? size : 1);
        EXPECT_EQ(block[size > 0 ? size - 1 : 0], 0xA5);
        hkRelease(block, size);
    }
    hkRelease(nullptr, 123);
}

} // namespace
