// Print jobs: the printer lists over the CUPS queues, the device names of a
// queue, and the process-wide table of at most 32 jobs, each a document on a
// page printer (a queue, or the PDF target) with its paper set up from the
// job flags and the form's geometry.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "lib/core/handle_table.h"
#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/views/print/print_internal.h"
#include "lib/views/view/view_registry.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/print_output.h"

static_assert(sizeof(ZemtaDevMode) == 156, "the public part of a device mode");
static_assert(sizeof(PrintFormGeometry) == 16, "the form geometry of a resource header");

namespace zemta::print {
namespace {

constexpr uint32_t kJobCheck = 0x9ACC0000;
constexpr size_t kMaxJobs = 32;

// The job table: the jobs in creation order, found by their handles.
struct JobTable {
  std::recursive_mutex mutex;
  HandleTable<PrintJob> jobs{kJobCheck, 0xFFFF, kMaxJobs};
  std::vector<PrintHandle> order;
};

JobTable& table() {
  static JobTable t;
  return t;
}

// ---- printer lists -----------------------------------------------------------

enum class ListKind { Local, Connect, Remote };

int32_t listPrinters(ListKind kind, int32_t* count, char* buffer, int32_t length) {
  if (!count) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (length < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
    return -1;
  }
  *count = 0;
  std::vector<std::string> names;
  const std::vector<platform::ui::PrinterEntry> entries = platform::ui::printerEntries();
  if (kind == ListKind::Remote) {
    // Another server's queues, grouped by the server that shares them.
    std::vector<std::pair<std::string, std::string>> byServer;
    for (const auto& e : entries) {
      if (!e.remote) continue;
      std::string server = e.port;
      if (auto at = server.find("://"); at != std::string::npos) server = server.substr(at + 3);
      server = server.substr(0, server.find('/'));
      byServer.emplace_back(server, e.name);
    }
    std::stable_sort(byServer.begin(), byServer.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [server, name] : byServer) names.push_back(name);
  } else {
    for (const auto& e : entries)
      if (e.remote == (kind == ListKind::Connect)) names.push_back(e.name);
  }
  int32_t offset = 0;
  for (const std::string& name : names) {
    const int32_t size = static_cast<int32_t>(name.size());
    if (buffer && offset + size < length) std::memcpy(buffer + offset, name.c_str(), name.size() + 1);
    ++*count;
    offset += size + 1;
  }
  return offset;
}

// ---- device modes ------------------------------------------------------------

// The paper codes of the job flags (flags & 0xFF80) and the spooler's.
int32_t paperCodeOf(uint32_t flags) {
  switch (flags & PRINT_PAPER_MASK) {
    case 0: return 0;
    case 0x0400: return 8;
    case 0x0480: return 9;
    case 0x0600: return 12;
    case 0x1680: return 45;
    case 0x1700: return 46;
    case 0x2480: return 73;
    case 0x2600: return 76;
    case 0x2680: return 77;
    case 0x2780: return 79;
    case 0x8000: return 256;
    default: return -1;  // left as it was
  }
}

void fillDevMode(ZemtaDevMode& dm, const std::string& name) {
  std::memset(&dm, 0, sizeof dm);
  std::snprintf(dm.dmDeviceName, sizeof dm.dmDeviceName, "%s", name.c_str());
  dm.dmSpecVersion = 0x0401;
  dm.dmSize = sizeof dm;
  dm.dmFields = ZEMTA_DM_ORIENTATION | ZEMTA_DM_PAPERSIZE | ZEMTA_DM_COPIES | ZEMTA_DM_DEFAULTSOURCE | ZEMTA_DM_COLOR;
  dm.dmOrientation = 1;
  dm.dmPaperSize = 9;
  dm.dmCopies = 1;
  dm.dmDefaultSource = 7;
  dm.dmColor = 1;
}

// The page set-up a device mode asks for.
platform::ui::PageSetup setupOf(const ZemtaDevMode& dm, const PdfSettings& pdf) {
  platform::ui::PageSetup setup;
  setup.landscape = dm.dmOrientation == 2;
  setup.colour = dm.dmColor == 2;
  setup.copies = std::max<int32_t>(1, dm.dmCopies);
  setup.collate = dm.dmCollate != 0;
  setup.paperCode = dm.dmPaperSize;
  if (dm.dmPaperSize == 0 || dm.dmPaperSize == 256) {
    setup.paperWidth = dm.dmPaperWidth;
    setup.paperLength = dm.dmPaperLength;
  }
  setup.pdfDotsPerInch = pdf.dotsPerInch;
  setup.pdfPassThrough = pdf.passThrough;
  return setup;
}

uint16_t clip16(double v) { return static_cast<uint16_t>(static_cast<int64_t>(v)); }

}  // namespace

PdfSettings pdfSettings() {
  const platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  PdfSettings s;
  s.folder = profile.getString("ZEMTA Print", "PDF Folder", "");
  if (s.folder.empty()) s.folder = platform::dataFolder("ZEMTA/Print");
  s.dotsPerInch = static_cast<int32_t>(std::clamp<int64_t>(profile.getInt("ZEMTA Print", "PDF Resolution", 600), 72, 2400));
  s.passThrough = profile.getInt("ZEMTA Print", "PDF Pass-through", 1) != 0;
  return s;
}

PrintJob* findJob(PrintHandle handle) {
  JobTable& t = table();
  std::lock_guard<std::recursive_mutex> guard(t.mutex);
  return t.jobs.find(handle);
}

size_t jobCount() {
  JobTable& t = table();
  std::lock_guard<std::recursive_mutex> guard(t.mutex);
  return t.order.size();
}

std::vector<std::string> jobNotes(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  return job ? job->notes : std::vector<std::string>{};
}
std::string jobPdfPath(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  return job && job->target ? job->target->pdfPath() : std::string();
}
std::string jobBinPath(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  return job && job->target ? job->target->binPath() : std::string();
}

std::unique_ptr<Device> surfaceDevice(platform::ui::DrawContext& surface, int32_t dotsPerInch, int32_t width,
                                      int32_t height, int32_t offsetX, int32_t offsetY) {
  auto device = std::make_unique<Device>();
  device->surface = &surface;
  device->caps.dotsPerInchX = device->caps.dotsPerInchY = dotsPerInch;
  device->caps.printableWidth = width;
  device->caps.printableHeight = height;
  device->caps.offsetX = offsetX;
  device->caps.offsetY = offsetY;
  return device;
}

bool sendPassThrough(PrintJob& job, const std::string& bytes) {
  return job.target && job.target->passThrough(bytes);
}

bool startPage(PrintJob& job) {
  if (job.pageOpen) return true;
  if (job.passThrough) {
    static const std::string kFeed("\33A\33r\n\n\n\33f"), kLongFeed("\33A\33r\n\n\n\n\n\33f");
    sendPassThrough(job, (job.flags & PRINT_LONG_FEED) ? kLongFeed : kFeed);
  }
  if (!job.target || !job.target->startPage()) return false;
  job.pageOpen = job.device.pageOpen = true;
  return true;
}

bool endPage(PrintJob& job) {
  if (!job.pageOpen) return false;
  job.pageOpen = job.device.pageOpen = false;
  return job.target->endPage();
}

bool endDocument(PrintJob& job) {
  if (!job.documentOpen) return false;
  if (job.pageOpen) endPage(job);
  job.documentOpen = false;
  return job.target->finish();
}

}  // namespace zemta::print

