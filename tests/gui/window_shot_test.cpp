// The upload picture: PNG layout as the server expects it and a stamp that is really drawn.
#include "gui/window_shot.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/support/qt_app.h"

namespace {

uint32_t Be32(const std::string& b, size_t at) {
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
         (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

struct Chunk {
  std::string type;
  std::string data;
};

std::vector<Chunk> Chunks(const std::string& png) {
  std::vector<Chunk> chunks;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = Be32(png, at);
    chunks.push_back({png.substr(at + 4, 4), png.substr(at + 8, length)});
    at += 12 + length;
  }
  return chunks;
}

bool IsStampGrey(QRgb c) {
  // 128/128/128 through 5-6-5 and back reads 132/130/132.
  return std::abs(qRed(c) - 130) <= 4 && std::abs(qGreen(c) - 130) <= 4 && std::abs(qBlue(c) - 130) <= 4;
}

class WindowShotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.setFixedSize(405, 405);
    window.setWindowTitle(QString::fromUtf8("Quorvex\xC2\xB2"));
    window.setAutoFillBackground(true);
    QPalette white = window.palette();
    white.setColor(QPalette::Window, Qt::white);
    window.setPalette(white);
    path = platform::PrivateFolder() + "/shot_test.tmp.png";
    platform::DeleteFile(path);
  }
  void TearDown() override { platform::DeleteFile(path); }

  testing_qt::AppReady app;
  QWidget window;
  std::string path;
};

TEST_F(WindowShotTest, PngIsTruecolourEightBitNotInterlacedAtZlibLevelNine) {
  std::string error;
  ASSERT_TRUE(gui::SaveWindowShot(&window, path, &error)) << error;
  std::string png;
  ASSERT_TRUE(platform::ReadWholeFile(path, &png));
  ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  const auto chunks = Chunks(png);
  ASSERT_FALSE(chunks.empty());
  ASSERT_EQ(chunks[0].type, "IHDR");
  const std::string& ihdr = chunks[0].data;
  EXPECT_EQ(Be32(ihdr, 0), 405u + 2 * gui::kShotFrame);
  EXPECT_EQ(Be32(ihdr, 4), 405u + gui::kShotCaptionHeight + 2 * gui::kShotFrame);
  EXPECT_EQ(uint8_t(ihdr[8]), 8);   // bit depth
  EXPECT_EQ(uint8_t(ihdr[9]), 2);   // colour type: truecolour
  EXPECT_EQ(uint8_t(ihdr[12]), 0);  // not interlaced
  const auto idat =
      std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "IDAT"; });
  ASSERT_NE(idat, chunks.end());
  ASSERT_GE(idat->data.size(), 2u);
  EXPECT_EQ(uint8_t(idat->data[0]), 0x78);  // deflate, 32K window
  EXPECT_EQ(uint8_t(idat->data[1]) >> 6, 3) << "zlib header does not say maximum compression";
}

TEST_F(WindowShotTest, ExistingFileIsNeverReplaced) {
  ASSERT_TRUE(platform::WriteFileExclusive(path, "keep", 4, nullptr));
  std::string error;
  EXPECT_FALSE(gui::SaveWindowShot(&window, path, &error));
  EXPECT_FALSE(error.empty());
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "keep");
}

TEST_F(WindowShotTest, StampIsAGreyOutlineAcrossTheMiddle) {
  QImage shot;
  ASSERT_TRUE(gui::PrintWindowToBitmap(&window, &shot));
  EXPECT_EQ(shot.format(), QImage::Format_RGB16);
  gui::DrawOutlinedStamp(&shot, QStringLiteral("08.12.2026 03:20:29"));
  const QImage rgb = shot.convertToFormat(QImage::Format_RGB32);

  // Grey outline pixels to the left and to the right of the centre, inside the middle band.
  int left = 0, right = 0, white = 0, total = 0;
  const int top = rgb.height() / 2 - 90, bottom = rgb.height() / 2 + 90;
  for (int y = top; y < bottom; ++y) {
    for (int x = 10; x < rgb.width() - 10; ++x) {
      const QRgb c = rgb.pixel(x, y);
      ++total;
      if (IsStampGrey(c)) (x < rgb.width() / 2 ? left : right)++;
      if (qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 240) ++white;
    }
  }
  EXPECT_GT(left, 150);
  EXPECT_GT(right, 150);
  // Outlines only: the glyphs are not filled, the background shows through almost everywhere.
  EXPECT_GT(white, total * 85 / 100);
  // Nothing but the stamp's grey and the background in the band.
  EXPECT_EQ(left + right + white, total);

  // The baseline rises to the right: the stamp's grey sits lower on the left than on the right.
  auto meanRow = [&](int x0, int x1) {
    long sum = 0, n = 0;
    for (int y = 0; y < rgb.height(); ++y)
      for (int x = x0; x < x1; ++x)
        if (IsStampGrey(rgb.pixel(x, y))) sum += y, ++n;
    return n ? double(sum) / n : 0.0;
  };
  EXPECT_GT(meanRow(60, 160), meanRow(250, 350) + 20);
}

TEST_F(WindowShotTest, NoWindowGivesAnEmptyPictureAndAFailure) {
  QImage shot(10, 10, QImage::Format_RGB16);
  EXPECT_FALSE(gui::PrintWindowToBitmap(nullptr, &shot));
  EXPECT_TRUE(shot.isNull());
  std::string error;
  EXPECT_FALSE(gui::SaveWindowShot(nullptr, path, &error));
  EXPECT_FALSE(platform::FileExists(path));
}

}  // namespace
