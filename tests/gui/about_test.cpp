// The About window's texts: title words and the build version, with and without a version record.
#include "gui/about.h"

#include <gtest/gtest.h>

#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/support/qt_app.h"

namespace {

class AboutTest : public ::testing::Test {
 protected:
  testing_qt::AppReady app;
};

TEST_F(AboutTest, NormalStartShowsTheNameAndThisBuild) {
  gui::Tfabout form("Quorvex\xC2\xB2");
  EXPECT_EQ(form.windowTitle(), QStringLiteral("About ..."));
  EXPECT_EQ(form.productName->text(), QString::fromUtf8("Quorvex\xC2\xB2"));
  EXPECT_TRUE(form.nameSuffix->text().isEmpty());
  EXPECT_EQ(form.tagLine->text(), QStringLiteral("T H E   S Y S T E M   B E N C H"));
  // This test program carries the build's version record.
  EXPECT_EQ(form.buildText->text(), QStringLiteral("(Build v3.0.24.109)"));
  EXPECT_EQ(form.size(), QSize(313, 167));
  EXPECT_EQ(QRect(form.ok->mapTo(&form, QPoint(0, 0)), form.ok->size()), QRect(8, 133, 75, 25));
  EXPECT_EQ(form.ok->text(), QStringLiteral("OK"));
}

TEST_F(AboutTest, NewVersionTitleShowsItsSecondWordAsSuffix) {
  gui::Tfabout form("Quorvex\xC2\xB2 [New version available]");
  EXPECT_EQ(form.productName->text(), QString::fromUtf8("Quorvex\xC2\xB2"));
  EXPECT_EQ(form.nameSuffix->text(), QStringLiteral("[New"));
}

TEST_F(AboutTest, ProgramWithoutVersionRecordShowsThreeZeros) {
  const std::string plain = platform::PrivateFolder() + "/no_version_record";
  platform::DeleteFile(plain);
  ASSERT_TRUE(platform::WriteFileExclusive(plain,
                                           "\x7f"
                                           "ELF",
                                           4, nullptr));
  gui::Tfabout form("Quorvex\xC2\xB2", nullptr, plain);
  EXPECT_EQ(form.buildText->text(), QStringLiteral("(Build v000)"));
  platform::DeleteFile(plain);
}

TEST_F(AboutTest, OkClosesTheWindow) {
  gui::Tfabout form("Quorvex\xC2\xB2");
  form.show();
  ASSERT_TRUE(form.isVisible());
  form.ok->click();
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
