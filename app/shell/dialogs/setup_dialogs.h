// The setup dialogs of the Tools commands. Each edits a group of profile
// settings (section "Settings") that its command hands in and takes back:
//   CSmpLinkDlg    136 売上伝票処理リンク設定  "Smp Link", "Smp Work", "Smp Action"
//   CSetupPortDlg  145 周辺機器設定            the customer display, the card terminal, the SA device
//   CPrnCtrlDlg    146 印刷書式設定            the receipt printer, its fonts and layout
//   CSetupImageDlg 149 イメージサイズ設定      "BMP Width", "BMP Height"
//   CSetupLogoDlg  150 ロゴファイルの設定      "Logo Path", "Logo Offset", "Logo Rate"
//   COptionDlg     152 オプション設定          the register's options
// A dialog's controls are bound to keys by a table (CSettingsDlg): the
// values come in as texts by key, the controls show them, and OK takes them
// back after the range checks; the command writes them and applies them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/dialog_class.h"

namespace varnex::shell {

class CREGApp;

// How a control holds its setting.
enum class Binding { Check, InverseCheck, Text, Index, Number, ComboText };

struct SettingControl {
  int32_t control;
  const char* key;
  Binding binding;
  int32_t minimum = 0, maximum = 0;  // Number: the range; Text: the longest text (0 none)
};

class CSettingsDlg : public platform::ui::Dialog {
 public:
  CSettingsDlg(int32_t templateId, HWND parent, CREGApp& app, std::vector<SettingControl> controls);
  // The settings by key as texts (numbers and check boxes as decimal).
  std::map<std::string, std::string> values;
  int32_t Int(const std::string& key) const;

 protected:
  bool onInitDialog() override;
  void onOK() override;
  // Fills the lists before the values are shown.
  virtual void FillLists() {}
  // After the values are shown (enable states).
  virtual void AfterShow() {}
  // OK: false keeps the dialog open.
  virtual bool CheckRights();
  void SetItems(int32_t control, const std::vector<std::string>& items);
  CREGApp& m_app;

 private:
  std::vector<SettingControl> m_controls;
};

class CSmpLinkDlg : public CSettingsDlg {
 public:
  CSmpLinkDlg(HWND parent, CREGApp& app);
  // The browse button's rule: the chosen program and its folder, each in
  // double quotes when it holds a blank.
  static void SplitProgramPath(const std::string& chosen, std::string* target, std::string* work);
};

class CSetupPortDlg : public CSettingsDlg {
 public:
  CSetupPortDlg(HWND parent, CREGApp& app);
  // The serial ports offered: Quorex's list, or "COM1" to "COM5".
  static std::vector<std::string> PortNames();

 protected:
  void FillLists() override;
  void AfterShow() override;

 private:
  void ApplyDevice();
  void ApplyEnables();
};

class CPrnCtrlDlg : public CSettingsDlg {
 public:
  CPrnCtrlDlg(HWND parent, CREGApp& app);

 protected:
  void FillLists() override;
  void AfterShow() override;
  void onOK() override;
};

class CSetupImageDlg : public CSettingsDlg {
 public:
  CSetupImageDlg(HWND parent, CREGApp& app);
  bool CheckRights() override { return true; }
};

class CSetupLogoDlg : public CSettingsDlg {
 public:
  CSetupLogoDlg(HWND parent, CREGApp& app);
  bool CheckRights() override { return true; }
};

class COptionDlg : public CSettingsDlg {
 public:
  COptionDlg(HWND parent, CREGApp& app);
  bool CheckRights() override { return true; }

 protected:
  void FillLists() override;
  void AfterShow() override;

 private:
  void ApplyEnables();
};

}  // namespace varnex::shell
