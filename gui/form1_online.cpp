// The window's online actions: upload, quick compare and About.
#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "core/gate.h"
#include "core/notices.h"
#include "core/titles.h"
#include "gui/about.h"
#include "gui/compare.h"
#include "gui/form1.h"
#include "gui/qt_text.h"
#include "gui/window_shot.h"
#include "online/session.h"
#include "online/upload.h"

namespace {

using gui::Q;

// The dialogs take Qt line breaks; the texts keep the program's CR LF.
QString DialogText(const std::string& text) {
  QString shown = Q(text);
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return shown;
}

// Keeps the busy cursor for the lifetime of a blocking request.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

void TForm1::uploadClick() {
  const core::ShareFacts facts = core::ShareFactsOf(state_, facts_);

  // The busy cursor covers the posts: from OK in the confirmation to the closing message.
  std::unique_ptr<BusyCursor> busy;
  online::UploadDialogs dialogs;
  dialogs.confirm = [this, &busy](const std::string& text) {
    QMessageBox box(QMessageBox::Information, Q(core::kTitles.confirmation), DialogText(text),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    const bool agreed = box.exec() == QMessageBox::Ok;
    if (agreed) busy = std::make_unique<BusyCursor>();
    return agreed;
  };
  dialogs.inform = [this, &busy, &facts](const std::string& text, bool failed) {
    busy.reset();
    // Plain text: a failure can quote the server's answer, which must not be read as markup.
    QMessageBox box(failed ? QMessageBox::Warning : QMessageBox::Information, Q(core::kTitles.upload),
                    DialogText(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (text == core::kNoSystemSpecToUpload) box.setInformativeText(Q(core::MissingMemoryFacts(facts)));
    box.exec();
  };

  const online::SubmissionSteps steps = online::MainSubmissionSteps(
      [this](const std::string& path, std::string* error) {
        // A passing note (the log's path) is no part of the result's picture.
        const bool noted = StatusLine->isVisible();
        StatusLine->hide();
        const bool saved = gui::SaveWindowShot(this, path, error);
        StatusLine->setVisible(noted);
        return saved;
      },
      state_, Environment());
  if (online::RunUpload(facts, state_.Title(), dialogs, steps, &resultAddress_)) {
    if (!resultAddress_.empty()) JvgLabel1->setToolTip(Q(resultAddress_));
    state_.SetUploadTag(1);
    state_.SetEnabled(core::Control::Upload, false);
  }
}

void TForm1::gaugeClick() {
  const core::ShareFacts inputs = core::ShareFactsOf(state_, facts_);
  const std::string stop = core::ShareStop(core::Share::Compare, inputs);
  if (!stop.empty()) {
    QMessageBox::information(this, Q(core::kTitles.compare), Q(stop));
    return;
  }
  std::unique_ptr<gui::Tfqcompare> form;
  {
    BusyCursor busy;  // the window fetches its reference line while it is made
    form = std::make_unique<gui::Tfqcompare>(inputs, online::FetchFromServer, this, online::FetchRank);
  }
  form->exec();
}

void TForm1::About1Click() {
  gui::Tfabout form(state_.Title(), this);
  form.exec();
}
