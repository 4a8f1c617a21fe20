#include "platform/dynlib.h"

#include <dlfcn.h>

namespace qb {

DynamicLibrary::DynamicLibrary(const std::string& path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* text = ::dlerror();
    error_ = text == nullptr ? "unknown error" : text;
  }
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ == nullptr ? nullptr : ::dlsym(handle_, name);
}

}  // namespace qb
