// The drawing module of quorvex-cli: the main window's face and the curve chart, drawn with Qt
// Widgets offscreen.
#include "cli/drawing.h"

#include "cli/drawing/offscreen_app.h"
#include "gui/curve_window.h"
#include "gui/main_face.h"
#include "gui/window_shot.h"

namespace {

bool SaveFaceShot(const core::WindowState& state, const std::string& versionText, const std::string& path,
                  std::string* error) {
  cli::OffscreenApplication();
  gui::MainFace face;
  face.ShowVersion(versionText);
  face.Render(state);
  return gui::SaveWindowShot(&face, path, error);
}

bool WriteCurvePng(const sysinfo::SystemSpec& spec, const core::Curve& curve, const std::string& allCoreText,
                   const std::string& path, std::string* error) {
  cli::OffscreenApplication();
  return gui::WriteCurvePng(spec, curve, allCoreText, path, error);
}

const cli::Drawing kDrawing{SaveFaceShot, WriteCurvePng};

}  // namespace

extern "C" __attribute__((visibility("default"))) const cli::Drawing* quorvex_cli_drawing() {
  return &kDrawing;
}