using namespace zemta::print;

// ---- exports -----------------------------------------------------------------

ZEMTA_API int32_t PrintGetLocalList(int32_t* count, char* buffer, int32_t length) {
  return listPrinters(ListKind::Local, count, buffer, length);
}
ZEMTA_API int32_t PrintGetConnectList(int32_t* count, char* buffer, int32_t length) {
  return listPrinters(ListKind::Connect, count, buffer, length);
}
ZEMTA_API int32_t PrintGetRemoteList(int32_t* count, char* buffer, int32_t length) {
  return listPrinters(ListKind::Remote, count, buffer, length);
}

ZEMTA_API void* PrintGetDevName(const char* printerName, void** devMode) {
  if (!printerName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return nullptr;
  }
  platform::ui::PrinterEntry entry;
  if (!platform::ui::printerEntry(printerName, entry)) {
    ZEMTA_REPORT(-1);
    return nullptr;
  }
  const size_t driver = entry.driver.size(), device = entry.name.size(), port = entry.port.size();
  auto* block = static_cast<uint8_t*>(std::calloc(1, driver + 1 + device + 1 + port + 9));
  if (!block) {
    platform::setLastError(platform::kErrorNotEnoughMemory);
    ZEMTA_REPORT(-1);
    return nullptr;
  }
  ZemtaDevNames names;
  names.wDriverOffset = 8;
  names.wDeviceOffset = static_cast<uint16_t>(8 + driver + 1);
  names.wOutputOffset = static_cast<uint16_t>(names.wDeviceOffset + device + 1);
  names.wDefault = 0;
  std::memcpy(block, &names, sizeof names);
  std::memcpy(block + names.wDriverOffset, entry.driver.c_str(), driver + 1);
  std::memcpy(block + names.wDeviceOffset, entry.name.c_str(), device + 1);
  std::memcpy(block + names.wOutputOffset, entry.port.c_str(), port + 1);
  if (devMode) {
    *devMode = nullptr;
    if (auto* dm = static_cast<ZemtaDevMode*>(std::calloc(1, sizeof(ZemtaDevMode)))) {
      fillDevMode(*dm, entry.name);
      *devMode = dm;
    } else {
      platform::setLastError(platform::kErrorNotEnoughMemory);
      ZEMTA_REPORT(-1);
    }
  }
  return block;
}

