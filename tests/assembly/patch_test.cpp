#include "assembly/patch.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "assembly/materialize.hpp"
#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using assembly::absolutePatchValue;
using assembly::FixupResolutions;
using assembly::relativePatchValue;
using assembly::WideValue;
using frontend::fixup::FixupRangePolicy;
using frontend::module::Module;
using frontend::target::Target;
using qovrin::Error;

constexpr std::uint64_t kMax = ~std::uint64_t{0};
constexpr WideValue kTwo64 = static_cast<WideValue>(kMax) + 1;

// Field-level cases run through assembly; these are the wide and 64-bit edges.
TEST(PatchValue, RelativeDistancesFitTheSignedWidth) {
  // target, place, width, pointer bits, distance (none: the error)
  const std::tuple<WideValue, std::uint64_t, std::uint16_t, std::uint16_t, std::optional<std::int64_t>, Error>
      cases[] = {
          {-4, 10, 32, 64, -14, {}},
          // Addresses wrap: the upper half reads the same as an unsigned label
          // and as an expression on it, whose value is negative.
          {0xffffffff80000009, 0xffffffff80000005, 32, 64, 4, {}},
          {-0x7ffffff7, 0xffffffff80000005, 32, 64, 4, {}},
          {-0x7ffffff7, 0x7ffffff0, 32, 64, std::nullopt, Error::RelativeFixupOutOfRange},
          {0, kMax, 64, 64, 1, {}},
          {0, kMax, 8, 64, 1, {}},
          {static_cast<WideValue>(kMax >> 1), 0, 64, 64, static_cast<std::int64_t>(kMax >> 1), {}},
          {kTwo64, 0, 64, 64, std::nullopt, Error::RelativeFixupOutOfRange},
          {-kTwo64 / 2 - 1, 0, 64, 64, std::nullopt, Error::RelativeFixupOutOfRange},
          // 16- and 32-bit pointers wrap at their own width, once both ends
          // are addresses of that width.
          {0xfffffff0, 0x15, 32, 32, -0x25, {}},
          {0xfff0, 0x13, 16, 16, -0x23, {}},
          {0xfff0, 0x12, 8, 16, -0x22, {}},
          {-0x7ffffff7, 0x7ffffff0, 32, 32, 0x19, {}},
          {0xfff0, 0x13, 16, 32, std::nullopt, Error::RelativeFixupOutOfRange},
          {0x12345, 0x13, 16, 16, std::nullopt, Error::RelativeFixupOutOfRange},
          {0x5, 0x100000010, 32, 32, std::nullopt, Error::RelativeFixupOutOfRange},
          {0xfff0, 0x100, 8, 16, std::nullopt, Error::RelativeFixupOutOfRange},
          // A distance that fits as it stands needs no wrap, above 64K too.
          {0x10020, 0x10010, 16, 16, 0x10, {}},
          {0, 0, 0, 64, std::nullopt, Error::InvalidFixupWidth},
          {0, 0, 128, 64, std::nullopt, Error::InvalidFixupWidth},
      };
  for (const auto& [target, place, width, pointer_bits, distance, error] : cases) {
    const auto result = relativePatchValue(target, place, width, pointer_bits);
    if (distance)
      EXPECT_EQ(result.value_or(~0), *distance) << static_cast<std::int64_t>(target) << " " << place;
    else
      EXPECT_EQ(errorOf(result), error) << static_cast<std::int64_t>(target) << " " << place;
  }
}

