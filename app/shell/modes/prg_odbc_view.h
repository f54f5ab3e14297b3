// CPrgOdbcView: the ODBC link screen (view mode 114, form 143). It edits the
// link between the register's data and an outside database: the connection
// string (the first 512 bytes of the header of "ODBCリンク", zero-padded; an
// empty string is no link), and for each of the five link kinds the outside
// table and, per register field, the outside column (the link records). The
// register engine reads the same records to connect and build its queries.
//
// Linux has no driver-manager prompt: "データソース選択" opens a chooser of
// our own (template 147) with the data sources of odbc.ini, the installed
// drivers and a connection-string field.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/register/odbc/odbc_link.h"
#include "app/shell/modes/prg_fkl_view.h"
#include "platform/ui/dialog_class.h"
#include "platform/ui/view.h"

namespace varnex::shell {

class CModeScreens;

enum OdbcControl : int32_t {
  IDC_ODBC_KIND = 1463, IDC_ODBC_FIELD = 1464, IDC_ODBC_TABLE = 1465, IDC_ODBC_COLUMN = 1466,
  IDC_ODBC_USE = 1467, IDC_ODBC_SOURCE = 1468, IDC_ODBC_CONNECT = 1469, IDC_ODBC_LIST = 1470,
  IDC_SOURCE_LIST = 1471, IDC_SOURCE_TEXT = 1472,
};

// One program field a link kind offers: its name and locator (byte offset
// in the register's record + bit number x 65536 for a single flag bit).
struct LinkField {
  uint32_t kind;
  const char* name;
  uint32_t locator;
};
// The 84 fields of the five kinds, kind by kind.
const std::vector<LinkField>& LinkFieldTable();

// The data-source chooser: data sources and drivers, and the connection
// string they give, which the user may complete (a database file, a user).
class CDataSourceDlg : public platform::ui::Dialog {
 public:
  static constexpr int32_t kTemplate = 147;
  CDataSourceDlg(HWND parent, const std::string& connect);
  const std::string& Connect() const { return connect_; }

 protected:
  bool onInitDialog() override;
  void onOK() override;

 private:
  std::string connect_;
  std::vector<std::string> choices_;  // "DSN=..;" or "DRIVER=..;" per list row
};

class CPrgOdbcView : public CProgramFormView {
 public:
  static constexpr int32_t kForm = 143;
  explicit CPrgOdbcView(CModeScreens& screens);
  ~CPrgOdbcView() override;
  // Reads the stored link; false (after the error report) when the header
  // cannot be read and the view is not to be made.
  bool Create();

  bool QueryClose() override { return DiscardCheck(); }
  // The screen's connection goes; the register's link is checked against
  // the string it had when the screen opened.
  void Closing() override;

  bool Modified() const { return m_bModified; }
  // Saves the link (F1).
  void Save();
  // Chooses a data source in the chooser and opens it.
  void ChooseDataSource();
  // Re-reads the stored link into the controls; false when it cannot be read
  // or the stored source does not open (after the driver's message).
  bool DatabaseOpen();
  // Recomputes the modified flag.
  void ModifyCheck();

 protected:
  void onInitialUpdate() override;
  platform::ui::Size sizeHint() const override { return {660, 440}; }

 private:
  bool ReadHeader(char* header, const char* operation);
  bool OpenConnection(const std::string& connect);
  void FillTables();
  void FillColumns(const std::string& table);
  void FillList();
  void Sync();
  void ApplyEnableState();
  bool DiscardCheck();
  uint32_t KindCode() const;
  void OnKindChange();
  void OnFieldChange();
  void OnTableChange();
  void OnColumnChange();
  void Step(int32_t delta);

  CModeScreens& m_screens;
  std::unique_ptr<reg::CDatabase> m_pDatabase;  // the screen's own connection
  std::string m_strConnectAtCreate;
  int32_t m_nListedKind = 0;
  bool m_bModified = false;
  std::vector<uint32_t> m_fieldLocators;  // item data of the field combo box
  std::vector<int16_t> m_columnTypes;     // item data of the link-field combo box (99: none)
};

}  // namespace varnex::shell
