#include "frontend/encode/pass_spirv.hpp"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>
#include <vector>

#include "common/error_of.hpp"

namespace {

using frontend::fragment::Fragment;
using frontend::target::Target;
using qovrin::Error;
using Words = std::vector<std::uint32_t>;
constexpr std::string_view kMixedOutputMessage = frontend::pass::kSpirvMixedOutputMessage;
constexpr std::string_view kDisagreementMessage = frontend::pass::kSpirvDisagreementMessage;
constexpr std::string_view kVersionMessage = spirv_encoder::module::kVersionMessage;
constexpr std::string_view kSyntaxMessage = spirv_encoder::module::kSyntaxMessage;

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

TEST(SpirvFragments, FragmentsJoinIntoOneModule) {
  const auto fragments = fragmentsOf({{'b', ""},
                                      {'s', "OpCapability Shader"},
                                      {'r', ""},
                                      {'s', "%1 = OpTypeVoid\n%2 = OpTypeBool"},
                                      {'s', "OpMemoryModel Logical GLSL450"}});
  const auto result = frontend::pass::assembleSpirvFragments(fragments);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->spirv_fragments, (std::vector<std::uint32_t>{1, 3, 4}));
  EXPECT_EQ(result->words,
            (Words{0x07230203, 0x00010600, 0, 3, 0, 0x00020011, 1, 0x00020013, 1, 0x00020014, 2, 0x0003000E, 0, 1}));
  const auto bytes = spirv_encoder::module::moduleBytes(result->words);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->size(), 4 * result->words.size());
  EXPECT_EQ((std::vector<std::uint8_t>(bytes->begin(), bytes->begin() + 5)),
            (std::vector<std::uint8_t>{0x03, 0x02, 0x23, 0x07, 0x00}));
}

TEST(SpirvFragments, StoringCountsChangedFragments) {
  auto fragments = fragmentsOf({{'s', "OpCapability Shader"}, {'b', ""}, {'s', "OpCapability Kernel"}});
  fragments[2].instruction()->encoded = {1, 2};
  const std::vector<std::uint32_t> spirv{0, 2};
  const std::vector<std::uint8_t> bytes{9, 8, 7, 6};
  EXPECT_EQ(frontend::pass::storeSpirvModule(fragments, spirv, bytes), 2u);
  EXPECT_EQ(fragments[0].instruction()->encoded, bytes);
  EXPECT_TRUE(fragments[2].instruction()->encoded.empty());
  EXPECT_EQ(frontend::pass::storeSpirvModule(fragments, spirv, bytes), 0u);
  fragments[2].instruction()->pending = true;
  EXPECT_EQ(frontend::pass::storeSpirvModule(fragments, spirv, bytes), 1u);
  EXPECT_EQ(qovrin::testing::errorOf(frontend::pass::storeSpirvModule(fragments, std::vector<std::uint32_t>{1}, bytes)),
            Error::InvalidFragment);
}

TEST(SpirvFragments, FragmentChecksInOrder) {
  const std::tuple<std::vector<Fragment>, std::size_t, std::string_view> cases[] = {
      {fragmentsOf({{'s', "OpCapability Shader"}, {'b', "x"}}), 1, kMixedOutputMessage},
      {fragmentsOf({{'r', "xxxx"}, {'s', "OpCapability Shader"}}), 0, kMixedOutputMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'a', ""}}), 1, kMixedOutputMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'x', "nop"}}), 1, kMixedOutputMessage},
      // Disagreement is found before a mixed fragment that comes earlier.
      {fragmentsOf({{'b', "x"}, {'s', "OpCapability Shader"}, {'s', "OpCapability Kernel", 1}}), 2,
       kDisagreementMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'s', "OpCapability Kernel", 0, 0x00010500}}), 1,
       kDisagreementMessage},
      {fragmentsOf({{'s', "OpCapability Shader", 0, 0x00010700}}), 0, kVersionMessage},
      {fragmentsOf({{'s', "OpCapability Shader"}, {'s', "OpCapability Kernel"}, {'s', "OpCapability Bogus"}}), 2,
       kSyntaxMessage},
  };
  for (const auto& [fragments, at, message] : cases) {
    const auto result = frontend::pass::assembleSpirvFragments(fragments);
    ASSERT_FALSE(result.has_value()) << message;
    EXPECT_EQ(result.error().failure.message, message);
    EXPECT_EQ(result.error().failure.at, at) << message;
    // Line errors go to the first SPIR-V line; the checks name their fragment.
    const bool at_first = message == kSyntaxMessage || message == kVersionMessage;
    EXPECT_EQ(result.error().location, fragments[at_first ? 0 : at].location()) << message;
  }
}

TEST(SpirvFragments, NoSpirvFragmentsGiveNoModule) {
  const auto result = frontend::pass::assembleSpirvFragments(fragmentsOf({{'b', "xx"}}));
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->words.empty());
  EXPECT_TRUE(result->spirv_fragments.empty());
}

}  // namespace
