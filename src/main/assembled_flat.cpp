#include "main/assembled_flat.hpp"

#include <new>
#include <string>

#include "main/diagnostics_output.hpp"

namespace qovrin::main {

Result<AssembledFlat> assembleModuleFlatChecked(std::unique_ptr<frontend::module::Module> module,
                                                StreamWriter& errors, TimingTrace& trace) {
  PrintedDiagnostics printed;
  // The count of warnings left out closes what the run printed.
  const auto printNew = [&](bool last) -> Status {
    std::string text;
    const Status appended = appendNewDiagnostics(text, *module, printed);
    if (last) appendLeftOutWarnings(text, printed.warnings);
    errors.write(text);
    return appended;
  };
  QOVRIN_TRY(printNew(module->diagnostics().hasErrors()));
  if (module->diagnostics().hasErrors()) return fail(Error::FrontendDiagnostics);

  AssemblyTimingObserver timing{0, &trace};
  const assembly::AssemblyObserver observer{
      &timing,
      [](void* context, assembly::Phase phase) noexcept {
        static_cast<AssemblyTimingObserver*>(context)->begin(static_cast<std::uint8_t>(phase));
      },
      [](void* context, assembly::Phase phase) noexcept {
        static_cast<AssemblyTimingObserver*>(context)->end(static_cast<std::uint8_t>(phase));
      },
      true};
  auto assembled = [&]() -> decltype(assembly::assembleFlat(*module, observer)) {
    try {
      return assembly::assembleFlat(*module, observer);
    } catch (const std::bad_alloc&) {
      return fail(Error::OutOfMemory);
    }
  }();
  const Status printedAfter = printNew(true);
  if (!assembled) return fail(printedAfter ? assembled.error() : printedAfter.error());
  QOVRIN_TRY(printedAfter);
  if (module->diagnostics().hasErrors()) return fail(Error::FrontendDiagnostics);
  return AssembledFlat{std::move(module), std::move(*assembled)};
}

}  // namespace qovrin::main
