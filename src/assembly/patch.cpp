#include "assembly/patch.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <unordered_map>

#include "common/little_endian.hpp"

namespace assembly {

using frontend::fixup::Fixup;
using frontend::fixup::FixupRangePolicy;
using frontend::layout::FragmentLayout;
using frontend::layout::SectionLayout;
using frontend::output::image::ImageRegion;
using qovrin::Error;
using qovrin::fail;

namespace {

constexpr WideValue kU64Limit = static_cast<WideValue>(std::numeric_limits<std::uint64_t>::max()) + 1;
constexpr std::size_t kMaxRiscvOperands = 16;

qovrin::Status checkWidth(std::uint16_t width) {
  if (width != 8 && width != 16 && width != 32 && width != 64) return fail(Error::InvalidFixupWidth);
  return {};
}

// The 64-bit pattern of a value, negative ones in two's complement; none for
// a value outside 64 bits either way, which no address or field holds.
std::optional<std::uint64_t> addressBits(WideValue value) noexcept {
  if (value >= kU64Limit || value < -(kU64Limit / 2)) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

// Whether the sign extension of the low width bits gives the whole pattern back.
bool fitsSigned(std::uint64_t bits, std::uint16_t width) noexcept {
  if (width >= 64) return true;
  const unsigned shift = 64 - width;
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(bits << shift) >> shift) == bits;
}

bool fitsUnsigned(std::uint64_t bits, std::uint16_t width) noexcept {
  return width >= 64 || bits < (std::uint64_t{1} << width);
}

// Lower-case hexadecimal without leading zeros; a negative value shows its
// 64-bit pattern, the way the field would hold it.
std::string hexText(WideValue value) {
  auto magnitude = static_cast<unsigned __int128>(value < 0 ? value + kU64Limit : value);
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789abcdef"[static_cast<unsigned>(magnitude & 0xf)]);
    magnitude >>= 4;
  } while (magnitude != 0);
  return digits;
}

// The target as the user reads it: its text with the addend written after it.
std::string targetText(const frontend::fixup::FixupTarget& target) {
  std::string text(target.text);
  if (target.addend == 0) return text;
  const auto bits = static_cast<std::uint64_t>(target.addend);
  text += target.addend > 0 ? " + " : " - ";
  text += std::to_string(target.addend > 0 ? bits : 0 - bits);
  return text;
}

// Whether the target lies above the top of a space that the field starts
// in: the processor wraps the address there, so no distance reaches it,
// however near the top the field stands. Code laid wholly above the top
// measures its distances as they stand.
bool abovePlacedSpace(WideValue target, WideValue place, std::uint16_t width, std::uint16_t space_bits) noexcept {
  if (space_bits >= 64) return false;
  const WideValue top = static_cast<WideValue>(1) << space_bits;
  return target >= top && place - width / 8 < top;
}

// Why a branch cannot reach its target wherever it stands: its pointer is
// cut to 16 bits, or wraps at the top of the space it stands in. None when
// only the distance failed.
std::optional<std::string> unreachedNote(const Fixup& fixup, WideValue target, WideValue place) {
  if (!fixup.pc_relative) return std::nullopt;
  if (fixup.pointer_width == frontend::fixup::PointerWidth::bits16_in_32) {
    if (target >= 0 && target <= 0xffff) return std::nullopt;
    return "a 16-bit branch in 32-bit code cuts the instruction pointer to 16 bits: it reaches only addresses "
           "below 0x10000";
  }
  const std::uint16_t space_bits = frontend::fixup::addressSpaceBits(fixup.pointer_width);
  if (!abovePlacedSpace(target, place, fixup.width, space_bits)) return std::nullopt;
  const std::string top = "0x" + hexText(static_cast<WideValue>(1) << space_bits);
  return "the instruction pointer of a " + std::to_string(space_bits) + "-bit branch wraps at " + top +
         ": from below that address it reaches none at or above it";
}

// Where each resolution's fixup and fragment lie, checked against the module.
struct Located {
  const Fixup* fixup = nullptr;
  const frontend::fragment::Fragment* fragment = nullptr;
};

qovrin::Result<Located> locate(const frontend::module::Module& module, std::size_t position) {
  if (position >= module.fixups().size()) return fail(Error::InvalidFixupTarget);
  const Fixup& fixup = module.fixups()[static_cast<std::uint32_t>(position)];
  if (fixup.fragment >= module.fragments().size()) return fail(Error::InvalidFragment);
  return Located{&fixup, &module.fragments()[fixup.fragment]};
}

bool isRiscvInstruction(const frontend::fragment::Fragment& fragment) noexcept {
  const auto* line = fragment.instruction();
  return line != nullptr && line->target.isa == frontend::target::Isa::riscv;
}

// The rows of a fragment and its section in the layout and the image.
struct Field {
  const SectionLayout* section = nullptr;
  const ImageRegion* region = nullptr;
  const FragmentLayout* fragment = nullptr;
};

class Patcher {
 public:
  Patcher(frontend::module::Module& module, const PatchInput& input)
      : module_(module), input_(input), layout_index_(input.layout, module.sections(), module.fragments().size()) {
    for (std::uint32_t row = 0; row < input.regions.size(); ++row)
      region_rows_.try_emplace(input.regions[row].section, row);
  }

