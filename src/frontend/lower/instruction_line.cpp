// Instruction lines: lowered to the text the encoders read, appended as an
// instruction fragment and encoded at once, so that the cursor, the labels
// after it and every position read later see its true size.

#include <algorithm>

#include "frontend/lower/isa_lowering.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/statement_cases.hpp"
#include "frontend/pass.hpp"

namespace frontend::lower::statement_cases {

using qovrin::Error;
using qovrin::fail;

namespace {

// Moves the cursor past an instruction of size bytes: it lands in the file
// after any reserve before it.
qovrin::Status advanceOverInstruction(contracts::ActiveOutput& cursor, std::uint64_t size) {
  std::uint64_t offset = 0;
  std::uint64_t file_cursor = 0;
  if (__builtin_add_overflow(cursor.offset, size, &offset) ||
      __builtin_add_overflow(std::max(cursor.offset, cursor.file_cursor), size, &file_cursor))
    return fail(Error::OffsetOverflow);
  cursor.offset = offset;
  cursor.file_cursor = file_cursor;
  return {};
}

}  // namespace

qovrin::Status lowerInstructionLine(Lowering& lowering, const ast::IsaTextStatement& line) {
  contracts::ActiveOutput& cursor = lowering.cursor;
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  const auto text = isa_lowering::lowerText(lowering.module, lowering.context, cursor, line.text);
  if (!text) return fail(text.error());
  const auto index = lowering.module.appendIsaInstruction(cursor.section, cursor.target, *text, line.location);
  if (!index) return fail(index.error());
  std::uint64_t size = 0;
  if (frontend::pass::settleInstruction(lowering.module, *index))
    size = lowering.module.fragments()[*index].instruction()->encoded.size();
  return advanceOverInstruction(cursor, size);
}

}  // namespace frontend::lower::statement_cases