ZEMTA_API void PrintApplyPaper(uint32_t flags, ZemtaDevMode* dm, const PrintFormGeometry* geometry) {
  if (!dm) return;
  dm->dmOrientation = (flags & PRINT_LANDSCAPE) ? 2 : 1;
  dm->dmColor = (flags & PRINT_COLOUR) ? 2 : 1;
  const int32_t code = paperCodeOf(flags);
  if (code < 0) return;
  dm->dmPaperSize = static_cast<int16_t>(code);
  if (code != 0 && code != 256) return;
  if (geometry) {
    dm->dmPaperWidth = static_cast<int16_t>(uint32_t{geometry->columns} * geometry->columnPitch / 10);
    const uint32_t rows = geometry->rows, pitch = geometry->rowPitch;
    if (pitch == 423 || pitch == 424)
      dm->dmPaperLength = static_cast<int16_t>(rows * 254 / 6);
    else if (pitch == 317 || pitch == 318)
      dm->dmPaperLength = static_cast<int16_t>(rows * 254 / 8);
    else
      dm->dmPaperLength = static_cast<int16_t>(rows * pitch / 10);
  }
  if (code == 0) dm->dmFields |= ZEMTA_DM_PAPERLENGTH | ZEMTA_DM_PAPERWIDTH;
}

ZEMTA_API int32_t PrintCheckHandle(PrintHandle job) {
  JobTable& t = table();
  std::lock_guard<std::recursive_mutex> guard(t.mutex);
  auto at = std::find(t.order.begin(), t.order.end(), job);
  if (at == t.order.end() || !t.jobs.find(job)) return -1;
  return static_cast<int32_t>(at - t.order.begin());
}

ZEMTA_API void PrintCellSize(PrintHandle handle, const PrintFormGeometry* geometry, int32_t* pageWidth,
                             int32_t* pageHeight, double* columnWidth, double* rowHeight) {
  PrintJob* job = findJob(handle);
  if (!job || !geometry) return;
  double cw = job->dpiX * static_cast<double>(geometry->columnPitch) / 2540.0;
  double rh;
  if (geometry->rowPitch == 423 || geometry->rowPitch == 424)
    rh = job->dpiY / 6.0;
  else if (geometry->rowPitch == 317 || geometry->rowPitch == 318)
    rh = job->dpiY * 0.125;
  else
    rh = job->dpiY * static_cast<double>(geometry->rowPitch) / 2540.0;
  int32_t pw = clip16(std::ceil(geometry->columns * cw)), ph = clip16(std::ceil(geometry->rows * rh));
  if ((job->flags & PRINT_SHRINK) && pw > 0 && ph > 0) {
    const int64_t aw = job->availableWidth, ah = job->availableHeight;
    double scale = 1.0;
    if (aw < pw && aw * ph <= ah * pw) {
      scale = static_cast<double>(aw) / pw;
      ph = static_cast<int32_t>(ph * aw / pw);
      pw = static_cast<int32_t>(aw);
    } else if (ah < ph) {
      scale = static_cast<double>(ah) / ph;
      pw = static_cast<int32_t>(pw * ah / ph);
      ph = static_cast<int32_t>(ah);
    }
    cw *= scale;
    rh *= scale;
  }
  if (pageWidth) *pageWidth = pw;
  if (pageHeight) *pageHeight = ph;
  if (columnWidth) *columnWidth = cw;
  if (rowHeight) *rowHeight = rh;
}

