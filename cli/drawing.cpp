#include "cli/drawing.h"

#include <memory>

#include "platform/dynlib.h"
#include "platform/locations.h"

namespace cli {

const Drawing* LoadDrawing(std::string* error) {
  static std::unique_ptr<platform::DynamicModule> module;
  static const Drawing* drawing = nullptr;
  if (drawing != nullptr) return drawing;
  const std::string folder = platform::ExecutableFolder();
  std::string why;
  for (const std::string& path : {folder + "/" + kDrawingModuleName,
                                  folder + "/" + QUORVEX_DRAWING_FROM_PROGRAM + "/" + kDrawingModuleName}) {
    auto candidate = std::make_unique<platform::DynamicModule>(path, &why);
    if (!candidate->Loaded()) continue;
    using Entry = const Drawing* (*)();
    if (auto entry = reinterpret_cast<Entry>(candidate->Symbol(kDrawingEntry))) {
      drawing = entry();
      module = std::move(candidate);
      return drawing;
    }
    why = path + " has no " + kDrawingEntry;
  }
  if (error) *error = "the drawing module could not be loaded: " + why;
  return nullptr;
}

}  // namespace cli
