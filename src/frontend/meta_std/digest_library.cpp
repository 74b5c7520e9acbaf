#include "frontend/meta_std/digest_library.hpp"

#include <dlfcn.h>

namespace frontend::meta_std::digest_library {
namespace {

template <typename Call>
bool bind(void* library, const char* name, Call& call) noexcept {
  call = reinterpret_cast<Call>(dlsym(library, name));
  return call != nullptr;
}

DigestCalls load() noexcept {
  // The library the build found, by the name the dynamic linker knows it by.
  void* library = dlopen(QOVRIN_LIBCRYPTO_NAME, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return {};
  DigestCalls calls;
  if (bind(library, "EVP_Digest", calls.digest) && bind(library, "EVP_sha1", calls.sha1) &&
      bind(library, "EVP_sha256", calls.sha256))
    return calls;
  dlclose(library);
  return {};
}

}  // namespace

const DigestCalls* digestCalls() noexcept {
  static const DigestCalls loaded = load();
  return loaded.digest != nullptr ? &loaded : nullptr;
}

}  // namespace frontend::meta_std::digest_library
