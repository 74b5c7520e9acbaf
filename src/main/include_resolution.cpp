#include "main/include_resolution.hpp"

#include <algorithm>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "main/platform.hpp"

namespace qovrin::main {
namespace {

bool isSeparator(char c) noexcept { return c == '/' || c == '\\'; }

// The system reads a name only up to its first NUL byte, so such a name
// would reach another file than the one the source wrote.
bool holdsNul(std::string_view name) noexcept { return name.find('\0') != std::string_view::npos; }

// Tries each place of the search order until `attempt` gives an answer other
// than IncludeNotAvailable.
template <typename T, typename Attempt>
Result<T> searchPlaces(const IncludeRoots& roots, std::string_view name, std::optional<std::string_view> base,
                       Attempt attempt) {
  if (holdsNul(name)) return fail(Error::IncludeNotAvailable);
  if (isAbsoluteIncludeName(name)) return attempt(std::string(name));
  for (const std::string& folder : includeFolders(roots, name, base)) {
    auto found = attempt(joinPath(folder, name));
    if (found || found.error() != Error::IncludeNotAvailable) return found;
  }
  return fail(Error::IncludeNotAvailable);
}

}  // namespace

std::vector<std::string> includeFolders(const IncludeRoots& roots, std::string_view name,
                                        std::optional<std::string_view> base) {
  std::vector<std::string> folders;
  if (isAbsoluteIncludeName(name)) return folders;
  if (base) {
    const std::string beside = resolveIncludePath(*base, "");
    folders.push_back(beside);
  }
  folders.push_back(joinPath(roots.workingDir, "include"));
  if (roots.exeIncludeDir) folders.push_back(*roots.exeIncludeDir);
  return folders;
}

std::optional<IncludeRoots> buildIncludeRoots() {
  auto workingDir = platform::currentDirectory();
  if (!workingDir) return std::nullopt;
  IncludeRoots roots{std::move(*workingDir), std::nullopt};
  if (auto exeDir = platform::executableDirectory()) roots.exeIncludeDir = joinPath(*exeDir, "include");
  return roots;
}

bool isAbsoluteIncludeName(std::string_view name) noexcept {
  if (!name.empty() && isSeparator(name.front())) return true;
  return name.size() >= 3 && isAsciiLetter(name[0]) && name[1] == ':' && isSeparator(name[2]);
}

std::string joinPath(std::string_view head, std::string_view tail) {
  if (head.empty()) return std::string(tail);
  if (tail.empty()) return std::string(head);
  std::string path(head);
  const bool headEnds = head.back() == '/';
  const bool tailBegins = tail.front() == '/';
  if (headEnds && tailBegins)
    tail.remove_prefix(1);
  else if (!headEnds && !tailBegins)
    path += '/';
  path += tail;
  return path;
}

std::string resolveIncludePath(std::string_view base, std::string_view name) {
  const std::size_t separator = base.find_last_of("/\\");
  if (separator == std::string_view::npos) return std::string(name);
  // A source at the root of the file system includes from the root, not
  // from the working directory.
  if (separator == 0) return joinPath(base.substr(0, 1), name);
  return joinPath(base.substr(0, separator), name);
}

Result<ResolvedInclude> resolveFileInclude(const IncludeRoots& roots, std::string_view name,
                                           std::optional<std::string_view> base, const platform::InputRead& read) {
  return searchPlaces<ResolvedInclude>(roots, name, base, [&read](std::string candidate) -> Result<ResolvedInclude> {
    auto real = platform::realPath(candidate);
    if (!real) return fail(Error::IncludeNotAvailable);
    auto text = platform::readRegularFile(*real, read);
    if (!text) {
      const Error error = text.error();
      // The file is there: a window outside it, a size past what the caller
      // takes, or no memory for it, is the answer.
      if (error == Error::InvalidApiInteger || error == Error::OutputTooLarge || error == Error::OutOfMemory)
        return fail(error);
      return fail(Error::IncludeNotAvailable);
    }
    return ResolvedInclude{std::move(candidate), std::move(*real), std::move(*text)};
  });
}

std::optional<std::string> unreadableInclude(const IncludeRoots& roots, std::string_view name,
                                             std::optional<std::string_view> base) {
  if (holdsNul(name)) return "a file name cannot hold a NUL byte";
  const auto found = searchPlaces<std::string>(roots, name, base, [](std::string candidate) -> Result<std::string> {
    const auto cause = platform::unreadableCause(candidate);
    // The name is quoted whole before this cause; a long one is not repeated whole.
    const std::string shown = qovrin::shownSubject(candidate);
    if (!cause) {
      // A file that opens is still refused when its real path does not fit.
      const auto length = platform::realPathLength(candidate);
      if (!length || *length < platform::kPathBufferSize) return fail(Error::IncludeNotAvailable);
      return shown + ": its real path has " + std::to_string(*length) + " bytes, more than the " +
             std::to_string(platform::kPathBufferSize - 1) + " that include paths can hold";
    }
    if (cause->starts_with("is not")) return shown + " " + *cause;
    return shown + ": " + *cause;
  });
  if (found) return *found;
  // Nothing of that name where includes are looked for, but a folder of it
  // where the command runs, which the search reaches only when the including
  // file is there.
  if (!isAbsoluteIncludeName(name) && platform::existingKind(joinPath(roots.workingDir, name)) == "a folder")
    return qovrin::shownSubject(std::string(name)) +
           " in the working directory is a folder, not a file, and the working directory itself is searched only for a "
           "file included from there";
  return std::nullopt;
}

Result<std::vector<std::string>> listFileIncludeDirectory(const IncludeRoots& roots, std::string_view name,
                                                          std::optional<std::string_view> base) {
  return searchPlaces<std::vector<std::string>>(
      roots, name, base, [](const std::string& candidate) -> Result<std::vector<std::string>> {
        auto entries = platform::directoryEntries(candidate);
        if (!entries) return fail(Error::IncludeNotAvailable);
        std::stable_sort(entries->begin(), entries->end());
        return std::move(*entries);
      });
}

bool isFileIncludeDirectory(const IncludeRoots& roots, std::string_view name, std::optional<std::string_view> base) {
  const auto found = searchPlaces<bool>(roots, name, base, [](const std::string& candidate) -> Result<bool> {
    if (!platform::isDirectory(candidate)) return fail(Error::IncludeNotAvailable);
    return true;
  });
  return found.value_or(false);
}

std::optional<std::string> canonicalFileIdentity(const std::string& path) { return platform::realPath(path); }

}  // namespace qovrin::main
