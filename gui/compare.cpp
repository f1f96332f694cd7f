#include "gui/compare.h"

#include <QMouseEvent>
#include <QScreen>
#include <cmath>

#include "gui/fonts.h"
#include "gui/qt_text.h"

namespace gui {

namespace {

constexpr int kDesignDpi = 96;
constexpr int kValueLine = 16;  // the user's value under a dial
const QColor kLightRed(255, 128, 128);
const QColor kLightYellow(255, 255, 125);
const QColor kLightGreen(128, 255, 128);
const QColor kLightBlue(168, 211, 255);

void Apply(QuickDial* dial, const core::DialSetup& d, const std::string& subtitle,
           const std::vector<QColor>& colours, int decimals) {
  dial->setRange(d.lower, d.upper);  // lower end first, as the system sets them
  dial->setValue(d.value);
  dial->setBands(d.firstBandEnd, d.secondBandEnd, colours);
  dial->setTitle(Q(d.title));
  dial->setSubtitle(Q(subtitle));
  dial->setDecimals(decimals);
  dial->setVisible(d.visible);
}

}  // namespace

Tfqcompare::Tfqcompare(const core::ShareFacts& inputs, online::CompareFetch fetch, QWidget* parent,
                       RankFetch rank)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      inputs_(inputs),
      fetch_(std::move(fetch)),
      rank_(std::move(rank)) {
  b1 = new QFrame(this);
  b2 = new QFrame(this);
  b3 = new QFrame(this);
  gg_gbyte = new QuickDial(this);
  gg_ramclk = new QuickDial(this);
  gg_lat = new QuickDial(this);
  Button1 = new QPushButton(QStringLiteral("Button1"), this);
  Button1->hide();
  Memo1 = new QPlainTextEdit(this);
  Memo1->setReadOnly(true);
  for (QLabel** label : {&scoreValue, &clockValue, &latencyValue, &rankLine}) {
    *label = new QLabel(this);
    (*label)->setFont(PixelFont("Tahoma", 11, label != &rankLine));
    (*label)->setAlignment(Qt::AlignCenter);
  }
  rankLine->setWordWrap(true);
  rankLine->hide();
  for (QuickDial* dial : {gg_gbyte, gg_ramclk, gg_lat})
    connect(dial, &QuickDial::clicked, this, &Tfqcompare::gg_gbyteClick);
  connect(Button1, &QPushButton::clicked, this, &Tfqcompare::Button1Click);
  FormCreate();
}

void Tfqcompare::FormCreate() {
  int dpi = kDesignDpi;
  if (QScreen* screen = this->screen()) dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
  const double k = dpi > 0 ? double(dpi) / kDesignDpi : 1.0;
  auto s = [k](int v) { return static_cast<int>(std::lround(v * k)); };

  // The dials at their design places, each moved down by the value lines above it.
  const int tops[] = {4, 130, 256};
  QuickDial* dials[] = {gg_gbyte, gg_ramclk, gg_lat};
  QLabel* values[] = {scoreValue, clockValue, latencyValue};
  QFrame* bevels[] = {b1, b2, b3};
  for (int i = 0; i < 3; ++i) {
    dials[i]->setGeometry(s(4), s(tops[i] + i * kValueLine), s(QuickDial::kFaceWidth),
                          s(QuickDial::kFaceHeight));
    values[i]->setGeometry(s(4), dials[i]->geometry().bottom() + 1 + s(2), s(QuickDial::kFaceWidth),
                           s(kValueLine - 2));
  }
  gg_lat->setRaisedFace(true);
  Memo1->setGeometry(s(260), s(4), s(180), s(120));

  requestAddress_ = core::CompareRequestTarget(inputs_.memoryType, inputs_.channels);
  Button1Click();

  for (int i = 0; i < 3; ++i) {
    bevels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bevels[i]->setGeometry(dials[i]->x() - 1, dials[i]->y() - 1, gg_gbyte->width() + 2,
                           gg_gbyte->height() + 2);
    bevels[i]->lower();
  }
  // The system's three dials, then a value line under each and the rank when the site knows one.
  int height = 3 * (gg_gbyte->y() + gg_gbyte->height()) + 4 + 3 * s(kValueLine);
  ShowRank();
  if (!rankLine->isHidden()) {
    const int width = s(QuickDial::kFaceWidth);
    const int lines = rankLine->heightForWidth(width);
    rankLine->setGeometry(s(4), height - s(2), width, lines);
    height += lines + s(2);
  }
  resize(2 * gg_lat->x() + gg_lat->width(), height);
  if (QWidget* owner = parentWidget()) move(owner->geometry().center() - rect().center());
}

void Tfqcompare::Button1Click() {
  setWindowTitle(QStringLiteral("Quick compare"));
  Memo1->clear();
  repaint();
  online::FetchReply reply;
  if (fetch_) reply = fetch_(requestAddress_);
  fetchFailed_ = !reply.ok;
  // A failed fetch goes on with an empty reply: every reference word reads 0.
  setup_ = core::SetupDials(reply.ok ? reply.body : std::string(), inputs_);
  Memo1->appendPlainText(Q(setup_.reply));
  if (fetchFailed_) {
    // The dials alone would show empty ranges without saying why.
    setWindowTitle(QStringLiteral("Quick compare - no reference data"));
    setToolTip(
        QStringLiteral("<p>%1</p>").arg(Q(" Error occurred:  >>" + reply.error + "<< ").toHtmlEscaped()));
  }
  Apply(gg_gbyte, setup_.score, setup_.subtitle, {kLightRed, kLightYellow, kLightGreen}, 2);
  Apply(gg_ramclk, setup_.clock, setup_.subtitle, {kLightBlue}, 0);
  Apply(gg_lat, setup_.latency, setup_.subtitle, {kLightGreen, kLightYellow, kLightRed}, 1);
  scoreValue->setText(Q(setup_.score.ValueText()));
  clockValue->setText(Q(setup_.clock.ValueText()));
  latencyValue->setText(Q(setup_.latency.ValueText()));
  latencyValue->setVisible(setup_.latency.visible);
}

// The site's rank of this score among results of the same kind; nothing when it has none.
void Tfqcompare::ShowRank() {
  rankLine->hide();
  // A server that did not answer the compare is not kept waiting for a second time.
  if (!rank_ || fetchFailed_) return;
  const std::string target =
      online::RankRequestTarget(inputs_.memoryType, inputs_.channels, setup_.score.value);
  if (target.empty()) return;
  const online::RankReply reply = rank_(target);
  if (!reply.ok) return;
  rankLine->setText(Q(reply.text));
  rankLine->show();
}

void Tfqcompare::gg_gbyteClick() { close(); }

void Tfqcompare::FormClick() { close(); }

void Tfqcompare::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FormClick();
  QDialog::mouseReleaseEvent(event);
}

}  // namespace gui
