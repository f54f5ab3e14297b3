#include "app/shell/modes/mode_screens.h"

#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_view.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/child_frame.h"
#include "app/shell/frames/main_frame.h"
#include "app/shell/modes/accelerators.h"
#include "app/shell/modes/mode_table.h"
#include "app/shell/signon/manager_dialogs.h"
#include "platform/base/message_box.h"
#include "platform/ui/window.h"

namespace varnex::shell {

namespace ui = platform::ui;

int32_t CModeScreens::AcceleratorsOf(int32_t mode) const {
  const int32_t a = ModeInfoOf(mode).accelerators;
  if (a >= 0) return a;
  const int32_t id = LayoutTableId(-a - 1);
  // Before the layout tables exist the menu modes keep the mode keys.
  return ui::findAcceleratorTable(id) ? id : 122;
}

HWND CModeScreens::Owner() const { return m_app.m_pMainFrame ? m_app.m_pMainFrame->GetSafeHwnd() : nullptr; }

CChildFrame* CModeScreens::FindModeFrame(int32_t mode, int32_t* isActive) {
  if (isActive) *isActive = 1;
  if (!m_app.m_pMainFrame) return nullptr;
  bool first = true;
  for (ui::ChildFrame* child : m_app.m_pMainFrame->Frame().childFrames()) {
    auto* frame = dynamic_cast<CChildFrame*>(child);
    if (!frame) return nullptr;
    if (!first && isActive) *isActive = 0;
    if (frame->ViewMode() == mode) {
      if (isActive && !frame->isActive()) *isActive = 0;
      return frame;
    }
    first = false;
  }
  return nullptr;
}

int32_t CModeScreens::OpenModeView(int32_t mode, int32_t bNoCheck) {
  reg::CRegCom* engine = m_app.m_pRegCom;
  if (!m_app.m_bStartupOpening && !(engine && m_app.m_bManagerSelected)) return 0;
  if (!m_app.m_pMainFrame) return 0;
  const ModeInfo info = ModeInfoOf(mode);
  // The engine shows its own refusal (and asks before a settlement).
  if (!bNoCheck && info.right && (!engine || !engine->CheckPermission(info.right, 0))) return 0;
  if (m_app.m_hTenKeyDlg) {
    if (ui::isWindow(m_app.m_hTenKeyDlg)) ui::destroyWindow(m_app.m_hTenKeyDlg);
    m_app.m_hTenKeyDlg = nullptr;
  }
  int32_t active = 0;
  if (CChildFrame* frame = FindModeFrame(mode, &active)) {
    if (active) {
      if (ui::View* view = frame->activeView()) view->setFocus();
    } else {
      frame->activate();
    }
    return 1;
  }
  auto* frame = new CChildFrame(*this, mode, ModeName(mode, m_app.m_strReserveFile));
  if (!frame->setHandles(info.menu, AcceleratorsOf(mode)) || !frame->CreateModeView()) {
    frame->close();
    return 0;
  }
  frame->showMaximized();
  frame->activate();
  return 1;
}

bool CModeScreens::ResumeSaleInMode(int32_t mode, FileDBHandle file) {
  if (m_hResumeFile || !file) return false;
  // The registration modes' frames open for anyone (their keys ask for the
  // rights); a sale handed over is asked for them now, so that a manager who
  // may not use its mode is told and the sale stays on disk for one who may.
  // While the program starts nobody is signed on yet: the first key asks.
  reg::CRegCom* engine = m_app.m_pRegCom;
  const uint32_t code = mode == 5 ? reg::kModeRefund : mode == 8 ? reg::kModeRegister2 : reg::kModeRegister1;
  if (!m_app.m_bStartupOpening && (!engine || !engine->CheckPermission(code, 0))) {
    FileDBCloseEx(file);
    FileDBDelete(file);
    return false;
  }
  m_nResumeMode = mode;
  m_hResumeFile = file;
  OpenModeView(mode, 1);
  // A frame of the mode made now has taken it; one that was open already
  // takes it when it holds no sale of its own.
  FileDBHandle left = TakePendingResume(mode);
  if (!left) {
    m_app.m_nResumedMode = mode;
    return true;
  }
  CChildFrame* frame = FindModeFrame(mode, nullptr);
  if (frame && frame->RegView() && !frame->RegView()->Sale().SaleOpen()) {
    if (frame->RegView()->TakeOverSale(left) == 0) return false;
    m_app.m_nResumedMode = mode;
    return true;
  }
  FileDBCloseEx(left);
  FileDBDelete(left);
  return false;
}

FileDBHandle CModeScreens::TakePendingResume(int32_t mode) {
  if (!m_hResumeFile || m_nResumeMode != mode) return 0;
  FileDBHandle file = m_hResumeFile;
  m_hResumeFile = 0;
  m_nResumeMode = 0;
  return file;
}

void CModeScreens::OpenProgramView(int32_t resource) {
  reg::CRegCom* engine = m_app.m_pRegCom;
  if (!engine || !m_app.m_bManagerSelected) return;
  if (!engine->IsOpen()) {
    engine->ReportError("CRegCom", 0x200000FFu);
    return;
  }
  if (reg::getU16(engine->Manager(), reg::clerk::kForbiddenModes) & reg::kForbidProgram) {
    ui::messageBox(Owner(), "現在の責任者には、設定に関する権限がありません\nシステム管理者にご相談下さい", "",
                   platform::kMbIconWarning);
    return;
  }
  int32_t active = 0;
  if (CChildFrame* frame = FindModeFrame(resource, &active)) {
    if (!active) frame->activate();
    return;
  }
  if (!m_app.m_pMainFrame) return;
  auto* frame = new CChildFrame(*this, resource, ModeName(resource, m_app.m_strReserveFile));
  if (!frame->setHandles(124, 124) || !frame->OpenLibraryView(engine->Project())) {
    ui::messageBox(Owner(), "リソースのオープンに失敗しました", "", platform::kMbIconWarning);
    frame->close();
    return;
  }
  frame->showMaximized();
  frame->activate();
}

bool CModeScreens::BuildAccelerators() {
  if (!BuildLayoutTables(m_app.m_pRegCom)) return false;
  if (!m_app.m_pMainFrame) return true;
  // Open menu frames take the new tables; the OFF frame keeps its own.
  for (ui::ChildFrame* child : m_app.m_pMainFrame->Frame().childFrames()) {
    auto* frame = dynamic_cast<CChildFrame*>(child);
    if (!frame) break;
    const int32_t mode = frame->ViewMode();
    if (mode == 4 || mode == 9 || mode == 10) frame->setHandles(122, AcceleratorsOf(mode));
  }
  return true;
}

std::shared_ptr<CModeScreens> InstallModeScreens(CREGApp& app) {
  auto screens = std::make_shared<CModeScreens>(app);
  app.m_fnOpenModeView = [screens](int32_t mode, int32_t flag) { return screens->OpenModeView(mode, flag); };
  app.m_fnBuildAccelerators = [screens]() { return screens->BuildAccelerators(); };
  app.m_fnCreateAccountDialog = [&app](HWND owner) { return CreateAccountDialog(app, owner); };
  app.m_fnMakeClerkCode = [&app](HWND owner) { RunMakeClerkCodeDialog(app, owner); };
  return screens;
}

}  // namespace varnex::shell
