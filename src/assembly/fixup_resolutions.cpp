#include "assembly/fixup_resolutions.hpp"

#include <limits>

namespace assembly {

void FixupResolutions::reserve(std::size_t count) {
  values_.reserve(count);
  states_.reserve((count + kStatesPerByte - 1) / kStatesPerByte);
}

void FixupResolutions::push_back(std::optional<WideValue> target) {
  State state = State::unresolved;
  std::uint32_t value = 0;
  if (target && *target >= 0 && *target <= std::numeric_limits<std::uint32_t>::max()) {
    state = State::narrow;
    value = static_cast<std::uint32_t>(*target);
  } else if (target) {
    state = State::wide;
    value = static_cast<std::uint32_t>(wide_.size());
    wide_.push_back(*target);
  }
  const std::size_t slot = values_.size() % kStatesPerByte;
  if (slot == 0) states_.push_back(0);
  states_.back() = static_cast<std::uint8_t>(states_.back() | static_cast<unsigned>(state) << (2 * slot));
  values_.push_back(value);
}

std::optional<WideValue> FixupResolutions::target(std::size_t position) const noexcept {
  const unsigned bits = states_[position / kStatesPerByte] >> (2 * (position % kStatesPerByte));
  switch (static_cast<State>(bits & 3u)) {
    case State::narrow:
      return values_[position];
    case State::wide:
      return wide_[values_[position]];
    case State::unresolved:
      break;
  }
  return std::nullopt;
}

}  // namespace assembly
