// The main window's way into the cache-and-memory curve: a glyph button in the score box and an
// entry of the context menu.
#include "gui/curve_window.h"
#include "gui/form1.h"

void TForm1::curveClick() {
  // The main window waits while the curve window is open: two measurements at once would
  // spoil both.
  auto* form = new gui::CurveWindow(facts_.spec, gui::CurveWindowOptions(), this);
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->setWindowModality(Qt::ApplicationModal);
  form->show();
}
