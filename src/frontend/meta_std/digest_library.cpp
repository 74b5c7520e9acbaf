#include "frontend/meta_std/digest_library.hpp"

#include <dlfcn.h>

namespace frontend::meta_std::digest_library {
namespace {

template <typename Call>
bool bind(void* library, const char* name, Call& call) noexcept {
  call = reinterpret_cast<Call>(dlsym(library, name));
  return call != nullptr;
}

struct Loaded {
  DigestCalls calls;
  std::string failure;  // the loader's words; empty on success
};

std::string loaderError() {
  const char* text = dlerror();
  return text != nullptr ? std::string(text) : std::string("unknown cause");
}

Loaded load() noexcept {
  try {
    // The library the build found, by the name the dynamic linker knows it by.
    void* library = dlopen(QOVRIN_LIBCRYPTO_NAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return {{}, loaderError()};
    DigestCalls calls;
    if (bind(library, "EVP_Digest", calls.digest) && bind(library, "EVP_sha1", calls.sha1) &&
        bind(library, "EVP_sha256", calls.sha256))
      return {calls, {}};
    Loaded failed{{}, loaderError()};
    dlclose(library);
    return failed;
  } catch (...) {
    return {{}, "Cannot allocate memory"};
  }
}

const Loaded& loaded() noexcept {
  static const Loaded once = load();
  return once;
}

}  // namespace

const DigestCalls* digestCalls() noexcept {
  return loaded().calls.digest != nullptr ? &loaded().calls : nullptr;
}

const char* libraryName() noexcept { return QOVRIN_LIBCRYPTO_NAME; }

std::string_view loadFailure() noexcept { return loaded().failure; }

bool loadRanOutOfMemory() noexcept {
  // The loader maps the library's segments; without room it says so in these words.
  const std::string_view failure = loadFailure();
  return failure.find("Cannot allocate memory") != std::string_view::npos ||
         failure.find("failed to map segment") != std::string_view::npos;
}

}  // namespace frontend::meta_std::digest_library
