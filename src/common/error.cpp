#include "common/error.hpp"

#include <array>

namespace qovrin {
namespace {

constexpr std::array kErrorNames = {
#define QOVRIN_ERROR_TEXT(name) std::string_view(#name),
    QOVRIN_ERROR_NAMES(QOVRIN_ERROR_TEXT)
#undef QOVRIN_ERROR_TEXT
};

}  // namespace

std::string_view errorName(Error error) noexcept {
  const auto index = static_cast<std::size_t>(error);
  return index < kErrorNames.size() ? kErrorNames[index] : std::string_view("UnknownError");
}

}  // namespace qovrin
