#include "frontend/module.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using frontend::SourceLocation;
using frontend::fragment::FragmentKind;
using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;
using qovrin::Error;

constexpr std::uint64_t kMax = ~std::uint64_t{0};
const SourceLocation kHere{};

std::vector<std::uint8_t> run(std::uint8_t first, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t index = 0; index < count; ++index) bytes[index] = static_cast<std::uint8_t>(first + index);
  return bytes;
}

TEST(Module, StartsWithTextSectionAndTarget) {
  const Module module(Target::riscv(32));
  ASSERT_EQ(module.sections().size(), 1u);
  EXPECT_EQ(module.sections()[0].name, ".text");
  EXPECT_EQ(module.sections()[0].kind, frontend::section::SectionKind::output);
  EXPECT_EQ(module.currentSection(), 0u);
  EXPECT_EQ(module.target(), Target::riscv(32));
  EXPECT_TRUE(module.fragments().empty());
}

// Each addition into a section that does not exist fails and leaves no trace.
TEST(Module, AdditionsIntoAMissingSectionChangeNothing) {
  Module module(Target::x86(64));
  const std::array<std::uint8_t, 2> data = {1, 2};
  const std::uint32_t missing = module.sections().size();
  const qovrin::Result<std::uint32_t> attempts[] = {
      module.emitBytes(missing, data, kHere),
      module.emitRepeatedByte(missing, 0x90, 4, kHere),
      module.reserve(missing, 16, kHere),
      module.addAlignment(missing, 16, 0, kHere),
      module.appendIsaInstruction(missing, Target::x86(64), "nop", kHere),
      module.emitBytes(kMax >> 32, data, kHere),
  };
  for (const auto& attempt : attempts) EXPECT_EQ(attempt.error(), Error::InvalidSection);
  EXPECT_TRUE(module.fragments().empty());
  EXPECT_TRUE(module.sections()[0].fragments.empty());
}

