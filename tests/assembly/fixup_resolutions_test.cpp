#include "assembly/fixup_resolutions.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "assembly/flat.hpp"
#include "common/error_of.hpp"

namespace {

using assembly::FixupResolutions;
using assembly::WideValue;
using frontend::fixup::FixupKind;
using frontend::fixup::FixupRangePolicy;
using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;
using qovrin::testing::errorOf;
using Bytes = std::vector<std::uint8_t>;

constexpr WideValue kTwo32 = WideValue{1} << 32;
constexpr WideValue kTwo64 = WideValue{1} << 64;

// Narrow and wide targets share their states four to a byte; a run whose
// length is no multiple of four crosses every boundary.
TEST(FixupResolutions, EveryTargetComesBackAtItsPosition) {
  const std::optional<WideValue> kinds[] = {std::nullopt,
                                            0,
                                            1,
                                            kTwo32 - 1,
                                            kTwo32,
                                            -1,
                                            -kTwo32,
                                            kTwo64 - 1,
                                            kTwo64 + 2,
                                            -kTwo64 - 7,
                                            std::numeric_limits<WideValue>::min(),
                                            std::numeric_limits<WideValue>::max()};
  std::vector<std::optional<WideValue>> all;
  for (std::size_t position = 0; position < 101; ++position) all.push_back(kinds[(position * 5) % std::size(kinds)]);
  FixupResolutions pushed;
  for (const std::optional<WideValue>& target : all) pushed.push_back(target);
  ASSERT_EQ(pushed.size(), all.size());
  for (std::size_t position = 0; position < all.size(); ++position)
    EXPECT_EQ(pushed.target(position), all[position]) << position;
}

// Many fixups in one module, five kinds in turn: a narrow target, one past
// 32 bits, an undefined name, one below zero through its addend, and a
// dropped one. Pending notes come in fixup order.
TEST(FixupResolutions, ManyFixupsPatchStayPendingOrStayDroppedInOrder) {
  constexpr std::uint32_t kCount = 403;
  Module module(Target::x86(64));
  ASSERT_TRUE(module.defineValue("low", Value::integer(0x12345678), false, {}));
  ASSERT_TRUE(module.defineValue("high", Value::integer(0x1'0000'0010), false, {}));
  for (std::uint32_t index = 0; index < kCount; ++index) {
    const auto fragment = module.emitBytes(0, Bytes(8, 0xee), {});
    ASSERT_TRUE(fragment);
    const std::string missing = "missing" + std::to_string(index);
    const struct {
      frontend::fixup::FixupTarget target;
      std::uint16_t width;
    } shapes[] = {
        {{"low"}, 32}, {{"high"}, 64}, {{missing}, 16}, {{"low", FixupKind::symbol, -0x12345679}, 8}, {{"low"}, 32}};
    const auto& shape = shapes[index % 5];
    const auto added = module.fixups().addOwnedTarget(*fragment, shape.target, false, 0, shape.width);
    ASSERT_TRUE(added);
    module.fixups()[*added].range_policy = FixupRangePolicy::signed_value;
    if (index % 5 == 4) module.fixups().dropFragment(*fragment);
  }
  const auto result = assembly::assembleFlat(module, {});
  ASSERT_TRUE(result);
  ASSERT_EQ(result->image.size(), std::size_t{8} * kCount);
  std::vector<std::string> notes;
  for (std::uint32_t index = 0; index < kCount; ++index) {
    Bytes field(8, 0xee);
    if (index % 5 == 0) field = {0x78, 0x56, 0x34, 0x12, 0xee, 0xee, 0xee, 0xee};
    if (index % 5 == 1) field = {0x10, 0, 0, 0, 1, 0, 0, 0};
    if (index % 5 == 2) notes.push_back("'missing" + std::to_string(index) + "' is not defined");
    if (index % 5 == 3) field[0] = 0xff;
    EXPECT_EQ(Bytes(result->image.begin() + 8 * index, result->image.begin() + 8 * (index + 1)), field) << index;
  }
  EXPECT_EQ(result->pending_fixups, notes.size());
  ASSERT_EQ(result->unresolved.size(), notes.size());
  for (std::size_t at = 0; at < notes.size(); ++at) EXPECT_EQ(result->unresolved[at].note, notes[at]) << at;
}

// Two fields that do not fit: the first in fixup order is the one reported.
TEST(FixupResolutions, TheFirstFieldThatDoesNotFitIsReported) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.defineValue("big", Value::integer(0x1'0000'0000), false, {}));
  ASSERT_TRUE(module.emitBytes(0, Bytes(8, 0), {}));
  ASSERT_TRUE(module.fixups().addOwnedTarget(0, {"big", FixupKind::symbol, 5}, false, 0, 32));
  ASSERT_TRUE(module.fixups().addOwnedTarget(0, {"big", FixupKind::symbol, -5}, false, 4, 32));
  EXPECT_EQ(errorOf(assembly::assembleFlat(module, {})), qovrin::Error::FrontendDiagnostics);
  ASSERT_EQ(module.diagnostics().diagnostics().size(), 1u);
  EXPECT_EQ(module.diagnostics().diagnostics()[0].message,
            "fixup target 'big + 5' (0x100000005) does not fit the signed-or-unsigned 32-bit field under wrap policy");
}

}  // namespace
