// CPrgFklView: the function-key layout screen (view mode 101, form 139).
// For one key type at a time it lists the register functions that have a
// record in the layout table ("ファンクションキーレイアウト") with the keyboard
// key given to each, and lets the user change the key and the touch-panel
// position of the selected function and save its record. CPrgFklDlg
// (template 141) captures a real key press for the key. The register view,
// the touch panel and the menu modes' accelerators read the saved layout;
// the accelerators are built again when the screen goes.
//
// Layout record (8 bytes, little-endian):
//   0 u16 function: register key code (bits 12-15 type, 0-11 code)
//   2 u16 touch-panel position (0 none)
//   4 u16 key-layout word: bit 15 Ctrl, 14 Alt, 13 Shift, 12 virtual key,
//         bits 0-7 the virtual key (bit 12) or the character; 0 no key
//   6 u16 reserved, written 0
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/shell/modes/prg_form_view.h"
#include "platform/ui/dialog_class.h"
#include "platform/ui/view.h"
#include "zemta/keys.h"

namespace varnex::shell {

class CModeScreens;

// Controls of form 139 and template 141.
enum FklControl : int32_t {
  IDC_FKL_OK = 1451, IDC_FKL_CAPTURE = 1452, IDC_FKL_TYPE = 1453, IDC_FKL_CODE = 1454,
  IDC_FKL_POSITION = 1456, IDC_FKL_KEY = 1457, IDC_FKL_CTRL = 1458, IDC_FKL_ALT = 1459,
  IDC_FKL_SHIFT = 1460, IDC_FKL_LIST = 1461, IDC_FKL_HIT = 1462,
};

// The key-capture dialog: the next key pressed (Shift, Ctrl or Alt alone
// keep it waiting) ends it with OK and leaves the key in Entry().
class CPrgFklDlg : public platform::ui::Dialog {
 public:
  static constexpr int32_t kTemplate = 141;
  explicit CPrgFklDlg(HWND parent);
  const ZemtaKeyRecord& Entry() const { return entry_; }

 protected:
  bool onInitDialog() override;
  void onCancel() override;

 private:
  void OnHit();
  ZemtaKeyRecord entry_{};
};

class CPrgFklView : public CProgramFormView {
 public:
  static constexpr int32_t kForm = 139;
  explicit CPrgFklView(CModeScreens& screens);
  ~CPrgFklView() override;

  bool QueryClose() override { return DiscardCheck(); }
  // The menu modes answer the keys saved here from now on.
  void Closing() override;

  // ---- what the tests and the frame read ----
  bool Modified() const { return m_bModified; }
  int32_t ListedType() const { return m_nListedType; }
  // The record built from the controls: false when the key text is no key.
  bool BuildRecord(uint8_t* record) const;
  // Saves the shown function's record (F1).
  void Save();
  // Runs the key capture (F2 or the button).
  void CaptureKey();
  // Selects row n of the list after the discard check.
  void SelectRow(int32_t row);

 protected:
  void onInitialUpdate() override;
  platform::ui::Size sizeHint() const override { return {660, 440}; }

 private:
  uint16_t TypeBits() const;
  void FillList();
  void ShowSelection();
  // The layout record of the shown function and its number (-1: none, the
  // record zeroed).
  int32_t FindLayoutRecord(uint8_t* record) const;
  uint16_t ShownFunction() const;
  void UpdateModified();
  bool DiscardCheck();
  void OnTypeChange();
  void OnListChange();
  // Shows the function whose code is typed in the code edit (the focus put
  // into the edit when focusEdit).
  void JumpToCode(bool focusEdit);
  void OnKeyEdit();
  void OnKeySelect();
  // The name of a function (department or transaction key), 24 bytes trimmed.
  std::string FunctionName(uint16_t function) const;

  CModeScreens& m_screens;
  std::vector<uint16_t> m_keyCodes;  // item data of the key combo box
  bool m_bModified = false;
  int32_t m_nListedType = -1;
  int32_t m_nSelectedRow = -1;
  bool m_bJumping = false;   // the jump's own discard question is open
};

}  // namespace varnex::shell
