// Instruction lines: lowered to the text the encoders read and encoded at
// once, as an instruction fragment or a line of the open run, so that the
// cursor, the labels after it and every position read later see its true
// size.

#include <utility>

#include "frontend/encode/pass.hpp"
#include "frontend/lower/isa_lowering.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/operand_line.hpp"
#include "frontend/lower/statement_cases.hpp"

namespace frontend::lower::statement_cases {

using qovrin::fail;

qovrin::Status lowerInstructionLine(Lowering& lowering, const ast::IsaTextStatement& line) {
  contracts::ActiveOutput& cursor = lowering.cursor;
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  const bool spirv = cursor.target.isa == target::Isa::spirv;
  const std::string_view written = line.textFor(spirv);
  auto text = operand_line::lowerOperandLine(lowering.module, lowering.context, cursor, written);
  if (!text) return fail(text.error());
  if (!*text) {
    auto plain = isa_lowering::lowerText(lowering.module, lowering.context, cursor, written,
                                         line.plain && !(spirv && line.spirv_apart));
    if (!plain) return fail(plain.error());
    *text = std::move(*plain);
  }
  // A line of a macro body belongs to the expansion being lowered, so that a
  // failure found when it is encoded leads back to the invocation.
  const SourceLocation location = lowering.module.diagnostics().inCurrentExpansion(line.locationFor(spirv));
  // The module keeps its own copy of the characters, or a view into the
  // source for a line that lowering left as written.
  const std::string_view lowered = *text ? std::string_view(**text) : written;
  const auto size = frontend::pass::appendSettledInstruction(lowering.module, cursor.section, cursor.target, lowered,
                                                             location, lowering.context.x86_matches.get());
  if (!size) return fail(size.error());
  return layout_cursor::advanceActiveOutputBy(cursor, *size);
}

}  // namespace frontend::lower::statement_cases
