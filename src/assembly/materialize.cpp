#include "assembly/materialize.hpp"

#include <algorithm>
#include <span>

namespace assembly {

using frontend::fragment::Fragment;
using frontend::fragment::FragmentKind;
using frontend::layout::SectionLayout;
using qovrin::Error;
using qovrin::fail;

namespace {

// Virtual sections lay out addresses and store nothing.
qovrin::Result<bool> storesBytes(const frontend::module::Module& module, const SectionLayout& row) {
  if (!module.sections().contains(row.section)) return fail(Error::InvalidSection);
  return module.sections()[row.section].kind != frontend::section::SectionKind::virtual_region;
}

qovrin::Result<std::uint64_t> imageSize(const frontend::module::Module& module,
                                        const frontend::layout::ModuleLayout& layout) {
  std::uint64_t size = 0;
  for (const SectionLayout& row : layout.sections) {
    const auto stored = storesBytes(module, row);
    if (!stored) return fail(stored.error());
    if (!*stored) continue;
    std::uint64_t end = 0;
    if (__builtin_add_overflow(row.file_offset, row.file_size, &end)) return fail(Error::OffsetOverflow);
    size = std::max(size, end);
  }
  if (size > frontend::module::kMaxImageSize) return fail(Error::OutputTooLarge);
  return size;
}

// Copies the first count stored bytes of a bytes or instruction fragment, or
// count fill bytes of an alignment; a reserve writes nothing.
qovrin::Status writeFragment(const Fragment& piece, std::span<std::uint8_t> destination) {
  switch (piece.kind()) {
    case FragmentKind::bytes:
    case FragmentKind::instruction: {
      const frontend::fragment::SmallBytes& stored = *piece.storedBytes();
      if (stored.size() < destination.size()) return fail(Error::InvalidFragment);
      std::copy_n(stored.begin(), destination.size(), destination.begin());
      return {};
    }
    case FragmentKind::alignment:
      std::ranges::fill(destination, piece.alignment()->fill);
      return {};
    case FragmentKind::reserve:
      return {};
  }
  return fail(Error::InvalidFragment);
}

}  // namespace

qovrin::Result<frontend::output::result::WriterResult> materializeImage(const frontend::module::Module& module,
                                                                        const frontend::layout::ModuleLayout& layout) {
  const auto size = imageSize(module, layout);
  if (!size) return fail(size.error());
  frontend::output::result::WriterResult result;
  result.bytes.assign(*size, 0);
  const auto fragments = module.fragments();
  for (const SectionLayout& row : layout.sections) {
    if (!*storesBytes(module, row)) continue;
    const auto& list = module.sections()[row.section].fragments;
    if (list.size() < row.fragments.size()) return fail(Error::InvalidFragment);
    for (std::size_t index = 0; index < row.stored_entries && index < row.fragments.size(); ++index) {
      const frontend::layout::FragmentLayout& entry = row.fragments[index];
      if (list[index] >= fragments.size()) return fail(Error::InvalidFragment);
      const Fragment& piece = fragments[list[index]];
      const auto spanned = frontend::layout::spannedSize(piece, entry.offset);
      if (!spanned) return fail(spanned.error());
      const std::uint64_t stored = *spanned;
      if (stored == 0) continue;
      std::uint64_t position = 0;
      std::uint64_t end = 0;
      if (__builtin_add_overflow(row.file_offset, entry.offset, &position) ||
          __builtin_add_overflow(position, stored, &end))
        return fail(Error::OffsetOverflow);
      if (end > result.bytes.size()) return fail(Error::InvalidFragment);
      QOVRIN_TRY(writeFragment(piece, std::span(result.bytes).subspan(position, stored)));
    }
  }
  result.regions.reserve(layout.sections.size());
  for (const SectionLayout& row : layout.sections)
    if (*storesBytes(module, row))
      result.regions.push_back({row.base, row.file_offset, row.memory_size, row.file_size, row.section});
  return result;
}

}  // namespace assembly