  qovrin::Status run() {
    for (std::size_t position = 0; position < input_.resolutions.size(); ++position) {
      const std::optional<WideValue> target = input_.resolutions.target(position);
      if (!target) continue;
      const auto located = locate(module_, position);
      if (!located) return fail(located.error());
      if (isRiscvInstruction(*located->fragment)) {
        QOVRIN_TRY(patchRiscv(position, located->fixup->fragment));
        continue;
      }
      const auto field = findField(*located->fragment, located->fixup->fragment);
      if (!field) return fail(field.error());
      if (!*field) continue;
      if (const auto written = writeField(**field, *located->fixup, *target); !written) {
        const auto message = patchFailureMessage(written.error(), module_.fixups().target(*located->fixup),
                                                 located->fixup->width, *target);
        if (!message) return fail(written.error());
        const auto place = module_.locationAt(located->fixup->fragment, located->fixup->offset);
        module_.diagnostics().add(frontend::diagnostic::Severity::error, place, *message);
        if (const auto note = unreachedNote(*located->fixup, *target, fieldEnd(**field, *located->fixup)))
          module_.diagnostics().add(frontend::diagnostic::Severity::note, place, *note);
        return fail(Error::FrontendDiagnostics);
      }
    }
    return {};
  }

 private:
  // None for a fragment of a virtual section, which stores no bytes and so
  // has nothing to patch.
  qovrin::Result<std::optional<Field>> findField(const frontend::fragment::Fragment& fragment,
                                                 std::uint32_t fragment_index) const {
    const std::uint32_t section = fragment.section;
    if (module_.sections().contains(section) &&
        module_.sections()[section].kind == frontend::section::SectionKind::virtual_region)
      return std::nullopt;
    Field field;
    field.section = layout_index_.section(section);
    const auto region = region_rows_.find(section);
    if (field.section == nullptr || region == region_rows_.end()) return fail(Error::InvalidSection);
    field.region = &input_.regions[region->second];
    field.fragment = layout_index_.fragment(*field.section, fragment_index);
    if (field.fragment == nullptr) return fail(Error::InvalidFragment);
    return field;
  }

  // The address just behind the field, past the top of the space when the
  // field's bytes reach past it.
  static WideValue fieldEnd(const Field& field, const Fixup& fixup) noexcept {
    return static_cast<WideValue>(field.section->base) + field.fragment->offset + fixup.offset + fixup.width / 8;
  }

