#include "assembly/flat.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

using assembly::assembleFlat;
using assembly::AssemblyObserver;
using assembly::Phase;
using frontend::fixup::FixupKind;
using frontend::fixup::FixupRangePolicy;
using frontend::fixup::FixupTarget;
using frontend::module::Module;
using frontend::target::Target;
using frontend::value::Value;
using qovrin::Error;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMax = ~std::uint64_t{0};
const frontend::SourceLocation kHere{};

// Calls as "b0 e0 b1 ...".
struct Recorder {
  std::string calls;
  void note(char what, Phase phase) {
    if (!calls.empty()) calls += ' ';
    calls += what;
    calls += static_cast<char>('0' + static_cast<int>(phase));
  }
};

AssemblyObserver recording(Recorder& recorder, bool enabled = true) {
  return {&recorder, [](void* context, Phase phase) noexcept { static_cast<Recorder*>(context)->note('b', phase); },
          [](void* context, Phase phase) noexcept { static_cast<Recorder*>(context)->note('e', phase); }, enabled};
}

std::uint32_t emit(Module& module, const Bytes& bytes, std::uint32_t section = 0) {
  const auto index = module.emitBytes(section, bytes, kHere);
  EXPECT_TRUE(index);
  return index.value_or(0);
}

void addFixup(Module& module, std::uint32_t fragment, FixupTarget target, bool pc_relative, std::uint32_t offset,
              std::uint16_t width, FixupRangePolicy policy = FixupRangePolicy::wrap) {
  const auto index = module.fixups().addOwnedTarget(fragment, std::move(target), pc_relative, offset, width);
  ASSERT_TRUE(index);
  module.fixups()[*index].range_policy = policy;
}

std::vector<std::string> messages(const Module& module) {
  std::vector<std::string> texts;
  for (const auto& diagnostic : module.diagnostics().diagnostics()) texts.push_back(diagnostic.message);
  return texts;
}

TEST(AssembleFlat, ObserverSeesEveryPhaseInOrder) {
  Recorder recorder;
  Module module(Target::x86(64));
  const auto result = assembleFlat(module, recording(recorder));
  ASSERT_TRUE(result);
  EXPECT_EQ(recorder.calls, "b0 e0 b1 e1 b2 e2 b3 e3 b4 e4 b5 e5");
  EXPECT_TRUE(result->image.empty());
  EXPECT_EQ(result->pending_fixups, 0u);
  EXPECT_EQ(result->instruction_fragments, 0u);

  Recorder silent;
  ASSERT_TRUE(assembleFlat(module, recording(silent, false)));
  EXPECT_EQ(silent.calls, "");
}

TEST(AssembleFlat, FailingPatchEndsItsPhaseWithTheRangeMessage) {
  Recorder recorder;
  Module module(Target::x86(64));
  emit(module, Bytes(0x4a, 0xee));
  ASSERT_TRUE(module.defineAnchoredLabel("dest", 0, 0, 0, kHere));
  module.findSymbol("dest")->label()->anchored = false;
  module.findSymbol("dest")->label()->offset = 0xca;
  addFixup(module, 0, {"dest"}, true, 0x49, 8);
  EXPECT_EQ(errorOf(assembleFlat(module, recording(recorder))), Error::FrontendDiagnostics);
  EXPECT_EQ(recorder.calls, "b0 e0 b1 e1 b2 e2 b3 e3 b4 e4");
  EXPECT_EQ(messages(module),
            std::vector<std::string>{"PC-relative fixup target 'dest' (0xca) does not fit the signed 8-bit displacement"});
}

TEST(AssembleFlat, EncodeFailureStopsBeforeFixupResolution) {
  Recorder recorder;
  Module module(Target::x86(64));
  ASSERT_TRUE(module.appendIsaInstruction(0, Target::x86(8), "nop", kHere));
  EXPECT_EQ(errorOf(assembleFlat(module, recording(recorder))), Error::InvalidModeBits);
  EXPECT_EQ(recorder.calls, "b0 e0");
  EXPECT_TRUE(module.diagnostics().diagnostics().empty());
}

