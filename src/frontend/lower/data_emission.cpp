#include "frontend/lower/data_emission.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <string>
#include <vector>

#include "common/little_endian.hpp"
#include "frontend/encode/pass.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/lower/arguments.hpp"
#include "frontend/lower/expression_materialization.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/output_target.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/values/value_pack.hpp"

namespace frontend::lower::data_emission {

using qovrin::Error;
using qovrin::fail;

namespace {

constexpr std::uint64_t kMaxDataUnit = 64;

// The bytes of a string or byte-string value; null for any other kind.
std::span<const std::uint8_t> storedBytesOf(const value::Value& value) noexcept {
  if (const auto* text = value.asString()) return {reinterpret_cast<const std::uint8_t*>(text->data()), text->size()};
  if (const auto* bytes = value.asBytes()) return *bytes;
  return {};
}

bool holdsBytes(const value::Value& value) noexcept {
  return value.asString() != nullptr || value.asBytes() != nullptr;
}

// How many more bytes the section can store at the cursor before the output
// file passes the image cap; OutputTooLarge when it already has. Virtual
// sections store nothing in the image, so nothing bounds them.
qovrin::Result<std::uint64_t> imageRoom(const module::Module& module, const contracts::ActiveOutput& cursor) {
  if (!module.sections().contains(cursor.section)) return fail(Error::InvalidSection);
  const section::Section& section = module.sections()[cursor.section];
  if (section.kind == section::SectionKind::virtual_region) return std::numeric_limits<std::uint64_t>::max();
  std::uint64_t end = 0;
  if (__builtin_add_overflow(section.file_offset, std::max(cursor.offset, cursor.file_cursor), &end) ||
      end > module::kMaxImageSize)
    return fail(Error::OutputTooLarge);
  return module::kMaxImageSize - end;
}

// Checked before the bytes are made.
qovrin::Status requireImageRoom(const module::Module& module, const contracts::ActiveOutput& cursor,
                                std::uint64_t stored) {
  const auto room = imageRoom(module, cursor);
  if (!room) return fail(room.error());
  if (stored > *room) return fail(Error::OutputTooLarge);
  return {};
}

qovrin::Status emitData(module::Module& module, contracts::ActiveOutput& cursor, std::span<const std::uint8_t> bytes,
                        const ast::ApiCallStatement& call) {
  QOVRIN_TRY(requireImageRoom(module, cursor, bytes.size()));
  QOVRIN_TRY(module.emitDataLine(cursor.section, bytes, call.location));
  return layout_cursor::advanceActiveOutputBy(cursor, bytes.size());
}

// The optional fill byte of pad, pad_to and align, in the range db takes
// (-1 fills FF).
qovrin::Result<std::uint8_t> fillArgument(module::Module& module, context::LowerContext& context,
                                          const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  if (call.arguments.size() < 2) return std::uint8_t{0};
  const auto fill = root::integerArgAtContext(module, context, cursor, call, 1);
  if (!fill) return fail(fill.error());
  if (!qovrin::fitsIntegerWidth(*fill, 1)) return fail(Error::InvalidApiInteger);
  return static_cast<std::uint8_t>(*fill);
}

qovrin::Status requireOneOrTwoArguments(const ast::ApiCallStatement& call) noexcept {
  if (call.arguments.empty() || call.arguments.size() > 2) return fail(Error::InvalidApiArity);
  return {};
}

// The bytes of one data line. Lines of up to a few hundred bytes, the usual
// ones, stay on the stack: a line of 16 values outgrew a SmallBytes and made a
// heap block each, 3.5% of the instructions of 100k such lines (callgrind,
// bench/data_throughput.py's shape).
class LineBytes {
 public:
  // Room for count more bytes at the end, to be written by the caller.
  std::span<std::uint8_t> extend(std::size_t count) {
    if (heap_.empty() && count <= local_.size() - size_) {
      size_ += count;
      return std::span(local_).subspan(size_ - count, count);
    }
    return extendOnHeap(count);
  }
  void append(std::span<const std::uint8_t> bytes) { std::ranges::copy(bytes, extend(bytes.size()).begin()); }
  std::span<const std::uint8_t> view() const noexcept {
    return heap_.empty() ? std::span<const std::uint8_t>(local_).first(size_) : std::span<const std::uint8_t>(heap_);
  }

