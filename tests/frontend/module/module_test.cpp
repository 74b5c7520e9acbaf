#include "frontend/module/module.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <variant>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/support/failing_allocation.hpp"

using qovrin::testing::errorOf;

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

TEST(Module, StartsWithTextAndAddsVirtualSectionsOfOneName) {
  Module module(Target::riscv(32));
  EXPECT_EQ(module.target(), Target::riscv(32));
  ASSERT_EQ(module.sections().size(), 1u);
  EXPECT_EQ(module.sections()[0].name, ".text");
  EXPECT_EQ(module.sections()[0].kind, frontend::section::SectionKind::output);
  const auto first = module.createVirtualSection(0x100);
  const auto second = module.createVirtualSection(0x200);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(module.sections()[*first].name, ".virtual");
  EXPECT_EQ(module.sections()[*second].name, ".virtual");
  EXPECT_EQ(module.sections()[*second].kind, frontend::section::SectionKind::virtual_region);
}

// A refused addition leaves no trace; repeated bytes are bounded before allocating.
TEST(Module, RefusedAdditionsChangeNothing) {
  Module module(Target::x86(64));
  const std::array<std::uint8_t, 2> data = {1, 2};
  const std::uint32_t missing = module.sections().size();
  const std::pair<qovrin::Result<std::uint32_t>, Error> attempts[] = {
      {module.emitBytes(missing, data, kHere), Error::InvalidSection},
      {module.emitRepeatedByte(missing, 0x90, 4, kHere), Error::InvalidSection},
      {module.reserve(missing, 16, kHere), Error::InvalidSection},
      {module.addAlignment(missing, 16, 0, kHere), Error::InvalidSection},
      {module.appendIsaInstruction(missing, Target::x86(64), "nop", kHere), Error::InvalidSection},
      {module.emitBytes(kMax >> 32, data, kHere), Error::InvalidSection},
      {module.emitRepeatedByte(0, 0, std::uint64_t{1} << 40, kHere), Error::InvalidApiInteger},
  };
  for (const auto& [attempt, error] : attempts) EXPECT_EQ(errorOf(attempt), error);
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
  EXPECT_EQ(module.emitRepeatedByte(*data, 0xab, 3, kHere).value(), 4u);

  std::vector<FragmentKind> kinds;
  for (const auto& fragment : module.fragments()) kinds.push_back(fragment.kind());
  EXPECT_EQ(kinds, (std::vector<FragmentKind>{FragmentKind::bytes, FragmentKind::instruction, FragmentKind::reserve,
                                              FragmentKind::alignment, FragmentKind::bytes}));
  EXPECT_EQ(module.fragments()[0].location(), there);
  const auto* line = module.fragments()[1].instruction();
  EXPECT_EQ(line->target, Target::x86(16));
  EXPECT_EQ(line->text(), "mov ax, 1");
  EXPECT_EQ(module.sections()[*data].fragments, (std::vector<std::uint32_t>{0, 2, 3, 4}));
  EXPECT_EQ(module.sections()[0].fragments, (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(module.fragments()[4].bytes()->data, (std::vector<std::uint8_t>{0xab, 0xab, 0xab}));
}

// An allocation that fails while a value is defined leaves the module without
// the symbol and the value with the caller.
TEST(Module, DefineValueIsAllOrNothingUnderAllocationFailure) {
  Module module(Target::x86(64));
  const std::string text(100, 'v');
  Value value = Value::string(text);
  const auto failed = frontend::testing::failEachAllocation(
      [&] { ASSERT_TRUE(module.defineValue("kept", std::move(value), false, kHere)); },
      [&] {
        EXPECT_EQ(module.symbols().size(), 0u);
        EXPECT_EQ(module.findSymbol("kept"), nullptr);
        ASSERT_NE(value.asString(), nullptr);
        EXPECT_EQ(*value.asString(), text);
      });
  EXPECT_GT(failed, 0u);
  EXPECT_EQ(*module.findSymbol("kept")->value()->value.asString(), text);
}

TEST(Module, LabelsAndValuesShareOneNameSpace) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.defineAnchoredLabel("start", 0, 4, 0, kHere));
  ASSERT_TRUE(module.defineValue("answer", Value::integer(42), false, kHere));

  Value refused = Value::string("kept");
  EXPECT_EQ(errorOf(module.defineValue("start", std::move(refused), true, kHere)), Error::DuplicateSymbol);
  EXPECT_EQ(*refused.asString(), "kept");  // a refused value stays with the caller
  EXPECT_EQ(errorOf(module.defineAnchoredLabel("answer", 0, 0, 0, kHere)), Error::DuplicateSymbol);
  EXPECT_EQ(errorOf(module.defineAnchoredLabel("start", 0, 0, 0, kHere)), Error::DuplicateSymbol);
  EXPECT_EQ(module.symbols().size(), 2u);
  EXPECT_TRUE(module.findSymbol("start")->label()->anchored);
  EXPECT_EQ(module.findSymbol("answer")->value()->value.asInteger()->word, 42u);
  EXPECT_EQ(module.findSymbol("Start"), nullptr);
}

