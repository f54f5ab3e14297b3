#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "peers/cups_server.h"
#include "tests/lib/views/print/print_fixture.h"

namespace print_test {
namespace {

namespace fs = std::filesystem;
using zemta::print::jobBinPath;
using zemta::print::jobNotes;
using zemta::print::jobPdfPath;

std::vector<std::string> namesOf(const std::vector<char>& buffer, int32_t size) {
  std::vector<std::string> names;
  for (int32_t at = 0; at < size; at += static_cast<int32_t>(std::strlen(buffer.data() + at)) + 1)
    names.emplace_back(buffer.data() + at);
  return names;
}

using PrinterListTest = PrintTest;

TEST_F(PrinterListTest, WithoutAServerEveryListIsEmptyAndNothingFails) {
  for (auto list : {PrintGetLocalList, PrintGetConnectList, PrintGetRemoteList}) {
    int32_t count = -5;
    char buffer[16] = "x";
    EXPECT_EQ(list(&count, nullptr, 0), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list(&count, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 'x');
  }
  EXPECT_EQ(box_.count(), 0u);
  // Bad arguments are reported.
  EXPECT_EQ(PrintGetLocalList(nullptr, nullptr, 0), -1);
  EXPECT_EQ(box_.lastText(), zemta::errorText(ZEMTA_ERR_BAD_POINTER));
  int32_t count = 0;
  EXPECT_EQ(PrintGetLocalList(&count, nullptr, -1), -1);
  EXPECT_EQ(box_.lastText(), zemta::errorText(ZEMTA_ERR_BAD_SIZE));
  // A printer nobody has: the spooler's error, no block.
  void* devMode = reinterpret_cast<void*>(1);
  EXPECT_EQ(PrintGetDevName("NoSuchPrinter", &devMode), nullptr);
  EXPECT_EQ(box_.lastText(), zemta::errorText(1801));
  EXPECT_EQ(PrintCreate(PRINT_NO_DIALOG, "doc", nullptr, nullptr, "NoSuchPrinter"), 0u);
}

TEST_F(PrinterListTest, TheQueuesOfACupsServerAreListedWithTheirDeviceNames) {
  testing_support::CupsServer server;
  std::string why;
  if (!server.start(why)) GTEST_FAIL() << why;
  for (const std::string& queue : {std::string("Slip"), utf8(u8"部門"), std::string("Kitchen-Printer")}) ASSERT_TRUE(server.addQueue(queue, why)) << why;
  platform::ui::usePrintServer(server.address());

  int32_t count = 0;
  const int32_t size = PrintGetLocalList(&count, nullptr, 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(size, int32_t(std::strlen("Slip") + std::strlen("部門") + std::strlen("Kitchen-Printer") + 3));
  std::vector<char> buffer(static_cast<size_t>(size));
  EXPECT_EQ(PrintGetLocalList(&count, buffer.data(), size), size);
  std::vector<std::string> names = namesOf(buffer, size);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Kitchen-Printer", "Slip", "部門"}));
  // The server shares nobody else's queues.
  EXPECT_EQ(PrintGetConnectList(&count, nullptr, 0), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(PrintGetRemoteList(&count, nullptr, 0), 0);

  // A buffer too short for a name leaves it out; the size needed is still the whole.
  const std::string first(buffer.data());
  std::vector<char> shortBuffer(static_cast<size_t>(size), '#');
  const int32_t secondAt = static_cast<int32_t>(first.size()) + 1;
  EXPECT_EQ(PrintGetLocalList(&count, shortBuffer.data(), secondAt), size);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::string(shortBuffer.data()), first);
  EXPECT_EQ(shortBuffer[secondAt], '#');

  // Device names: driver, printer and port, offsets from the block's start.
  void* devMode = nullptr;
  auto* block = static_cast<uint8_t*>(PrintGetDevName("部門", &devMode));
  ASSERT_NE(block, nullptr);
  ZemtaDevNames names16;
  std::memcpy(&names16, block, sizeof names16);
  EXPECT_EQ(names16.wDriverOffset, 8);
  const std::string driver(reinterpret_cast<char*>(block) + names16.wDriverOffset);
  EXPECT_EQ(names16.wDeviceOffset, 8 + driver.size() + 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block) + names16.wDeviceOffset), "部門");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block) + names16.wOutputOffset).rfind("file://", 0), 0u);
  ASSERT_NE(devMode, nullptr);
  EXPECT_EQ(static_cast<ZemtaDevMode*>(devMode)->dmSize, 156);
  std::free(devMode);
  std::free(block);
  // Without a device mode wanted, only the names.
  block = static_cast<uint8_t*>(PrintGetDevName("Slip", nullptr));
  ASSERT_NE(block, nullptr);
  std::free(block);
  platform::ui::usePrintServer("127.0.0.1:9");
}

using PrintJobTest = PrintTest;

