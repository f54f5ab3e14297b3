#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "lib/core/little_endian.h"
#include "lib/store/department_project.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/views/view/view_registry.h"
#include "platform/ui/window.h"
#include "zemta/view.h"
#include "tests/lib/views/print/print_fixture.h"

namespace print_test {
namespace {

namespace fs = std::filesystem;

const char8_t kDefinitionText[] = u8R"(# departments and the print control record
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  field "番号" id=501 offset=0 size=2 type=4 index="NO"
  field "名前" id=502 offset=2 size=20 type=0
  field "区分" id=503 offset=22 size=2 type=4
end
table "印刷" fdb=6 id=6 header=0 record=4 file="PRCTL"
  field "頁" id=601 offset=0 size=2 type=4
  field "頁数" id=602 offset=2 size=2 type=4
end
table "商品" fdb=7 id=7 header=0 record=40 file="ITEM"
  field "コード" id=701 offset=0 size=4 type=7
  field "名前" id=702 offset=4 size=20 type=0
  field "部門番号" id=703 offset=24 size=2 type=4 rules=1 ref=部門:番号
  field "単価" id=704 offset=28 size=4 type=7 rules=0x00040007 ref=商品:数量
  field "数量" id=705 offset=32 size=4 type=7 rules=0x00060000
  field "金額" id=706 offset=36 size=4 type=7 rules=0x00030007 ref=商品:単価
end
)";

// A form item: column, row, width, lines, attribute, item type, record
// offset and size.
std::string item(uint16_t column, uint16_t row, uint16_t width, uint16_t type, uint16_t offset, uint16_t size,
                 uint8_t attribute) {
  std::string raw(64, '\0');
  auto* w = reinterpret_cast<uint8_t*>(raw.data());
  zemta::put_u16le(w + 6, column);
  zemta::put_u16le(w + 8, row);
  zemta::put_u16le(w + 10, width);
  zemta::put_u16le(w + 12, 1);
  w[14] = attribute;
  zemta::put_u16le(w + 18, type);
  zemta::put_u16le(w + 20, offset);
  zemta::put_u16le(w + 22, size);
  return raw;
}

constexpr uint8_t kHeaderRow = 0xE5, kPlainRow = 0xE1, kDetailRow = 0xE3;
constexpr uint16_t kNumber = 4, kSigned = 7, kLeftText = 1 | 0x2000;

struct FormLine {
  uint8_t attribute;
  std::string text;
};

// A form file of 60 columns at 1/10 inch by 1/6 inch: its lines, items and
// the tables its trailer lists.
std::string formFile(const std::vector<FormLine>& lines, const std::vector<std::string>& items,
                     const std::string& tables) {
  std::string f;
  f += "NB";
  f += std::string("\x00\x01", 2);  // version 256
  auto word = [&](uint16_t v) { f += static_cast<char>(v & 0xFF), f += static_cast<char>(v >> 8); };
  word(60), word(static_cast<uint16_t>(lines.size())), word(1500), word(1000), word(254), word(423);
  for (const FormLine& line : lines) {
    f += '\33';
    f += static_cast<char>(line.attribute);
    f += line.text;
    f += '\r';  // the text ends with the last line: nothing follows it
  }
  f += std::string(32, '\0');
  word(static_cast<uint16_t>(items.size()));
  for (const auto& i : items) f += i;
  const std::string trailer = "ZEMTA RESOURCE\r\n" + tables;
  word(static_cast<uint16_t>(trailer.size()));
  f += trailer;
  return f;
}

// The department list: a two-row page header (title, page number and a
// ruled line), the column titles as the group header, one detail row a
// department, a closing line as the group footer and the page footer with
// "page / pages". Tables: the departments and the print control record.
std::string departmentForm() {
  std::string rule;
  for (int i = 0; i < 28; ++i) rule += "\x86\xA2";
  return formFile({{kHeaderRow, "部門一覧表                                 頁"},
                   {kHeaderRow, rule},
                   {kPlainRow, "  番号  部門名"},
                   {kDetailRow, " "},
                   {kPlainRow, "  以上"},
                   {kHeaderRow, "                      -    /    -"}},
                  {
                      item(48, 0, 4, kNumber, 32, 2, kHeaderRow),    // page number
                      item(2, 3, 4, kNumber, 0, 2, kDetailRow),      // number
                      item(8, 3, 20, kLeftText, 2, 20, kDetailRow),  // name
                      item(23, 5, 4, kNumber, 32, 2, kHeaderRow),    // page
                      item(28, 5, 4, kNumber, 34, 2, kHeaderRow),    // pages
                  },
                  std::string("\x02\x00\x05\x00\x06\x80", 6));
}

// The item list over the items (40 bytes), the departments their department
// numbers refer to (from offset 40) and the print control record (from 72): a
// row an item with its department's name and its amount, which the items
// table calculates as price times quantity.
std::string itemForm() {
  return formFile({{kHeaderRow, "商品一覧表                                 頁"},
                   {kPlainRow, "  コード 商品名               部門名               金額"},
                   {kDetailRow, "       |                    |                    |"},
                   {kPlainRow, "  以上"}},
                  {
                      item(48, 0, 4, kNumber, 72, 2, kHeaderRow),     // page number
                      item(2, 2, 4, kSigned, 0, 4, kDetailRow),       // code
                      item(8, 2, 20, kLeftText, 4, 20, kDetailRow),   // name
                      item(29, 2, 20, kLeftText, 42, 20, kDetailRow), // the department's name
                      item(50, 2, 8, kSigned, 36, 4, kDetailRow),     // amount
                  },
                  std::string("\x03\x00\x07\x00\x05\x00\x06\x80", 8));
}

// A second form of the items: one more row an item, its price and quantity.
std::string itemDetailForm() {
  return formFile({{kDetailRow, "      単価         数量"}},
                  {
                      item(11, 0, 6, kSigned, 28, 4, kDetailRow),  // price
                      item(24, 0, 6, kSigned, 32, 4, kDetailRow),  // quantity
                  },
                  std::string("\x03\x00\x07\x00\x05\x00\x06\x80", 8));
}

// A catalog entry of a print form.
std::string resourceEntry(const std::string& title, uint32_t flags, uint16_t table, uint32_t options,
                          const std::string& file) {
  std::string r(128, '\0');
  auto* b = reinterpret_cast<uint8_t*>(r.data());
  std::memcpy(b, title.data(), std::min<size_t>(title.size(), 19));
  zemta::put_u32le(b + 20, flags);
  zemta::put_u16le(b + 24, 1);
  zemta::put_u16le(b + 26, table);
  zemta::put_u32le(b + 32, options);
  std::memcpy(b + 56, file.data(), file.size());
  return r;
}

class PrintFormTest : public PrintTest {
 protected:
  void SetUp() override {
    PrintTest::SetUp();
    platform::ui::ensureApplication();
    ASSERT_EQ(FileSetLocPath(folder_.file("Local").c_str()), 0);
    catalog_ = folder_.file("App/Res/Test.dbf");
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(reinterpret_cast<const char*>(kDefinitionText), definition,
                                                        error))
        << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog_, error)) << error;
    // The catalog lists the department list as the default print form of
    // table 5 and the item list as that of table 7; the item list's second
    // form goes with it.
    std::string bytes = testing_support::fileBytes(catalog_);
    const std::string entries =
        resourceEntry("部門一覧", 0x1 | PRINT_NO_DIALOG | 0x0480, 5, 0x10000, "DEPT") +
        resourceEntry("商品一覧", 0x1 | PRINT_NO_DIALOG | 0x0480, 7, 0x10000, "ITEM") +
        resourceEntry("商品明細", PRINT_NO_DIALOG | 0x0480, 7, 0x10000, "ITEMSUB");
    bytes.insert(zemta::fileproj::kCatalogHeaderLen + 3 * zemta::fileproj::kCatalogRecordLen, entries);
    bytes[zemta::fileproj::kHeaderResourceCount] = 3;
    testing_support::writeFileBytes(catalog_, bytes);
    folder_.write("App/Res/Data/Res/DEPT.paf", departmentForm());
    folder_.write("App/Res/Data/Res/ITEM.paf", itemForm());
    folder_.write("App/Res/Data/Res/ITEMSUB.paf", itemDetailForm());

    owner_ = platform::ui::createWindow({"PrintOwner", "owner", nullptr, {0, 0, 100, 100}, false},
                                        [this](HWND w, uint32_t message, WPARAM wParam, LPARAM lParam) -> LRESULT {
                                          if (message == g_nMsgRefExt && g_nMsgRefExt != 0) {
                                            heard_.push_back(static_cast<uint32_t>(wParam));
                                            uint32_t job = 0;
                                            std::memcpy(&job, reinterpret_cast<const void*>(lParam), 4);
                                            jobs_.push_back(job);
                                            return 0;
                                          }
                                          return platform::ui::defaultWindowProc(w, message, wParam, lParam);
                                        });
    ASSERT_NE(owner_, nullptr);
    project_ = FileProjOpen(catalog_.c_str(), 5, owner_);
    ASSERT_NE(project_, 0u);
    FileDBHandle dept = FileProjGetFdb(project_, 5);
    for (uint16_t i = 0; i < 150; ++i) {
      const std::string name = "部門" + std::to_string(i + 1);
      ASSERT_EQ(FileDBRecWrite(dept, i, store_test::department(static_cast<uint16_t>(100 + i), name.c_str()).data()), 0);
    }
    const uint8_t control[4] = {0, 0, 0, 0};
    ASSERT_EQ(FileDBRecWrite(FileProjGetFdb(project_, 6), 0, control), 0);
    ASSERT_EQ(PrintSetRef(project_, "印刷", "頁", "頁数"), 0);
  }
  void TearDown() override {
    if (project_) FileProjClose(project_);
    if (owner_) platform::ui::destroyWindow(owner_);
    FileSetLocPath(nullptr);
    PrintTest::TearDown();
  }
  // The one PDF the print left in the folder.
  std::string printedPdf() const {
    std::vector<std::string> pdfs;
    for (const auto& e : fs::directory_iterator(folder_.path()))
      if (e.path().extension() == ".pdf") pdfs.push_back(e.path().string());
    EXPECT_EQ(pdfs.size(), 1u);
    return pdfs.empty() ? std::string() : pdfs[0];
  }

  std::string catalog_;
  FileProjHandle project_ = 0;
  HWND owner_ = nullptr;
  std::vector<uint32_t> heard_, jobs_;
};