  // Range and bounds failures here are the ones reported as diagnostics.
  qovrin::Status writeField(const Field& field, const Fixup& fixup, WideValue target) {
    QOVRIN_TRY(checkWidth(fixup.width));
    const std::uint64_t bytes = fixup.width / 8;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (__builtin_add_overflow(field.fragment->offset, std::uint64_t{fixup.offset}, &start) ||
        __builtin_add_overflow(start, bytes, &end))
      return fail(Error::FixupAddressOverflow);
    if (end > field.region->file_size) return fail(Error::FixupPatchOutOfBounds);
    std::uint64_t file_position = 0;
    std::uint64_t file_end = 0;
    if (__builtin_add_overflow(field.region->file_offset, start, &file_position) ||
        __builtin_add_overflow(file_position, bytes, &file_end))
      return fail(Error::FixupAddressOverflow);
    if (file_end > input_.image.size()) return fail(Error::FixupPatchOutOfBounds);

    std::uint64_t value = 0;
    if (fixup.pc_relative) {
      // A field may end at the very top of the address space, not past it.
      const WideValue place = fieldEnd(field, fixup);
      if (place > kU64Limit) return fail(Error::FixupAddressOverflow);
      const auto distance = relativePatchValue(target, place, fixup.width,
                                               frontend::fixup::pointerBits(fixup.pointer_width),
                                               frontend::fixup::addressSpaceBits(fixup.pointer_width));
      if (!distance) return fail(distance.error());
      value = static_cast<std::uint64_t>(*distance);
    } else {
      const auto absolute = absolutePatchValue(target, fixup.width, fixup.range_policy);
      if (!absolute) return fail(absolute.error());
      value = *absolute;
      // The processor sign-extends the field, so what it reaches is judged
      // by the value's 64-bit pattern, however the value was spelt.
      if (fixup.range_policy == FixupRangePolicy::sign_extended && !fitsSigned(value, fixup.width))
        module_.diagnostics().add(frontend::diagnostic::Severity::warning,
                                  module_.locationAt(fixup.fragment, fixup.offset), "displacement exceeds bounds");
    }
    qovrin::writeLittleEndian(input_.image.subspan(file_position, bytes), value);
    return {};
  }

  // The first fixup of a RISC-V instruction encodes it again with all of its
  // operands; later fixups of the same instruction find it done.
  qovrin::Status patchRiscv(std::size_t position, std::uint32_t fragment_index) {
    if (riscv_groups_.empty()) groupRiscvResolutions();
    const std::vector<std::size_t>& group = riscv_groups_.at(fragment_index);
    if (group.front() != position) return {};
    std::vector<ResolvedOperand> operands;
    for (const std::size_t member : group) {
      const std::optional<WideValue> target = input_.resolutions.target(member);
      if (!target) return {};
      const frontend::fixup::FixupStore& fixups = module_.fixups();
      operands.push_back({fixups.target(fixups[static_cast<std::uint32_t>(member)]).text, *target});
    }
    if (operands.size() > kMaxRiscvOperands) return fail(Error::InvalidFixupTarget);

    const frontend::fragment::Fragment& fragment = module_.fragments()[fragment_index];
    const auto field = findField(fragment, fragment_index);
    if (!field) return fail(field.error());
    if (!*field) return {};
    // Only a branch or jump reads its own address; any other instruction
    // placed past the top of the space encodes as it would anywhere.
    std::uint64_t address = 0;
    const Fixup& first = module_.fixups()[static_cast<std::uint32_t>(group.front())];
    if (__builtin_add_overflow((*field)->section->base, (*field)->fragment->offset, &address) && first.pc_relative) {
      const auto place = module_.locationAt(fragment_index, first.offset);
      std::string message = "the branch to '";
      message += operands.front().text;
      message += "' lies past the top of the 64-bit address space";
      module_.diagnostics().add(frontend::diagnostic::Severity::error, place, message);
      std::string note = "it would stand at 0x";
      note += hexText(static_cast<WideValue>((*field)->section->base) + (*field)->fragment->offset);
      note += ", which no address reaches: code ends at 0xffffffffffffffff";
      module_.diagnostics().add(frontend::diagnostic::Severity::note, place, note);
      return fail(Error::FrontendDiagnostics);
    }
    if (!input_.riscv) return fail(Error::UnsupportedRiscvInstruction);
    const auto encoded = input_.riscv(fragment, module_.target(), address, operands);
    if (!encoded) {
      // The line encoded with stand-ins, so a refusal now is about the
      // resolved values: a branch too far, an immediate too wide.
      if (encoded.error() != Error::UnsupportedRiscvInstruction) return fail(encoded.error());
      std::string message = "fixup target '";
      message += operands.front().text;
      message += "' (0x";
      message += hexText(operands.front().value);
      message += ") does not fit the operand of its RISC-V instruction";
      module_.diagnostics().add(frontend::diagnostic::Severity::error, module_.locationAt(fragment_index, first.offset),
                                message);
      return fail(Error::FrontendDiagnostics);
    }
    return copyEncoding(**field, fragment, *encoded);
  }

