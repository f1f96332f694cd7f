#include "gui/about.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <sstream>
#include <vector>

#include "gui/fonts.h"
#include "gui/gear_logo.h"
#include "gui/qt_text.h"
#include "online/http_client.h"
#include "platform/file_version.h"
#include "platform/process.h"

namespace gui {

namespace {

constexpr int kDesignDpi = 96;

// Blank-separated words of a title; a missing word is empty.
std::string Word(const std::string& text, size_t index) {
  std::istringstream in(text);
  std::string word;
  for (size_t i = 0; in >> word; ++i) {
    if (i == index) return word;
  }
  return {};
}

}  // namespace

void ShadowLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  const QRect r = contentsRect();
  p.setPen(QColor(192, 192, 192));
  p.drawText(r.translated(1, 1), int(alignment()), text());
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(r, int(alignment()), text());
}

std::string ProgramWebSite() { return online::JoinUrl(online::ServerBase(), "/"); }

Tfabout::Tfabout(const std::string& applicationTitle, QWidget* parent, const std::string& programPath)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("About ..."));
  setFont(PixelFont("Tahoma", 11));

  logo = new GearLogo(this);
  productName = new ShadowLabel(this);
  nameSuffix = new ShadowLabel(this);
  tagLine = new QLabel(QStringLiteral("T H E   S Y S T E M   B E N C H"), this);
  JvgLabel1 = new LinkLabel(this);
  JvgLabel2 = new QLabel(this);
  strip = new QFrame(this);
  ok = new QPushButton(QStringLiteral("OK"), strip);
  buildText = new QLabel(strip);

  FormCreate(applicationTitle, programPath);

  connect(ok, &QPushButton::clicked, this, &Tfabout::okClick);
  connect(JvgLabel1, &LinkLabel::clicked, this, &Tfabout::JvgLabel1Click);
  ok->setDefault(true);
  if (parent != nullptr) {
    move(parent->geometry().center() - rect().center());
  }
}

void Tfabout::FormCreate(const std::string& applicationTitle, const std::string& programPath) {
  // The window is laid out at 96 dots per inch and scales itself to the screen.
  int dpi = kDesignDpi;
  if (QScreen* screen = this->screen()) dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
  const double k = dpi > 0 ? double(dpi) / kDesignDpi : 1.0;
  auto s = [k](int v) { return static_cast<int>(std::lround(v * k)); };
  auto place = [&](QWidget* w, int x, int y, int width, int height) {
    w->setGeometry(s(x), s(y), s(width), s(height));
  };

  setFixedSize(s(313), s(167));
  place(logo, 5, 2, 100, 101);

  productName->setFont(PixelFont("Times New Roman", s(29)));
  productName->setAlignment(Qt::AlignRight | Qt::AlignTop);
  place(productName, 104, 6, 262 - 104, 34);

  nameSuffix->setFont(PixelFont("Times New Roman", s(11), true));
  nameSuffix->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(nameSuffix, 262, 21, 313 - 262, 15);

  tagLine->setFont(PixelFont("Tahoma", s(9), true));
  tagLine->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  place(tagLine, 114, 37, 340 - 114, 13);

  QFont link = PixelFont("Segoe UI", s(11));
  link.setUnderline(true);
  JvgLabel1->setFont(link);
  JvgLabel1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  JvgLabel1->setText(QStringLiteral("Quorvex results on the web"));
  JvgLabel1->setToolTip(Q(ProgramWebSite()));
  place(JvgLabel1, 104, 62, 313 - 104, 18);

  // The system facts come from the program's own report tool, so the notice names that.
  JvgLabel2->setFont(PixelFont("Segoe UI", s(11)));
  JvgLabel2->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  JvgLabel2->setText(QStringLiteral("Notice: System facts come from our own sysreport tool"));
  QPalette grey = JvgLabel2->palette();
  grey.setColor(QPalette::WindowText, QColor(96, 96, 96));
  JvgLabel2->setPalette(grey);
  place(JvgLabel2, 0, 167 - 43 - 20, 313, 20);

  strip->setFrameShape(QFrame::NoFrame);
  strip->setAutoFillBackground(true);
  place(strip, 0, 167 - 43, 313, 43);
  auto* line = new QFrame(strip);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(0, 0, s(313), 2);
  ok->setGeometry(s(8), s(133 - 124), s(75), s(25));
  buildText->setFont(PixelFont("Tahoma", s(11), true));
  buildText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  buildText->setGeometry(s(144), s(140 - 124), s(250 - 144), s(16));

  productName->setText(Q(Word(applicationTitle, 0)));
  nameSuffix->setText(Q(Word(applicationTitle, 1)));
  buildText->setText(Q("(Build v" + platform::FileVersionText(programPath) + ")"));
}

void Tfabout::okClick() { close(); }

void Tfabout::JvgLabel1Click() { platform::OpenWebAddress(ProgramWebSite()); }

}  // namespace gui
