#include "main/listing.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/ascii.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/output/listing.hpp"
#include "main/source_lines.hpp"

namespace qovrin::main {
namespace {

struct SourceLine {
  std::uint32_t number = 0;
  std::string_view text;
};

// The line holding `offset`: its 1-based number and its text without the
// surrounding blanks and line ends.
SourceLine sourceLineAt(std::string_view text, const SourceLines& lines, std::uint32_t offset) {
  const std::size_t limit = std::min<std::size_t>(offset, text.size());
  const LineColumn position = lines.at(offset);
  const std::size_t lineStart = limit - (position.column - 1);
  std::size_t lineEnd = text.find_first_of("\r\n", limit);
  if (lineEnd == std::string_view::npos) lineEnd = text.size();
  return {position.line, trim(text.substr(lineStart, lineEnd - lineStart), " \t\r\n")};
}

bool addOverflows(std::uint64_t a, std::uint64_t b, std::uint64_t& sum) noexcept {
  return __builtin_add_overflow(a, b, &sum);
}

void appendHexBytes(std::string& out, const std::uint8_t* bytes, std::size_t count) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  for (std::size_t index = 0; index < count; ++index) {
    if (index != 0) out += ' ';
    out += kDigits[bytes[index] >> 4];
    out += kDigits[bytes[index] & 0xF];
  }
}

}  // namespace

Result<std::string> renderListing(std::string_view sourcePath, const AssembledFlat& assembled) {
  const auto& module = *assembled.module;
  const auto& image = assembled.result.image;
  std::string out = "QOVRIN listing\nSource: ";
  out += sourcePath;
  out += "\nOutput size: " + std::to_string(image.size()) + " bytes\nMode: flat\n\n";
  out += " Line Address          FileOff  Bytes                    Source\n";
  out += " ---- ---------------- -------- ------------------------ ----------------\n";

  const auto fragments = module.fragments();
  const auto& sources = module.sources();
  // Made for a source when a row first needs it.
  std::vector<std::optional<SourceLines>> lines(sources.size());
  std::string bytesText;
  // The rows of stored bytes [address, address + stored) at fileOffset, the
  // first one carrying the line of location.
  const auto appendRows = [&](const frontend::SourceLocation& location, std::uint64_t address,
                              std::uint64_t fileOffset, std::uint64_t stored) -> Status {
    SourceLine line;
    const frontend::SourceSpan& span = location.span;
    if (span.source) {
      if (*span.source >= sources.size()) return fail(Error::InvalidSource);
      auto& sourceLines = lines[*span.source];
      if (!sourceLines) sourceLines.emplace(sources[*span.source].text);
      line = sourceLineAt(sources[*span.source].text, *sourceLines, span.start);
    }
    if (stored == 0) {
      frontend::listing::appendListingRow(out, {address, 0, false, "<trimmed>", line.text, line.number});
      return {};
    }
    std::uint64_t end = 0;
    if (addOverflows(fileOffset, stored, end)) return fail(Error::OffsetOverflow);
    if (end > image.size()) return fail(Error::InvalidFragment);
    for (std::uint64_t k = 0; k < stored; k += 8) {
      std::uint64_t rowAddress = 0;
      if (addOverflows(address, k, rowAddress)) return fail(Error::OffsetOverflow);
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(8, stored - k));
      bytesText.clear();
      appendHexBytes(bytesText, image.data() + fileOffset + k, count);
      const bool first = k == 0;
      frontend::listing::appendListingRow(out, {rowAddress, fileOffset + k, true, bytesText,
                                                first ? line.text : std::string_view(), first ? line.number : 0});
    }
    return {};
  };
  for (const auto& section : assembled.result.sections) {
    if (section.section >= module.sections().size()) return fail(Error::InvalidSection);
    if (module.sections()[section.section].kind == frontend::section::SectionKind::virtual_region) continue;
    const auto& list = module.sections()[section.section].fragments;
    if (list.size() < section.fragments.size()) return fail(Error::InvalidFragment);
    for (std::size_t entry = 0; entry < section.fragments.size(); ++entry) {
      const auto& piece = section.fragments[entry];
      if (list[entry] >= fragments.size()) return fail(Error::InvalidFragment);
      const auto& fragment = fragments[list[entry]];
      std::uint64_t address = 0;
      std::uint64_t fileOffset = 0;
      if (addOverflows(section.base, piece.offset, address) ||
          addOverflows(section.file_offset, piece.offset, fileOffset))
        return fail(Error::OffsetOverflow);
      const auto spanned = frontend::layout::spannedSize(fragment, piece.offset);
      if (!spanned) return fail(spanned.error());
      const std::uint64_t stored = section.isTail(entry) ? 0 : *spanned;
      // A run shows each of its instructions as the fragment it once was.
      const auto runLines = module.linesOf(fragment);
      if (runLines.empty()) {
        QOVRIN_TRY(appendRows(fragment.location(), address, fileOffset, stored));
        continue;
      }
      for (std::size_t line = 0; line < runLines.size(); ++line) {
        const std::uint64_t from = runLines[line].offset;
        const std::uint64_t to = line + 1 < runLines.size() ? runLines[line + 1].offset : stored;
        std::uint64_t lineAddress = 0;
        std::uint64_t lineOffset = 0;
        if (to < from || to > stored) return fail(Error::InvalidFragment);
        if (addOverflows(address, from, lineAddress) || addOverflows(fileOffset, from, lineOffset))
          return fail(Error::OffsetOverflow);
        QOVRIN_TRY(appendRows(runLines[line].location(fragment.location()), lineAddress, lineOffset, to - from));
      }
    }
  }
  return out;
}

}  // namespace qovrin::main