TEST(PatchValue, DistancesWrapAtTheTopOfTheSpaceAndNarrowPointersReachOnlyTheirOwn) {
  // target, place, width, pointer bits, space bits, distance (none: refused)
  const std::tuple<WideValue, WideValue, std::uint16_t, std::uint16_t, std::uint16_t, std::optional<std::int64_t>>
      cases[] = {
          // A field ending at the top of the space: the next address is 0.
          {0, WideValue{1} << 32, 32, 32, 32, 0},
          {0, WideValue{1} << 16, 16, 16, 16, 0},
          {0xfffffffffffffff0, kTwo64, 32, 64, 64, -16},
          {0, (WideValue{1} << 32) + 1, 32, 32, 32, std::nullopt},
          {0, kTwo64 + 1, 32, 64, 64, std::nullopt},
          // A 16-bit pointer in a 32-bit space lands below 64K only, by the
          // distance modulo 2^16, even where the distance fits as it stands.
          {0x10, 0x7ffffff4, 16, 16, 32, 0x1c},
          {0x10, 0x7ffffff3, 8, 16, 32, 0x1d},
          {0x10004, 0x10004, 16, 16, 32, std::nullopt},
          {0xfffffff0, 0x14, 16, 16, 32, std::nullopt},
          {-16, 0x14, 16, 16, 32, std::nullopt},
          {0xfff0, 0x10, 16, 16, 32, -0x20},
          {0x100, 0x7ffffff4, 8, 16, 32, std::nullopt},
          // A target above the top of the space the field starts in: the
          // pointer wraps before it, however near the distance.
          {0x10010, 0xffe3, 16, 16, 16, std::nullopt},
          {0x10000, WideValue{1} << 16, 16, 16, 16, std::nullopt},
          {0x10010, 0x10001, 16, 16, 16, std::nullopt},
          {0x100000010, 0xffffffe5, 32, 32, 32, std::nullopt},
          // Code laid wholly above the top measures distances as they stand.
          {0x10010, 0x10003, 16, 16, 16, 0xd},
          {0x10010, 0xffe6, 32, 32, 32, 0x2a},
      };
  for (const auto& [target, place, width, pointer_bits, space_bits, distance] : cases) {
    const auto result = relativePatchValue(target, place, width, pointer_bits, space_bits);
    if (distance)
      EXPECT_EQ(result.value_or(~0), *distance) << static_cast<std::int64_t>(target) << " " << space_bits;
    else
      EXPECT_EQ(errorOf(result), Error::RelativeFixupOutOfRange)
          << static_cast<std::int64_t>(target) << " " << space_bits;
  }
}

TEST(PatchValue, AbsoluteValuesFitTheirPolicy) {
  using enum FixupRangePolicy;
  // value, width, policy, field bits (none: the error)
  const std::tuple<WideValue, std::uint16_t, FixupRangePolicy, std::optional<std::uint64_t>, Error> cases[] = {
      {-128, 8, wrap, kMax - 127, {}},
      {kMax - 128, 8, wrap, std::nullopt, Error::WrapFixupOutOfRange},
      {-1, 32, signed_value, kMax, {}},
      {-1, 32, unsigned_value, std::nullopt, Error::UnsignedFixupOutOfRange},
      {kMax, 64, signed_value, kMax, {}},
      {kTwo64, 64, wrap, std::nullopt, Error::WrapFixupOutOfRange},
      {-kTwo64, 64, signed_value, std::nullopt, Error::SignedFixupOutOfRange},
  };
  for (const auto& [value, width, policy, bits, error] : cases) {
    const auto result = absolutePatchValue(value, width, policy);
    if (bits)
      EXPECT_EQ(result.value_or(0), *bits) << static_cast<std::int64_t>(value) << " " << width;
    else
      EXPECT_EQ(errorOf(result), error) << static_cast<std::int64_t>(value) << " " << width;
  }
}

TEST(PatchValue, MessagesShowTheAddendAndTheWideTarget) {
  frontend::fixup::FixupTarget target{"x", frontend::fixup::FixupKind::symbol, -4};
  EXPECT_EQ(assembly::patchFailureMessage(Error::UnsignedFixupOutOfRange, target, 16, -4),
            "fixup target 'x - 4' (0xfffffffffffffffc) does not fit the unsigned 16-bit field");
  target.addend = 3;
  EXPECT_EQ(assembly::patchFailureMessage(Error::WrapFixupOutOfRange, target, 16, kTwo64 + 2),
            "fixup target 'x + 3' (0x10000000000000002) does not fit the signed-or-unsigned 16-bit field under wrap "
            "policy");
  EXPECT_EQ(assembly::patchFailureMessage(Error::InvalidFragment, target, 16, 0), std::nullopt);
}