// The pages of a PDF's text, without its blanks (the layout's spacing is the reader's).
std::vector<std::string> pagesOf(const std::string& layout) {
  std::string text;
  for (char c : layout)
    if (c != ' ') text += c;
  std::vector<std::string> pages;
  size_t start = 0;
  for (size_t at; (at = text.find('\f', start)) != std::string::npos; start = at + 1)
    pages.push_back(text.substr(start, at - start));
  if (start < text.size() && text.find_first_not_of("\n ", start) != std::string::npos) pages.push_back(text.substr(start));
  return pages;
}

TEST_F(PrintFormTest, TheDepartmentListPrintsARowARecordWithItsHeadersFootersAndCounters) {
  ASSERT_EQ(PrintResource(project_, 5, owner_, nullptr, ""), 0);
  EXPECT_EQ(box_.count(), 0u) << box_.lastText();
  const std::string pdf = printedPdf();
  const std::vector<std::string> pages = pagesOf(testing_support::pdfText(pdf));
  // 67 rows a page: the first holds 63 departments (page header, column
  // titles, footer), the later ones 64.
  ASSERT_EQ(pages.size(), 3u);
  const int firstOf[] = {1, 64, 128}, lastOf[] = {63, 127, 150};
  for (int p = 0; p < 3; ++p) {
    const std::string& page = pages[static_cast<size_t>(p)];
    EXPECT_NE(page.find(utf8(u8"部門一覧表")), std::string::npos) << p;
    EXPECT_EQ(page.find(utf8(u8"番号")) != std::string::npos, p == 0) << p;
    EXPECT_EQ(page.find(utf8(u8"以上")) != std::string::npos, p == 2) << p;
    EXPECT_NE(page.find("-" + std::to_string(p + 1) + "/3-"), std::string::npos) << page;
    EXPECT_NE(page.find(std::to_string(99 + firstOf[p]) + utf8(u8"部門") + std::to_string(firstOf[p]) + "\n"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find(std::to_string(99 + lastOf[p]) + utf8(u8"部門") + std::to_string(lastOf[p]) + "\n"),
              std::string::npos)
        << page;
    if (p < 2) {
      EXPECT_EQ(page.find(std::to_string(99 + lastOf[p] + 1) + utf8(u8"部門")), std::string::npos) << page;
    }
  }
  // The notifications, page by page, all for the one job.
  const std::vector<uint32_t> page1 = {0x10003, 0x10005, 0x10006, 0x10004, 0x10008};
  const std::vector<uint32_t> later = {0x10003, 0x10005, 0x10006, 0x10004};
  const std::vector<uint32_t> last = {0x10003, 0x10005, 0x10006, 0x10007, 0x10004};
  std::vector<uint32_t> expected = {0x10001};
  expected.insert(expected.end(), page1.begin(), page1.end());
  expected.insert(expected.end(), later.begin(), later.end());
  expected.insert(expected.end(), last.begin(), last.end());
  expected.push_back(0x10002);
  // Between them the job's record-buffer rows tell of each record read (7).
  std::vector<uint32_t> printCodes;
  std::copy_if(heard_.begin(), heard_.end(), std::back_inserter(printCodes), [](uint32_t c) { return c >= 0x10000; });
  EXPECT_EQ(printCodes, expected);
  EXPECT_GE(std::count(heard_.begin(), heard_.end(), uint32_t{FILEBUF_EVENT_READ}), 150);
  for (uint32_t job : jobs_) EXPECT_EQ(job, jobs_.front());
  EXPECT_EQ(zemta::print::jobCount(), 0u);
  EXPECT_FALSE(keepPicture(pdf, "department_list_page1").empty());
}

// An item record: code, name, department number, price, quantity, and an
// amount that nobody has worked out yet.
std::vector<uint8_t> itemRecord(int32_t code, const char* name, uint16_t department, int32_t price,
                                int32_t quantity) {
  std::vector<uint8_t> r(40, 0);
  zemta::put_i32le(r.data(), code);
  std::memcpy(r.data() + 4, name, std::strlen(name));
  zemta::put_u16le(r.data() + 24, department);
  zemta::put_i32le(r.data() + 28, price);
  zemta::put_i32le(r.data() + 32, quantity);
  zemta::put_i32le(r.data() + 36, -1);
  return r;
}

TEST_F(PrintFormTest, TheItemListShowsReferencedNamesCalculatedAmountsAndItsSecondFormUnderEachItem) {
  FileDBHandle items = FileProjGetFdb(project_, 7);
  ASSERT_EQ(FileDBRecWrite(items, 0, itemRecord(1, "りんご", 100, 120, 3).data()), 0);
  ASSERT_EQ(FileDBRecWrite(items, 1, itemRecord(2, "みかん", 149, 80, 5).data()), 0);
  ASSERT_EQ(FileDBRecWrite(items, 2, itemRecord(3, "ぶどう", 999, 500, 2).data()), 0);  // no such department
  ASSERT_EQ(PrintResource(project_, 7, owner_, nullptr, ""), 0);
  EXPECT_EQ(box_.count(), 0u) << box_.lastText();
  const std::string pdf = printedPdf();
  const std::vector<std::string> pages = pagesOf(testing_support::pdfText(pdf));
  ASSERT_EQ(pages.size(), 1u);
  const std::string& page = pages[0];
  // Each item's row, then the second form's row of the same item.
  for (const std::string& rows : {utf8(u8"1|りんご|部門1|360\n単価120数量3\n"),
                                  utf8(u8"2|みかん|部門50|400\n単価80数量5\n"),
                                  utf8(u8"3|ぶどう||1000\n単価500数量2\n")})
    EXPECT_NE(page.find(rows), std::string::npos) << page;
  EXPECT_NE(page.find(utf8(u8"商品一覧表頁1")), std::string::npos) << page;
  EXPECT_NE(page.find(utf8(u8"以上")), std::string::npos) << page;
  // The job's rows went with it; the stored amounts are untouched.
  EXPECT_EQ(FileProjBufNextSet(project_, 0, -1), -1);
  std::vector<uint8_t> stored(40, 0);
  ASSERT_EQ(FileDBRecRead(items, 0, stored.data()), 0);
  EXPECT_EQ(zemta::get_u32le(stored.data() + 36), 0xFFFFFFFFu);
  EXPECT_FALSE(keepPicture(pdf, "item_list_page1", 100).empty());
}

TEST_F(PrintFormTest, AListedSelectionPrintsOnlyItsRecordsAndAnEmptyListPrintsNothing) {
  uint32_t picked[] = {4, 9, 149};
  FileRecList list{3, 3, picked, 0};
  ASSERT_EQ(PrintResource(project_, 5, owner_, &list, ""), 0);
  const std::vector<std::string> pages = pagesOf(testing_support::pdfText(printedPdf()));
  ASSERT_EQ(pages.size(), 1u);
  const std::string& text = pages[0];
  for (const std::string& name : {utf8(u8"104部門5\n"), utf8(u8"109部門10\n"), utf8(u8"249部門150\n")})
    EXPECT_NE(text.find(name), std::string::npos) << text;
  EXPECT_EQ(text.find(utf8(u8"部門1\n")), std::string::npos) << text;
  // An empty list: the library says so, and no job is made.
  uint32_t none[1] = {0};
  FileRecList empty{1, 0, none, 0};
  EXPECT_EQ(PrintResource(project_, 5, owner_, &empty, ""), -1);
  ASSERT_EQ(box_.count(), 1u);
  EXPECT_EQ(box_.lastText(), "印刷する当該リストが有りません。印刷は中止します。");
  EXPECT_EQ(box_.shown()[0].caption, "注意 - 部門一覧");
  EXPECT_EQ(zemta::print::jobCount(), 0u);
}

TEST_F(PrintFormTest, ViewPrintingGoesThroughTheViewsTableAndRecordList) {
  uint32_t picked[] = {0, 1};
  FileRecList list{2, 2, picked, 0};
  zemta::print::viewPrintSource() = [&](ZemtaView view, zemta::print::ViewPrintInfo& info) {
    if (view != 0xFACC0001) return false;
    info.project = project_;
    info.mainTable = 5;
    info.window = owner_;
    info.currentRecord = 0;
    info.list = &list;
    return true;
  };
  EXPECT_EQ(ViewPrintResource(0xFACC0002, 5, ""), -1);  // no such view
  ASSERT_EQ(ViewPrintResource(0xFACC0001, 5, ""), 0);
  zemta::print::viewPrintSource() = nullptr;
  const std::vector<std::string> pages = pagesOf(testing_support::pdfText(printedPdf()));
  ASSERT_EQ(pages.size(), 1u);
  const std::string& text = pages[0];
  EXPECT_NE(text.find(utf8(u8"100部門1\n")), std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"101部門2\n")), std::string::npos) << text;
  EXPECT_EQ(text.find(utf8(u8"部門3\n")), std::string::npos) << text;
  EXPECT_EQ(heard_.back(), 0x10002u);
}