ZEMTA_API PrintHandle PrintCreate(uint32_t flags, const char* documentName, HWND owner,
                                  const PrintFormGeometry* geometry, const char* printerName) {
  if (jobCount() >= kMaxJobs) {
    // The table is full: refused before anything is opened, so no running
    // job and none of its files is touched.
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return 0;
  }
  std::string printer = printerName ? printerName : "";
  ZemtaDevMode dm;
  if (!printer.empty()) {
    void* devMode = nullptr;
    void* names = PrintGetDevName(printer.c_str(), &devMode);
    if (!names || !devMode) {
      std::free(names);
      std::free(devMode);
      return 0;
    }
    std::memcpy(&dm, devMode, sizeof dm);
    std::free(names);
    std::free(devMode);
  } else {
    fillDevMode(dm, "");
  }
  uint16_t firstPage = 0, lastPage = 65535;
  if (!(flags & PRINT_NO_DIALOG)) {
    if (flags & PRINT_PAPER_MASK) {
      dm.dmFields = 0x0B03;
      dm.dmSize = sizeof dm;
      dm.dmDefaultSource = 7;
      dm.dmCopies = (flags & PRINT_TWO_COPIES) ? 2 : 1;
      PrintApplyPaper(flags, &dm, geometry);
    }
    platform::ui::FileDialogRequest request;
    request.fileName = printer;
    request.pageRange = (flags & PRINT_PAGE_RANGE) != 0;
    request.copies = std::max<int32_t>(1, dm.dmCopies);
    std::string chosen;
    platform::ui::PrintChoice choice;
    if (!platform::ui::printerDialog(owner, request, chosen, &choice)) return 0;  // cancelled: no report
    if (chosen != printer) {
      printer = chosen;
      if (!printer.empty()) {
        platform::ui::PrinterEntry entry;
        if (!platform::ui::printerEntry(printer, entry)) {
          ZEMTA_REPORT(-1);
          return 0;
        }
      }
    }
    if (flags & PRINT_PAGE_RANGE) {
      firstPage = choice.firstPage;
      lastPage = choice.lastPage;
    }
    if (choice.copies > 1) {
      dm.dmFields |= ZEMTA_DM_COPIES | ZEMTA_DM_COLLATE;
      dm.dmCollate = choice.collate ? 1 : 0;
    }
    dm.dmCopies = static_cast<int16_t>(choice.copies);
  }
  PrintApplyPaper(flags, &dm, geometry);

  const PdfSettings pdf = pdfSettings();
  auto job = std::make_unique<PrintJob>();
  job->target = platform::ui::PrintTarget::open(printer, pdf.folder, documentName ? documentName : "",
                                                setupOf(dm, pdf));
  if (!job->target) {
    // Neither the queue nor the PDF file could be opened: the document does
    // not start, as when the spooler refuses it.
    return 0;
  }
  job->device.target = job->target.get();
  job->device.caps = job->target->caps();

  zemta::ApiLockGuard lock;
  if (!lock.ok()) return 0;
  JobTable& t = table();
  std::lock_guard<std::recursive_mutex> guard(t.mutex);
  if (t.order.size() >= kMaxJobs) {
    // The table is full: the running jobs are left as they are.
    job->target->abort();
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return 0;
  }
  PrintJob& j = *job;
  j.flags = flags;
  j.owner = owner;
  j.firstPage = firstPage;
  j.lastPage = lastPage;
  const platform::ui::PageCaps& caps = j.device.caps;
  j.dpiX = caps.dotsPerInchX;
  j.dpiY = caps.dotsPerInchY;
  j.offsetX = caps.offsetX;
  j.offsetY = caps.offsetY;
  j.printableRight = caps.offsetX + caps.printableWidth;
  j.printableBottom = caps.offsetY + caps.printableHeight;
  const int32_t left = geometry ? geometry->leftMargin : 0, top = geometry ? geometry->topMargin : 0;
  j.leftMarginDots = left * j.dpiX / 2540;
  j.topMarginDots = top * j.dpiY / 2540;
  j.availableWidth = caps.printableWidth - std::max(0, j.leftMarginDots - j.offsetX);
  j.availableHeight = caps.printableHeight - std::max(0, j.topMarginDots - j.offsetY);
  j.documentOpen = true;
  const PrintHandle handle = t.jobs.add(std::move(job));
  if (!handle) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return 0;
  }
  t.order.push_back(handle);
  PrintJob& added = *t.jobs.find(handle);
  added.handle = handle;

  if ((flags & PRINT_PASSTHROUGH) && added.dpiX < 300) {
    if (added.device.caps.passThrough) {
      // Tells the dot printer that what follows is its own language.
      if (sendPassThrough(added, std::string("\x1b\x41", 2)))
        added.passThrough = 1;
      else
        added.notes.push_back("pass-through bytes could not be written: they are left out");
    } else {
      // The pages still print; only the printer's own commands (form feeds)
      // are left out, and the job says so.
      added.notes.push_back("the printer takes no pass-through bytes: the form feeds are left out");
    }
  }
  if (geometry) {
    added.formColumns = geometry->columns;
    added.formRows = geometry->rows;
    int32_t pw = 0, ph = 0;
    PrintCellSize(handle, geometry, &pw, &ph, nullptr, nullptr);
    added.pageWidth = static_cast<uint16_t>(pw);
    added.pageHeight = static_cast<uint16_t>(ph);
  }
  added.thinPen = std::max(1, added.dpiX / 160);
  added.thickPen = added.thinPen * 2;
  return handle;
}

