#include "api_test_support.hpp"

#include <gtest/gtest.h>

#include <variant>

namespace api_test {

namespace fragment = frontend::fragment;

std::string sectionContent(const frontend::module::Module& module, std::uint32_t section) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  const auto separate = [&out] {
    if (!out.empty()) out += ' ';
  };
  for (const std::uint32_t index : module.sections()[section].fragments) {
    const fragment::Fragment& piece = module.fragments()[index];
    if (const auto* reserve = std::get_if<fragment::Reserve>(&piece.payload)) {
      separate();
      out += "r" + std::to_string(reserve->size);
    } else if (const auto* alignment = std::get_if<fragment::Alignment>(&piece.payload)) {
      separate();
      out += "a" + std::to_string(alignment->alignment) + "/" + std::to_string(alignment->fill);
    } else if (const auto* line = piece.instruction()) {
      separate();
      out += "[" + line->text + "]";
    } else {
      for (const std::uint8_t byte : piece.bytes()->data) {
        separate();
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
      }
    }
  }
  return out;
}

std::vector<std::string> allDiagnostics(const frontend::module::Module& module) {
  static constexpr const char* kSeverities[] = {"note", "warning", "error"};
  std::vector<std::string> out;
  for (const auto& diagnostic : module.diagnostics().diagnostics()) {
    const auto& span = diagnostic.location.span;
    std::size_t line = 1;
    std::size_t line_start = 0;
    const std::string& text = module.sources()[span.source.value_or(0)].text;
    for (std::size_t index = 0; index < span.start && index < text.size(); ++index) {
      if (text[index] != '\n') continue;
      ++line;
      line_start = index + 1;
    }
    out.push_back("main.qov:" + std::to_string(line) + ":" + std::to_string(span.start - line_start + 1) + ": " +
                  kSeverities[static_cast<int>(diagnostic.severity)] + ": " + diagnostic.message);
  }
  return out;
}

void expectCases(const std::vector<Case>& cases, const lower_test::Files& files) {
  for (const Case& test : cases) {
    SCOPED_TRACE(test.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    lower_test::Files copy = files;
    const auto lowered = lower_test::lower(module, test.source, copy);
    EXPECT_EQ(lowered.status.has_value(), test.succeeds);
    EXPECT_EQ(allDiagnostics(module), test.diagnostics);
    if (test.succeeds) {
      EXPECT_EQ(sectionContent(module, module.currentSection()), test.content);
    }
  }
}

}  // namespace api_test
