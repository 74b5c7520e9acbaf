#pragma once
// The caller's view of assembly's progress: begin and end around each phase,
// in phase order, end also when the phase fails. The driver times the phases
// through it; the callbacks run on the assembling thread and cannot fail.

#include <cstdint>
#include <string_view>

namespace assembly {

enum class Phase : std::uint8_t {
  encode = 0,
  fixup_resolve = 1,
  layout = 2,
  materialize = 3,
  patch = 4,
  defer_finalizers = 5,
};

inline constexpr std::uint8_t kPhaseCount = 6;

struct AssemblyObserver {
  void* context = nullptr;
  void (*begin)(void* context, Phase phase) noexcept = nullptr;
  void (*end)(void* context, Phase phase) noexcept = nullptr;
  bool enabled = false;  // no calls at all when clear
};

// Reports begin on construction and end on destruction, so a phase left
// through a failure still gets its end.
class PhaseScope {
 public:
  PhaseScope(const AssemblyObserver& observer, Phase phase) noexcept : observer_(observer), phase_(phase) {
    if (observer_.enabled && observer_.begin != nullptr) observer_.begin(observer_.context, phase_);
  }
  ~PhaseScope() {
    if (observer_.enabled && observer_.end != nullptr) observer_.end(observer_.context, phase_);
  }
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;

 private:
  const AssemblyObserver& observer_;
  Phase phase_;
};

}  // namespace assembly