TEST(Module, FragmentsKeepTheirKindSectionAndOrder) {
  Module module(Target::x86(32));
  const auto data = module.createOutputSection(".data", 0x2000, 0x200);
  ASSERT_TRUE(data);
  const SourceLocation there{{3u, 10, 20}, std::nullopt};
  const std::array<std::uint8_t, 3> bytes = {7, 8, 9};
  EXPECT_EQ(module.emitBytes(*data, bytes, there).value(), 0u);
  EXPECT_EQ(module.appendIsaInstruction(0, Target::x86(16), "mov ax, 1", kHere).value(), 1u);
  EXPECT_EQ(module.reserve(*data, 32, kHere).value(), 2u);
  EXPECT_EQ(module.addAlignment(*data, 8, 0xcc, kHere).value(), 3u);
  EXPECT_EQ(module.emitRepeatedByte(*data, 0x90, 0, kHere).value(), 4u);

  const auto fragments = module.fragments();
  EXPECT_EQ(fragments[0].kind(), FragmentKind::bytes);
  EXPECT_EQ(fragments[0].location, there);
  EXPECT_EQ(fragments[1].kind(), FragmentKind::instruction);
  EXPECT_EQ(fragments[1].instruction()->target, Target::x86(16));
  EXPECT_EQ(fragments[1].instruction()->text, "mov ax, 1");
  EXPECT_TRUE(fragments[1].instruction()->encoded.empty());
  EXPECT_EQ(fragments[2].kind(), FragmentKind::reserve);
  EXPECT_EQ(fragments[3].kind(), FragmentKind::alignment);
  EXPECT_EQ(fragments[4].bytes()->data.size(), 0u);
  EXPECT_EQ(module.sections()[*data].fragments, (std::vector<std::uint32_t>{0, 2, 3, 4}));
  EXPECT_EQ(module.sections()[0].fragments, (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(module.sections()[*data].base, 0x2000u);
  EXPECT_EQ(module.sections()[*data].file_offset, 0x200u);
}

TEST(Module, RepeatedBytesAreBoundedBeforeAllocating) {
  Module module(Target::x86(64));
  EXPECT_EQ(module.emitRepeatedByte(0, 0, std::uint64_t{1} << 40, kHere).error(), Error::InvalidApiInteger);
  EXPECT_TRUE(module.fragments().empty());
  ASSERT_TRUE(module.emitRepeatedByte(0, 0xab, 3, kHere));
  EXPECT_EQ(module.fragments()[0].bytes()->data, (std::vector<std::uint8_t>{0xab, 0xab, 0xab}));
}

TEST(Module, VirtualSectionsShareTheirName) {
  Module module(Target::x86(64));
  const auto first = module.createVirtualSection(0x100);
  const auto second = module.createVirtualSection(0x200);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(module.sections()[*first].name, ".virtual");
  EXPECT_EQ(module.sections()[*second].name, ".virtual");
  EXPECT_EQ(module.sections()[*second].kind, frontend::section::SectionKind::virtual_region);
  EXPECT_EQ(module.sections()[*second].base, 0x200u);
  EXPECT_EQ(module.virtualSections().size(), 2u);
  EXPECT_EQ(module.virtualSections()[1], *second);
}

TEST(Module, LabelsAndValuesShareOneNameSpace) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 4, 0, kHere));
  ASSERT_TRUE(module.defineValue("answer", Value::integer(42), false, kHere));

  Value refused = Value::string("kept");
  EXPECT_EQ(module.defineValue("start", std::move(refused), true, kHere).error(), Error::DuplicateSymbol);
  ASSERT_NE(refused.asString(), nullptr);
  EXPECT_EQ(*refused.asString(), "kept");  // a refused value stays with the caller
  EXPECT_EQ(module.defineAnchoredLabel("answer", 0, 0, 0, kHere).error(), Error::DuplicateSymbol);
  EXPECT_EQ(module.defineAnchoredLabel("start", 0, 0, 0, kHere).error(), Error::DuplicateSymbol);
  EXPECT_EQ(module.symbols().size(), 2u);

  const auto* start = module.findSymbol("start");
  ASSERT_NE(start, nullptr);
  ASSERT_NE(start->label(), nullptr);
  EXPECT_TRUE(start->label()->anchored);
  const auto* answer = module.findSymbol("answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->value()->value.asInteger()->word, 42u);
  EXPECT_EQ(module.findSymbol("Start"), nullptr);
}

TEST(Module, LabelAddressAddsTheSectionBase) {
  Module module(Target::x86(64));
  const auto high = module.createOutputSection(".high", kMax - 3, 0);
  ASSERT_TRUE(high);
  using frontend::symbol::Label;
  EXPECT_EQ(module.labelAddress(Label{3, *high, 0, true}).value(), kMax);
  EXPECT_EQ(module.labelAddress(Label{4, *high, 0, true}).error(), Error::InvalidNumber);
  EXPECT_EQ(module.labelAddress(Label{0, 99, 0, true}).error(), Error::InvalidOperand);
}

// Section .text at base 0x100: bytes[2] @0, bytes[8] @2, reserve 4 @10,
// align 16 (pad 14..16), instruction (3 encoded bytes) @16, bytes[2] @19.
class ByteAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    module.sections()[0].base = 0x100;
    ASSERT_TRUE(module.emitBytes(0, run(0x10, 2), kHere));
    ASSERT_TRUE(module.emitBytes(0, run(0x20, 8), kHere));
    ASSERT_TRUE(module.reserve(0, 4, kHere));
    ASSERT_TRUE(module.addAlignment(0, 16, 0, kHere));
    const auto line = module.appendIsaInstruction(0, Target::x86(64), "ret", kHere);
    ASSERT_TRUE(line);
    module.fragments()[*line].instruction()->encoded = {0xc3, 0xc4, 0xc5};
    instruction = *line;
    ASSERT_TRUE(module.emitBytes(0, run(0x40, 2), kHere));
  }

  Module module{Target::x86(64)};
  std::uint32_t instruction = 0;
};

struct AccessCase {
  const char* name;
  std::uint64_t address;
  std::size_t count;
  std::vector<std::uint8_t> expected;  // empty with error set: failure
  Error error;
};

