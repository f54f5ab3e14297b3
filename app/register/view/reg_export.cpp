// Report export: the line records a register view holds, written as a CSV
// file a spreadsheet reads (see reg_view.h).
//
// The file, code page 932, lines ended by CR LF, every field in double
// quotes (an inner quote doubled), fields separated by commas:
//   1. title row of 23 fields: "レシート点検", 21 empty fields, the view's date
//      as "%4u/%2u/%2u"; then an empty line;
//   2. header row: the record's short field names (kHeader);
//   3. one row per 96-byte line record, in block order: fncn and prnn as text
//      (trailing blanks removed), codn and scdn as text (a code of exactly 8
//      or 13 characters prefixed "JAN:"), flag bits 1 and 6 to 14 as 0 or 1,
//      the key code's number and type, then the seven 32-bit numbers.
#include <cstdio>
#include <string>

#include "app/register/engine/records.h"
#include "app/register/view/reg_view.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/dialog.h"

namespace varnex::reg {

namespace {

const char* const kHeader[] = {"fncn", "prnn", "codn",  "scdn",  "dumy",   "pcd",    "pscd",   "dbl",
                               "ccts", "clct", "itx",   "ntx",   "ntm",    "nstx",   "dp",     "sel",
                               "unit", "untprc", "price", "untnet", "netprc", "dumy0", "dumy1"};
constexpr int kColumns = sizeof kHeader / sizeof kHeader[0];
// Flag bits of the columns dumy to nstx.
constexpr int kFlagBits[] = {1, 6, 7, 8, 9, 10, 11, 12, 13, 14};

std::string trimmed(const uint8_t* record, size_t offset, size_t width) {
  std::string text = getText(record, offset, width);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string codeText(const uint8_t* record, size_t offset, size_t width) {
  const std::string code = getText(record, offset, width);
  return code.size() == 8 || code.size() == 13 ? "JAN:" + code : code;
}

}  // namespace

void CRegView::WriteCsvField(const std::string& text, bool* first, std::string* archive, char separator,
                             bool quote) {
  if (!*first) *archive += separator;
  *first = false;
  if (!quote) {
    *archive += text;
    return;
  }
  *archive += '"';
  for (char c : text) {
    // A quote inside a field is doubled, so that a name holding one stays
    // one field for every CSV reader.
    if (c == '"') *archive += '"';
    *archive += c;
  }
  *archive += '"';
}

std::string CRegView::BuildReportCsv(MemoryBlockHandle block, const platform::ui::Date& date) {
  std::string out;
  bool first = true;
  WriteCsvField("レシート点検", &first, &out, ',', true);
  for (int i = 0; i < 21; ++i) WriteCsvField("", &first, &out, ',', true);
  char day[32];
  std::snprintf(day, sizeof day, "%4u/%2u/%2u", static_cast<unsigned>(date.year), static_cast<unsigned>(date.month),
                static_cast<unsigned>(date.day));
  WriteCsvField(day, &first, &out, ',', true);
  out += "\r\n\r\n";
  first = true;
  for (const char* name : kHeader) WriteCsvField(name, &first, &out, ',', true);
  out += "\r\n";
  if (!block) return out;

  const int32_t size = SeekMemory(block, 0, MEMORY_SEEK_END);
  const int32_t records = size > 0 ? size / static_cast<int32_t>(line::kSize) : 0;
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < records; ++n) {
    if (ReadDataMemory(block, l, line::kSize) != static_cast<int32_t>(line::kSize)) break;
    first = true;
    WriteCsvField(trimmed(l, line::kDisplayName, line::kDisplayNameLen), &first, &out, ',', true);
    WriteCsvField(trimmed(l, line::kPrintName, line::kPrintNameLen), &first, &out, ',', true);
    WriteCsvField(codeText(l, line::kCode, line::kCodeLen), &first, &out, ',', true);
    WriteCsvField(codeText(l, line::kSubCode, line::kSubCodeLen), &first, &out, ',', true);
    const uint16_t flags = getU16(l, line::kFlags);
    for (int bit : kFlagBits) WriteCsvField(std::to_string((flags >> bit) & 1), &first, &out, ',', true);
    const uint16_t key = getU16(l, line::kKeyCode);
    WriteCsvField(std::to_string(key & 0x0FFF), &first, &out, ',', true);
    WriteCsvField(std::to_string(key >> 12), &first, &out, ',', true);
    for (uint16_t offset = line::kUnit; offset <= line::kDummy1; offset += 4)
      WriteCsvField(std::to_string(getI32(l, offset)), &first, &out, ',', true);
    out += "\r\n";
  }
  static_assert(kColumns == 23, "the rows have 23 columns");
  return out;
}

void CRegView::OnExportReport() {
  platform::ui::FileDialogRequest request;
  request.kind = platform::ui::FileDialogKind::Save;
  request.filters = platform::ui::parseFileFilter("Text Files (*.txt;*.csv)|*.txt; *.csv|All Files (*.*)|*.*||");
  request.defaultExtension = "csv";
  std::string path;
  if (!platform::ui::saveFileDialog(handle(), request, path)) return;
  if (path.find('.', path.find_last_of("/\\") == std::string::npos ? 0 : path.find_last_of("/\\")) ==
      std::string::npos)
    path += ".csv";
  const std::string text = BuildReportCsv(sale_->LineBlock(), ReportDate());
  platform::File file =
      platform::File::open(path, platform::kFileWrite, platform::kShareNone, platform::kCreateAlways);
  uint32_t done = 0;
  const bool written = file.isOpen() && file.write(text.data(), static_cast<uint32_t>(text.size()), &done) &&
                       done == text.size() && file.flush();
  if (!written) platform::ui::messageBox(handle(), "レポートのエクスポートに失敗しました", "", platform::kMbIconInformation);
}

}  // namespace varnex::reg
