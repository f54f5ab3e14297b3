// What every print job of the layer shares, whatever it draws: finding the
// CUPS queue that prints, and where the job's output goes. On a queue, the
// pass-through bytes (cutter, drawer) are kept and sent as one raw job when
// the document ends; without a queue the drawing goes to a PDF file in a
// folder and the pass-through bytes to a ".bin" file beside it, as they come.
#pragma once

#include <string>
#include <vector>

namespace platform::ui {

// The names of the CUPS queues (empty without a CUPS server). Names here are
// code page 932, as everything above the layer; the queue a name finds
// (printQueueFor) is the server's own (UTF-8) name.
std::vector<std::string> printerNames();

// The font families that print (fontconfig's, as every queue prints the
// system's fonts), in code page 932, sorted.
std::vector<std::string> fontFamilies();
// A queue as the printer lists show it: its name, its driver (the make and
// model the server reports), where it prints (the device URI, or the queue's
// own URI for a queue another server shares), and whether it is another
// server's queue that this one only forwards to.
struct PrinterEntry {
  std::string name, driver, port;
  bool remote = false;
  bool isDefault = false;
};
std::vector<PrinterEntry> printerEntries();
// The entry of one queue; false when there is none (last error 1801, as the
// spooler answers a name it does not know).
bool printerEntry(const std::string& name, PrinterEntry& entry);

// The CUPS server asked from now on ("host:port" or a socket path; empty:
// the system's default, from the environment or the client configuration).
void usePrintServer(const std::string& server);

// The queue that prints for a name: the named one when it exists; for an
// empty name the default queue when defaultWhenUnnamed, else none. Empty when
// there is none (no CUPS server, or no such queue).
std::string printQueueFor(const std::string& printer, bool defaultWhenUnnamed);

// True when files can be written into folder (made when missing); false with
// the last error set.
bool printFolderTakesFiles(const std::string& folder);

class PrintOutput {
 public:
  // Output to a queue.
  void useQueue(const std::string& queue);
  // Output to "<folder>/<baseName>.pdf" and ".bin" (folder made when
  // missing; an older job's ".bin" removed). With keepOlder an existing
  // "<baseName>.pdf" stays and the new files are "<baseName> (2)" and on.
  // false with the last error set when the PDF file cannot be written.
  bool usePdf(const std::string& folder, const std::string& baseName, bool keepOlder = false);

  bool isPdf() const { return queue_.empty(); }
  const std::string& queue() const { return queue_; }
  const std::string& pdfPath() const { return pdfPath_; }
  const std::string& binPath() const { return binPath_; }

  // Bytes for the printer as they are. false (last error set) when the
  // ".bin" file cannot be written.
  bool passThrough(const std::string& bytes);
  // At the end of the document: sends the kept bytes to the queue as a raw
  // job. true when there were none or they were spooled.
  bool sendPassThrough();
  // The job printed nothing on paper: no PDF file is left (the ".bin" stays).
  void dropPdf();
  // The job was abandoned: neither file is left, no bytes are sent.
  void discard();

 private:
  std::string queue_, pdfPath_, binPath_;
  std::string kept_;  // pass-through bytes for the queue
};

}  // namespace platform::ui
