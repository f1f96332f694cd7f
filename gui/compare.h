// The quick-compare window: three dials that set the last result against the reference ranges
// the program's web server gives for this kind of memory.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <string>

#include "core/compare_model.h"
#include "gui/dial.h"
#include "online/compare_fetch.h"

namespace gui {

class Tfqcompare : public QDialog {
  Q_OBJECT

 public:
  Tfqcompare(const core::ShareFacts& inputs, online::CompareFetch fetch, QWidget* parent = nullptr);

  QuickDial* gg_gbyte;
  QuickDial* gg_ramclk;
  QuickDial* gg_lat;
  QFrame* b1;
  QFrame* b2;
  QFrame* b3;
  QPushButton* Button1;   // hidden; its click loads the dials
  QPlainTextEdit* Memo1;  // lies right of the visible area

  const std::string& requestAddress() const { return requestAddress_; }
  const core::CompareSetup& setup() const { return setup_; }
  bool fetchFailed() const { return fetchFailed_; }

  void Button1Click();
  void gg_gbyteClick();
  void FormClick();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void FormCreate();

  core::ShareFacts inputs_;
  online::CompareFetch fetch_;
  std::string requestAddress_;
  core::CompareSetup setup_;
  bool fetchFailed_ = false;
};

}  // namespace gui
