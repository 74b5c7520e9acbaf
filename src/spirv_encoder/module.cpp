#include "spirv_encoder/module.hpp"

#include <algorithm>
#include <optional>

#include "common/ascii.hpp"
#include "spirv_encoder/module_ids.hpp"
#include "spirv_encoder/text.hpp"
#include "spirv_encoder/text_tables.hpp"

namespace spirv_encoder::module {
namespace {

using qovrin::Error;
using qovrin::fail;
using text_tables::OperandKind;
using text_tables::Quantifier;

constexpr std::size_t kBoundWord = 3;
constexpr std::size_t kMaxImportNameBytes = 64;
constexpr std::uint32_t kMaxWordCount = 0xFFFF;
// A line that defines an id spells at least "%1 = Op", so a module of n bytes
// that numbers its ids densely from 1 stays below n / 8; small modules get
// room for gaps.
constexpr std::size_t kBytesPerDenseId = 8;
constexpr std::size_t kMinDenseIds = 4096;

// Reads instructions one line at a time into the module words; the parse
// context and the instruction's word list live across lines.
class LineReader {
 public:
  LineReader(std::vector<std::uint32_t>& module_words, std::size_t dense_ids)
      : module_words_(module_words), ids_(dense_ids) {}

  // `place` is where the line stands, kept for each id it defines and each
  // id it is the first to use.
  qovrin::Status readLine(std::string_view line, module_ids::LinePlace place) {
    text::Tokenizer tokenizer(line);
    const auto first = tokenizer.nextRaw();
    if (!first) return {};
    std::optional<std::uint32_t> pending_id;
    std::string_view name = *first;
    if (first->size() >= 2 && first->front() == '%') {
      const auto id = text::parseWord(first->substr(1));
      if (!id) return fail(id.error());
      pending_id = *id;
      const auto equals = tokenizer.nextRaw();
      if (!equals || *equals != "=") return fail(Error::ExpectedEquals);
      const auto opcode_name = tokenizer.nextRaw();
      if (!opcode_name) return fail(Error::UnknownOpcode);
      name = *opcode_name;
    }
    const auto* row = text_tables::findInstruction(name);
    if (!row) return fail(Error::UnknownOpcode);

    named_.highest = pending_id.value_or(0);
    named_.ids.clear();
    text::ResultType result_type;
    std::optional<std::uint32_t> result_id;
    words_.clear();
    for (const auto& operand : text_tables::operandsOf(*row)) {
      const bool is_result = operand.kind == text_tables::kindNumber(OperandKind::IdResult);
      if (operand.quantifier == Quantifier::one && is_result && pending_id) {
        words_.push_back(*std::exchange(pending_id, std::nullopt));
        result_id = words_.back();
        continue;
      }
      QOVRIN_TRY(text::appendDynamicOperands(context_, words_, tokenizer, std::span(&operand, 1), result_type, named_));
      if (is_result && !words_.empty()) result_id = words_.back();
      if (operand.kind == text_tables::kindNumber(OperandKind::IdResultType) && !words_.empty())
        result_type = {words_.back(), true};
    }
    if (pending_id) return fail(Error::ExpectedOperand);
    if (tokenizer.hasMore()) return fail(Error::TooManyOperands);
    if (words_.size() + 1 > kMaxWordCount) return fail(Error::InstructionTooLong);
    // A module names each result once; spirv-val refuses a second definition.
    if (result_id) {
      if (const auto first = ids_.define(*result_id, place.text)) {
        redefined_ = Redefinition{*result_id, *first};
        return fail(Error::DuplicateSymbol);
      }
    }
    for (const std::uint32_t id : named_.ids) ids_.use(id, place);

    record(row->number, result_type);
    highest_id_ = std::max(highest_id_, named_.highest);
    module_words_.push_back(static_cast<std::uint32_t>(words_.size() + 1) << 16 | row->number);
    module_words_.insert(module_words_.end(), words_.begin(), words_.end());
    return {};
  }

  std::uint32_t highestId() const noexcept { return highest_id_; }

  // After a line failed with DuplicateSymbol: the id and the text of its first
  // definition.
  struct Redefinition {
    std::uint32_t id = 0;
    std::uint32_t first_text = 0;
  };
  std::optional<Redefinition> redefined() const noexcept { return redefined_; }

  std::optional<module_ids::UndefinedUse> firstUndefined() const { return ids_.firstUndefined(); }

