// The inside of the library's printing, shared by the print jobs
// (print_job.cpp), the drawing layer (dc_layer.cpp) and the form printer
// (print_form.cpp).
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/draw.h"
#include "zemta/filebuf.h"
#include "zemta/print.h"

namespace zemta::print {

// What stands behind an HDC: a print job's pages, or a fixed surface (an
// image) that the drawing layer can be pointed at.
struct Device {
  platform::ui::PrintTarget* target = nullptr;
  platform::ui::DrawContext* surface = nullptr;
  platform::ui::PageCaps caps;
  bool pageOpen = false;
  // Where drawing goes now: the open page, the surface, or nowhere.
  platform::ui::DrawContext* context() const {
    if (surface) return surface;
    return target && pageOpen ? &target->context() : nullptr;
  }
};
inline HDC hdcOf(Device* device) { return reinterpret_cast<HDC>(device); }
inline Device* deviceOf(HDC hdc) { return reinterpret_cast<Device*>(hdc); }

// One form of a job (at most two), laid over the records of its table.
struct FormItem {
  uint16_t column = 0, row = 0, width = 0, lines = 0, attribute = 0;
  uint16_t recordOffset = 0, size = 0, step = 0;
  std::array<uint8_t, 64> raw{};
};

struct PrintSection {
  uint32_t flags = 0;
  int32_t tableId = 0;
  uint16_t columns = 0, rows = 0;
  int32_t left = 0, top = 0;
  double columnWidth = 0, rowHeight = 0;
  std::vector<uint8_t> text, attributes;          // the grid with the fields filled
  std::vector<uint8_t> formText, formAttributes;  // the grid as the form holds it
  std::vector<FormItem> items;
  // The rows the fields are filled from: a record-buffer set of the job's
  // project (the job's own, one shared with an earlier section, or the
  // caller's), else one zeroed record for a job without a project.
  FileProjBufHandle set = nullptr;
  bool ownsSet = false;  // made for this section: removed with the job
  std::vector<uint8_t> record;
  // The form's record scratch buffer (the fields' header), shared with an
  // earlier section over the same tables unless the form asks for its own.
  std::shared_ptr<std::vector<uint8_t>> scratch;
  std::vector<int32_t> tableIds;
  // Page header, group header, detail header, detail, detail footer, group
  // footer, page footer, end: the row each starts at (-1 absent), and with a
  // combined section (section number << 16) | row.
  std::array<int32_t, 8> markers{-1, -1, -1, -1, -1, -1, -1, -1};
  std::array<int32_t, 7> areaRows{};
  // After PrintCombine, the first section's detail: its own detail rows and
  // the later sections' areas, each as (section number << 16 | row, rows).
  std::vector<std::pair<int32_t, int32_t>> detailParts;
  int32_t fontWidth = 0, fontHeight = 0, raise = 0;
};

enum Area { kPageHeader, kGroupHeader, kDetailHeader, kDetail, kDetailFooter, kGroupFooter, kPageFooter, kEnd };

struct PrintJob {
  PrintHandle handle = 0;
  std::unique_ptr<platform::ui::PrintTarget> target;
  Device device;
  int32_t resourceKey = 0;
  int32_t passThrough = 0;
  uint32_t flags = 0;
  HWND owner = nullptr;
  uint16_t firstPage = 0, lastPage = 65535;
  int32_t dpiX = 0, dpiY = 0, offsetX = 0, offsetY = 0;
  int32_t printableRight = 0, printableBottom = 0;
  int32_t availableWidth = 0, availableHeight = 0;
  int32_t leftMarginDots = 0, topMarginDots = 0;
  uint16_t formColumns = 0, formRows = 0, pageWidth = 0, pageHeight = 0;
  bool pageOpen = false, documentOpen = false;
  FileProjHandle project = 0;
  int32_t mainTable = 0;  // fdb id
  uint32_t formOptions = 0;
  int32_t mainRecordCount = 0;
  int16_t recordsPerGroup = 0;
  ZemtaView view = 0;
  HWND notifyWindow = nullptr;
  int32_t currentRecord = -1;
  const FileRecList* list = nullptr;
  int32_t thinPen = 1, thickPen = 2;
  std::vector<std::unique_ptr<PrintSection>> sections;
  uint16_t pageNumber = 0, pageCount = 0;
  // What the job did differently from what was asked (for the caller and
  // the engineer): pass-through bytes left out, and why.
  std::vector<std::string> notes;
};

// The live job of a handle, or null (unreported).
PrintJob* findJob(PrintHandle handle);
// The job's pages: open one (with the form feed first when the job sends
// pass-through bytes), end it, end the document.
bool startPage(PrintJob& job);
bool endPage(PrintJob& job);
bool endDocument(PrintJob& job);
bool sendPassThrough(PrintJob& job, const std::string& bytes);

// What a test or an engineer reads of a job.
std::vector<std::string> jobNotes(PrintHandle handle);
std::string jobPdfPath(PrintHandle handle);
std::string jobBinPath(PrintHandle handle);
size_t jobCount();

// A device over a fixed surface (tests and off-screen pictures).
std::unique_ptr<Device> surfaceDevice(platform::ui::DrawContext& surface, int32_t dotsPerInch, int32_t width,
                                      int32_t height, int32_t offsetX = 0, int32_t offsetY = 0);

// What ViewPrintResource needs of a view: its project, main table, window
// (the job's owner and the notifications' receiver), current record and
// record list (null or empty: the whole table). The record views install the
// source; without one ViewPrintResource fails.
struct ViewPrintInfo {
  FileProjHandle project = 0;
  int32_t mainTable = 0;
  HWND window = nullptr;
  int32_t currentRecord = -1;
  FileRecList* list = nullptr;
};
using ViewPrintSource = std::function<bool(ZemtaView view, ViewPrintInfo& info)>;
ViewPrintSource& viewPrintSource();

// The library's PDF target as the user profile sets it.
struct PdfSettings {
  std::string folder;
  int32_t dotsPerInch = 600;
  bool passThrough = true;
};
PdfSettings pdfSettings();

}  // namespace zemta::print
