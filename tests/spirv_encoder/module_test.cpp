#include "spirv_encoder/module.hpp"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "common/error_of.hpp"
#include "spirv_test_support.hpp"

namespace {

using frontend::fragment::Fragment;
using frontend::target::Target;
using qovrin::Error;
using spirv_test::assemble;
using spirv_test::Outcome;
using spirv_test::Words;
namespace module = spirv_encoder::module;

TEST(ModuleAssembly, WholeModules) {
  const std::pair<std::string_view, Outcome> cases[] = {
      {"OpCapability Shader\nOpMemoryModel Logical GLSL450",
       Words{0x07230203, 0x00010600, 0, 1, 0, 0x00020011, 1, 0x0003000E, 0, 1}},
      {"%1 = OpTypeVoid", Words{0x07230203, 0x00010600, 0, 2, 0, 0x00020013, 1}},
      {"OpTypeVoid %1", Words{0x07230203, 0x00010600, 0, 2, 0, 0x00020013, 1}},
      {"%0x1f = OpTypeBool", Words{0x07230203, 0x00010600, 0, 32, 0, 0x00020014, 31}},
      {"\n  \t\r\n%1 = OpTypeVoid\n\n", Words{0x07230203, 0x00010600, 0, 2, 0, 0x00020013, 1}},
      {"", Words{0x07230203, 0x00010600, 0, 1, 0}},
      // The bound follows the highest id anywhere on a line, not only results.
      {"OpName %40 \"x\"\n%3 = OpTypeVoid",
       Words{0x07230203, 0x00010600, 0, 41, 0, 0x00030005, 40, 0x78, 0x00020013, 3}},
      {"%4294967294 = OpTypeVoid", Words{0x07230203, 0x00010600, 0, 0xFFFFFFFF, 0, 0x00020013, 0xFFFFFFFE}},
      {"%4294967295 = OpTypeVoid", Error::Overflow},
      {"%1 = OpNop", Error::ExpectedOperand},
      {"%1 = OpCapability Shader", Error::ExpectedOperand},
      {"%1 OpTypeVoid", Error::ExpectedEquals},
      {"%1", Error::ExpectedEquals},
      {"%1 =", Error::UnknownOpcode},
      {"%0x = OpTypeBool", Error::InvalidInteger},
      {"%1 = OpTypeVoid %2", Error::TooManyOperands},
      {"OpCapability Shader Kernel", Error::TooManyOperands},
      {"opCapability Shader", Error::UnknownOpcode},
      {"OpSDotKHR %1 %2 %3 %4", Error::UnknownOpcode},
      {"OpCapability Shader\nOpBogus", Error::UnknownOpcode},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(assemble(text), expected) << text;
}

TEST(ModuleAssembly, InstructionWordCountLimit) {
  const std::string name(4 * 65534, 'a');  // one byte less fills 65535 words exactly
  EXPECT_TRUE(std::holds_alternative<Words>(assemble("OpSourceExtension \"" + name.substr(1) + "\"")));
  EXPECT_EQ(assemble("OpSourceExtension \"" + name + "\""), Outcome(Error::InstructionTooLong));
}

TEST(ModuleAssembly, FailuresAreReportedAtTheFirstLine) {
  const frontend::SourceLocation first{{0, 10, 20}, std::nullopt};
  const frontend::SourceLocation second{{0, 30, 40}, std::nullopt};
  // The second fragment holds two lines; the failing one is named alone.
  const module::SpirvLine lines[] = {{"OpCapability Shader", first},
                                     {"OpCapability Kernel\n  OpCapability Shader Kernel \r", second}};
  const auto result = module::assembleLines(lines, 0x00010600);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().error, Error::FrontendDiagnostics);
  EXPECT_EQ(result.error().cause, Error::TooManyOperands);
  EXPECT_EQ(result.error().message, "unsupported SPIR-V instruction or operand syntax");
  EXPECT_EQ(result.error().location, first);
  EXPECT_EQ(result.error().at, 1u);
  EXPECT_EQ(result.error().line, "OpCapability Shader Kernel");
}

TEST(ModuleAssembly, Versions) {
  const std::pair<std::uint32_t, bool> cases[] = {
      {0x00010000, true}, {0x00010600, true}, {0x00010700, false}, {0x00020000, false}, {0x00010601, false},
  };
  const module::SpirvLine line{"OpCapability Shader", {}};
  for (const auto& [version, supported] : cases) {
    const auto result = module::assembleLines(std::span(&line, 1), version);
    ASSERT_EQ(result.has_value(), supported) << version;
    if (supported) {
      EXPECT_EQ((*result)[1], version);
    } else {
      EXPECT_EQ(result.error().cause, Error::InvalidSpirvVersion);
      EXPECT_EQ(result.error().message, "unsupported SPIR-V module version");
    }
  }
}

// One fragment of a test output: 's' a SPIR-V line, 'x' an x86 line, 'b'
// bytes and 'r' a reserve as long as the text, 'a' an alignment.
struct Piece {
  char kind;
  std::string_view text;
  std::uint32_t section = 0;
  std::uint32_t version = frontend::target::kSpirvVersionWord;
};

std::vector<Fragment> fragmentsOf(std::initializer_list<Piece> pieces) {
  std::vector<Fragment> fragments;
  for (const Piece& piece : pieces) {
    const auto start = static_cast<std::uint32_t>(fragments.size() + 1);
    const frontend::SourceLocation location{{0, start, start + 1}, std::nullopt};
    frontend::fragment::Payload payload;
    switch (piece.kind) {
      case 's':
      case 'x': {
        frontend::fragment::Instruction instruction;
        instruction.setText(piece.text);
        instruction.target = piece.kind == 'x' ? Target::x86(64) : Target{frontend::target::Isa::spirv, piece.version};
        payload = std::move(instruction);
        break;
      }
      case 'b':
        payload = frontend::fragment::Bytes{frontend::fragment::SmallBytes(piece.text.size(), 0x90)};
        break;
      case 'r':
        payload = frontend::fragment::Reserve{piece.text.size(), 1};
        break;
      default:
        payload = frontend::fragment::Alignment{4, 0};
        break;
    }
    fragments.push_back({std::move(payload), piece.section, location});
  }
  return fragments;
}

TEST(ModuleAssembly, FragmentsJoinIntoOneModule) {
  const auto fragments = fragmentsOf({{'b', ""},
                                      {'s', "OpCapability Shader"},
                                      {'r', ""},
                                      {'s', "%1 = OpTypeVoid\n%2 = OpTypeBool"},
                                      {'s', "OpMemoryModel Logical GLSL450"}});
  const auto result = module::assembleFragments(fragments);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->spirv_fragments, (std::vector<std::uint32_t>{1, 3, 4}));
  EXPECT_EQ(result->words,
            (Words{0x07230203, 0x00010600, 0, 3, 0, 0x00020011, 1, 0x00020013, 1, 0x00020014, 2, 0x0003000E, 0, 1}));
  const auto bytes = module::moduleBytes(result->words);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->size(), 4 * result->words.size());
  EXPECT_EQ((std::vector<std::uint8_t>(bytes->begin(), bytes->begin() + 5)),
            (std::vector<std::uint8_t>{0x03, 0x02, 0x23, 0x07, 0x00}));
}