TEST_F(PrintJobTest, PaperCodesOrientationAndTheFormsOwnPaper) {
  ZemtaDevMode dm{};
  PrintFormGeometry g{{0, 0}, 136, 40, 0, 0, 254, 423};
  PrintApplyPaper(0x0480 | PRINT_LANDSCAPE, &dm, &g);
  EXPECT_EQ(dm.dmPaperSize, 9);
  EXPECT_EQ(dm.dmOrientation, 2);
  EXPECT_EQ(dm.dmColor, 1);
  // Paper from the form: 40 rows at 1/6 inch are 1693 tenths of a millimetre.
  dm = ZemtaDevMode{};
  PrintApplyPaper(PRINT_COLOUR, &dm, &g);
  EXPECT_EQ(dm.dmPaperSize, 0);
  EXPECT_EQ(dm.dmPaperLength, 1693);
  EXPECT_EQ(dm.dmPaperWidth, 136 * 254 / 10);
  EXPECT_EQ(dm.dmFields, ZEMTA_DM_PAPERLENGTH | ZEMTA_DM_PAPERWIDTH);
  EXPECT_EQ(dm.dmColor, 2);
  struct Case {
    uint32_t flags;
    uint16_t pitch;
    int16_t size, length;
  };
  for (const Case& c : {Case{0x0400, 423, 8, 0}, Case{0x0600, 423, 12, 0}, Case{0x2780, 423, 79, 0},
                        Case{0x8000, 317, 256, 40 * 254 / 8}, Case{0x8000, 500, 256, 40 * 500 / 10},
                        Case{0x0080, 423, 77, 0}}) {
    dm = ZemtaDevMode{};
    dm.dmPaperSize = 77;  // an unknown code leaves the size as it was
    g.rowPitch = c.pitch;
    PrintApplyPaper(c.flags, &dm, &g);
    EXPECT_EQ(dm.dmPaperSize, c.size) << std::hex << c.flags;
    EXPECT_EQ(dm.dmPaperLength, c.length) << std::hex << c.flags;
    EXPECT_EQ(dm.dmFields, 0u);
  }
}

TEST_F(PrintJobTest, AnA4LandscapeJobPrintsToThePdfTargetWithItsCellSizes) {
  PrintFormGeometry g{{0, 0}, 80, 40, 1000, 1000, 254, 423};
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | 0x0480 | PRINT_LANDSCAPE, "横向き", nullptr, &g, "");
  ASSERT_NE(job, 0u);
  EXPECT_GE(PrintCheckHandle(job), 0);
  double cw = 0, rh = 0;
  int32_t pw = 0, ph = 0;
  PrintCellSize(job, &g, &pw, &ph, &cw, &rh);
  EXPECT_DOUBLE_EQ(rh, 600 / 6.0);  // 1/6 inch rows
  EXPECT_DOUBLE_EQ(cw, 600 * 254 / 2540.0);
  EXPECT_EQ(pw, 80 * 60);
  EXPECT_EQ(ph, 40 * 100);
  int32_t origin[2] = {0, 0};
  HDC hdc = PrintGetDC(job, origin);
  ASSERT_NE(hdc, nullptr);
  EXPECT_EQ(origin[0], 1000 * 600 / 2540 * 2540 / 600);  // the PDF page has no unprintable edge
  const platform::ui::PageCaps& caps = zemta::print::deviceOf(hdc)->caps;
  EXPECT_GT(caps.printableWidth, caps.printableHeight);
  ASSERT_EQ(PrintStartPage(job), 1);
  zemta::print::deviceOf(hdc)->context()->setFontCell("IPAGothic", 100, 0, 400, false, false);
  zemta::print::deviceOf(hdc)->context()->textOut(600, 600, "横向きの頁");
  ASSERT_EQ(PrintEndPage(job), 1);
  const std::string pdf = jobPdfPath(job);
  ASSERT_EQ(PrintEndDoc(job), 1);
  EXPECT_EQ(PrintDelete(job), 0);
  EXPECT_EQ(PrintDelete(job), -1);  // deleted once only
  EXPECT_EQ(PrintCheckHandle(job), -1);
  EXPECT_NE(testing_support::pdfText(pdf).find(utf8(u8"横向きの頁")), std::string::npos);
  const std::string info = pdf + ".info";
  ASSERT_EQ(std::system(("pdfinfo '" + pdf + "' > '" + info + "'").c_str()), 0);
  EXPECT_NE(testing_support::readFileBytes(info).find("842 x 595 pts (A4)"), std::string::npos)
      << testing_support::readFileBytes(info);
}

TEST_F(PrintJobTest, AFormLargerThanThePageShrinksAlongTheTighterSide) {
  // 200 columns of 2.54 mm: 508 mm, far wider than A4 portrait.
  PrintFormGeometry g{{0, 0}, 200, 40, 0, 0, 254, 423};
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | 0x0480 | PRINT_SHRINK, "縮小", nullptr, &g, "");
  ASSERT_NE(job, 0u);
  int32_t pw = 0, ph = 0;
  double cw = 0, rh = 0;
  PrintCellSize(job, &g, &pw, &ph, &cw, &rh);
  const platform::ui::PageCaps& caps = zemta::print::deviceOf(PrintGetDC(job, nullptr))->caps;
  EXPECT_EQ(pw, caps.printableWidth);
  EXPECT_EQ(ph, 4000 * caps.printableWidth / 12000);
  EXPECT_NEAR(cw * 200, pw, 1.0);
  EXPECT_EQ(PrintDelete(job), 0);
}

