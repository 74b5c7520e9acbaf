#include "frontend/lower/notes/quote_notes.hpp"

#include <string>

#include "common/ascii.hpp"
#include "common/quoted_text.hpp"
#include "frontend/lower/instruction_words.hpp"
#include "frontend/syntax/lexer.hpp"

namespace frontend::lower::quote_notes {
namespace {

constexpr std::string_view kNote = "the string opened here is not closed on this line";

std::optional<std::string_view> sourceText(const module::Module& module, const SourceLocation& location) {
  if (!location.span.source || *location.span.source >= module.sources().size()) return std::nullopt;
  return std::string_view(module.sources()[*location.span.source].text);
}

std::size_t lineEnd(std::string_view text, std::size_t from) noexcept {
  const std::size_t end = text.find_first_of("\r\n", from);
  return end == std::string_view::npos ? text.size() : end;
}

// Where the quote that the line leaves open stands in it.
std::optional<std::size_t> openQuote(qovrin::quoted_text::Rules strings, std::string_view line) noexcept {
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (qovrin::quoted_text::opener(strings, line, at) == 0) continue;
    const auto closed = qovrin::quoted_text::stringEnd(strings, line, at);
    if (!closed) return at;
    at = *closed - 1;
  }
  return std::nullopt;
}

diagnostic::Note noteAt(const SourceLocation& near, std::size_t offset) {
  const auto at = static_cast<std::uint32_t>(offset);
  return {std::string(kNote), SourceLocation{SourceSpan{near.span.source, at, at + 1}, std::nullopt}};
}

// "OpName ..." or "%id = OpName ...", blanks allowed around.
bool isSpirvInstruction(std::string_view line) noexcept {
  std::size_t at = line.find_first_not_of(" \t");
  if (at == std::string_view::npos) return false;
  if (line[at] == '%') {
    at = line.find_first_of(" \t=", at);
    if (at == std::string_view::npos) return false;
    at = line.find_first_not_of(" \t", at);
    if (at == std::string_view::npos || line[at] != '=') return false;
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string_view::npos) return false;
  }
  return line.substr(at).starts_with("Op") && line.size() > at + 2 && qovrin::isAsciiLetter(line[at + 2]);
}

}  // namespace

std::optional<diagnostic::Note> openQuoteOnLine(const module::Module& module, target::Target target,
                                                const SourceLocation& line) {
  const auto text = sourceText(module, line);
  if (!text || line.span.start >= text->size()) return std::nullopt;
  const std::size_t start = line.span.start;
  std::string_view code = text->substr(start, lineEnd(*text, start) - start);
  // Nothing after a RISC-V comment mark is read as a string.
  if (target.isa == target::Isa::riscv) code = code.substr(0, lexer::riscvCommentStart(code));
  const auto quote = openQuote(target.strings(), code);
  if (!quote) return std::nullopt;
  return noteAt(line, start + *quote);
}

std::optional<diagnostic::Note> openQuoteInStatement(const module::Module& module, const SourceLocation& line) {
  const auto text = sourceText(module, line);
  if (!text || line.span.start >= text->size()) return std::nullopt;
  const std::size_t start = line.span.start;
  // A quote in a comment after the statement opens nothing.
  const std::string_view code = lexer::isaTextBeforeComment(text->substr(start, lineEnd(*text, start) - start));
  const auto quote = openQuote(qovrin::quoted_text::kSource, code);
  if (!quote) return std::nullopt;
  return noteAt(line, start + *quote);
}

std::optional<diagnostic::Note> openStringAbove(const module::Module& module, const SourceLocation& failure) {
  const auto text = sourceText(module, failure);
  if (!text) return std::nullopt;
  // From the start of the failing line upwards; "\r\n" reads as two ends,
  // with an empty line between them.
  std::size_t end = std::min<std::size_t>(failure.span.start, text->size());
  end = text->find_last_of("\r\n", end == 0 ? 0 : end - 1);
  while (end != std::string_view::npos) {
    const std::size_t before = end == 0 ? std::string_view::npos : text->find_last_of("\r\n", end - 1);
    const std::size_t start = before == std::string_view::npos ? 0 : before + 1;
    const std::string_view line = text->substr(start, end - start);
    if (isSpirvInstruction(line)) {
      const auto quote = openQuote(qovrin::quoted_text::kSpirv, line);
      if (!quote) return std::nullopt;
      return noteAt(failure, start + *quote);
    }
    end = before;
  }
  return std::nullopt;
}

}  // namespace frontend::lower::quote_notes
