#include <QProcess>
#include <QString>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/base/cp932.h"
#include "platform/ui/draw.h"
#include "tests/support/cp932_names.h"
#include "tests/platform/ui/ui_fixture.h"

namespace ui = platform::ui;
namespace fs = std::filesystem;

namespace {

std::string cp(const char* utf8) {
  std::string out;
  EXPECT_TRUE(platform::utf8ToCp932(utf8, out));
  return out;
}

class DrawTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    folder_ = fs::temp_directory_path() /
              ("ui_draw_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    fs::remove_all(folder_);
    UiTest::TearDown();
  }
  fs::path folder_;
};

TEST_F(DrawTest, TwoPagePrintToPdfReadsBackWithItsPassThroughBytes) {
  auto job = ui::PrintTarget::open("", folder_.string(), cp("レシート"));
  ASSERT_NE(job, nullptr);
  EXPECT_TRUE(job->isPdf());
  const std::string cutter("\x1b\x69", 2), drawer("\x1b\x70\x00\x19\xfa", 5);
  for (int page = 1; page <= 2; ++page) {
    ASSERT_TRUE(job->startPage());
    ui::DrawContext& dc = job->context();
    dc.setUnits(ui::DrawUnits::HundredthMm);
    dc.setFont(cp("IPAGothic"), 500, 700);
    dc.textOut(1000, 1000, page == 1 ? cp("小計　１２３円") : cp("合計　４５６円"));
    dc.setPen(0x000000, 20);
    dc.line(1000, 2000, 7000, 2000);
    dc.rectangle({1000, 2500, 7000, 4000});
    EXPECT_TRUE(job->endPage());
    ASSERT_TRUE(job->passThrough(page == 1 ? cutter : drawer));
  }
  ASSERT_TRUE(job->finish());
  fs::path pdf = job->pdfPath();
  EXPECT_EQ(pdf.filename().string(), "レシート.pdf");
  ASSERT_TRUE(fs::exists(pdf));

  QProcess reader;
  reader.start("pdftotext", {"-layout", QString::fromStdString(pdf.string()), "-"});
  ASSERT_TRUE(reader.waitForFinished(10000));
  QString text = QString::fromUtf8(reader.readAllStandardOutput());
  QStringList pages = text.split(QChar('\f'), Qt::SkipEmptyParts);
  ASSERT_GE(pages.size(), 2);
  EXPECT_TRUE(pages[0].contains(QStringLiteral("小計"))) << text.toStdString();
  EXPECT_TRUE(pages[1].contains(QStringLiteral("合計"))) << text.toStdString();

  std::ifstream bin(job->binPath(), std::ios::binary);
  std::stringstream bytes;
  bytes << bin.rdbuf();
  EXPECT_EQ(bytes.str(), cutter + drawer);
}

TEST_F(DrawTest, UnknownPrinterFallsBackToPdfAndAbortLeavesNoFiles) {
  auto job = ui::PrintTarget::open("NoSuchQueue", folder_.string(), "job");
  ASSERT_NE(job, nullptr);
  EXPECT_TRUE(job->isPdf());
  ASSERT_TRUE(job->startPage());
  job->passThrough("x");
  EXPECT_TRUE(job->abort());
  EXPECT_FALSE(fs::exists(job->pdfPath()));
  EXPECT_FALSE(fs::exists(job->binPath()));
  EXPECT_EQ(ui::PrintTarget::open("", "/proc/no/such/folder", "job"), nullptr);
}

TEST_F(DrawTest, HundredthMillimetresScaleWithTheSurface) {
  ui::Image image = ui::Image::blank(400, 200, 0xFFFFFF);
  {
    ui::DrawContext dc(image);
    EXPECT_EQ(dc.dotsPerInch(), 96);
    dc.setUnits(ui::DrawUnits::HundredthMm);
    // 2.54 cm is one inch: the filled square ends at dpi pixels.
    dc.fillRect({0, 0, 2540, 2540}, 0x0000FF);
  }
  EXPECT_EQ(image.pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(image.pixel(95, 95), 0x0000FFu);
  EXPECT_EQ(image.pixel(97, 97), 0xFFFFFFu);
  auto jpeg = folder_ / "picture.jpg";
  ASSERT_TRUE(image.saveJpeg(jpeg.string(), 95));
  ui::Image loaded;
  ASSERT_TRUE(loaded.load(jpeg.string()));
  ui::Image small = loaded.scaled(100, 100, true);
  EXPECT_EQ(small.width(), 100);
  EXPECT_EQ(small.height(), 50);
  EXPECT_FALSE(loaded.load((folder_ / "missing.png").string()));
}

// Folders named in code page 932 hold pictures too: the name's bytes are no
// UTF-8, and the picture must still be written and read back whole.
TEST_F(DrawTest, PicturesInCodePage932FoldersLoadAndSave) {
  const ui::Image red = ui::Image::blank(8, 8, 0x0000FF);
  for (const auto& n : testing_support::cp932Names()) {
    SCOPED_TRACE(n.label);
    const std::string dir = folder_.string() + "/" + n.name;
    fs::create_directories(fs::path(dir));
    for (const char* name : {"/KEY101.jpg", "/KEY101.png"}) {
      const std::string path = dir + name;
      ASSERT_TRUE(std::string(name).ends_with("jpg") ? red.saveJpeg(path, 95) : red.savePng(path));
      ASSERT_TRUE(fs::exists(fs::path(path)));
      ui::Image loaded;
      ASSERT_TRUE(loaded.load(path));
      EXPECT_EQ(loaded.width(), 8);
      EXPECT_EQ(loaded.pixel(4, 4) & 0xF0, 0xF0u);
    }
  }
}

}  // namespace