TEST_F(PrintJobTest, ADotPrinterGetsTheFormFeedBeforeEveryPage) {
  usePdf(180, true);
  for (uint32_t longer : {0u, PRINT_LONG_FEED}) {
    PrintHandle job = PrintCreate(PRINT_NO_DIALOG | PRINT_PASSTHROUGH | longer, "伝票", nullptr, nullptr, "");
    ASSERT_NE(job, 0u);
    ASSERT_EQ(PrintStartPage(job), 1);
    ASSERT_EQ(PrintEndPage(job), 1);
    ASSERT_EQ(PrintStartPage(job), 1);
    ASSERT_EQ(PrintEndPage(job), 1);
    const std::string bin = jobBinPath(job);
    ASSERT_EQ(PrintEndDoc(job), 1);
    EXPECT_EQ(PrintDelete(job), 0);
    const std::string feed = longer ? std::string("\33A\33r\n\n\n\n\n\33f") : std::string("\33A\33r\n\n\n\33f");
    EXPECT_EQ(testing_support::readFileBytes(bin), std::string("\33A") + feed + feed);
  }
  // At 300 dots per inch and more no escape is sent.
  usePdf(300, true);
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | PRINT_PASSTHROUGH, "伝票", nullptr, nullptr, "");
  ASSERT_NE(job, 0u);
  ASSERT_EQ(PrintStartPage(job), 1);
  const std::string bin = jobBinPath(job);
  EXPECT_EQ(PrintDelete(job), 0);
  EXPECT_FALSE(fs::exists(bin));
}

TEST_F(PrintJobTest, APrinterWithoutPassThroughStillPrintsItsPagesAndSaysSo) {
  usePdf(180, false);
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | PRINT_PASSTHROUGH, "伝票", nullptr, nullptr, "");
  ASSERT_NE(job, 0u);
  ASSERT_EQ(jobNotes(job).size(), 1u);
  EXPECT_NE(jobNotes(job)[0].find("no pass-through"), std::string::npos);
  for (const char* text : {"一頁目", "二頁目"}) {
    ASSERT_EQ(PrintStartPage(job), 1);
    auto* dc = zemta::print::deviceOf(PrintGetDC(job, nullptr))->context();
    dc->setFontCell("IPAGothic", 60, 0, 400, false, false);
    dc->textOut(200, 200, text);
    ASSERT_EQ(PrintEndPage(job), 1);
  }
  const std::string pdf = jobPdfPath(job), bin = jobBinPath(job);
  ASSERT_EQ(PrintEndDoc(job), 1);
  EXPECT_EQ(PrintDelete(job), 0);
  const std::string text = testing_support::pdfText(pdf);
  EXPECT_NE(text.find(utf8(u8"一頁目")), std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"二頁目")), std::string::npos) << text;
  EXPECT_FALSE(fs::exists(bin));
  EXPECT_EQ(box_.count(), 0u);  // nothing failed
}

TEST_F(PrintJobTest, AThirtyThirdJobIsRefusedAndTheRunningOnesKeepTheirFiles) {
  std::vector<PrintHandle> jobs;
  for (int i = 0; i < 32; ++i) {
    jobs.push_back(PrintCreate(PRINT_NO_DIALOG, "帳票", nullptr, nullptr, ""));
    ASSERT_NE(jobs.back(), 0u) << i;
    ASSERT_EQ(PrintStartPage(jobs.back()), 1);
  }
  EXPECT_EQ(zemta::print::jobCount(), 32u);
  const auto filesBefore = std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator());
  EXPECT_EQ(PrintCreate(PRINT_NO_DIALOG, "帳票", nullptr, nullptr, ""), 0u);
  EXPECT_EQ(box_.lastText(), zemta::errorText(ZEMTA_ERR_NO_MEMORY));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()), filesBefore);
  // Every running job is still its own, in creation order, and prints.
  std::vector<std::string> pdfs;
  for (size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(PrintCheckHandle(jobs[i]), static_cast<int32_t>(i));
    pdfs.push_back(jobPdfPath(jobs[i]));
  }
  std::sort(pdfs.begin(), pdfs.end());
  EXPECT_EQ(std::unique(pdfs.begin(), pdfs.end()), pdfs.end());
  for (PrintHandle job : jobs) {
    EXPECT_EQ(PrintEndDoc(job), 1);
    EXPECT_EQ(PrintDelete(job), 0);
  }
  for (const std::string& pdf : pdfs) EXPECT_GT(fs::file_size(pdf), 0u) << pdf;
}

TEST_F(PrintJobTest, AJobDeletedWithItsDocumentOpenLeavesNothing) {
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG, "中止", nullptr, nullptr, "");
  ASSERT_NE(job, 0u);
  ASSERT_EQ(PrintStartPage(job), 1);
  const std::string pdf = jobPdfPath(job);
  EXPECT_EQ(PrintDelete(job), 0);
  EXPECT_FALSE(fs::exists(pdf));
}

}  // namespace
}  // namespace print_test
