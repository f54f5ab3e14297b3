#include "platform/ui/print_output.h"

#include <cups/cups.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"

namespace platform::ui {

namespace {

// Queue names are UTF-8 on the server and code page 932 above the layer.
std::string shownName(const char* queue) {
  std::string cp932;
  return platform::utf8ToCp932(queue, cp932) ? cp932 : std::string(queue);
}
std::string queueName(const std::string& cp932) {
  std::string utf8;
  return platform::cp932ToUtf8(cp932, utf8) ? utf8 : cp932;
}

}  // namespace

std::vector<std::string> printerNames() {
  std::vector<std::string> names;
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  for (int i = 0; i < count; ++i)
    if (!dests[i].instance) names.push_back(shownName(dests[i].name));
  cupsFreeDests(count, dests);
  return names;
}

namespace {

std::string optionOf(const cups_dest_t& dest, const char* name) {
  const char* value = cupsGetOption(name, dest.num_options, dest.options);
  return value ? value : "";
}

PrinterEntry entryOf(const cups_dest_t& dest) {
  PrinterEntry entry;
  entry.name = shownName(dest.name);
  entry.driver = optionOf(dest, "printer-make-and-model");
  entry.port = optionOf(dest, "device-uri");
  if (entry.port.empty()) entry.port = optionOf(dest, "printer-uri-supported");
  const std::string type = optionOf(dest, "printer-type");
  const long bits = type.empty() ? 0 : std::strtol(type.c_str(), nullptr, 10);
  entry.remote = (bits & CUPS_PRINTER_REMOTE) != 0;
  entry.isDefault = dest.is_default != 0;
  return entry;
}

}  // namespace

std::vector<PrinterEntry> printerEntries() {
  std::vector<PrinterEntry> entries;
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  for (int i = 0; i < count; ++i)
    if (!dests[i].instance) entries.push_back(entryOf(dests[i]));
  cupsFreeDests(count, dests);
  return entries;
}

bool printerEntry(const std::string& name, PrinterEntry& entry) {
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  cups_dest_t* dest = name.empty() ? nullptr : cupsGetDest(queueName(name).c_str(), nullptr, count, dests);
  if (dest) entry = entryOf(*dest);
  cupsFreeDests(count, dests);
  if (!dest) setLastError(kErrorInvalidPrinterName);
  return dest != nullptr;
}

void usePrintServer(const std::string& server) { cupsSetServer(server.empty() ? nullptr : server.c_str()); }

std::string printQueueFor(const std::string& printer, bool defaultWhenUnnamed) {
  if (printer.empty() && !defaultWhenUnnamed) return {};
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  std::string found;
  const std::string queue = queueName(printer);
  cups_dest_t* dest = cupsGetDest(printer.empty() ? nullptr : queue.c_str(), nullptr, count, dests);
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

bool PrintOutput::usePdf(const std::string& folder, const std::string& baseName, bool keepOlder) {
  queue_.clear();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::string base = (std::filesystem::path(folder) / baseName).string();
  if (keepOlder) {
    const std::string first = base;
    for (int n = 2; std::filesystem::exists(base + ".pdf", ec) || std::filesystem::exists(base + ".bin", ec); ++n)
      base = first + " (" + std::to_string(n) + ")";
  }
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
