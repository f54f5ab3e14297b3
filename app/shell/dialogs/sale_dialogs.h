// The dialogs of the sales-registration screen around a sale's customer,
// its line names and its formal receipt:
//   - 取引先入力 (CEditCastDlg, template 135): the customer of a sale, found by
//     code (a prefix), by name, by a scanned JAN code, or in the outside
//     database with its keywords;
//   - 商品名変更 (CEditNameDlg, template 134): the display and receipt names
//     of a line;
//   - 領収証発行 (CProvideDlg, template 153): the format of a formal receipt
//     and its purpose note, the last five notes remembered in the profile
//     ("Provide MRU1" to "Provide MRU5").
#pragma once

#include <cstdint>
#include <string>

#include "app/register/view/reg_sale.h"
#include "platform/ui/types.h"

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

// Control ids of the three templates.
enum : int32_t {
  IDC_NAME_DISPLAY = 1170,
  IDC_NAME_PRINT = 1171,
  IDC_CAST_CODE = 1172,
  IDC_CAST_NAME = 1173,
  IDC_CAST_DETAIL = 1175,
  IDC_CAST_HINT = 1177,
  IDC_PROVIDE_PLAIN = 1530,
  IDC_PROVIDE_DETAIL_FIRST = 1532,
  IDC_PROVIDE_DETAIL_LAST = 1533,
  IDC_PROVIDE_NOTE_ON = 1534,
  IDC_PROVIDE_NOTE = 1588,
  IDC_NAME_INSERT_CUSTOMER = 6,
};

// 1 OK (names changed), 6 the customer-insert button (offered only when
// offerCustomer), 0 cancelled.
int32_t RunEditNameDialog(HWND owner, std::string* displayName, std::string* printName, bool offerCustomer);

// true with the chosen customer, false when cancelled. insert: the caption
// says a customer is being added. codeInputMethod: "Cast Code IMC".
bool RunEditCastDialog(HWND owner, reg::CRegCom* engine, reg::CustomerChoice* choice, bool insert,
                       bool codeInputMethod);

// true on 印刷 with the format (1 without details, 2 details first, 3
// details last; 0x100 added with a note) and the note, false on cancel.
bool RunProvideDialog(HWND owner, int32_t* kind, std::string* note);

}  // namespace varnex::shell
