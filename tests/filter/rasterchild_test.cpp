// The environment the raster child gets.
#include <gtest/gtest.h>

#include "filter/rasterchild.h"

namespace {

TEST(RasterChildTunables, HugePagesOnlyWhereTheyAreSmallAndTheAdminHasNotChosen) {
    constexpr uint64_t k2M = 2 * 1024 * 1024;
    EXPECT_EQ(rasterChildTunables(nullptr, k2M), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(rasterChildTunables("", k2M), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(rasterChildTunables("glibc.malloc.arena_max=2", k2M),
              "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
    // The admin's choice, either way, stays as it is.
    EXPECT_EQ(rasterChildTunables("glibc.malloc.hugetlb=0", k2M), "");
    EXPECT_EQ(rasterChildTunables("a=1:glibc.malloc.hugetlb=1", k2M), "");
    // No transparent huge pages, or pages of 32 MiB (16 KiB base pages) and
    // 512 MiB (64 KiB base pages): nothing is added.
    for (uint64_t size : {uint64_t{0}, 16 * k2M, 256 * k2M})
        EXPECT_EQ(rasterChildTunables(nullptr, size), "") << size;
}

}  // namespace