TEST(Module, LabelAddressAddsTheSectionBase) {
  Module module(Target::x86(64));
  const auto high = module.createOutputSection(".high", kMax - 3, 0);
  ASSERT_TRUE(high);
  using frontend::symbol::Label;
  EXPECT_EQ(module.labelAddress(Label{3, *high, 0, true}).value(), kMax);
  EXPECT_EQ(errorOf(module.labelAddress(Label{4, *high, 0, true})), Error::InvalidNumber);
  EXPECT_EQ(errorOf(module.labelAddress(Label{0, 99, 0, true})), Error::InvalidOperand);
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

TEST_F(ByteAccess, LoadsFollowTheFragmentLayout) {
  const std::tuple<const char*, std::uint64_t, std::uint64_t, std::variant<std::vector<std::uint8_t>, Error>> cases[] =
      {
          {"crosses the first two fragments", 0x100, 4, std::vector<std::uint8_t>{0x10, 0x11, 0x20, 0x21}},
          {"inside the reserve", 0x10b, 1, Error::InvalidApiArgument},
          {"runs into the reserve", 0x108, 4, Error::InvalidApiArgument},
          {"alignment padding", 0x10e, 1, Error::InvalidApiArgument},
          {"instruction and following bytes", 0x111, 4, std::vector<std::uint8_t>{0xc4, 0xc5, 0x40, 0x41}},
          {"ends exactly at the end", 0x114, 1, std::vector<std::uint8_t>{0x41}},
          {"one byte further", 0x114, 2, Error::InvalidApiArgument},
          {"below the base", 0xff, 1, Error::InvalidApiArgument},
          {"length overflows", 0x101, kMax, Error::OffsetOverflow},
          {"huge read fails before allocating", 0x100, std::uint64_t{1} << 62, Error::InvalidApiArgument},
      };
  for (const auto& [name, address, count, expected] : cases) {
    const auto read = module.readBytesAt(0, address, count);
    if (const auto* error = std::get_if<Error>(&expected)) {
      ASSERT_FALSE(read) << name;
      EXPECT_EQ(errorOf(read), *error) << name;
    } else {
      ASSERT_TRUE(read) << name;
      EXPECT_EQ(*read, std::get<0>(expected)) << name;
    }
  }
}

TEST_F(ByteAccess, EmptyAccessNeedsOnlyAValidStart) {
  EXPECT_TRUE(module.loadBytesAt(0, 0x10b, {}));  // even inside the reserve
  EXPECT_EQ(errorOf(module.loadBytesAt(0, 0xff, {})), Error::InvalidApiArgument);
  EXPECT_EQ(errorOf(module.loadBytesAt(1, 0x100, {})), Error::InvalidSection);
}

TEST_F(ByteAccess, FailedStoreWritesNothing) {
  const auto before = module.readBytesAt(0, 0x100, 10).value();
  const std::vector<std::uint8_t> data(12, 0xee);
  EXPECT_EQ(errorOf(module.storeBytesAt(0, 0x100, data)), Error::InvalidApiArgument);
  EXPECT_EQ(module.readBytesAt(0, 0x100, 10).value(), before);
}

TEST_F(ByteAccess, StoreAcrossFragmentsAndIntoAnInstruction) {
  const std::array<std::uint8_t, 3> data = {0xa0, 0xa1, 0xa2};
  ASSERT_TRUE(module.storeBytesAt(0, 0x101, data));
  EXPECT_EQ(module.readBytesAt(0, 0x100, 4).value(), (std::vector<std::uint8_t>{0x10, 0xa0, 0xa1, 0xa2}));

  EXPECT_EQ(module.loadIntegerAt(0, 0x110, 1).value(), 0xc3u);
  EXPECT_EQ(module.fragments()[instruction].kind(), FragmentKind::instruction) << "a load leaves it alone";
  ASSERT_TRUE(module.storeBytesAt(0, 0x111, data));
  const auto& changed = module.fragments()[instruction];
  ASSERT_EQ(changed.kind(), FragmentKind::bytes);
  EXPECT_EQ(changed.bytes()->data, (std::vector<std::uint8_t>{0xc3, 0xa0, 0xa1}));
  EXPECT_EQ(changed.section, 0u);
  EXPECT_EQ(module.loadIntegerAt(0, 0x113, 2).value(), 0x41a2u);
}

TEST_F(ByteAccess, IntegerStoresCheckWidthAndRange) {
  // width, value, accepted
  const std::tuple<std::uint64_t, std::uint64_t, bool> cases[] = {
      {1, 0xff, true},         {1, 0x100, false}, {2, 0xffff, true}, {2, 0x10000, false}, {4, 0xffffffff, true},
      {4, 0x100000000, false}, {8, kMax, true},   {3, 1, false},     {0, 0, false},       {16, 0, false},
  };
  for (const auto& [width, value, accepted] : cases) {
    const auto status = module.storeIntegerAt(0, 0x102, value, width);
    if (!accepted) {
      EXPECT_EQ(errorOf(status), Error::InvalidApiInteger) << width << " bytes, " << value;
      continue;
    }
    ASSERT_TRUE(status) << width;
    EXPECT_EQ(module.loadIntegerAt(0, 0x102, width).value(), value) << width;
  }
  EXPECT_EQ(errorOf(module.loadIntegerAt(0, 0x102, 3)), Error::InvalidApiInteger);
}

TEST(ModuleByteAccess, WalkFaults) {
  Module module(Target::x86(64));
  std::array<std::uint8_t, 1> out{};
  EXPECT_EQ(errorOf(module.loadBytesAt(0, 0, out)), Error::InvalidApiArgument);  // no fragments
  ASSERT_TRUE(module.addAlignment(0, 0, 0, kHere));
  EXPECT_EQ(errorOf(module.loadBytesAt(0, 0, out)), Error::OffsetOverflow);  // alignment 0
  module.sections()[0].fragments = {7};
  EXPECT_EQ(errorOf(module.loadBytesAt(0, 0, out)), Error::InvalidFragment);
}

TEST(ModuleByteAccess, ReserveAlignmentRoundsBeforeItsSpace) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.emitBytes(0, run(1, 3), kHere));
  ASSERT_TRUE(module.reserve(0, 2, kHere));
  module.fragments()[1].reserve()->alignment = 4;
  ASSERT_TRUE(module.emitBytes(0, run(9, 2), kHere));
  // Bytes at 0..3, padding 3..4, reserve 4..6, bytes 6..8.
  EXPECT_EQ(module.loadIntegerAt(0, 6, 2).value(), 0x0a09u);
  std::array<std::uint8_t, 1> out{};
  // Padding, the reserve itself, and a range from the reserve into the bytes.
  for (const std::uint64_t address : {3, 4, 5})
    EXPECT_EQ(errorOf(module.loadBytesAt(0, address, out)), Error::InvalidApiArgument) << address;
  EXPECT_EQ(errorOf(module.loadIntegerAt(0, 5, 2)), Error::InvalidApiArgument);
}