 private:
  [[gnu::noinline]] std::span<std::uint8_t> extendOnHeap(std::size_t count) {
    if (heap_.empty()) heap_.assign(local_.begin(), local_.begin() + static_cast<std::ptrdiff_t>(size_));
    heap_.resize(heap_.size() + count);
    return std::span(heap_).last(count);
  }

  std::array<std::uint8_t, 256> local_;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> heap_;  // every byte, once the line outgrew local_
};

// value as width little-endian bytes (1 to 64; InvalidApiArgument otherwise).
// Below 8 bytes the value must fit, unsigned or as a negative number's two's
// complement (InvalidApiInteger); above 8 the bytes past the eighth are zero.
qovrin::Status appendIntegerBytes(LineBytes& out, std::uint64_t value, std::uint64_t width) {
  if (width == 0 || width > kMaxDataUnit) return fail(Error::InvalidApiArgument);
  if (!qovrin::fitsIntegerWidth(value, width)) return fail(Error::InvalidApiInteger);
  const std::span<std::uint8_t> room = out.extend(width);
  qovrin::writeLittleEndian(room, value);
  if (width > 8) std::ranges::fill(room.subspan(8), std::uint8_t{0});
  return {};
}

}  // namespace

qovrin::Status advancePast(module::Module& module, contracts::ActiveOutput& cursor,
                           const qovrin::Result<std::uint32_t>& appended) {
  if (!appended) return fail(appended.error());
  return layout_cursor::advanceActiveOutput(cursor, module.fragments()[*appended]);
}

qovrin::Status lowerIntegerEmitCall(module::Module& module, context::LowerContext& context,
                                    contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                    std::uint64_t width) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  const auto word = root::integerArgAtContext(module, context, cursor, call, 0);
  if (!word) return fail(word.error());
  if (!qovrin::fitsIntegerWidth(*word, width)) return fail(Error::InvalidApiInteger);
  std::array<std::uint8_t, 8> bytes{};
  qovrin::writeLittleEndian(bytes, *word);
  return emitData(module, cursor, std::span(bytes).first(width), call);
}

qovrin::Status lowerBytesEmitCall(module::Module& module, context::LowerContext& context,
                                  contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  const auto data = root::valueArgAtContext(module, context, cursor, call, 0);
  if (!data) return fail(data.error());
  if (!holdsBytes(*data)) return fail(Error::InvalidApiArgument);
  return emitData(module, cursor, storedBytesOf(*data), call);
}

qovrin::Status lowerStructEmitCall(module::Module& module, context::LowerContext& context,
                                   contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  const auto structure = root::valueArgAtContext(module, context, cursor, call, 0);
  if (!structure) return fail(structure.error());
  const auto image = root::emitStructValue(module, *structure);
  if (!image) return fail(image.error());
  return emitData(module, cursor, *image, call);
}

qovrin::Status lowerReserveCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                                const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  const auto size = root::integerArgAtContext(module, context, cursor, call, 0);
  if (!size) return fail(size.error());
  return advancePast(module, cursor, module.reserve(cursor.section, *size, call.location));
}

qovrin::Status lowerPadCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                            const ast::ApiCallStatement& call, bool to_target) {
  QOVRIN_TRY(requireOneOrTwoArguments(call));
  contracts::ActiveOutput synced = cursor;
  QOVRIN_TRY(expression_materialization::syncActiveOutput(module, synced));
  auto count = root::integerArgAtContext(module, context, synced, call, 0);
  if (!count) return fail(count.error());
  const auto fill = fillArgument(module, context, synced, call);
  if (!fill) return fail(fill.error());
  if (to_target) {
    // Padding runs to the furthest point so far, in memory or in the file.
    const std::uint64_t reached = std::max(synced.offset, synced.file_cursor);
    if (*count < reached) return fail(Error::InvalidApiInteger);
    *count -= reached;
  }
  // Counts past the per-call limit are refused by the module as they were.
  if (*count <= module::kMaxRepeatedBytes) QOVRIN_TRY(requireImageRoom(module, synced, *count));
  QOVRIN_TRY(advancePast(module, synced, module.emitRepeatedByte(synced.section, *fill, *count, call.location)));
  cursor = synced;
  return {};
}