// A target past 32 bits is kept apart from the narrow ones; every sign and
// width must come back whole, each at its own position.
TEST(FixupResolutionRecord, KeepsEveryWideTargetAndTheUnresolvedOne) {
  const std::optional<WideValue> targets[] = {std::nullopt,
                                              0,
                                              -1,
                                              -4,
                                              static_cast<WideValue>(kMax),
                                              kTwo64 + 2,
                                              -kTwo64 - 7,
                                              std::numeric_limits<WideValue>::min(),
                                              std::numeric_limits<WideValue>::max()};
  FixupResolutions resolutions;
  for (const auto& target : targets) resolutions.push_back(target);
  ASSERT_EQ(resolutions.size(), std::size(targets));
  for (std::size_t position = 0; position < std::size(targets); ++position)
    EXPECT_EQ(resolutions.target(position), targets[position]) << position;
}

// One RISC-V instruction at 0x2000 + 4 with one fixup per operand; the
// re-encoder writes the number of operands it got into every byte.
struct RiscvRun {
  std::vector<std::uint8_t> image;
  std::vector<std::uint64_t> addresses;  // one per re-encoding
  qovrin::Status status;
};

RiscvRun patchRiscv(const std::vector<std::optional<WideValue>>& targets, std::size_t encoded_size = 4) {
  Module module(Target::riscv(64));
  module.sections()[0].base = 0x2000;
  const std::vector<std::uint8_t> word = {0xaa, 0xbb, 0xcc, 0xdd};
  EXPECT_TRUE(module.emitBytes(0, word, {}));
  const auto index = module.appendIsaInstruction(0, Target::riscv(64), "beq x1, x2, far", {});
  EXPECT_TRUE(index);
  auto& line = *module.fragments()[*index].instruction();
  line.encoded = {1, 2, 3, 4};
  FixupResolutions resolutions;
  for (std::uint32_t number = 0; number < targets.size(); ++number) {
    EXPECT_TRUE(module.fixups().addOwnedTarget(*index, {"far"}, true, 0, 32));
    resolutions.push_back(targets[number]);
  }
  const auto layout = frontend::layout::layoutModule(module);
  auto output = assembly::materializeImage(module, *layout);
  RiscvRun run;
  const assembly::RiscvReencoder reencode = [&](const frontend::fragment::Fragment&, Target target,
                                                std::uint64_t address,
                                                std::span<const assembly::ResolvedOperand> operands) {
    EXPECT_EQ(target, Target::riscv(64));
    run.addresses.push_back(address);
    return qovrin::Result<std::vector<std::uint8_t>>(
        std::vector<std::uint8_t>(encoded_size, static_cast<std::uint8_t>(operands.size())));
  };
  run.status = assembly::patchFixups(module, {resolutions, *layout, output->regions, output->bytes, reencode});
  run.image = output->bytes;
  return run;
}

TEST(PatchRiscv, InstructionsAreEncodedAgainOnceWithAllOperands) {
  const std::vector<std::uint8_t> untouched = {0xaa, 0xbb, 0xcc, 0xdd, 1, 2, 3, 4};
  const auto both = patchRiscv({0x10, 0x20});
  ASSERT_TRUE(both.status);
  EXPECT_EQ(both.addresses, std::vector<std::uint64_t>{0x2004});
  EXPECT_EQ(both.image, (std::vector<std::uint8_t>{0xaa, 0xbb, 0xcc, 0xdd, 2, 2, 2, 2}));

  for (const auto& targets : {std::vector<std::optional<WideValue>>{0x10, std::nullopt},
                              std::vector<std::optional<WideValue>>{std::nullopt, 0x10}}) {
    const auto partly = patchRiscv(targets);
    ASSERT_TRUE(partly.status);
    EXPECT_TRUE(partly.addresses.empty());
    EXPECT_EQ(partly.image, untouched);
  }

  EXPECT_EQ(errorOf(patchRiscv({0x10}, 2).status), Error::InvalidFixupTarget);
  EXPECT_EQ(errorOf(patchRiscv(std::vector<std::optional<WideValue>>(17, 0)).status), Error::InvalidFixupTarget);
  EXPECT_TRUE(patchRiscv(std::vector<std::optional<WideValue>>(16, 0)).status);
}

}  // namespace