// Accesses index where the fragments start; the index must stop at a line
// that waits for its encoding, whose size moves everything after it.
TEST(ModuleByteAccess, StartOffsetsStopAtSizesStillOpen) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.emitBytes(0, run(1, 3), kHere));
  EXPECT_EQ(module.loadIntegerAt(0, 2, 1).value(), 3u);
  ASSERT_TRUE(module.reserve(0, 2, kHere));
  const std::uint32_t line = module.appendIsaInstruction(0, Target::x86(64), "nop", kHere).value();
  ASSERT_TRUE(module.addAlignment(0, 4, 0, kHere));
  ASSERT_TRUE(module.emitBytes(0, run(9, 2), kHere));
  EXPECT_EQ(module.loadIntegerAt(0, 8, 2).value(), 0x0a09u);

  auto& encoded = *module.fragments()[line].instruction();
  encoded.encoded = {0x90, 0x91, 0x92, 0x93};
  encoded.settled = true;
  ASSERT_TRUE(module.emitBytes(0, run(0x20, 2), kHere));
  ASSERT_TRUE(module.storeBytesAt(0, 13, std::vector<std::uint8_t>{0xaa, 0xbb}));
  // Bytes 0..3, reserve 3..5, the line 5..9, padding 9..12, bytes 12..16.
  const int image[] = {1, 2, 3, -1, -1, 0x90, 0x91, 0x92, 0x93, -1, -1, -1, 9, 0xaa, 0xbb, 0x21, -1};
  for (std::uint64_t address = 0; address < std::size(image); ++address) {
    const auto read = module.loadIntegerAt(0, address, 1);
    if (image[address] < 0)
      EXPECT_EQ(errorOf(read), Error::InvalidApiArgument) << address;
    else
      EXPECT_EQ(read.value(), static_cast<std::uint64_t>(image[address])) << address;
  }
  EXPECT_EQ(module.loadIntegerAt(0, 5, 4).value(), 0x93929190u);
}

