// The dialogs the sale asks for through its screen (see reg_view.h): the
// customer, line names, formal receipt and held-sale file dialogs, and the
// mirroring of a customer line put into a finished sale.
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/dialogs/sale_dialogs.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/path.h"
#include "platform/ui/common_dialogs.h"
#include "platform/ui/window.h"

namespace varnex::reg {

bool CRegView::ChooseCustomer(CustomerChoice* choice, bool insert) {
  return shell::RunEditCastDialog(OwnerWindow(), engine_, choice, insert, app_ && app_->m_bCastCodeIMC);
}

int32_t CRegView::EditNames(std::string* displayName, std::string* printName, bool offerCustomer) {
  return shell::RunEditNameDialog(OwnerWindow(), displayName, printName, offerCustomer);
}

bool CRegView::AskFormalReceipt(int32_t* kind, std::string* note) {
  return shell::RunProvideDialog(OwnerWindow(), kind, note);
}

bool CRegView::ChooseHeldSaleFile(bool save, const std::string& initial, std::string* path) {
  platform::ui::FileDialogRequest request;
  request.kind = save ? platform::ui::FileDialogKind::Save : platform::ui::FileDialogKind::Open;
  request.folder = platform::folderOf(initial);
  const std::string name = platform::fileNameOf(initial);
  if (name.find('*') == std::string::npos) request.fileName = name;
  request.filters = platform::ui::parseFileFilter("Reserve Files (*.csv)|*.csv||");
  request.defaultExtension = "csv";
  std::string chosen;
  const bool ok = save ? platform::ui::saveFileDialog(OwnerWindow(), request, chosen)
                       : platform::ui::openFileDialog(OwnerWindow(), request, chosen);
  if (!ok) return false;
  *path = chosen;
  return true;
}

void CRegView::BroadcastCustomerLine(int32_t receipt, const void* line) {
  // Every window below the main window, but this view: it has the line.
  std::vector<HWND> pending{OwnerWindow()};
  while (!pending.empty()) {
    HWND w = pending.back();
    pending.pop_back();
    for (HWND child : platform::ui::childWindows(w)) {
      pending.push_back(child);
      if (child != handle())
        platform::ui::sendMessage(child, WM_REG_CASTINPUT, static_cast<WPARAM>(receipt), reinterpret_cast<LPARAM>(line));
    }
  }
}

void CRegView::ShowHeldSaleTitle(const std::string& path) {
  if (host_.setTitle) {
    host_.setTitle(path.empty() ? std::string() : platform::fileNameOf(path));
    return;
  }
  // Without a mode frame: the window the view lives in.
  HWND frame = handle();
  while (HWND up = platform::ui::parentWindow(frame)) frame = up;
  if (frame == handle()) return;
  if (!path.empty()) {
    heldTitle_ = platform::ui::windowText(frame);
    platform::ui::setWindowText(frame, platform::fileNameOf(path));
  } else if (!heldTitle_.empty()) {
    platform::ui::setWindowText(frame, heldTitle_);
    heldTitle_.clear();
  }
}

}  // namespace varnex::reg
