#include "frontend/encode/pass.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/encode/pass_x86.hpp"

namespace {

using frontend::backend_adapter::FixupFact;
using frontend::module::Module;
using frontend::target::Target;
using qovrin::Error;
using qovrin::testing::errorOf;
using x86_encoder::encode::EncodeUnit;
using x86_encoder::encode::FixupKind;
using x86_encoder::encode::OwnedEncodeResult;

EncodeUnit raw(std::initializer_list<std::uint8_t> bytes) {
  EncodeUnit unit;
  unit.byte_count = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), unit.storage.begin());
  return unit;
}

// A field whose value the resolver recorded a fact for.
EncodeUnit field(FixupKind kind, std::uint8_t width, std::int64_t value, std::int64_t base = 0,
                 std::uint8_t operand = 0) {
  EncodeUnit unit;
  unit.operand = operand;
  unit.symbolic = true;
  unit.byte_count = width;
  unit.width = width;
  unit.value = value;
  unit.base = base;
  unit.fixup = kind;
  unit.has_fixup = true;
  unit.segment = x86_encoder::encode::kNoId;
  unit.symbol = x86_encoder::encode::kNoId;
  unit.check = x86_encoder::encode::kCheckSigned;
  return unit;
}

// A field of a literal branch target, which no resolver fact describes.
EncodeUnit literal(std::uint8_t width, std::int64_t value, std::int64_t base) {
  EncodeUnit unit = field(FixupKind::relative, width, value, base);
  unit.symbolic = false;
  return unit;
}

struct ExpectedFact {
  std::string text;
  std::int64_t addend;
  std::uint32_t offset;
  std::uint16_t width;
  bool pc_relative;
};

struct UnitCase {
  const char* name;
  std::vector<EncodeUnit> units;
  std::vector<std::string> fact_texts;  // as the resolver recorded them
  std::optional<Error> error;
  std::vector<std::uint8_t> bytes;
  std::vector<ExpectedFact> facts;
};

TEST(EncodePass, MatchesEncoderFieldsWithResolverFacts) {
  const auto relative = FixupKind::relative;
  const auto absolute = FixupKind::absolute;
  EncodeUnit segment = field(FixupKind::segment, 2, 0);
  EncodeUnit named = field(absolute, 4, 0);
  named.symbol = 3;
  EncodeUnit reserve;
  reserve.reserve_size = 4;
  const UnitCase cases[] = {
      {"absolute", {raw({0xB8}), field(absolute, 4, 0)}, {"data"}, {}, {0xB8, 0, 0, 0, 0}, {{"data", 0, 1, 32, false}}},
      {"near jump",
       {raw({0xE9}), field(relative, 4, 0, 5)},
       {"later"},
       {},
       {0xE9, 0xFB, 0xFF, 0xFF, 0xFF},
       {{"later", 0, 1, 32, true}}},
      {"rip-relative before an immediate",
       {raw({0xC7, 0x05}), field(relative, 4, 0, 10), raw({5, 0, 0, 0})},
       {"x"},
       {},
       {0xC7, 0x05, 0xF6, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0},
       {{"x", -4, 2, 32, true}}},
      {"literal target", {raw({0xE9}), literal(2, 0x7C00, 3)}, {}, {}, {0xE9, 0xFD, 0x7B}, {{"31744", 0, 1, 16, true}}},
      {"resolver fact before a literal target",
       {raw({0xEA}), field(absolute, 4, 0), literal(2, 0x10, 8)},
       {"x"},
       {},
       {0xEA, 0, 0, 0, 0, 8, 0},
       {{"x", 0, 1, 32, false}, {"16", -1, 5, 16, true}}},
      {"literal target before a resolver fact",
       {raw({0xE9}), literal(2, 0x10, 5), field(absolute, 2, 0, 0, 1)},
       {"x"},
       {},
       {0xE9, 0x0B, 0, 0, 0},
       {{"x", 0, 3, 16, false}, {"16", -2, 1, 16, true}}},
      {"far pointer: offset field first, segment fact first",
       {raw({0xEA}), field(absolute, 2, 0, 0, 1), field(absolute, 2, 0, 0, 0)},
       {"SEG", "start"},
       {},
       {0xEA, 0, 0, 0, 0},
       {{"start", 0, 1, 16, false}, {"SEG", 0, 3, 16, false}}},
      {"unclaimed fact", {raw({0x90})}, {"x"}, Error::BackendFixupCountMismatch, {}, {}},
      {"field without fact", {raw({0xB8}), field(absolute, 4, 0)}, {}, Error::BackendFixupCountMismatch, {}, {}},
      {"segment field", {raw({0xEA}), segment}, {"x"}, Error::BackendOutputMaterializationFailed, {}, {}},
      {"named symbol", {named}, {"x"}, Error::BackendOutputMaterializationFailed, {}, {}},
      {"reserve", {reserve}, {}, Error::BackendOutputMaterializationFailed, {}, {}},
      {"odd width", {field(absolute, 3, 0)}, {"x"}, Error::InvalidBackendFixupWidth, {}, {}},
  };
  for (const UnitCase& test : cases) {
    OwnedEncodeResult result;
    for (const EncodeUnit& unit : test.units) ASSERT_TRUE(result.append(unit)) << test.name;
    std::vector<FixupFact> facts;
    for (const std::string& text : test.fact_texts) facts.push_back(FixupFact{text, 0, 64});
    const auto record = frontend::pass::convertUnits(result, std::move(facts));
    EXPECT_EQ(errorOf(record), test.error) << test.name;
    if (!record) continue;
    EXPECT_EQ(record->bytes, test.bytes) << test.name;
    EXPECT_EQ(record->size, test.bytes.size()) << test.name;
    ASSERT_EQ(record->facts.size(), test.facts.size()) << test.name;
    for (std::size_t index = 0; index < test.facts.size(); ++index) {
      const FixupFact& got = record->facts[index];
      const ExpectedFact& want = test.facts[index];
      EXPECT_EQ(got.text, want.text) << test.name;
      EXPECT_EQ(got.addend, want.addend) << test.name;
      EXPECT_EQ(got.offset, want.offset) << test.name;
      EXPECT_EQ(got.width, want.width) << test.name;
      EXPECT_EQ(got.pc_relative, want.pc_relative) << test.name;
      EXPECT_EQ(got.range_policy, frontend::fixup::FixupRangePolicy::signed_value) << test.name;
    }
  }
}