// A record view on screen prints its own table's form over the records its
// list holds.
TEST_F(PrintFormTest, ARecordViewPrintsTheRecordsOfItsList) {
  const ViewHandle view = ViewTableOpen(project_, 5, owner_, nullptr);
  ASSERT_NE(view, 0u);
  FileRecList list{};
  ASSERT_EQ(FileNewRecList(&list, 2), 0);
  list.items[0] = 4;
  list.items[1] = 9;
  list.count = 2;
  ASSERT_EQ(ViewFileSetRecList(view, &list), 0);
  ASSERT_EQ(ViewPrintResource(view, 0, ""), 0);
  EXPECT_EQ(ViewDelete(view), 0);
  const std::vector<std::string> pages = pagesOf(testing_support::pdfText(printedPdf()));
  ASSERT_EQ(pages.size(), 1u);
  const std::string& text = pages[0];
  EXPECT_NE(text.find(utf8(u8"104部門5\n")), std::string::npos) << text;
  EXPECT_NE(text.find(utf8(u8"109部門10\n")), std::string::npos) << text;
  EXPECT_EQ(text.find(utf8(u8"100部門1\n")), std::string::npos) << text;
}

TEST_F(PrintFormTest, APageRangePrintsThoseOfTheListsPagesWithTheirOwnRecords) {
  const std::string formBytes = departmentForm();
  PrintFormGeometry g{};
  std::memcpy(&g, formBytes.data(), sizeof g);
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | 0x0480, "部門一覧", owner_, &g, "");
  ASSERT_NE(job, 0u);
  // What PrintResource binds, with pages 2 to 2 as the print dialog's user chose.
  zemta::print::PrintJob* j = zemta::print::findJob(job);
  j->project = project_;
  j->resourceKey = j->mainTable = 5;
  j->mainRecordCount = 150;
  j->formOptions = 0x10000;
  j->firstPage = j->lastPage = 2;
  const std::string form = folder_.file("App/Res/Data/Res/DEPT.paf");
  ASSERT_EQ(PrintAddFile(job, 5, 1, form.c_str(), nullptr), 0);
  ASSERT_EQ(PrintCombine(job), 0);
  ASSERT_EQ(PrintFields(job), 0);
  const std::string pdf = zemta::print::jobPdfPath(job);
  ASSERT_EQ(PrintEndDoc(job), 1);
  EXPECT_EQ(PrintDelete(job), 0);
  const std::vector<std::string> pages = pagesOf(testing_support::pdfText(pdf));
  ASSERT_EQ(pages.size(), 1u);
  // The second page of the list: departments 64 to 127 under "2 / 3", and
  // no column titles (they head the first page only).
  const std::string& page = pages[0];
  EXPECT_NE(page.find("-2/3-"), std::string::npos) << page;
  EXPECT_NE(page.find(utf8(u8"163部門64\n")), std::string::npos) << page;
  EXPECT_NE(page.find(utf8(u8"226部門127\n")), std::string::npos) << page;
  EXPECT_EQ(page.find(utf8(u8"部門63\n")), std::string::npos) << page;
  EXPECT_EQ(page.find(utf8(u8"部門128\n")), std::string::npos) << page;
  EXPECT_EQ(page.find(utf8(u8"番号")), std::string::npos) << page;
  std::vector<uint32_t> printCodes;
  std::copy_if(heard_.begin(), heard_.end(), std::back_inserter(printCodes), [](uint32_t c) { return c >= 0x10000; });
  EXPECT_EQ(printCodes, (std::vector<uint32_t>{0x10001, 0x10003, 0x10005, 0x10006, 0x10004}));
  EXPECT_FALSE(keepPicture(pdf, "page_range_page2").empty());
}

