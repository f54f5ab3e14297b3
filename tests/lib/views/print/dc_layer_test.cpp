#include <cstring>

#include "platform/ui/draw.h"
#include "tests/lib/views/print/print_fixture.h"

namespace print_test {
namespace {

TEST(DCMakeScaleTest, NiceAxisMaximaAndTheirSteps) {
  struct Case {
    double value;
    double maximum;
    int32_t steps;
  };
  for (const Case& c : {Case{37, 40, 8}, Case{100, 100, 10}, Case{0, 1, 1}, Case{1, 1, 10}, Case{7, 7, 7},
                        Case{12, 12, 6}, Case{0.37, 0.4, 8}, Case{-37, -40, 8}, Case{99999, 100000, 10}}) {
    double value = c.value;
    int32_t steps = 0;
    DCMakeScale(&value, &steps);
    EXPECT_DOUBLE_EQ(value, c.maximum) << c.value;
    EXPECT_EQ(steps, c.steps) << c.value;
  }
}

using DCLayerTest = PrintTest;

TEST_F(DCLayerTest, LengthsMarginsAndTheFormUnitGrid) {
  platform::ui::Image image = platform::ui::Image::blank(10, 10, 0xFFFFFF);
  platform::ui::DrawContext surface(image);
  // A 600 dpi device that cannot reach its first 1/10 inch.
  auto device = zemta::print::surfaceDevice(surface, 600, 4800, 6600, 60, 60);
  const int32_t margins[4] = {1000, 2000, 1000, 1000};
  DCHandle dc = DCCreate(zemta::print::hdcOf(device.get()), nullptr, margins);
  ASSERT_NE(dc, nullptr);
  int32_t xy[2];
  DCGetDPI(dc, xy);
  EXPECT_EQ(xy[0], 600);
  DCGetOrigin(dc, xy);
  EXPECT_EQ(xy[0], 1000 * 600 / 2540 - 60);
  EXPECT_EQ(xy[1], 2000 * 600 / 2540 - 60);
  DCGetPageSize(dc, xy);
  EXPECT_EQ(xy[0], 4800 - (1000 * 600 / 2540 - 60) - (1000 * 600 / 2540 - 60));
  int32_t point[2] = {0, 0};
  EXPECT_EQ(DCMMtoP(dc, point), 0);  // the paper's corner lies outside the printable area
  EXPECT_EQ(point[0], -60);
  int32_t inside[2] = {2540, 2540};
  EXPECT_EQ(DCMMtoP(dc, inside), 1);
  EXPECT_EQ(inside[1], 540);
  int32_t size[2] = {2540, 127};
  DCMMtoS(dc, size);
  EXPECT_EQ(size[0], 600);
  EXPECT_EQ(size[1], 30);
  DCSetHFU(dc, 3, 0, 100, 200);
  DCSetVFU(dc, 2, 0, 50);
  const int32_t last[2] = {2, 0}, firstCell[2] = {0, 0};
  EXPECT_EQ(DCDrawTextFU(dc, "x", last, 0, 0, 0), 0);  // no stop after the last column
  EXPECT_EQ(DCDrawTextFU(dc, "x", firstCell, 0, 0, 0), 1);
  DCSetHFUList(dc, 0, nullptr);
  EXPECT_EQ(DCDrawTextFU(dc, "x", nullptr, 0, 0, 0), 0);
  EXPECT_EQ(DCSetFont(dc, 0, 0, 500, 0, 0, "ＭＳ 明朝"), 0);  // nothing changed
  EXPECT_EQ(DCSetFont(dc, 100, 0, 700, 0, 0, nullptr), 1);
  DCDelete(dc);
}

TEST_F(DCLayerTest, AFormOfBoxesTextRulesMarkersAndChartsPrints) {
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | 0x0480, "描画", nullptr, nullptr, "");
  ASSERT_NE(job, 0u);
  HDC hdc = PrintGetDC(job, nullptr);
  const int32_t margins[4] = {1500, 1500, 1500, 1500};
  DCHandle dc = DCCreate(hdc, nullptr, margins);
  ASSERT_NE(dc, nullptr);
  ASSERT_EQ(PrintStartPage(job), 1);
  int32_t origin[2], page[2];
  DCGetOrigin(dc, origin);
  DCGetPageSize(dc, page);
  DCSetFont(dc, 110, 0, 700, 0, 0, "IPAGothic");
  DCSetShadowColor(dc, 0xA0A0A0);
  const DCRect title{origin[0], origin[1], origin[0] + page[0], origin[1] + 300};
  DCDrawText(dc, "部門別売上報告\n令和八年十二月", &title, 0x1, 0x10001, 0x1);
  // A grid of three columns and four rows with its rules and texts.
  const int32_t left = origin[0], top = origin[1] + 400;
  DCSetHFU(dc, 4, left, left + 1200, left + 2800, left + 4200);
  DCSetVFU(dc, 5, top, top + 150, top + 300, top + 450, top + 600);
  DCSetLineStyle(dc, 0, 3, 0);
  DCDrawLineFU(dc, nullptr, 0x3F);
  DCSetFont(dc, 90, 0, 400, 0, 0, "IPAGothic");
  const char* cells[4][3] = {{"番号", "部門", "売上"}, {"10", "総務", "1,200"}, {"11", "営業", "34,500"},
                             {"12", "経理", "980"}};
  for (int32_t r = 0; r < 4; ++r)
    for (int32_t c = 0; c < 3; ++c) {
      const int32_t cell[2] = {c, r};
      EXPECT_EQ(DCDrawTextFU(dc, cells[r][c], cell, c == 2 ? 0x26 : 0x24, 0, 0), 1);
    }
  for (int32_t type = 0; type < 4; ++type) {
    DCSetLineStyle(dc, 0, 1, 0x0000C0);
    DCDrawSymbol(dc, left + 300 + type * 400, top + 900, 100, type);
  }
  DCProfileData data{};
  data.seriesCount = 2;
  std::strcpy(data.seriesNames[0], "本店");
  std::strcpy(data.seriesNames[1], "支店");
  data.background = 0xF0F0F0;
  data.seriesColours[0] = 0xC04000;
  data.seriesColours[1] = 0x0080E0;
  data.pointCount = 4;
  const char* months[4] = {"9月", "10月", "11月", "12月"};
  const double values[2][4] = {{12, 20, 17, 30}, {8, 5, 11, 7}};
  for (int i = 0; i < 4; ++i) {
    std::strcpy(data.pointLabels[i], months[i]);
    data.values[0][i] = values[0][i];
    data.values[1][i] = values[1][i];
  }
  std::strcpy(data.xCaption, "月");
  std::strcpy(data.yCaption, "万円");
  DCSetFont(dc, 70, 0, 400, 0, 0, "IPAGothic");
  const DCRect bars{left, top + 1200, left + 2200, top + 2800}, lines{left + 2400, top + 1200, left + 4600, top + 2800};
  const DCRect deep{left, top + 3000, left + 2200, top + 4600}, pie{left + 2400, top + 3000, left + 4600, top + 4600};
  DCDrawProfile(dc, 1, &bars, &data);
  DCDrawProfile(dc, 2, &lines, &data);
  DCDrawProfile(dc, 1 | 0x10000, &deep, &data);
  DCDrawProfile(dc, 3, &pie, &data);
  ASSERT_EQ(PrintEndPage(job), 1);
  const std::string pdf = zemta::print::jobPdfPath(job);
  ASSERT_EQ(PrintEndDoc(job), 1);
  DCDelete(dc);
  EXPECT_EQ(PrintDelete(job), 0);
  const std::string text = testing_support::pdfText(pdf);
  for (const std::string& expected : {utf8(u8"部門別売上報告"), utf8(u8"令和八年十二月"), utf8(u8"総務"), utf8(u8"34,500"), utf8(u8"本店"), utf8(u8"支店"), utf8(u8"12月")})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  EXPECT_FALSE(keepPicture(pdf, "dc_layer").empty());
}

}  // namespace
}  // namespace print_test
