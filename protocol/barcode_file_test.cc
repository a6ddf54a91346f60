#include "protocol/barcode_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace protocol {
namespace {

TEST(BarcodeFileTest, EachBuildRequestHasItsOwnFile) {
  EXPECT_EQ(BarcodeDatabaseName(701), "c:\\tavenor\\BarcodeDB701.db");
}

TEST(BarcodeChunkCountTest, RoundsUpToWholeChunks) {
  const struct {
    uint64_t size;
    int chunks;
  } cases[] = {{0, 0},     {1, 1},     {20480, 1},    {21000, 1},     {21001, 2},
               {42000, 2}, {43008, 3}, {2079000, 99}, {2079001, 100}, {UINT64_MAX, INT_MAX}};
  for (const auto& c : cases) EXPECT_EQ(BarcodeChunkCount(c.size), c.chunks) << c.size;
}

}  // namespace
}  // namespace protocol
