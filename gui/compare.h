// The quick-compare window: three dials that set the last result against the reference ranges
// the program's web server gives for this kind of memory.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <string>

#include "core/compare_model.h"
#include "gui/dial.h"
#include "online/compare_fetch.h"
#include "online/rank_fetch.h"

namespace gui {

class Tfqcompare : public QDialog {
  Q_OBJECT

 public:
  // Asks the results site where a score stands; empty asks nothing.
  using RankFetch = std::function<online::RankReply(const std::string& target)>;

  Tfqcompare(const core::ShareFacts& inputs, online::CompareFetch fetch, QWidget* parent = nullptr,
             RankFetch rank = {});

  QuickDial* gg_gbyte;
  QuickDial* gg_ramclk;
  QuickDial* gg_lat;
  QFrame* b1;
  QFrame* b2;
  QFrame* b3;
  QPushButton* Button1;   // hidden; its click loads the dials
  QPlainTextEdit* Memo1;  // lies right of the visible area
  // The user's own value under each dial, and the site's rank under all three (hidden without one).
  QLabel *scoreValue, *clockValue, *latencyValue;
  QLabel* rankLine;

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
  void ShowRank();

  core::ShareFacts inputs_;
  online::CompareFetch fetch_;
  RankFetch rank_;
  std::string requestAddress_;
  core::CompareSetup setup_;
  bool fetchFailed_ = false;
};

}  // namespace gui
