#pragma once
// Lowering a source and reading back what its API calls emitted: the stored
// bytes of a section, its sizes in memory and in the file, and every
// diagnostic with its severity.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/module.hpp"
#include "lower_test_support.hpp"

namespace api_test {

// "01 00 ff": the stored bytes of the section's fragments in order;
// reserves and alignments appear as "r<size>" and "a<alignment>/<fill>".
std::string sectionContent(const frontend::module::Module& module, std::uint32_t section);

// "main.qov:1:1: note: text" for every diagnostic, in order.
std::vector<std::string> allDiagnostics(const frontend::module::Module& module);

struct Case {
  std::string source;
  std::string content;                   // of the section that is current at the end; ignored on failure
  std::vector<std::string> diagnostics = {};  // every severity
  bool succeeds = true;
};

// Lowers each case into a fresh x86-64 module with a copy of files.
void expectCases(const std::vector<Case>& cases, const lower_test::Files& files = {});

}  // namespace api_test
