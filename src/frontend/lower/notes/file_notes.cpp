#include "frontend/lower/notes/file_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "data/toml_parser.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/meta_std/digest_library.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/meta_std/meta_std.hpp"

namespace frontend::lower::file_notes {

using diagnostic::Note;
using expr::Node;
using failure_asking::Asking;
using failure_asking::oneNote;
using failure_asking::quoted;
using failure_asking::failingCall;
using failure_asking::integerArgument;
using failure_asking::stringArgument;

namespace {

// The path that a file builtin of the statement was given and could not read.
std::optional<std::string> failingBuiltinPath(const Asking& asking, const std::vector<const Node*>& nodes) {
  const Node* call =
      failingCall(asking, nodes,
                  {"fs.read_bytes", "fs.read_text", "json.file", "toml.file", "fs.list_dir", "fs.exists", "fs.is_dir"});
  return call != nullptr ? stringArgument(asking, *call, 0) : std::nullopt;
}

// "line 2, column 5" of a text, at a byte offset.
std::string placeIn(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t start = 0;
  for (std::size_t at = 0; at < offset && at < text.size(); ++at) {
    if (text[at] != '\n' && (text[at] != '\r' || (at + 1 < text.size() && text[at + 1] == '\n'))) continue;
    ++line;
    start = at + 1;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - start + 1);
}

// The text a json.file or toml.file call read, as it read it.
std::optional<std::string> fileDocument(const Asking& asking, const std::string& path) {
  const meta_io::MetaFileHooks& files = asking.context.file_hooks;
  if (!files.available || !files.read) return std::nullopt;
  const auto bytes = files.read(path, files.base_path, std::nullopt, meta_std::kMaxResultBytes);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

}  // namespace

// A window of fs.read_bytes or emit.file that does not lie inside its file:
// the file's size.
std::vector<Note> windowNotes(const Asking& asking, const ast::Statement& statement,
                              const std::vector<const Node*>& nodes) {
  const meta_io::MetaFileHooks& files = asking.context.file_hooks;
  if (!files.available || !files.read) return {};
  std::optional<std::string> path;
  std::optional<std::uint64_t> offset;
  std::optional<std::uint64_t> length;
  const auto* emitted = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (emitted != nullptr && emitted->name == "emit.file" && emitted->arguments.size() == 3) {
    const auto integer = [&](std::size_t index) -> std::optional<std::uint64_t> {
      const auto value = root::integerArgAtContext(asking.module, asking.context, asking.cursor, *emitted, index);
      return value ? std::optional(*value) : std::nullopt;
    };
    if (auto written = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *emitted, 0))
      path = std::move(*written);
    offset = integer(1);
    length = integer(2);
  } else if (const Node* call = failingCall(asking, nodes, {"fs.read_bytes"});
             call != nullptr && call->arguments().size() == 3) {
    path = stringArgument(asking, *call, 0);
    offset = integerArgument(asking, *call, 1);
    length = integerArgument(asking, *call, 2);
  }
  if (!path || !offset || !length) return {};
  const auto whole = files.read(*path, files.base_path, std::nullopt, meta_std::kMaxResultBytes);
  if (!whole) return {};
  return oneNote("the window of " + std::to_string(*length) + " bytes at offset " + std::to_string(*offset) +
                 " does not lie inside " + quoted(*path) + ", which holds " + std::to_string(whole->size()) +
                 " bytes");
}

// A digest builtin that failed because libcrypto could not be loaded.
std::vector<Note> digestNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  if (meta_std::digest_library::digestCalls() != nullptr) return {};
  const Node* call = failingCall(asking, nodes, {"crypto.sha1", "crypto.sha256"});
  if (call == nullptr) return {};
  std::string cause;
  qovrin::appendPrintable(cause, meta_std::digest_library::loadFailure());
  return oneNote(quoted(call->text()) + " needs " + meta_std::digest_library::libraryName() +
                 ", which could not be loaded: " + cause);
}

// Where json.parse or toml.parse stopped in the text it was given, or
// json.file or toml.file in the file it read.
std::vector<Note> documentNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  const Node* call = failingCall(asking, nodes, {"json.parse", "toml.parse", "json.file", "toml.file"});
  auto document = call != nullptr ? stringArgument(asking, *call, 0) : std::nullopt;
  if (!document) return {};
  const bool in_file = call->text().ends_with(".file");
  const std::string of = in_file ? " of " + quoted(*document) + ": " : " of its text: ";
  if (in_file) document = fileDocument(asking, *document);
  if (!document) return {};
  const std::string prefix = quoted(call->text()) + " stopped at ";
  if (call->text().starts_with("json.")) {
    const auto offset = meta_data::jsonStopOffset(*document);
    if (!offset) return {};
    std::string what = "the text ends where JSON needs more";
    if (*offset < document->size()) {
      what = "'";
      qovrin::appendPrintable(what, std::string_view(*document).substr(*offset, 1));
      what += "' cannot stand there";
    }
    return oneNote(prefix + placeIn(*document, *offset) + of + what);
  }
  data::toml_parser::TextPosition at;
  const auto parsed = data::toml_parser::parse(*document, &at);
  if (parsed) return {};
  return oneNote(prefix + "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + of +
                 data::toml_parser::describeFailure(parsed.error(), *document, at));
}

std::vector<Note> fileNotes(const Asking& asking, const ast::Statement& statement, const std::vector<const Node*>& nodes) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  std::optional<std::string> name;
  if (call != nullptr && !call->arguments.empty() &&
      (call->name == "include" || call->name == "import" || call->name == "emit.file")) {
    auto written = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
    if (written) name = std::string(*written);
  } else {
    name = failingBuiltinPath(asking, nodes);
  }
  if (!name) return {};
  if (!asking.context.paths.files_available)
    return {{quoted(*name) + " cannot be read: file access is not available here", std::nullopt}};
  contracts::IncludeRequest request;
  request.name = *name;
  if (!asking.context.include_stack.empty()) request.base = asking.context.include_stack.back().path;
  if (asking.context.paths.unreadable_include)
    if (const auto cause = asking.context.paths.unreadable_include(request))
      return oneNote(quoted(*name) + " cannot be read: " + *cause);
  std::vector<std::string> folders;
  if (asking.context.paths.include_folders) folders = asking.context.paths.include_folders(request);
  if (folders.empty()) return {{quoted(*name) + " cannot be read", std::nullopt}};
  std::string note = quoted(*name) + " was not found; searched ";
  for (std::size_t index = 0; index < folders.size(); ++index) {
    if (index > 0) note += ", ";
    note += folders[index];
  }
  return {{note, std::nullopt}};
}

// The sources being read when an include names one of them again.
std::vector<Note> cycleNotes(const Asking& asking, const ast::Statement& statement) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  const auto& stack = asking.context.include_stack;
  if (call == nullptr || call->arguments.empty() || stack.empty()) return {};
  const auto name = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
  if (!name) return {};
  std::string chain;
  for (const context::IncludeFrame& frame : stack) {
    if (!chain.empty()) chain += ", which includes ";
    chain += quoted(frame.path);
  }
  return oneNote("a source cannot include itself: " + chain + (stack.size() > 1 ? ", which includes " : " includes ") +
                 quoted(*name) + " again");
}

}  // namespace frontend::lower::file_notes
