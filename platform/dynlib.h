// Loading shared libraries at run time.
#pragma once

#include <string>

namespace qb {

class DynamicLibrary {
 public:
  // Loads the library at `path`; check IsLoaded() and Error().
  explicit DynamicLibrary(const std::string& path);
  ~DynamicLibrary();  // unloads
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  bool IsLoaded() const { return handle_ != nullptr; }
  // Address of an exported symbol, or null.
  void* Symbol(const char* name) const;
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace qb