TEST(AssembleFlat, MaterializesSectionsAtTheirFileOffsets) {
  struct Case {
    const char* name;
    std::function<void(Module&)> build;
    Bytes image;
  };
  const Case cases[] = {
      {"trailing reserve stores nothing",
       [](Module& m) { emit(m, {1, 2, 3}), (void)m.reserve(0, 16, kHere); },
       {1, 2, 3}},
      {"reserve before bytes stays zero", [](Module& m) { (void)m.reserve(0, 4, kHere), emit(m, {9}); },
       {0, 0, 0, 0, 9}},
      {"file alignment pads the file",
       [](Module& m) { emit(m, {1, 2, 3, 4, 5}), m.sections()[0].alignment = 16; },
       {1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"alignment fills with its byte",
       [](Module& m) { emit(m, {1}), (void)m.addAlignment(0, 4, 0x90, kHere), emit(m, {2}); },
       {1, 0x90, 0x90, 0x90, 2}},
      {"later section wins an overlap and gaps stay zero",
       [](Module& m) {
         emit(m, {1, 2, 3, 4});
         emit(m, {7, 8}, *m.createOutputSection(".data", 0x100, 2));
         emit(m, {5}, *m.createOutputSection(".end", 0x200, 6));
       },
       {1, 2, 7, 8, 0, 0, 5}},
      {"virtual sections store nothing; an empty section still reaches its file offset",
       [](Module& m) {
         const auto region = *m.createVirtualSection(0x4000);
         emit(m, {1, 2}, region);
         m.sections()[0].file_offset = 3;
       },
       {0, 0, 0}},
  };
  for (const Case& test : cases) {
    Module module(Target::x86(64));
    test.build(module);
    const auto result = assembleFlat(module, {});
    ASSERT_TRUE(result) << test.name;
    EXPECT_EQ(result->image, test.image) << test.name;
    EXPECT_EQ(result->sections.size(), module.sections().size()) << test.name;
  }
}

TEST(AssembleFlat, HugeLayoutIsRefusedBeforeAllocating) {
  Module module(Target::x86(64));
  emit(module, {1});
  module.sections()[0].file_offset = std::uint64_t{1} << 40;
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::OutputTooLarge);
  module.sections()[0].file_offset = kMax;
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::OffsetOverflow);
}