TEST(ModuleAssembly, StoringCountsChangedFragments) {
  auto fragments = fragmentsOf({{'s', "OpCapability Shader"}, {'b', ""}, {'s', "OpCapability Kernel"}});
  fragments[2].instruction()->encoded = {1, 2};
  const std::vector<std::uint32_t> spirv{0, 2};
  const std::vector<std::uint8_t> bytes{9, 8, 7, 6};
  EXPECT_EQ(module::storeModule(fragments, spirv, bytes), 2u);
  EXPECT_EQ(fragments[0].instruction()->encoded, bytes);
  EXPECT_TRUE(fragments[2].instruction()->encoded.empty());
  EXPECT_EQ(module::storeModule(fragments, spirv, bytes), 0u);
  fragments[2].instruction()->pending = true;
  EXPECT_EQ(module::storeModule(fragments, spirv, bytes), 1u);
  EXPECT_EQ(qovrin::testing::errorOf(module::storeModule(fragments, std::vector<std::uint32_t>{1}, bytes)),
            Error::InvalidFragment);
}

TEST(ModuleAssembly, FragmentChecksInOrder) {
  const std::tuple<std::vector<Fragment>, std::size_t, std::string_view> cases[] = {
      {fragmentsOf({{'s', "OpCapability Shader"}, {'b', "x"}}), 1, module::kMixedOutputMessage},
      {fragmentsOf({{'r', "xxxx"}, {'s', "OpCapability Shader"}}), 0, module::kMixedOutputMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'a', ""}}), 1, module::kMixedOutputMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'x', "nop"}}), 1, module::kMixedOutputMessage},
      // Disagreement is found before a mixed fragment that comes earlier.
      {fragmentsOf({{'b', "x"}, {'s', "OpCapability Shader"}, {'s', "OpCapability Kernel", 1}}), 2,
       module::kDisagreementMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'s', "OpCapability Kernel", 0, 0x00010500}}), 1,
       module::kDisagreementMessage},
      {fragmentsOf({{'s', "OpCapability Shader", 0, 0x00010700}}), 0, module::kVersionMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'s', "OpCapability Kernel"}, {'s', "OpCapability Bogus"}}), 2,
       module::kSyntaxMessage},
  };
  for (const auto& [fragments, at, message] : cases) {
    const auto result = module::assembleFragments(fragments);
    ASSERT_FALSE(result.has_value()) << message;
    EXPECT_EQ(result.error().error, Error::FrontendDiagnostics);
    EXPECT_EQ(result.error().message, message);
    EXPECT_EQ(result.error().at, at) << message;
    // Line errors go to the first SPIR-V line; the checks name their fragment.
    const bool at_first = message == module::kSyntaxMessage || message == module::kVersionMessage;
    EXPECT_EQ(result.error().location, fragments[at_first ? 0 : at].location()) << message;
  }
}

TEST(ModuleAssembly, NoSpirvFragmentsGiveNoModule) {
  const auto result = module::assembleFragments(fragmentsOf({{'b', "xx"}}));
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->words.empty());
  EXPECT_TRUE(result->spirv_fragments.empty());
}

}  // namespace