  qovrin::Status copyEncoding(const Field& field, const frontend::fragment::Fragment& fragment,
                              std::span<const std::uint8_t> encoded) {
    const std::uint64_t size = encoded.size();
    const auto entry = static_cast<std::size_t>(field.fragment - field.section->fragments.data());
    if (field.section->isTail(entry) || size != fragment.instruction()->encoded.size())
      return fail(Error::InvalidFixupTarget);
    std::uint64_t end = 0;
    std::uint64_t file_position = 0;
    std::uint64_t file_end = 0;
    if (__builtin_add_overflow(field.fragment->offset, size, &end) ||
        __builtin_add_overflow(field.region->file_offset, field.fragment->offset, &file_position) ||
        __builtin_add_overflow(file_position, size, &file_end))
      return fail(Error::OffsetOverflow);
    if (end > field.region->file_size || file_end > input_.image.size()) return fail(Error::InvalidFixupTarget);
    std::ranges::copy(encoded, input_.image.begin() + static_cast<std::ptrdiff_t>(file_position));
    return {};
  }

  // Resolutions of RISC-V instructions by fragment, in fixup order, resolved
  // or not: an instruction with an unresolved operand keeps its first encoding.
  void groupRiscvResolutions() {
    for (std::size_t position = 0; position < input_.resolutions.size(); ++position) {
      const auto located = locate(module_, position);
      if (located && isRiscvInstruction(*located->fragment))
        riscv_groups_[located->fixup->fragment].push_back(position);
    }
  }

  frontend::module::Module& module_;
  const PatchInput& input_;
  frontend::layout::LayoutIndex layout_index_;
  std::unordered_map<std::uint32_t, std::uint32_t> region_rows_;  // section -> first region row
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> riscv_groups_;
};

}  // namespace

qovrin::Result<std::int64_t> relativePatchValue(WideValue target, WideValue place, std::uint16_t width,
                                                std::uint16_t pointer_bits, std::uint16_t space_bits) {
  QOVRIN_TRY(checkWidth(width));
  QOVRIN_TRY(checkWidth(pointer_bits));
  QOVRIN_TRY(checkWidth(space_bits));
  const std::optional<std::uint64_t> bits = addressBits(target);
  if (!bits) return fail(Error::RelativeFixupOutOfRange);
  const bool cut = pointer_bits < space_bits;
  if (abovePlacedSpace(target, place, width, space_bits)) return fail(Error::RelativeFixupOutOfRange);
  // A distance that fits as it stands reaches the target wherever the code
  // lies, unless the processor cuts the address it lands on.
  const WideValue exact = target - place;
  const WideValue half = static_cast<WideValue>(1) << (width - 1);
  if (!cut && exact >= -half && exact < half) return static_cast<std::int64_t>(exact);
  // Addresses wrap around at the pointer's width, and so does the distance:
  // a label in the upper half and an expression on it, which reads as
  // negative, lie the same way from the field. Both ends must be addresses
  // of the space for the wrapped distance to lead to the target; the field
  // may end at its top, where the next address is 0.
  const WideValue top = static_cast<WideValue>(1) << space_bits;
  if (!(fitsSigned(*bits, space_bits) || fitsUnsigned(*bits, space_bits)) || place < 0 || place > top)
    return fail(Error::RelativeFixupOutOfRange);
  if (cut && !fitsUnsigned(*bits, pointer_bits)) return fail(Error::RelativeFixupOutOfRange);
  const std::uint64_t wrapped = *bits - static_cast<std::uint64_t>(place);
  const unsigned shift = 64u - pointer_bits;
  const auto distance = static_cast<std::uint64_t>(static_cast<std::int64_t>(wrapped << shift) >> shift);
  if (!fitsSigned(distance, width)) return fail(Error::RelativeFixupOutOfRange);
  return static_cast<std::int64_t>(distance);
}