qovrin::Status lowerAlignCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                              const ast::ApiCallStatement& call) {
  QOVRIN_TRY(requireOneOrTwoArguments(call));
  contracts::ActiveOutput synced = cursor;
  QOVRIN_TRY(expression_materialization::syncActiveOutput(module, synced));
  const auto alignment = root::integerArgAtContext(module, context, synced, call, 0);
  if (!alignment) return fail(alignment.error());
  if (!std::has_single_bit(*alignment)) return fail(Error::InvalidAlignment);
  const auto fill = fillArgument(module, context, synced, call);
  if (!fill) return fail(fill.error());
  const std::uint64_t start = std::max(synced.offset, synced.file_cursor);
  if (const auto aligned = layout_cursor::alignForward(start, *alignment))
    QOVRIN_TRY(requireImageRoom(module, synced, *aligned - start));
  QOVRIN_TRY(advancePast(module, synced, module.addAlignment(synced.section, *alignment, *fill, call.location)));
  cursor = synced;
  return {};
}

qovrin::Status lowerStoreCall(module::Module& module, context::LowerContext& context,
                              const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                              std::optional<std::uint64_t> width) {
  QOVRIN_TRY(root::requireArgCount(call, 2));
  QOVRIN_TRY(expression_materialization::forOutputAccess(module));
  const auto target = root::outputStoreTargetAtContext(module, context, cursor, call, 0);
  if (!target) return fail(target.error());
  if (width) {
    const auto word = root::integerArgAtContext(module, context, cursor, call, 1);
    if (!word) return fail(word.error());
    return module.storeIntegerAt(target->section, target->address, *word, *width);
  }
  const auto data = root::valueArgAtContext(module, context, cursor, call, 1);
  if (!data) return fail(data.error());
  if (!holdsBytes(*data)) return fail(Error::InvalidApiArgument);
  return module.storeBytesAt(target->section, target->address, storedBytesOf(*data));
}

}  // namespace frontend::lower::data_emission

namespace frontend::lower::root {

using data_emission::advancePast;
using qovrin::Error;
using qovrin::fail;

qovrin::Status lowerDataEmitCall(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                 std::uint64_t unit) {
  if (call.arguments.empty()) return fail(Error::InvalidApiArity);
  // A line of one literal that fits its unit, the commonest data line, is
  // written from a word: making and dropping the line buffer for it was a
  // twentieth of the lowering of a `db(1)` line (callgrind,
  // bench/data_throughput.py).
  if (const expr::Node* literal = call.arguments.size() == 1 ? call.arguments.front().expression() : nullptr;
      literal != nullptr && literal->kind() == expr::NodeKind::integer && unit <= 8 &&
      qovrin::fitsIntegerWidth(literal->integer(), unit)) {
    std::array<std::uint8_t, 8> word;
    qovrin::writeLittleEndian(word, literal->integer());
    return data_emission::emitData(module, cursor, std::span(word).first(unit), call);
  }
  data_emission::LineBytes bytes;
  // Held apart from the vector, whose bounds every byte written would
  // otherwise make the compiler load again.
  const std::span<const ast::ApiCallArgument> arguments = call.arguments;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    // A literal is its own value: nothing to evaluate.
    if (const expr::Node* literal = arguments[index].expression();
        literal != nullptr && literal->kind() == expr::NodeKind::integer) {
      // Most values are literals that fit their unit. Written in place rather
      // than through the checked append, 100k lines of 16 of them took 3%
      // fewer instructions (callgrind).
      if (const std::uint64_t value = literal->integer(); unit <= 8 && qovrin::fitsIntegerWidth(value, unit))
        qovrin::writeLittleEndian(bytes.extend(unit), value);
      else
        QOVRIN_TRY(data_emission::appendIntegerBytes(bytes, value, unit));
      continue;
    }
    if (unit == 1) {
      // Only db takes text: its strings and byte strings go in as written.
      const auto item = valueArgAtContext(module, context, cursor, call, index);
      if (!item) return fail(item.error());
      if (data_emission::holdsBytes(*item)) {
        const auto stored = data_emission::storedBytesOf(*item);
        bytes.append(stored);
        continue;
      }
      const auto* integer = item->asInteger();
      if (integer == nullptr) {
        context.refused = context::RefusedValue{call.location, index, item->kind()};
        return fail(Error::InvalidApiArgument);
      }
      QOVRIN_TRY(data_emission::appendIntegerBytes(bytes, integer->word, unit));
      continue;
    }
    const auto word = integerArgAtContext(module, context, cursor, call, index);
    if (!word) return fail(word.error());
    QOVRIN_TRY(data_emission::appendIntegerBytes(bytes, *word, unit));
  }
  return data_emission::emitData(module, cursor, bytes.view(), call);
}