// .text at 0x1000 holds 0x20 bytes of 0xee; the value symbol dest holds the
// target and one fixup names it.
TEST(AssembleFlat, PatchesFieldsWithinTheirRanges) {
  struct Case {
    const char* name;
    std::uint64_t dest;
    std::uint32_t offset;
    std::uint16_t width;
    bool pc_relative;
    FixupRangePolicy policy;
    Bytes field;              // the field's bytes after patching, when it fits
    std::string message = {};  // the diagnostic, when it does not
    std::uint64_t base = 0x1000;
  };
  using enum FixupRangePolicy;
  const Case cases[] = {
      {"pc-relative to its own end", 0x1014, 0x10, 32, true, wrap, {0, 0, 0, 0}},
      {"pc-relative -128", 0x1011 - 128, 0x10, 8, true, wrap, {0x80}},
      {"pc-relative +127", 0x1011 + 127, 0x10, 8, true, wrap, {0x7f}},
      {"pc-relative +128", 0x1011 + 128, 0x10, 8, true, wrap, {},
       "PC-relative fixup target 'dest' (0x1091) does not fit the signed 8-bit displacement"},
      {"wrap 0xff", 0xff, 0, 8, false, wrap, {0xff}},
      {"wrap -128", kMax - 127, 0, 8, false, wrap, {0x80}},
      {"wrap 0x100", 0x100, 0, 8, false, wrap, {},
       "fixup target 'dest' (0x100) does not fit the signed-or-unsigned 8-bit field under wrap policy"},
      {"signed 0x80", 0x80, 0, 8, false, signed_value, {},
       "fixup target 'dest' (0x80) does not fit the signed 8-bit field"},
      {"signed -1", kMax, 0, 16, false, signed_value, {0xff, 0xff}},
      {"unsigned -1", kMax, 0, 16, false, unsigned_value, {},
       "fixup target 'dest' (0xffffffffffffffff) does not fit the unsigned 16-bit field"},
      {"unsigned 0xffff", 0xffff, 0, 16, false, unsigned_value, {0xff, 0xff}},
      {"64 bits take anything", kMax - 1, 0, 64, false, unsigned_value, {0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
      {"field ends at the file size", 0x04030201, 0x1c, 32, false, wrap, {1, 2, 3, 4}},
      {"field one byte past the file size", 0, 0x1d, 32, false, wrap, {},
       "fixup target 'dest' writes a 32-bit field outside the output image"},
      {"width 12", 0, 0, 12, false, wrap, {},
       "fixup target 'dest' uses unsupported 12-bit field width; supported widths are 8, 16, 32, and 64 bits"},
      {"place past 64 bits", 0, 0x10, 32, true, wrap, {},
       "fixup target 'dest' overflows address arithmetic for its 32-bit field", kMax - 0x12},
      {"place at the top of 64 bits", kMax - 0xf, 0x10, 32, true, wrap, {0xf0, 0xff, 0xff, 0xff}, {}, kMax - 0x13},
  };
  for (const Case& test : cases) {
    Module module(Target::x86(64));
    module.sections()[0].base = test.base;
    emit(module, Bytes(0x20, 0xee));
    ASSERT_TRUE(module.defineValue("dest", Value::integer(test.dest), false, kHere));
    addFixup(module, 0, {"dest"}, test.pc_relative, test.offset, test.width, test.policy);
    const auto result = assembleFlat(module, {});
    if (!test.message.empty()) {
      EXPECT_EQ(errorOf(result), Error::FrontendDiagnostics) << test.name;
      EXPECT_EQ(messages(module), std::vector<std::string>{test.message}) << test.name;
      continue;
    }
    ASSERT_TRUE(result) << test.name;
    Bytes expected(0x20, 0xee);
    std::ranges::copy(test.field, expected.begin() + test.offset);
    EXPECT_EQ(result->image, expected) << test.name;
    EXPECT_TRUE(module.diagnostics().diagnostics().empty()) << test.name;
  }
}

// x: dd(0) then "mov dword [rel x], 5": the displacement lies 4 bytes before
// the end of the instruction, so the field holds x - 4 minus its own end.
TEST(AssembleFlat, AddendBelowZeroStillResolves) {
  const Bytes expected = {0, 0, 0, 0, 0xc7, 0x05, 0xf2, 0xff, 0xff, 0xff, 0x05, 0, 0, 0};
  for (const FixupTarget& target : {FixupTarget{"x", FixupKind::symbol, -4}, FixupTarget{"x - 4", FixupKind::expression},
                                    FixupTarget{"x-2", FixupKind::expression, -2}}) {
    Module module(Target::x86(64));
    ASSERT_TRUE(module.defineAnchoredLabel("x", 0, 0, 0, kHere));
    emit(module, {0, 0, 0, 0});
    const auto instruction = emit(module, {0xc7, 0x05, 0, 0, 0, 0, 0x05, 0, 0, 0});
    addFixup(module, instruction, target, true, 2, 32);
    const auto result = assembleFlat(module, {});
    ASSERT_TRUE(result) << target.text;
    EXPECT_EQ(result->image, expected) << target.text;
    EXPECT_EQ(result->pending_fixups, 0u) << target.text;
  }
}

TEST(AssembleFlat, UnknownTargetsStayPendingWithTheirPlaceholders) {
  struct Case {
    const char* name;
    FixupTarget target;
    std::optional<std::uint8_t> field;  // none: pending
  };
  const Case cases[] = {
      {"undefined name", {"nowhere"}, std::nullopt},
      {"string value", {"text"}, std::nullopt},
      {"expression over an undefined name", {"nowhere * 2", FixupKind::expression}, std::nullopt},
      {"expression below zero", {"(five - 6) * 1", FixupKind::expression}, 0xff},
      {"hex addend below zero", {"five - 0x6", FixupKind::expression}, 0xff},
      {"expression of a string", {"text", FixupKind::expression}, std::nullopt},
      {"expression", {"five * 2 + 1", FixupKind::expression}, 11},
      {"folded addend on an integer value", {"five + 3", FixupKind::expression}, 8},
      {"label", {"there"}, 0x12},
  };
  for (const Case& test : cases) {
    Module module(Target::x86(64));
    module.sections()[0].base = 0x10;
    ASSERT_TRUE(module.defineValue("text", Value::string("s"), false, kHere));
    ASSERT_TRUE(module.defineValue("five", Value::integer(5), false, kHere));
    emit(module, {0xee, 0xee});
    ASSERT_TRUE(module.defineAnchoredLabel("there", 0, 0, 1, kHere));
    emit(module, {0xdd});
    addFixup(module, 0, test.target, false, 1, 8);
    const auto result = assembleFlat(module, {});
    ASSERT_TRUE(result) << test.name;
    EXPECT_EQ(result->pending_fixups, test.field ? 0u : 1u) << test.name;
    EXPECT_EQ(result->image, (Bytes{0xee, test.field.value_or(0xee), 0xdd})) << test.name;
    EXPECT_TRUE(module.diagnostics().diagnostics().empty()) << test.name;
  }
}

TEST(AssembleFlat, FixupsInVirtualSectionsAndBrokenRecords) {
  Module module(Target::x86(64));
  const auto region = module.createVirtualSection(0x8000);
  ASSERT_TRUE(region);
  const auto hidden = emit(module, {0, 0, 0, 0}, *region);
  ASSERT_TRUE(module.defineValue("dest", Value::integer(1), false, kHere));
  addFixup(module, hidden, {"dest"}, false, 0, 32);
  const auto result = assembleFlat(module, {});
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->image.empty());
  EXPECT_EQ(result->pending_fixups, 0u);

  addFixup(module, 99, {"dest"}, false, 0, 32);
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::InvalidFragment);
}

}  // namespace