TEST(ModuleSources, TextsKeepTheirAddresses) {
  Module module(Target::x86(64));
  const auto first = module.addSource("a.qov", "short");
  ASSERT_TRUE(first);
  const char* text = module.sources()[*first].text.data();
  for (int index = 0; index < 100; ++index) ASSERT_TRUE(module.addSource("b.qov", std::string(40, 'x')));

  const Module moved(std::move(module));
  EXPECT_EQ(moved.sources()[*first].text.data(), text);
  EXPECT_EQ(moved.sources()[*first].path, "a.qov");
}

// An instruction keeps its text as a view: into the source when the line
// appears there unchanged, else into the module's own store. Either way the
// characters are the lowered ones and outlive the caller's string.
TEST(ModuleSources, InstructionTextsPointIntoTheSourceWhenUnchanged) {
  Module module(Target::x86(64));
  const auto source = module.addSource("a.qov", "  mov eax, n ; load\nnop\n");
  ASSERT_TRUE(source);
  const std::string_view text = module.sources()[*source].text;
  struct Case {
    std::string line;
    SourceLocation location;
    bool in_source;
  };
  const Case cases[] = {
      {"mov eax, n", {{*source, 0, 19}, std::nullopt}, true},
      {"nop", {{*source, 20, 23}, std::nullopt}, true},
      {"mov eax, 4", {{*source, 0, 19}, std::nullopt}, false},
      {"nop", {{*source, 0, 19}, std::nullopt}, false},  // elsewhere in the source, not in its own line
      {"nop", {{*source, 20, 99}, std::nullopt}, false},
      {"nop", kHere, false},
  };
  for (const Case& test : cases) {
    std::string line = test.line;
    const auto index = module.appendIsaInstruction(0, Target::x86(64), line, test.location);
    ASSERT_TRUE(index);
    line.assign(20, 'z');
    const std::string_view kept = module.fragments()[*index].instruction()->text();
    EXPECT_EQ(kept, test.line);
    EXPECT_EQ(kept.data() >= text.data() && kept.data() < text.data() + text.size(), test.in_source) << test.line;
  }
}

// Room reserved from a source's line count is only a hint: when the system
// refuses it, the source is still added and fragments still append.
TEST(ModuleSources, RefusedRoomForLinesStillAddsTheSource) {
  for (const std::size_t failing_at : {1, 2}) {
    Module module(Target::x86(64));
    std::string path = "a.qov";
    std::string text = "nop\nnop\n";
    {
      const frontend::testing::FailingAllocation failing(failing_at);
      ASSERT_TRUE(module.addSource(std::move(path), std::move(text))) << failing_at;
    }
    ASSERT_EQ(module.sources().size(), 1u);
    EXPECT_TRUE(module.emitBytes(0, run(1, 2), kHere));
  }
}

}  // namespace
