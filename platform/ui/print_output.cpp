#include "platform/ui/print_output.h"

#include <cups/cups.h>

#include <filesystem>
#include <fstream>

#include "platform/base/last_error.h"

namespace platform::ui {

std::vector<std::string> printerNames() {
  std::vector<std::string> names;
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  for (int i = 0; i < count; ++i) names.push_back(dests[i].name);
  cupsFreeDests(count, dests);
  return names;
}

std::string printQueueFor(const std::string& printer, bool defaultWhenUnnamed) {
  if (printer.empty() && !defaultWhenUnnamed) return {};
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  std::string found;
  cups_dest_t* dest = cupsGetDest(printer.empty() ? nullptr : printer.c_str(), nullptr, count, dests);
  if (dest) found = dest->name;
  cupsFreeDests(count, dests);
  return found;
}

bool printFolderTakesFiles(const std::string& folder) {
  if (folder.empty()) {
    setLastError(kErrorPathNotFound);
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::filesystem::path probe = std::filesystem::path(folder) / ".varnex-probe";
  bool writable;
  {
    std::ofstream out(probe, std::ios::binary | std::ios::trunc);
    writable = static_cast<bool>(out);
  }
  std::filesystem::remove(probe, ec);
  if (!writable) setLastError(kErrorPathNotFound);
  return writable;
}

void PrintOutput::useQueue(const std::string& queue) {
  queue_ = queue;
  pdfPath_.clear();
  binPath_.clear();
}

bool PrintOutput::usePdf(const std::string& folder, const std::string& baseName) {
  queue_.clear();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::string base = (std::filesystem::path(folder) / baseName).string();
  pdfPath_ = base + ".pdf";
  binPath_ = base + ".bin";
  std::ofstream probe(pdfPath_, std::ios::binary | std::ios::trunc);
  if (!probe) {
    setLastError(kErrorPathNotFound);
    return false;
  }
  std::filesystem::remove(binPath_, ec);  // an older job's bytes are not this job's
  return true;
}

bool PrintOutput::passThrough(const std::string& bytes) {
  if (!isPdf()) {
    kept_ += bytes;
    return true;
  }
  std::ofstream bin(binPath_, std::ios::binary | std::ios::app);
  bin.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!bin) {
    setLastError(kErrorWriteFault);
    return false;
  }
  return true;
}

bool PrintOutput::sendPassThrough() {
  if (isPdf() || kept_.empty()) return true;
  int id = cupsCreateJob(CUPS_HTTP_DEFAULT, queue_.c_str(), "raw", 0, nullptr);
  bool ok = id > 0 &&
            cupsStartDocument(CUPS_HTTP_DEFAULT, queue_.c_str(), id, "raw", CUPS_FORMAT_RAW, 1) ==
                HTTP_STATUS_CONTINUE &&
            cupsWriteRequestData(CUPS_HTTP_DEFAULT, kept_.data(), kept_.size()) == HTTP_STATUS_CONTINUE &&
            cupsFinishDocument(CUPS_HTTP_DEFAULT, queue_.c_str()) == IPP_STATUS_OK;
  kept_.clear();
  if (!ok) setLastError(kErrorWriteFault);
  return ok;
}

void PrintOutput::dropPdf() {
  if (pdfPath_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(pdfPath_, ec);
  pdfPath_.clear();
}

void PrintOutput::discard() {
  kept_.clear();
  if (!isPdf()) return;
  std::error_code ec;
  if (!pdfPath_.empty()) std::filesystem::remove(pdfPath_, ec);
  if (!binPath_.empty()) std::filesystem::remove(binPath_, ec);
}

}  // namespace platform::ui