TEST_F(PrintFormTest, AFormFilledFromTheCallersRecordBufferLeavesItToTheCaller) {
  const int32_t tables[] = {5, 6};
  FileProjBufHandle set = FileProjBufAdd(project_, 1, 2, tables);
  ASSERT_NE(set, nullptr);
  ASSERT_GE(FileProjBufBind(project_, 0x7101, owner_, 5, 0), 0);
  const std::string formBytes = departmentForm();
  PrintFormGeometry g{};
  std::memcpy(&g, formBytes.data(), sizeof g);
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG | 0x0480, "部門一覧", owner_, &g, "");
  ASSERT_NE(job, 0u);
  zemta::print::PrintJob* j = zemta::print::findJob(job);
  j->project = project_;
  j->resourceKey = j->mainTable = 5;
  j->mainRecordCount = 2;
  j->formOptions = 0x10000;
  const std::string form = folder_.file("App/Res/Data/Res/DEPT.paf");
  // Not a set of the project: refused with the library's error.
  FileProjBufEntry notASet{};
  EXPECT_EQ(PrintAddFile(job, 5, 1, form.c_str(), &notASet), -1);
  EXPECT_EQ(box_.count(), 1u);
  ASSERT_EQ(PrintAddFile(job, 5, 1, form.c_str(), set), 0);
  ASSERT_EQ(PrintCombine(job), 0);
  ASSERT_EQ(PrintFields(job), 0);
  const std::string pdf = zemta::print::jobPdfPath(job);
  ASSERT_EQ(PrintEndDoc(job), 1);
  EXPECT_EQ(PrintDelete(job), 0);
  const std::string text = testing_support::pdfText(pdf);
  const std::vector<std::string> pages = pagesOf(text);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_NE(pages[0].find(utf8(u8"101部門2\n")), std::string::npos) << pages[0];
  // The set is still the caller's, showing the last record printed.
  EXPECT_EQ(FileProjBufNumber(project_, set), 0);
  const auto* shown = static_cast<const uint8_t*>(FileProjGetBufFdb(project_, 0x7101, 5, 0));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(zemta::get_u16le(shown), 101);
  EXPECT_EQ(FileProjBufRemove(project_, set), 0);
}

