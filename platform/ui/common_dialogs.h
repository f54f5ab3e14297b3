// The file, folder and printer dialogs, with Japanese captions. In tests a
// scripted answerer gives the answer instead of a user, as the message box's
// answerer does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace platform::ui {

enum class FileDialogKind { Open, Save, Folder, Printer };

struct FileDialogRequest {
  FileDialogKind kind = FileDialogKind::Open;
  std::string caption;     // code page 932; the default one when the caller gave none
  std::string folder;      // the folder to start in
  std::string fileName;    // the proposed name (Save), or the current printer (Printer)
  // Filters as pairs of a description and patterns separated by ";":
  // {"CSV ファイル (*.csv)", "*.csv"}.
  std::vector<std::pair<std::string, std::string>> filters;
  std::string defaultExtension;  // Save: added to a name without one ("csv")
  std::vector<std::string> printers;  // Printer: the names offered ("" = PDF file)
  // Printer: offer a page range (pages 1 to 65535), and the copies preset.
  bool pageRange = false;
  int32_t copies = 1;
};

// What the print dialog's user chose besides the printer: the pages (0 and
// 65535 when no range was offered, 1 and 65535 for every page) and the
// copies, collated or not.
struct PrintChoice {
  uint16_t firstPage = 0, lastPage = 65535;
  int32_t copies = 1;
  bool collate = false;
};

// Parses the filter text the code keeps ("説明|*.a;*.b|説明|*.c||").
std::vector<std::pair<std::string, std::string>> parseFileFilter(const std::string& cp932Filter);

// Shows the dialog; true with the answer (a path, a folder or a printer name,
// code page 932), false when cancelled.
bool openFileDialog(HWND owner, FileDialogRequest request, std::string& path);
bool saveFileDialog(HWND owner, FileDialogRequest request, std::string& path);
bool folderDialog(HWND owner, FileDialogRequest request, std::string& folder);
// A scripted answer to the print dialog chooses the printer only: every page
// and the preset copies.
bool printerDialog(HWND owner, FileDialogRequest request, std::string& printer, PrintChoice* choice = nullptr);

// The answerer sees the request as it would show (captions filled in) and
// returns true with the answer. An empty function restores the real dialogs;
// the previous answerer is returned.
using FileDialogAnswerer = std::function<bool(const FileDialogRequest& request, std::string& answer)>;
FileDialogAnswerer setFileDialogAnswerer(FileDialogAnswerer answerer);

}  // namespace platform::ui
