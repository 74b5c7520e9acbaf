#include "frontend/syntax/source_path.hpp"

#include <vector>

#include "frontend/syntax/identifier.hpp"

namespace frontend::source_path {
namespace {

// Components that survive "." and ".." folding, plus the ".." steps that
// climb above a relative start.
struct Folded {
  std::size_t climbs = 0;
  std::vector<std::string_view> kept;
};

template <typename IsSeparator>
Folded fold(std::string_view rest, bool rooted, IsSeparator isSeparator) {
  Folded folded;
  std::size_t index = 0;
  while (index <= rest.size()) {
    std::size_t end = index;
    while (end < rest.size() && !isSeparator(rest[end])) ++end;
    const std::string_view component = rest.substr(index, end - index);
    index = end + 1;
    if (component.empty() || component == ".") continue;
    if (component != "..") {
      folded.kept.push_back(component);
    } else if (!folded.kept.empty()) {
      folded.kept.pop_back();
    } else if (!rooted) {
      ++folded.climbs;
    }
  }
  return folded;
}

void join(std::string& out, const Folded& folded, char separator) {
  bool first = true;
  const auto append = [&](std::string_view component) {
    if (!first) out.push_back(separator);
    out.append(component);
    first = false;
  };
  for (std::size_t climb = 0; climb < folded.climbs; ++climb) append("..");
  for (const std::string_view component : folded.kept) append(component);
}

std::string normalizePosix(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  const Folded folded = fold(path, absolute, [](char c) { return c == '/'; });
  std::string out;
  if (absolute) out.push_back('/');
  join(out, folded, '/');
  if (out.empty()) out.push_back('.');
  return out;
}

constexpr bool isWindowsSeparator(char c) noexcept { return c == '/' || c == '\\'; }

bool hasDrive(std::string_view path) noexcept {
  return path.size() >= 2 && identifier::isAsciiLetter(path[0]) && path[1] == ':';
}

std::string_view runUntilSeparator(std::string_view text, std::size_t& index) noexcept {
  const std::size_t start = index;
  while (index < text.size() && !isWindowsSeparator(text[index])) ++index;
  return text.substr(start, index - start);
}

std::string normalizeWindows(std::string_view path) {
  std::string out;
  std::size_t index = 0;
  bool rooted = false;
  const bool double_separator = path.size() >= 2 && isWindowsSeparator(path[0]) && isWindowsSeparator(path[1]);
  if (hasDrive(path)) {
    const char letter = path[0];
    out.push_back(letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter);
    out.push_back(':');
    index = 2;
    rooted = index < path.size() && isWindowsSeparator(path[index]);
    if (rooted) out.push_back('\\');
  } else if (double_separator && path.size() >= 3 && (path[2] == '.' || path[2] == '?')) {
    out.append("\\\\").push_back(path[2]);
    index = 3;
    rooted = true;
  } else if (double_separator) {
    // UNC root: server and share name, either of which may be missing.
    out.append("\\\\");
    index = 2;
    out.append(runUntilSeparator(path, index));
    if (index < path.size()) {
      ++index;
      const std::string_view share = runUntilSeparator(path, index);
      if (!share.empty()) out.append("\\").append(share);
    }
    rooted = true;
  } else if (!path.empty() && isWindowsSeparator(path[0])) {
    out.push_back('\\');
    index = 1;
    rooted = true;
  }

  const Folded folded = fold(path.substr(index), rooted, isWindowsSeparator);
  const bool needs_separator =
      !out.empty() && out.back() != '\\' && out.back() != ':' && (folded.climbs != 0 || !folded.kept.empty());
  if (needs_separator) out.push_back('\\');
  join(out, folded, '\\');
  if (out.empty()) out.push_back('.');
  return out;
}

}  // namespace

std::string normalizeIdentity(std::string_view path) {
  const bool windows = !path.starts_with('/') && (path.find('\\') != std::string_view::npos || hasDrive(path));
  return windows ? normalizeWindows(path) : normalizePosix(path);
}

}  // namespace frontend::source_path