TEST_F(ByteAccess, LoadsFollowTheFragmentLayout) {
  const AccessCase cases[] = {
      {"crosses the first two fragments", 0x100, 4, {0x10, 0x11, 0x20, 0x21}, {}},
      {"inside the reserve", 0x10b, 1, {}, Error::InvalidApiArgument},
      {"runs into the reserve", 0x108, 4, {}, Error::InvalidApiArgument},
      {"alignment padding", 0x10e, 1, {}, Error::InvalidApiArgument},
      {"instruction and following bytes", 0x111, 4, {0xc4, 0xc5, 0x40, 0x41}, {}},
      {"ends exactly at the end", 0x114, 1, {0x41}, {}},
      {"one byte further", 0x114, 2, {}, Error::InvalidApiArgument},
      {"past the end", 0x115, 1, {}, Error::InvalidApiArgument},
      {"below the base", 0xff, 1, {}, Error::InvalidApiArgument},
      {"length overflows", 0x101, static_cast<std::size_t>(kMax), {}, Error::OffsetOverflow},
  };
  for (const auto& test : cases) {
    if (test.count > 64) {
      const auto read = module.readBytesAt(0, test.address, test.count);
      EXPECT_EQ(read.error(), test.error) << test.name;
      continue;
    }
    std::vector<std::uint8_t> out(test.count);
    const auto status = module.loadBytesAt(0, test.address, out);
    if (test.expected.empty()) {
      ASSERT_FALSE(status) << test.name;
      EXPECT_EQ(status.error(), test.error) << test.name;
    } else {
      ASSERT_TRUE(status) << test.name;
      EXPECT_EQ(out, test.expected) << test.name;
    }
  }
}

TEST_F(ByteAccess, EmptyAccessNeedsOnlyAValidStart) {
  EXPECT_TRUE(module.loadBytesAt(0, 0x10b, {}));  // even inside the reserve
  EXPECT_EQ(module.loadBytesAt(0, 0xff, {}).error(), Error::InvalidApiArgument);
  EXPECT_EQ(module.loadBytesAt(1, 0x100, {}).error(), Error::InvalidSection);
}

TEST_F(ByteAccess, HugeReadFailsBeforeAllocating) {
  EXPECT_EQ(module.readBytesAt(0, 0x100, std::uint64_t{1} << 62).error(), Error::InvalidApiArgument);
  EXPECT_EQ(module.readBytesAt(0, 0x111, 3).value(), (std::vector<std::uint8_t>{0xc4, 0xc5, 0x40}));
}

TEST_F(ByteAccess, FailedStoreWritesNothing) {
  const auto before = module.readBytesAt(0, 0x100, 10).value();
  const std::vector<std::uint8_t> data(12, 0xee);
  EXPECT_EQ(module.storeBytesAt(0, 0x100, data).error(), Error::InvalidApiArgument);
  EXPECT_EQ(module.readBytesAt(0, 0x100, 10).value(), before);
}

TEST_F(ByteAccess, StoreAcrossFragmentsAndIntoAnInstruction) {
  const std::array<std::uint8_t, 3> data = {0xa0, 0xa1, 0xa2};
  ASSERT_TRUE(module.storeBytesAt(0, 0x101, data));
  EXPECT_EQ(module.readBytesAt(0, 0x100, 4).value(), (std::vector<std::uint8_t>{0x10, 0xa0, 0xa1, 0xa2}));

  EXPECT_EQ(module.fragments()[instruction].kind(), FragmentKind::instruction);
  ASSERT_TRUE(module.storeBytesAt(0, 0x111, data));
  const auto& changed = module.fragments()[instruction];
  ASSERT_EQ(changed.kind(), FragmentKind::bytes);
  EXPECT_EQ(changed.bytes()->data, (std::vector<std::uint8_t>{0xc3, 0xa0, 0xa1}));
  EXPECT_EQ(changed.section, 0u);
  EXPECT_EQ(module.loadIntegerAt(0, 0x113, 2).value(), 0x41a2u);
}

