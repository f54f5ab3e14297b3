#include "platform/ui/common_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>

#include "platform/base/path.h"
#include "platform/base/shared_state.h"
#include "platform/ui/desktop.h"
#include "platform/ui/draw.h"
#include "platform/ui/internal.h"

namespace platform::ui {

using namespace detail;

namespace detail {

struct FileDialogSlot {
  std::mutex mutex;
  FileDialogAnswerer answerer;
};

PLATFORM_SHARED_STATE void* sharedFileDialogAnswerer() {
  static FileDialogSlot* slot = new FileDialogSlot;
  return slot;
}

}  // namespace detail

namespace {

FileDialogSlot& slot() { return *static_cast<FileDialogSlot*>(sharedFileDialogAnswerer()); }

std::string jp(const char* utf8) { return toCp932(QString::fromUtf8(utf8)); }

void fillDefaults(FileDialogRequest& r) {
  if (!r.caption.empty()) return;
  switch (r.kind) {
    case FileDialogKind::Open: r.caption = jp("ファイルを開く"); break;
    case FileDialogKind::Save: r.caption = jp("名前を付けて保存"); break;
    case FileDialogKind::Folder: r.caption = jp("フォルダーの参照"); break;
    case FileDialogKind::Printer: r.caption = jp("印刷"); break;
  }
}

bool scripted(const FileDialogRequest& request, std::string& answer, bool& handled) {
  FileDialogAnswerer answerer;
  {
    std::lock_guard<std::mutex> guard(slot().mutex);
    answerer = slot().answerer;
  }
  handled = static_cast<bool>(answerer);
  return handled && answerer(request, answer);
}

QString qtFilter(const FileDialogRequest& r) {
  QStringList list;
  for (auto& [description, patterns] : r.filters) {
    QString d = fromCp932(description);
    QString p = fromCp932(patterns);
    p.replace(';', ' ');
    list << (d.contains('(') ? d.left(d.indexOf('(')).trimmed() : d) + " (" + p + ")";
  }
  return list.join(QStringLiteral(";;"));
}

bool realFileDialog(HWND owner, const FileDialogRequest& r, std::string& path) {
  QFileDialog box(widgetOf(owner), fromCp932(r.caption), fromCp932(r.folder));
  box.setOption(QFileDialog::DontUseNativeDialog);
  box.setAcceptMode(r.kind == FileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  box.setFileMode(r.kind == FileDialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!r.filters.empty()) box.setNameFilter(qtFilter(r));
  if (!r.defaultExtension.empty()) box.setDefaultSuffix(fromCp932(r.defaultExtension));
  if (!r.fileName.empty()) box.selectFile(fromCp932(r.fileName));
  box.setLabelText(QFileDialog::LookIn, QString::fromUtf8("ファイルの場所:"));
  box.setLabelText(QFileDialog::FileName, QString::fromUtf8("ファイル名:"));
  box.setLabelText(QFileDialog::FileType, QString::fromUtf8("ファイルの種類:"));
  box.setLabelText(QFileDialog::Accept, QString::fromUtf8(r.kind == FileDialogKind::Save ? "保存" : "開く"));
  box.setLabelText(QFileDialog::Reject, QString::fromUtf8("キャンセル"));
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return false;
  path = toCp932(box.selectedFiles().front());
  return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parseFileFilter(const std::string& filter) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : filter) {
    if (c == '|') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2)
    if (!parts[i].empty() || !parts[i + 1].empty()) out.emplace_back(parts[i], parts[i + 1]);
  return out;
}

FileDialogAnswerer setFileDialogAnswerer(FileDialogAnswerer answerer) {
  std::lock_guard<std::mutex> guard(slot().mutex);
  FileDialogAnswerer old = std::move(slot().answerer);
  slot().answerer = std::move(answerer);
  return old;
}

bool openFileDialog(HWND owner, FileDialogRequest request, std::string& path) {
  request.kind = FileDialogKind::Open;
  fillDefaults(request);
  bool handled = false;
  bool ok = scripted(request, path, handled);
  if (handled) return ok;
  ensureApplication();
  return realFileDialog(owner, request, path);
}

bool saveFileDialog(HWND owner, FileDialogRequest request, std::string& path) {
  request.kind = FileDialogKind::Save;
  fillDefaults(request);
  bool handled = false;
  std::string answer;
  bool ok = scripted(request, answer, handled);
  if (handled) {
    if (!ok) return false;
    // A name typed without an extension gets the default one, as the real box does.
    if (!request.defaultExtension.empty() && !fileNameOf(answer).empty() && !hasExtension(answer))
      answer += "." + request.defaultExtension;
    path = answer;
    return true;
  }
  ensureApplication();
  return realFileDialog(owner, request, path);
}

bool folderDialog(HWND owner, FileDialogRequest request, std::string& folder) {
  request.kind = FileDialogKind::Folder;
  fillDefaults(request);
  bool handled = false;
  bool ok = scripted(request, folder, handled);
  if (handled) return ok;
  std::string chosen = request.folder;
  if (!pickFolder(owner, request.caption, chosen)) return false;
  folder = chosen;
  return true;
}

bool printerDialog(HWND owner, FileDialogRequest request, std::string& printer, PrintChoice* choice) {
  request.kind = FileDialogKind::Printer;
  request.copies = std::clamp<int32_t>(request.copies, 1, 999);
  fillDefaults(request);
  if (request.printers.empty()) {
    request.printers = printerNames();
    request.printers.insert(request.printers.begin(), std::string());  // the PDF file
  }
  PrintChoice chosen;
  if (request.pageRange) chosen.firstPage = 1;
  chosen.copies = request.copies;
  bool handled = false;
  bool ok = scripted(request, printer, handled);
  if (handled) {
    if (ok && choice) *choice = chosen;
    return ok;
  }
  ensureApplication();
  QDialog box(widgetOf(owner));
  box.setWindowTitle(fromCp932(request.caption));
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(new QLabel(QString::fromUtf8("プリンター名:"), &box));
  auto* list = new QComboBox(&box);
  for (const std::string& name : request.printers)
    list->addItem(name.empty() ? QString::fromUtf8("PDF ファイル") : fromCp932(name), fromCp932(name));
  int current = list->findData(fromCp932(request.fileName));
  if (current >= 0) list->setCurrentIndex(current);
  layout->addWidget(list);
  // The pages, when the caller offers a range: every page, or from one page to another.
  QRadioButton* some = nullptr;
  QSpinBox *from = nullptr, *to = nullptr;
  if (request.pageRange) {
    auto* pages = new QGroupBox(QString::fromUtf8("印刷範囲"), &box);
    auto* grid = new QGridLayout(pages);
    auto* all = new QRadioButton(QString::fromUtf8("すべて(&A)"), pages);
    some = new QRadioButton(QString::fromUtf8("ページ指定(&G)"), pages);
    all->setChecked(true);
    from = new QSpinBox(pages);
    to = new QSpinBox(pages);
    for (QSpinBox* page : {from, to}) {
      page->setRange(1, 65535);
      page->setEnabled(false);
      QObject::connect(some, &QRadioButton::toggled, page, &QWidget::setEnabled);
    }
    from->setValue(1);
    to->setValue(65535);
    grid->addWidget(all, 0, 0, 1, 4);
    grid->addWidget(some, 1, 0);
    auto* fromLabel = new QLabel(QString::fromUtf8("開始(&F):"), pages);
    auto* toLabel = new QLabel(QString::fromUtf8("終了(&T):"), pages);
    fromLabel->setBuddy(from);
    toLabel->setBuddy(to);
    grid->addWidget(fromLabel, 1, 1);
    grid->addWidget(from, 1, 2);
    grid->addWidget(toLabel, 1, 3);
    grid->addWidget(to, 1, 4);
    layout->addWidget(pages);
  }
  auto* copiesRow = new QHBoxLayout;
  auto* copiesLabel = new QLabel(QString::fromUtf8("部数(&C):"), &box);
  auto* copies = new QSpinBox(&box);
  copies->setRange(1, 999);
  copies->setValue(request.copies);
  copiesLabel->setBuddy(copies);
  auto* collate = new QCheckBox(QString::fromUtf8("部単位で印刷(&O)"), &box);
  collate->setEnabled(request.copies > 1);
  QObject::connect(copies, &QSpinBox::valueChanged, collate, [collate](int n) { collate->setEnabled(n > 1); });
  copiesRow->addWidget(copiesLabel);
  copiesRow->addWidget(copies);
  copiesRow->addWidget(collate);
  copiesRow->addStretch();
  layout->addLayout(copiesRow);
  auto* buttons = new QDialogButtonBox(&box);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QString::fromUtf8("キャンセル"), QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  layout->addWidget(buttons);
  if (box.exec() != QDialog::Accepted) return false;
  printer = toCp932(list->currentData().toString());
  if (some && some->isChecked()) {
    // A range given backwards is the same range.
    chosen.firstPage = static_cast<uint16_t>(std::min(from->value(), to->value()));
    chosen.lastPage = static_cast<uint16_t>(std::max(from->value(), to->value()));
  }
  chosen.copies = copies->value();
  chosen.collate = chosen.copies > 1 && collate->isChecked();
  if (choice) *choice = chosen;
  return true;
}

}  // namespace platform::ui
