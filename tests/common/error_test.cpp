#include "common/error.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using qovrin::Error;

TEST(ErrorNames, AreTheEnumeratorNamesAndDistinct) {
  EXPECT_EQ(qovrin::errorName(Error::IncludeCycle), "IncludeCycle");
  EXPECT_EQ(qovrin::errorName(Error::MetaLoopContinue), "MetaLoopContinue");
  EXPECT_EQ(qovrin::errorName(Error::OperandKindMismatch), "OperandKindMismatch");
  std::set<std::string, std::less<>> seen;
  for (std::size_t index = 0; index < qovrin::kErrorCount; ++index) {
    const auto name = qovrin::errorName(static_cast<Error>(index));
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(seen.emplace(name).second) << name;
  }
  EXPECT_EQ(qovrin::errorName(static_cast<Error>(qovrin::kErrorCount)), "UnknownError");
}

}  // namespace
