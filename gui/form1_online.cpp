// The window's online actions: upload, quick compare and About.
#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "gui/about.h"
#include "gui/compare.h"
#include "gui/form1.h"
#include "online/session.h"
#include "online/upload.h"
#include "sysinfo/system_spec.h"

namespace {

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The dialogs take Qt line breaks; the texts keep the program's CR LF.
QString DialogText(const std::string& text) {
  QString shown = Text(text);
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
  const online::UploadFacts facts = online::MainUploadFacts(state_, facts_);

  // The busy cursor covers the posts: from OK in the confirmation to the closing message.
  std::unique_ptr<BusyCursor> busy;
  online::UploadDialogs dialogs;
  dialogs.confirm = [this, &busy](const std::string& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), DialogText(text),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    const bool agreed = box.exec() == QMessageBox::Ok;
    if (agreed) busy = std::make_unique<BusyCursor>();
    return agreed;
  };
  dialogs.inform = [this, &busy](const std::string& text, bool failed) {
    busy.reset();
    // Plain text: a failure can quote the server's answer, which must not be read as markup.
    QMessageBox box(failed ? QMessageBox::Warning : QMessageBox::Information, Text(online::kUploadTitle),
                    DialogText(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  };

  const online::SubmissionSteps steps = online::MainSubmissionSteps(this, state_, Environment());
  if (online::RunUpload(facts, dialogs, steps, &resultAddress_)) {
    if (!resultAddress_.empty()) JvgLabel1->setToolTip(QString::fromStdString(resultAddress_));
    state_.SetUploadTag(1);
    state_.SetEnabled(core::Control::Upload, false);
  }
}

void TForm1::gaugeClick() {
  const std::string type = sysinfo::SpecValue(facts_.spec, "CHIP_MEMORY_TYPE");
  const std::string channels = sysinfo::SpecValue(facts_.spec, "CHIP_CHANNELS");
  const std::string stop = core::ComparePrecheck(state_.ScoreCaption(), type, channels, facts_.memoryClock);
  if (!stop.empty()) {
    QMessageBox::information(this, Text(core::kCompareTitle), Text(stop));
    return;
  }
  core::CompareInputs inputs;
  inputs.memoryType = type;
  inputs.channels = channels;
  inputs.memoryClock = facts_.memoryClock;
  inputs.scoreCaption = state_.ScoreCaption();
  inputs.latencyCaption = state_.Bar(core::BarId::Latency).caption;
  std::unique_ptr<gui::Tfqcompare> form;
  {
    BusyCursor busy;  // the window fetches its reference line while it is made
    form = std::make_unique<gui::Tfqcompare>(inputs, gui::FetchFromServer, this);
  }
  form->exec();
}

void TForm1::About1Click() {
  gui::Tfabout form(state_.Title(), this);
  form.exec();
}
