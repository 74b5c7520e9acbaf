#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "frontend/values/value.hpp"

namespace {

using frontend::value::formatFloat32Literal;
using frontend::value::formatFloatLiteral;

std::string repeat(char character, std::size_t count) { return std::string(count, character); }

TEST(FloatText, Float64Table) {
  const double infinity = std::numeric_limits<double>::infinity();
  const std::pair<double, std::string> cases[] = {
      {2.0, "2.0"},
      {100.0, "100.0"},
      {0.1, "0.1"},
      {0.001, "0.001"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {-2.5, "-2.5"},
      {1e21, "1" + repeat('0', 21) + ".0"},
      {1e300, "1" + repeat('0', 300) + ".0"},
      {5e-324, "0." + repeat('0', 323) + "5"},
      {1.5e-7, "0.00000015"},
      {0.30000000000000004, "0.30000000000000004"},
      {123456789012345680.0, "123456789012345680.0"},
      {std::numeric_limits<double>::max(), "17976931348623157" + repeat('0', 292) + ".0"},
      {infinity, "inf.0"},
      {-infinity, "-inf.0"},
      {std::numeric_limits<double>::quiet_NaN(), "nan.0"},
      {-std::numeric_limits<double>::quiet_NaN(), "-nan.0"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(formatFloatLiteral(number), text);
}

// Float32 text uses the shortest digits of the float itself, and its literal wraps them.
TEST(FloatText, Float32UsesItsOwnShortestDigits) {
  const std::pair<float, std::string> cases[] = {
      {0.1f, "0.1"},
      {3.5f, "3.5"},
      {-0.0f, "-0.0"},
      {16777216.0f, "16777216.0"},
      {1e30f, "1" + repeat('0', 30) + ".0"},
      {std::numeric_limits<float>::denorm_min(), "0." + repeat('0', 44) + "1"},
      {-std::numeric_limits<float>::infinity(), "-inf.0"},
  };
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(formatFloatLiteral(number), text);
    EXPECT_EQ(formatFloat32Literal(number), "f32(" + text + ")");
  }
}

// The text reads back to the very same number, across magnitudes.
TEST(FloatText, TextReadsBackExactly) {
  for (double number = 1e-310; number < 1e308; number *= 7.3) {
    const std::string text = formatFloatLiteral(number);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), number) << text;
    EXPECT_EQ(text.find('e'), std::string::npos) << text;
  }
  for (float number = 1e-40f; number < 1e38f; number *= 5.1f) {
    const std::string text = formatFloatLiteral(number);
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), number) << text;
  }
}

}  // namespace