qovrin::Result<std::uint64_t> absolutePatchValue(WideValue value, std::uint16_t width, FixupRangePolicy policy) {
  QOVRIN_TRY(checkWidth(width));
  const Error refusal = policy == FixupRangePolicy::signed_value     ? Error::SignedFixupOutOfRange
                        : policy == FixupRangePolicy::unsigned_value ? Error::UnsignedFixupOutOfRange
                                                                     : Error::WrapFixupOutOfRange;
  const std::optional<std::uint64_t> pattern = addressBits(value);
  if (!pattern) return fail(refusal);
  const std::uint64_t bits = *pattern;
  const bool fits_unsigned = fitsUnsigned(bits, width);
  const bool fits_signed = fitsSigned(bits, width);
  const bool fits = policy == FixupRangePolicy::signed_value     ? fits_signed
                    : policy == FixupRangePolicy::unsigned_value ? fits_unsigned
                                                                 : fits_signed || fits_unsigned;
  if (!fits) return fail(refusal);
  return bits;
}

std::optional<std::string> patchFailureMessage(Error error, const frontend::fixup::FixupTarget& target,
                                               std::uint16_t width, WideValue value) {
  // Each message: lead, the quoted target, its value when shown, middle, the
  // width in bits, tail.
  struct Shape {
    Error error;
    std::string_view lead;
    bool shows_value;
    std::string_view middle;
    std::string_view tail;
  };
  static constexpr Shape kShapes[] = {
      {Error::RelativeFixupOutOfRange, "PC-relative fixup target ", true, " does not fit the signed ",
       "-bit displacement"},
      {Error::SignedFixupOutOfRange, "fixup target ", true, " does not fit the signed ", "-bit field"},
      {Error::UnsignedFixupOutOfRange, "fixup target ", true, " does not fit the unsigned ", "-bit field"},
      {Error::WrapFixupOutOfRange, "fixup target ", true, " does not fit the signed-or-unsigned ",
       "-bit field under wrap policy"},
      {Error::FixupAddressOverflow, "fixup target ", false, " overflows address arithmetic for its ", "-bit field"},
      {Error::FixupPatchOutOfBounds, "fixup target ", false, " writes a ", "-bit field outside the output image"},
      {Error::InvalidFixupWidth, "fixup target ", false, " uses unsupported ",
       "-bit field width; supported widths are 8, 16, 32, and 64 bits"},
  };
  const auto shape = std::ranges::find(kShapes, error, &Shape::error);
  if (shape == std::end(kShapes)) return std::nullopt;
  std::string message(shape->lead);
  message += '\'';
  message += targetText(target);
  message += '\'';
  if (shape->shows_value) {
    message += " (0x";
    message += hexText(value);
    message += ')';
  }
  message += shape->middle;
  message += std::to_string(width);
  message += shape->tail;
  return message;
}

qovrin::Status patchFixups(frontend::module::Module& module, const PatchInput& input) {
  return Patcher(module, input).run();
}

}  // namespace assembly
