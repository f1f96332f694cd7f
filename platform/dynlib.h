// Loading a module from a file, looking up an export, unloading it.
#pragma once

#include <string>

namespace platform {

class DynamicModule {
 public:
  DynamicModule() = default;
  // Loads the module at path (RTLD_NOW | RTLD_LOCAL). On failure the module is empty and
  // error (when given) holds the loader's message.
  explicit DynamicModule(const std::string& path, std::string* error = nullptr);
  ~DynamicModule();  // unloads
  DynamicModule(DynamicModule&& other) noexcept;
  DynamicModule& operator=(DynamicModule&& other) noexcept;
  DynamicModule(const DynamicModule&) = delete;
  DynamicModule& operator=(const DynamicModule&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // The address of an export, or nullptr.
  void* Symbol(const char* name) const;
  void Unload();

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
