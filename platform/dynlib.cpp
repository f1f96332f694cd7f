#include "platform/dynlib.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

DynamicModule::DynamicModule(const std::string& path, std::string* error) {
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_ && error) {
    const char* why = dlerror();
    *error = why ? why : "the module could not be loaded";
  }
}

DynamicModule::~DynamicModule() { Unload(); }

DynamicModule::DynamicModule(DynamicModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicModule& DynamicModule::operator=(DynamicModule&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void* DynamicModule::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void DynamicModule::Unload() {
  if (handle_) dlclose(std::exchange(handle_, nullptr));
}

}  // namespace platform