 private:
  // What later lines need to know of this instruction (words_ holds its
  // operands, so the result id is words_[0] or, when typed, words_[1]).
  void record(std::uint32_t opcode, text::ResultType result_type) {
    if (result_type.present && words_.size() >= 2) context_.result_types.set(words_[1], result_type.id);
    switch (opcode) {
      case text_tables::kOpTypeInt:
        if (words_.size() >= 3)
          context_.scalar_types.set(words_[0], text::ScalarType::integer(words_[1], words_[2] != 0));
        break;
      case text_tables::kOpTypeFloat:
        if (words_.size() >= 2) {
          const auto encoding = words_.size() >= 3 ? std::optional(words_[2]) : std::nullopt;
          context_.scalar_types.set(words_[0], text::ScalarType::floating(words_[1], encoding));
        }
        break;
      case text_tables::kOpExtInstImport:
        if (words_.size() >= 2)
          if (const auto set = importedSet(std::span(words_).subspan(1))) context_.ext_inst_sets.set(words_[0], *set);
        break;
      default:
        break;
    }
  }

  // The set an import's string names; none for a name that is no known set,
  // is too long to be one, or is not terminated within the words.
  static std::optional<text_tables::ExtInstSet> importedSet(std::span<const std::uint32_t> string_words) {
    char name[kMaxImportNameBytes];
    std::size_t length = 0;
    for (const std::uint32_t word : string_words) {
      for (unsigned shift = 0; shift < 32; shift += 8) {
        const char byte = static_cast<char>((word >> shift) & 0xFFu);
        if (byte == '\0') return text_tables::findExtInstSet(std::string_view(name, length));
        if (length == kMaxImportNameBytes) return std::nullopt;
        name[length++] = byte;
      }
    }
    return std::nullopt;
  }

  std::vector<std::uint32_t>& module_words_;
  std::vector<std::uint32_t> words_;
  text::ParseContext context_;
  text::NamedIds named_;
  std::uint32_t highest_id_ = 0;
  module_ids::IdLedger ids_;
  std::optional<Redefinition> redefined_;
};

// The line of `text` that starts at `offset`, without its blanks.
std::string_view lineAt(std::string_view text, std::size_t offset) {
  return qovrin::trim(text.substr(offset, text.find('\n', offset) - offset), " \t\r\n");
}

}  // namespace

ModuleResult<std::vector<std::uint32_t>> assembleLines(std::span<const std::string_view> texts, std::uint32_t version) {
  if (!isSupportedVersion(version))
    return std::unexpected(ModuleFailure{Error::InvalidSpirvVersion, kVersionMessage, 0, {}, {}, {}});
  if (texts.size() > std::size_t{module_ids::kMaxText} + 1)
    return std::unexpected(ModuleFailure{Error::TooManyFragments, kSyntaxMessage, 0, {}, {}, {}});

  std::size_t bytes = 0;
  for (const std::string_view text : texts) bytes += text.size();
  std::vector<std::uint32_t> words{kMagic, version, 0, 1, 0};
  LineReader reader(words, std::max(kMinDenseIds, bytes / kBytesPerDenseId));
  for (std::size_t index = 0; index < texts.size(); ++index) {
    const std::string_view text = texts[index];
    std::size_t start = 0;
    while (true) {
      const std::size_t end = text.find('\n', start);
      const std::string_view line = text.substr(start, end - start);
      if (const auto status = reader.readLine(line, {static_cast<std::uint32_t>(index), start}); !status) {
        ModuleFailure failure{status.error(), kSyntaxMessage, index, lineAt(text, start), {}, {}};
        if (const auto redefined = reader.redefined()) {
          failure.id = redefined->id;
          failure.first_definition = redefined->first_text;
        }
        return std::unexpected(failure);
      }
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }
  // Lines may name ids that later lines define, so only the whole module
  // tells an id that no line defines.
  if (const auto undefined = reader.firstUndefined()) {
    const std::string_view text = texts[undefined->first_use.text];
    return std::unexpected(ModuleFailure{Error::UndefinedSymbol,
                                         kSyntaxMessage,
                                         undefined->first_use.text,
                                         lineAt(text, undefined->first_use.offset),
                                         undefined->id,
                                         {}});
  }
  if (reader.highestId() == 0xFFFFFFFFu)
    return std::unexpected(ModuleFailure{Error::Overflow, kSyntaxMessage, texts.size() - 1, {}, {}, {}});
  words[kBoundWord] = reader.highestId() + 1;
  return words;
}

qovrin::Result<std::vector<std::uint8_t>> moduleBytes(std::span<const std::uint32_t> words) {
  if (words.size() >= (std::size_t{1} << 30)) return fail(Error::InstructionTooLarge);
  std::vector<std::uint8_t> bytes(words.size() * 4);
  for (std::size_t index = 0; index < words.size(); ++index)
    for (unsigned byte = 0; byte < 4; ++byte)
      bytes[index * 4 + byte] = static_cast<std::uint8_t>(words[index] >> (8 * byte));
  return bytes;
}

}  // namespace spirv_encoder::module