qovrin::Status lowerFloatEmitCall(module::Module& module, context::LowerContext& context,
                                  contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                  std::uint64_t unit) {
  QOVRIN_TRY(requireArgCount(call, 1));
  const auto number = valueArgAtContext(module, context, cursor, call, 0);
  if (!number) return fail(number.error());
  std::array<std::uint8_t, 8> bytes{};
  if (const auto* single = number->getIf<float>(); single != nullptr && unit == 4)
    qovrin::writeLittleEndian(bytes, std::bit_cast<std::uint32_t>(*single));
  else if (const auto* twice = number->getIf<double>(); twice != nullptr && unit == 8)
    qovrin::writeLittleEndian(bytes, std::bit_cast<std::uint64_t>(*twice));
  else {
    context.refused = context::RefusedValue{call.location, 0, number->kind()};
    return fail(Error::InvalidApiArgument);
  }
  return data_emission::emitData(module, cursor, std::span(bytes).first(unit), call);
}

qovrin::Status lowerDataReserveCall(module::Module& module, context::LowerContext& context,
                                    contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                    std::uint64_t unit) {
  QOVRIN_TRY(requireArgCount(call, 1));
  const auto count = integerArgAtContext(module, context, cursor, call, 0);
  if (!count) return fail(count.error());
  std::uint64_t size = 0;
  if (__builtin_mul_overflow(*count, unit, &size)) return fail(Error::InvalidApiInteger);
  return advancePast(module, cursor, module.reserve(cursor.section, size, call.location));
}

qovrin::Status lowerFileEmitCall(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  if (call.arguments.size() != 1 && call.arguments.size() != 3) return fail(Error::InvalidApiArity);
  const auto path = sourcePathArgAtContext(module, context, cursor, call, 0);
  if (!path) return fail(path.error());
  std::optional<meta_data::ByteWindow> window;
  if (call.arguments.size() == 3) {
    const auto offset = integerArgAtContext(module, context, cursor, call, 1);
    if (!offset) return fail(offset.error());
    const auto length = integerArgAtContext(module, context, cursor, call, 2);
    if (!length) return fail(length.error());
    window = meta_data::ByteWindow{*offset, *length};
  }
  if (!context.paths.files_available) return fail(Error::FileNotAvailable);
  // The file's size decides before it is read whether the image can take it.
  const auto room = data_emission::imageRoom(module, cursor);
  if (!room) return fail(room.error());
  if (window && window->length > *room) return fail(Error::OutputTooLarge);
  const auto content = meta_data::readBytes(context.file_hooks, *path, window, *room);
  if (!content) return fail(content.error());
  return data_emission::emitData(module, cursor, *content, call);
}

qovrin::Status lowerIsaCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                            const ast::ApiCallStatement& call) {
  QOVRIN_TRY(requireArgCount(call, 1));
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  const auto text = valueArgAtContext(module, context, cursor, call, 0);
  if (!text) return fail(text.error());
  const std::string* line = text->asString();
  // One call is one instruction line.
  if (line == nullptr || line->empty() || line->find_first_of("\r\n") != std::string::npos)
    return fail(Error::InvalidApiArgument);
  const auto size = pass::appendSettledInstruction(module, cursor.section, cursor.target, *line,
                                                   module.diagnostics().inCurrentExpansion(call.location),
                                                   context.x86_matches.get());
  if (!size) return fail(size.error());
  return layout_cursor::advanceActiveOutputBy(cursor, *size);
}

qovrin::Result<value::Bytes> emitStructValue(const module::Module& module, const value::Value& structure) {
  const value::StructValue* aggregate = structure.asStruct();
  if (aggregate == nullptr) return fail(Error::InvalidApiArgument);
  return value::packStructValue(module.types(), *aggregate);
}

}  // namespace frontend::lower::root