TEST_F(ByteAccess, LoadingAnInstructionLeavesItAlone) {
  EXPECT_EQ(module.loadIntegerAt(0, 0x110, 1).value(), 0xc3u);
  EXPECT_EQ(module.fragments()[instruction].kind(), FragmentKind::instruction);
}

struct IntegerCase {
  const char* name;
  std::uint64_t width;
  std::uint64_t value;
  bool accepted;
};

TEST_F(ByteAccess, IntegerStoresCheckWidthAndRange) {
  const IntegerCase cases[] = {
      {"byte", 1, 0xff, true},
      {"byte too big", 1, 0x100, false},
      {"word", 2, 0xffff, true},
      {"word too big", 2, 0x10000, false},
      {"dword", 4, 0xffffffff, true},
      {"dword too big", 4, 0x100000000, false},
      {"qword any value", 8, kMax, true},
      {"width 3", 3, 1, false},
      {"width 0", 0, 0, false},
      {"width 16", 16, 0, false},
  };
  for (const auto& test : cases) {
    const auto status = module.storeIntegerAt(0, 0x102, test.value, test.width);
    if (!test.accepted) {
      ASSERT_FALSE(status) << test.name;
      EXPECT_EQ(status.error(), Error::InvalidApiInteger) << test.name;
      continue;
    }
    ASSERT_TRUE(status) << test.name;
    EXPECT_EQ(module.loadIntegerAt(0, 0x102, test.width).value(), test.value) << test.name;
  }
  EXPECT_EQ(module.loadIntegerAt(0, 0x102, 3).error(), Error::InvalidApiInteger);
}

TEST(ModuleByteAccess, WalkFaults) {
  Module module(Target::x86(64));
  std::array<std::uint8_t, 1> out{};
  EXPECT_EQ(module.loadBytesAt(0, 0, out).error(), Error::InvalidApiArgument);  // no fragments
  ASSERT_TRUE(module.addAlignment(0, 0, 0, kHere));
  EXPECT_EQ(module.loadBytesAt(0, 0, out).error(), Error::OffsetOverflow);  // alignment 0
  module.sections()[0].fragments = {7};
  EXPECT_EQ(module.loadBytesAt(0, 0, out).error(), Error::InvalidFragment);
}

TEST(ModuleByteAccess, ReserveAlignmentRoundsBeforeItsSpace) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.emitBytes(0, run(1, 3), kHere));
  ASSERT_TRUE(module.reserve(0, 2, kHere));
  std::get<frontend::fragment::Reserve>(module.fragments()[1].payload).alignment = 4;
  ASSERT_TRUE(module.emitBytes(0, run(9, 2), kHere));
  // Bytes at 0..3, padding 3..4, reserve 4..6, bytes 6..8.
  EXPECT_EQ(module.loadIntegerAt(0, 6, 2).value(), 0x0a09u);
  std::array<std::uint8_t, 1> out{};
  EXPECT_EQ(module.loadBytesAt(0, 3, out).error(), Error::InvalidApiArgument);
}

TEST(ModuleSources, TextsKeepTheirAddresses) {
  Module module(Target::x86(64));
  const auto first = module.addSource("a.qov", "short");
  ASSERT_TRUE(first);
  const char* text = module.sources()[*first].text.data();
  for (int index = 0; index < 100; ++index) ASSERT_TRUE(module.addSource("b.qov", std::string(40, 'x')));
  EXPECT_EQ(module.sources()[*first].text.data(), text);
  EXPECT_EQ(module.sources()[*first].path, "a.qov");
  const auto kept = module.keepText("/root/lib.qov");
  for (int index = 0; index < 100; ++index) module.keepText("t");
  EXPECT_EQ(kept, "/root/lib.qov");
  EXPECT_EQ(module.ownedTexts().size(), 101u);

  const Module moved(std::move(module));
  EXPECT_EQ(moved.sources()[*first].text.data(), text);
  EXPECT_EQ(moved.ownedTexts().front().data(), kept.data());
}

}  // namespace
