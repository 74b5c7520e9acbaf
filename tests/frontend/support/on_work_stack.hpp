#pragma once
// Runs a test's deep recursion on a thread with the stack the program gives
// its own work, so that the test measures against that stack rather than the
// one the test runner was started with (8 MiB is too little for the
// sanitizers' optimised frames, while the program never runs on it).

#include <pthread.h>

#include <functional>

#include "common/work_stack.hpp"

namespace frontend::testing {

// False when no such thread could be started; then `work` has not run.
inline bool runOnWorkStack(const std::function<void()>& work) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread{};
  const auto body = [](void* job) -> void* {
    (*static_cast<const std::function<void()>*>(job))();
    return nullptr;
  };
  const bool started = ::pthread_attr_setstacksize(&attributes, qovrin::kWorkStackBytes) == 0 &&
                       ::pthread_create(&thread, &attributes, body, const_cast<std::function<void()>*>(&work)) == 0;
  ::pthread_attr_destroy(&attributes);
  if (started) ::pthread_join(thread, nullptr);
  return started;
}

}  // namespace frontend::testing
