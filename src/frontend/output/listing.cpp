#include "frontend/output/listing.hpp"


namespace frontend::listing {
namespace {

void appendHex(std::string& out, std::uint64_t value, int digits) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void appendPadded(std::string& out, std::string_view text, std::size_t width, bool alignRight) {
  const std::size_t padding = text.size() < width ? width - text.size() : 0;
  if (alignRight) out.append(padding, ' ');
  out += text;
  if (!alignRight) out.append(padding, ' ');
}

}  // namespace

void appendListingRow(std::string& out, const ListingRow& row) {
  appendPadded(out, row.line == 0 ? std::string() : std::to_string(row.line), 5, true);
  out += ' ';
  appendHex(out, row.address, 16);
  out += ' ';
  if (row.hasFileOffset)
    appendHex(out, row.fileOffset & 0xFFFFFFFFu, 8);
  else
    out.append(8, ' ');
  out += ' ';
  appendPadded(out, row.bytes, 24, false);
  out += ' ';
  out += row.source;
  out += '\n';
}

}  // namespace frontend::listing