TEST_F(PrintFormTest, SectionsAreLimitedToTwoAndOneSectionCombinesToItself) {
  PrintFormGeometry g{};
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG, "部門一覧", owner_, &g, "");
  ASSERT_NE(job, 0u);
  const std::string form = folder_.file("App/Res/Data/Res/DEPT.paf");
  EXPECT_EQ(PrintAddFile(job, 5, 1, form.c_str(), nullptr), 0);
  EXPECT_EQ(PrintCombine(job), 0);
  EXPECT_EQ(PrintAddFile(job, 5, 0, form.c_str(), nullptr), 0);
  EXPECT_EQ(PrintAddFile(job, 5, 0, form.c_str(), nullptr), -1);
  EXPECT_EQ(zemta::print::findJob(job)->sections.size(), 2u);
  // Not a form file.
  folder_.write("bad.paf", "NC\x00\x01");
  PrintHandle other = PrintCreate(PRINT_NO_DIALOG, "x", owner_, &g, "");
  EXPECT_EQ(PrintAddFile(other, 5, 1, folder_.file("bad.paf").c_str(), nullptr), -1);
  EXPECT_EQ(PrintDelete(other), 0);
  EXPECT_EQ(PrintDelete(job), 0);
}

TEST_F(PrintFormTest, ClosingTheProjectDestroysItsJobs) {
  PrintFormGeometry g{};
  PrintHandle job = PrintCreate(PRINT_NO_DIALOG, "部門一覧", owner_, &g, "");
  ASSERT_NE(job, 0u);
  zemta::print::findJob(job)->project = project_;
  zemta::views::registerPrintJob(job, project_);
  ASSERT_EQ(PrintStartPage(job), 1);
  EXPECT_EQ(FileProjClose(project_), 0);
  project_ = 0;
  EXPECT_EQ(PrintCheckHandle(job), -1);
  EXPECT_EQ(zemta::print::jobCount(), 0u);
}

}  // namespace
}  // namespace print_test
