#include "frontend/output/listing.hpp"

#include <gtest/gtest.h>

namespace {

using frontend::listing::appendListingRow;

TEST(ListingRow, FixedColumnsWithBlankLineAndOffsetFields) {
  std::string out;
  appendListingRow(out, {0x7c00, 0x10, true, "01 02 03 04 05 06 07 08", "db(1, 2)", 3});
  appendListingRow(out, {0x20, 0, false, "<trimmed>", "", 0});
  appendListingRow(out, {0, 0x1'0000'0001, true, "ff", "x", 123456});
  EXPECT_EQ(out,
            "    3 0000000000007c00 00000010 01 02 03 04 05 06 07 08  db(1, 2)\n"
            "      0000000000000020          <trimmed>                \n"
            "123456 0000000000000000 00000001 ff                       x\n");
}

}  // namespace