ZEMTA_API int32_t PrintDestroy(ZemtaPrintJob handle) {
  JobTable& t = table();
  std::unique_ptr<PrintJob> job;
  {
    std::lock_guard<std::recursive_mutex> guard(t.mutex);
    if (!t.jobs.find(handle)) return -1;
    std::erase(t.order, handle);
    job = t.jobs.remove(handle);
  }
  zemta::views::unregisterPrintJob(handle);
  if (job->target) {
    if (job->pageOpen) endPage(*job);
    // A job deleted with its document open leaves nothing printed.
    if (job->documentOpen) job->target->abort();
  }
  // The job's own record-buffer sets go with it; a project that is closing
  // frees its sets itself once its jobs are gone.
  int32_t result = 0;
  if (job->project && zemta::fileproj::findProject(job->project))
    for (const auto& section : job->sections)
      if (section->ownsSet && FileProjBufRemove(job->project, section->set) != 0) result = -1;
  job->sections.clear();
  return result;
}

ZEMTA_API int32_t PrintDelete(PrintHandle handle) {
  if (!findJob(handle)) return -1;
  zemta::ApiLockGuard lock;
  if (!lock.ok()) return -1;
  return PrintDestroy(handle);
}

ZEMTA_API HDC PrintGetDC(PrintHandle handle, int32_t* origin) {
  PrintJob* job = findJob(handle);
  if (!job) return nullptr;
  if (origin) {
    origin[0] = std::max(0, job->leftMarginDots - job->offsetX) * 2540 / std::max(1, job->dpiX);
    origin[1] = std::max(0, job->topMarginDots - job->offsetY) * 2540 / std::max(1, job->dpiY);
  }
  return hdcOf(&job->device);
}

ZEMTA_API int32_t PrintStartPage(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  return job && job->documentOpen && startPage(*job) ? 1 : 0;
}

ZEMTA_API int32_t PrintEndPage(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  return job && endPage(*job) ? 1 : 0;
}

ZEMTA_API int32_t PrintEndDoc(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  return job && endDocument(*job) ? 1 : 0;
}