std::uint32_t append(Module& module, Target target, std::string_view text) {
  const auto index = module.appendIsaInstruction(0, target, text, {});
  EXPECT_TRUE(index);
  return index.value_or(0);
}

TEST(EncodePass, RiscvLabelsBecomeWholeInstructionFixups) {
  Module module(Target::riscv(64));
  append(module, Target::riscv(64), "beqz a0, done");
  append(module, Target::riscv(64), "c.j done");
  append(module, Target::riscv(64), "lui a0, done");
  const auto counts = frontend::pass::encodeInstructionFragments(module);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->instruction_fragments, 3u);
  EXPECT_EQ(counts->changed, 3u);
  const auto& fixups = module.fixups();
  ASSERT_EQ(fixups.size(), 3u);
  const std::pair<std::uint16_t, bool> shapes[] = {{32, true}, {16, true}, {32, false}};
  for (std::uint32_t index = 0; index < 3; ++index) {
    EXPECT_EQ(fixups[index].fragment, index);
    EXPECT_EQ(fixups[index].offset, 0u);
    EXPECT_EQ(fixups[index].width, shapes[index].first);
    EXPECT_EQ(fixups[index].pc_relative, shapes[index].second);
    EXPECT_TRUE(module.fragments()[index].instruction()->pending);
  }

  const auto again = frontend::pass::encodeInstructionFragments(module);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->instruction_fragments, 3u);
  EXPECT_EQ(again->changed, 0u);
  EXPECT_EQ(module.fixups().size(), 3u);
}

TEST(EncodePass, RefusesWidthsNoEncoderHasWithoutADiagnostic) {
  for (const Target target : {Target{frontend::target::Isa::x86, 8}, Target{frontend::target::Isa::riscv, 16}}) {
    Module module(Target::x86(64));
    append(module, target, "nop");
    EXPECT_EQ(errorOf(frontend::pass::encodeInstructionFragments(module)), Error::InvalidModeBits);
    EXPECT_TRUE(module.diagnostics().diagnostics().empty());
  }
}

TEST(EncodePass, SpirvLinesFormOneModuleInTheFirstFragment) {
  Module module(Target::spirv());
  append(module, Target::spirv(), "OpCapability Shader");
  append(module, Target::spirv(), "");
  append(module, Target::spirv(), "%1 = OpTypeVoid");
  const auto counts = frontend::pass::encodeInstructionFragments(module);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->instruction_fragments, 3u);
  const auto fragments = module.fragments();
  EXPECT_EQ(fragments[0].instruction()->encoded.size(), 4u * (5 + 2 + 2));
  EXPECT_EQ(fragments[0].instruction()->encoded[12], 2);  // the id bound
  EXPECT_TRUE(fragments[1].instruction()->encoded.empty());
  EXPECT_TRUE(fragments[2].instruction()->encoded.empty());

  ASSERT_TRUE(module.emitBytes(0, std::vector<std::uint8_t>{1}, {}));
  EXPECT_EQ(errorOf(frontend::pass::encodeInstructionFragments(module)), Error::FrontendDiagnostics);
  ASSERT_EQ(module.diagnostics().diagnostics().size(), 1u);
  EXPECT_EQ(module.diagnostics().diagnostics()[0].message,
            "SPIR-V module instructions cannot be mixed with other ISA, data, reserve, or alignment fragments");
}

}  // namespace

// A lone prefix word is written as its one byte, so a word before it would be
// lost: "xacquire lock" must never come out as F0. Every prefix word that a
// line can carry, before every word the mode takes alone.
TEST(EncodePass, RefusesPrefixWordsBeforeALonePrefix) {
  constexpr std::string_view kCarried[] = {"lock", "rep",      "repe",     "repz", "repne",
                                           "repnz", "xacquire", "xrelease", "bnd",  "nobnd"};
  constexpr std::string_view kAlone[] = {"lock", "rep", "repe", "repz", "repne", "repnz", "xacquire", "xrelease",
                                         "bnd",  "nobnd", "osp", "o16",  "o32",   "o64",   "a16",      "a32",
                                         "a64",  "cs",    "ds",  "es",   "fs",    "gs",    "ss"};
  const auto encodes = [](Target target, const std::string& text) {
    frontend::fragment::Instruction line;
    line.setText(text);
    line.target = target;
    return frontend::pass::encodeX86(line);
  };
  std::size_t refused = 0;
  for (const std::uint16_t bits : {16, 32, 64})
    for (const std::string_view alone : kAlone) {
      if (!encodes(Target::x86(bits), std::string(alone))) continue;
      for (const std::string_view carried : kCarried) {
        const std::string text = std::string(carried) + " " + std::string(alone);
        EXPECT_EQ(errorOf(encodes(Target::x86(bits), text)), Error::UnsupportedPrefixes) << text << " " << bits;
        ++refused;
      }
    }
  EXPECT_GT(refused, 500u);
}
