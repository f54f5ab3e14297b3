// mkdemo: makes the register's project with a small demo shop in a data
// folder that has none yet.
//
//   mkdemo <data folder> [<project definition>]
//
// The project (catalog "Res\Varnex.dbf", empty tables and index files) comes
// from the definition (by default res/varnex/Varnex.project of the source
// tree); the shop's records are then written through the library's tables:
// general settings with the tax rates 10 % and 8 %, departments and groups,
// twenty PLU items with JAN codes, three clerks, two customers, the
// transaction and function keys with their keyboard and touch-panel layout,
// and the 36 fixed totalizers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "lib/views/view/view_object.h"
#include "lib/views/view/view_bind.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"
#include "zemta/tax.h"

using namespace varnex::reg;

namespace {

std::string defaultDefinition() {
  return platform::joinPath(VARNEX_SOURCE_DIR, "res/varnex/Varnex.project");
}

void say(const std::string& cp932) { std::fprintf(stderr, "mkdemo: %s\n", platform::toUtf8Lossy(cp932).c_str()); }

// The project's tables opened as the project database opens them (same
// paths, same indexes), without the window machinery of an open project, so
// that the tool also runs where no display is.
void putLe(std::string& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// One field of a programming form, on the lines of the form: the field of
// the table, the caption on its first line (null: the field's name) and the
// lines it spans (a text field shows its bytes in lines of `width`
// characters; width 0: the field's own display width).
struct FormField {
  const char* field;
  const char* caption = nullptr;
  uint16_t lines = 1;
  uint16_t width = 0;
};

// The general settings share one table among four files, each showing the
// settings of its own screen; the general file shows what the other three
// leave.
const FormField kReceiptMessageForm[] = {{"ﾚｼｰﾄﾒｯｾｰｼﾞ", nullptr, 5, 46}};
const FormField kPriceTagForm[] = {
    {"２段値札の設定"}, {"値札1印字指定"}, {"２段値札の設定2"}, {"値札2印字指定"}, {"値札価格桁"},
};
const FormField kReportKindForm[] = {
    {"レポート種別1"}, {"レポート種別2"}, {"レポート種別3"}, {"レポート種別4"},
    {"レポート種別5"}, {"レポート種別6"}, {"レポート種別7"}, {"レポート種別8"},
};

struct SettingsForm {
  const char* file;
  const FormField* fields;
  size_t count;
};
const SettingsForm kSettingsForms[] = {
    {"PRG111", kReceiptMessageForm, std::size(kReceiptMessageForm)},
    {"PRG112", kPriceTagForm, std::size(kPriceTagForm)},
    {"PRG113", kReportKindForm, std::size(kReportKindForm)},
};
const char kGeneralSettingsFile[] = "PRG102";

const zemta::fileproj::FieldDefinition* fieldNamed(const zemta::fileproj::TableDefinition& table,
                                                    const std::string& name) {
  for (const auto& f : table.fields)
    if (f.name == name) return &f;
  return nullptr;
}

// On/off settings show and are edited as a choice of " ＯＮ " and "ＯＦＦ":
// the flag fields, and numbers the register reads as on when not 0.
const char kOnOffChoices[] = " ＯＮ ＯＦＦ";  // two choices of 6 bytes
constexpr uint16_t kOnOffWidth = 6;
constexpr uint16_t kChoiceOnWhenSet = 35, kChoiceOnWhenClear = 34;
const char* const kOnOffNumbers[] = {"一覧選択"};

// The choice type a field shows as, or 0 for its own type.
uint16_t onOffChoiceType(const zemta::fileproj::FieldDefinition& f) {
  const uint16_t t = f.typeCode & 0x3F;
  if (t == 20) return kChoiceOnWhenSet;
  if (t == 21) return kChoiceOnWhenClear;  // the field keeps "on" inverted
  for (const char* name : kOnOffNumbers)
    if (f.name == name) return kChoiceOnWhenSet;
  return 0;
}

// The fields a programming form shows: those the file names, or every field
// of its table (the general file: every field the other settings files leave).
std::vector<FormField> fieldsOfForm(const std::string& file, const zemta::fileproj::TableDefinition& table) {
  std::vector<FormField> fields;
  for (const SettingsForm& form : kSettingsForms)
    if (file == form.file) return {form.fields, form.fields + form.count};
  const bool general = file == kGeneralSettingsFile;
  for (const auto& f : table.fields) {
    bool elsewhere = false;
    for (const SettingsForm& form : kSettingsForms)
      for (size_t i = 0; general && i < form.count; ++i) elsewhere = elsewhere || f.name == form.fields[i].field;
    if (!elsewhere) fields.push_back({f.name.c_str()});
  }
  return fields;
}

// The data form of a programming file: the fields one below the other, each
// with its caption and then its value, in the Tab order of the lines. False
// when the table has no field of that name.
bool programmingForm(const zemta::fileproj::TableDefinition& table, const std::vector<FormField>& shown,
                     std::string& bytes) {
  constexpr uint16_t kLabelWidth = 18, kMaxValueWidth = 40;
  std::vector<zemta::views::ViewFieldLayout> fields;
  std::string screen;
  uint16_t width = kLabelWidth + 1, row = 0;
  for (const FormField& s : shown) {
    const zemta::fileproj::FieldDefinition* f = fieldNamed(table, s.field);
    if (!f) {
      say(std::string("no field ") + s.field + " in " + table.name);
      return false;
    }
    zemta::views::ViewFieldLayout l{};
    const uint16_t n = static_cast<uint16_t>(fields.size());
    l.ids[0] = static_cast<uint16_t>(n + 1);
    l.column = kLabelWidth;
    l.row = row;
    l.width = s.width ? s.width
                      : static_cast<uint16_t>(std::min<int32_t>(
                            zemta::views::fieldDisplayWidth(f->typeCode, f->size, f->fieldWord, "", false),
                            kMaxValueWidth));
    l.lines = std::max<uint16_t>(s.lines, 1);
    l.colour = 0xE5;
    l.type = f->typeCode;
    if (const uint16_t choice = onOffChoiceType(*f)) {
      l.type = choice;
      l.width = kOnOffWidth;
      l.choiceOffset = 0;  // the choice list opens the form's auxiliary table
    }
    l.offset = f->offset;
    l.size = f->size;
    l.detail = f->fieldWord;
    l.up = n ? n : 0;
    l.down = static_cast<uint16_t>(static_cast<size_t>(n) + 2 <= shown.size() ? n + 2 : 0);
    l.enter = l.down;
    l.tabOrder = static_cast<uint16_t>(n + 1);
    width = std::max<uint16_t>(width, static_cast<uint16_t>(kLabelWidth + l.width + 1));
    fields.push_back(l);
    std::string label = s.caption ? s.caption : f->name;
    label.resize(kLabelWidth - 2, ' ');
    screen += label + ":\r";
    for (uint16_t more = 1; more < l.lines; ++more) screen += "\r";
    row = static_cast<uint16_t>(row + l.lines);
  }
  std::string b = {'N', 'A'};
  putLe(b, 256, 2);
  putLe(b, width, 2);
  putLe(b, row, 2);
  b.append(8, '\0');
  b += screen;
  putLe(b, static_cast<uint32_t>(fields.size()), 2);
  for (const auto& l : fields) b.append(reinterpret_cast<const char*>(&l), sizeof l);
  std::string trailer = "ZEMTA RESOURCE\r\n";
  putLe(trailer, 1, 2);
  putLe(trailer, static_cast<uint32_t>(table.fdbId), 2);
  trailer += kOnOffChoices;  // the auxiliary table: the forms' one choice list
  putLe(b, static_cast<uint32_t>(trailer.size()), 2);
  bytes = b + trailer;
  return true;
}

// Writes the data forms the definition's resources name (".daf" in the
// catalog's folder) for the tables they name.
bool writeForms(const zemta::fileproj::ProjectDefinition& definition, const std::string& folder) {
  for (const auto& r : definition.resources) {
    if (r.attribute != 0) continue;
    const zemta::fileproj::TableDefinition* table = nullptr;
    for (uint16_t id : r.tables)
      for (const auto& t : definition.tables)
        if (id && t.fdbId == id && !table) table = &t;
    if (!table) continue;
    std::string bytes;
    if (!programmingForm(*table, fieldsOfForm(r.file, *table), bytes)) return false;
    const std::string path = folder + "Res/" + r.file + ".daf";
    std::ofstream out(platform::mapPath(path), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      say("cannot write the form " + path);
      return false;
    }
  }
  return true;
}

class Shop {
 public:
  Shop(const zemta::fileproj::ProjectDefinition& definition, const std::string& catalog) {
    std::string projectFolder;
    if (!zemta::fileproj::resolveProjectFolder(catalog, definition.dataFolder, projectFolder) ||
        definition.tables.size() != kTableCount) {
      say("the project's folder or tables do not match the register");
      ok_ = false;
      return;
    }
    const std::string& folder1 = definition.folders[1];
    for (int i = 0; i < kTableCount && ok_; ++i) {
      const auto& t = definition.tables[i];
      if (t.recordLen != kTables[i].recordLen || t.headerLen != kTables[i].headerLen) {
        say(std::string("unexpected record layout of ") + kTables[i].name);
        ok_ = false;
        break;
      }
      bool local = false;
      const std::string path = zemta::fileproj::tablePath(projectFolder, folder1, t.file, local);
      tables_[i] = FileDBCreate(path.c_str(), t.id, t.headerLen, t.recordLen, t.name.c_str(), nullptr);
      if (!tables_[i]) {
        ok_ = false;
        break;
      }
      for (const auto& f : t.fields) {
        if (f.index.empty()) continue;
        const std::string index = zemta::fileproj::indexPath(projectFolder, folder1, f.index, local);
        BtreeCompareFunc compare = zemta::filedb::projectIndexCompare(f.flags, f.typeCode, f.typeCode, f.size);
        if (FileAddIndex(tables_[i], index.c_str(), 8, f.typeCode, f.offset, f.size, f.fieldWord, compare, nullptr,
                         f.name.c_str()) != 0) {
          say(std::string("cannot add an index to ") + kTables[i].name);
          ok_ = false;
          break;
        }
      }
    }
  }
  ~Shop() { close(); }

  bool close() {
    bool closed = true;
    for (auto& t : tables_) {
      if (t && FileDBDelete(t) != 0) closed = false;
      t = 0;
    }
    return closed;
  }

  bool ok() const { return ok_; }

  void write(TableIndex t, int32_t n, const std::vector<uint8_t>& record) {
    if (!ok_) return;
    FileDBHandle h = tables_[t];
    // Records are written in order; a gap is filled with empty records.
    int32_t count = FileDBRecGetSize(h);
    std::vector<uint8_t> empty(record.size(), 0);
    while (ok_ && count >= 0 && count < n) ok_ = FileDBRecWrite(h, count++, empty.data()) == 0;
    if (ok_ && FileDBRecWrite(h, n, record.data()) != 0) {
      say(std::string("cannot write record of ") + kTables[t].name);
      ok_ = false;
    }
  }

 private:
  FileDBHandle tables_[kTableCount] = {};
  bool ok_ = true;
};

std::vector<uint8_t> blank(TableIndex t) { return std::vector<uint8_t>(kTables[t].recordLen, 0); }

void named(std::vector<uint8_t>& r, const FieldPlace& name, const FieldPlace& print, const char* display,
           const char* printed = nullptr) {
  putText(r.data(), name.offset, name.size, display);
  putText(r.data(), print.offset, print.size, printed ? printed : display);
}

void writeSettings(Shop& shop) {
  auto r = blank(kSettingsTable);
  putText(r.data(), settings::kStoreText.offset, settings::kStoreText.size, "ZEMTAマート 01");
  r[settings::kReceiptForm.offset] = 2;  // receipt with details
  // Outer and inner tax rounded toward zero, no unit rounding.
  putU16(r.data(), settings::kTaxWord, 0);
  putU16(r.data(), settings::kRate0.offset, 1000);  // slot 0: 10 %
  putU16(r.data(), settings::kRate1.offset, 800);   // slot 1: 8 % (food)
  putU16(r.data(), settings::kRate2.offset, 0);
  putU16(r.data(), settings::kRate3.offset, 0);
  for (int i = 0; i < 7; ++i) putU16(r.data(), settings::kReportKind1.offset + 2 * i, static_cast<uint16_t>(i + 1));
  static const char* const kMessage[settings::kMessageLines] = {
      "毎度ありがとうございます", "またのご来店を", "お待ちしております", "", "※印は軽減税率対象商品です"};
  for (int i = 0; i < settings::kMessageLines; ++i)
    putText(r.data(), settings::kReceiptMessage.offset + i * settings::kMessageLineWidth, settings::kMessageLineWidth,
            kMessage[i]);
  putU16(r.data(), settings::kPointUnit.offset, static_cast<uint16_t>(100 | (1 << 12)));  // 1 point per 100 yen
  putI32(r.data(), settings::kStampThreshold.offset, 50000);
  shop.write(kSettingsTable, 0, r);
}

struct Department {
  uint16_t number;
  const char* name;
  uint16_t group;
  uint16_t rateSlot;
};
const Department kDepartments[] = {
    {1, "青果", 1, 1}, {2, "精肉", 1, 1},   {3, "食品", 1, 1},
    {4, "飲料", 1, 1}, {5, "酒類", 2, 0},   {6, "日用品", 2, 0},
};

void writeDepartmentsAndGroups(Shop& shop) {
  auto total = blank(kGroupTable);
  named(total, group::kName, group::kPrintName, "グループ合計");
  shop.write(kGroupTable, 0, total);
  const char* groups[] = {"食料品", "非食品"};
  for (uint16_t g = 1; g <= 2; ++g) {
    auto r = blank(kGroupTable);
    named(r, group::kName, group::kPrintName, groups[g - 1]);
    putU16(r.data(), group::kNumber.offset, g);
    shop.write(kGroupTable, g, r);
  }
  auto dtotal = blank(kDepartmentTable);
  named(dtotal, department::kName, department::kPrintName, "部門合計");
  shop.write(kDepartmentTable, 0, dtotal);
  int32_t n = 1;
  for (const Department& d : kDepartments) {
    auto r = blank(kDepartmentTable);
    named(r, department::kName, department::kPrintName, d.name);
    putU16(r.data(), department::kNumber.offset, d.number);
    putU16(r.data(), department::kGroupLink.offset, d.group);
    // Six digits at most, point target, the department's tax slot.
    putU16(r.data(), department::kAttributes.offset,
           static_cast<uint16_t>(6 | attribute::kPointTarget | (d.rateSlot << attribute::kRateShift)));
    putU16(r.data(), department::kListSelect.offset, 1);
    shop.write(kDepartmentTable, n++, r);
  }
}

struct Item {
  const char* name;
  uint16_t department;
  int32_t price;
};
const Item kItems[] = {
    {"りんご", 1, 128},         {"バナナ", 1, 198},       {"キャベツ", 1, 158},     {"牛こま切れ", 2, 398},
    {"豚バラ", 2, 298},         {"鶏もも", 2, 248},       {"食パン", 3, 168},       {"たまご10個", 3, 228},
    {"納豆3P", 3, 98},          {"牛乳1L", 3, 218},       {"緑茶500ml", 4, 118},    {"コーヒー缶", 4, 108},
    {"天然水2L", 4, 98},        {"ビール350ml", 5, 228},  {"日本酒720ml", 5, 1180}, {"ワイン赤", 5, 980},
    {"ティッシュ5P", 6, 298},   {"洗剤", 6, 348},         {"歯ブラシ", 6, 158},     {"ゴミ袋45L", 6, 258},
};

void writePlu(Shop& shop) {
  auto total = blank(kPluTable);
  named(total, plu::kName, plu::kPrintName, "ＰＬＵ合計");
  shop.write(kPluTable, 0, total);
  int32_t n = 1;
  for (const Item& item : kItems) {
    auto r = blank(kPluTable);
    named(r, plu::kName, plu::kPrintName, item.name);
    // JAN-13 of the shop's own maker prefix: 12 digits and the check digit.
    char code[16];
    std::snprintf(code, sizeof code, "4912345%05dC", n % 100000);
    BccMake(code, 13);
    putText(r.data(), plu::kCode.offset, plu::kCode.size, code);
    putU16(r.data(), plu::kDepartment.offset, item.department);
    const Department& d = kDepartments[item.department - 1];
    putU16(r.data(), plu::kAttributes.offset,
           static_cast<uint16_t>(6 | attribute::kPointTarget | (d.rateSlot << attribute::kRateShift)));
    putU16(r.data(), plu::kDisplayOrder.offset, static_cast<uint16_t>(n));
    putI32(r.data(), plu::kUnitPrice.offset, item.price);
    shop.write(kPluTable, n++, r);
  }
}

void writeClerks(Shop& shop) {
  struct Clerk {
    const char* name;
    const char* print;
    uint16_t number, pin;
    uint8_t confirm, programLevel;
    uint16_t forbidden;
  };
  const Clerk clerks[] = {
      // The manager: every right, no questions, append save.
      {"店長 山田", "ﾃﾝﾁｮｳ", 1, 0, 2, 2, 0},
      // A clerk: no programming, no settlement; refunds asked with "No" first.
      {"佐藤 花子", "ｻﾄｳ", 2, 0, 0, 0, static_cast<uint16_t>(kForbidProgram | kForbidSettlement | clerk::kNotManager)},
      // A clerk with a PIN: no programming; refunds asked with "Yes" first.
      {"鈴木 一郎", "ｽｽﾞｷ", 3, 1234, 1, 0, static_cast<uint16_t>(kForbidProgram | clerk::kNotManager)},
  };
  int32_t n = 0;
  for (const Clerk& c : clerks) {
    auto r = blank(kClerkTable);
    named(r, clerk::kName, clerk::kPrintName, c.name, c.print);
    putU16(r.data(), clerk::kNumber.offset, c.number);
    putU16(r.data(), clerk::kPin.offset, c.pin);
    r[clerk::kConfirmLevel.offset] = c.confirm;
    r[clerk::kProgramLevel.offset] = c.programLevel;
    putU16(r.data(), clerk::kForbiddenModes, c.forbidden);
    shop.write(kClerkTable, n++, r);
  }
}

void writeCustomers(Shop& shop) {
  struct Customer {
    const char* code;
    const char* name;
    int32_t points;
  };
  const Customer customers[] = {{"C0001", "山田商店", 120}, {"C0002", "田中 様", 0}};
  int32_t n = 0;
  for (const Customer& c : customers) {
    auto r = blank(kCustomerTable);
    putText(r.data(), customer::kCode.offset, customer::kCode.size, c.code);
    putText(r.data(), customer::kName.offset, customer::kName.size, c.name);
    putI32(r.data(), customer::kPointBalance.offset, c.points);
    putI32(r.data(), customer::kPointRate.offset, 1);
    shop.write(kCustomerTable, n++, r);
  }
}

struct Key {
  uint16_t code;      // code within the key's table
  const char* name;
  const char* print;  // null: the name
  uint16_t keyWord;   // keyboard key, 0 none
};

constexpr uint16_t vk(int key) { return static_cast<uint16_t>(keylayout::kVirtual | key); }
constexpr uint16_t fkey(int n) { return vk(0x6F + n); }
constexpr uint16_t shift(uint16_t w) { return static_cast<uint16_t>(w | keylayout::kShift); }
constexpr uint16_t ctrl(uint16_t w) { return static_cast<uint16_t>(w | keylayout::kCtrl); }

// The keys of the three transaction-key tables (record = code - the table's
// first code), each at the code whose function the register runs for it.
// Codes without a function stay blank records and get no key.
const Key kTrans1[] = {
    {kTenderCash, "現計", nullptr, vk(0x0D)},
    {kTenderSlip, "掛売", nullptr, fkey(4)},
    {kTenderCard, "クレジット", nullptr, fkey(2)},
    {4, "商品券", nullptr, fkey(3)},
    {kTenderPoints, "Ｐ使用", "ﾎﾟｲﾝﾄ使用", shift(fkey(4))},
    {kTenderCodePayment, "ｺｰﾄﾞ売", nullptr, shift(fkey(6))},
    {kTenderCodePayment + 1, "ｺｰﾄﾞ売2", nullptr, shift(fkey(7))},
    {kTenderCodePayment + 2, "ｺｰﾄﾞ売3", nullptr, shift(fkey(8))},
    {kTenderCodePayment + 3, "ｺｰﾄﾞ売4", nullptr, shift(fkey(9))},
    {kTenderCodePayment + 4, "ｺｰﾄﾞ売5", nullptr, shift(fkey(10))},
};
const Key kTrans2[] = {
    {kTrans2PaidIn, "入金", nullptr, fkey(9)},
    {kTrans2PaidOut, "出金", nullptr, fkey(10)},
    {kTrans2CardPaidIn, "ｶｰﾄﾞ入金", nullptr, shift(fkey(3))},
    {kTrans2Exchange, "両替", nullptr, 0},
    {kTrans2Number, "番号", nullptr, 0},
    {kTrans2PointsEarned, "ポイント", nullptr, shift(fkey(5))},
    {kTrans2AmountDiscount, "値引", nullptr, fkey(5)},
    {kTrans2PercentDiscount, "割引", nullptr, fkey(6)},
    {kTrans2AmountSurcharge, "割増", nullptr, 0},
    {kTrans2PercentSurcharge, "％割増", nullptr, 0},
    {kTrans2Correction, "訂正", nullptr, fkey(8)},
    {kTrans2RefundShownSale, "返品", nullptr, ctrl(fkey(1))},
};
const Key kTrans3[] = {
    {kFunctionCursorUp, "↑", nullptr, 0},
    {kFunctionCursorDown, "↓", nullptr, 0},
    {kFunctionCursorLeft, "←", nullptr, 0},
    {kFunctionCursorRight, "→", nullptr, 0},
    {kFunctionPageUp, "前頁", nullptr, 0},
    {kFunctionPageDown, "次頁", nullptr, 0},
    {kFunctionFirstRow, "先頭", nullptr, 0},
    {kFunctionLastRow, "最終", nullptr, 0},
    {kFunctionReserve, "予約", nullptr, shift(fkey(12))},
    {kFunctionOtherRegisterMode, "切換", nullptr, fkey(12)},
    {kFunctionDepartmentLink, "部門", nullptr, ctrl(fkey(6))},
    {kFunctionLinkAmount, "部門金額", nullptr, 0},
    {kFunctionSubtotal, "小計", nullptr, fkey(1)},
    {kFunctionDigitRelease, "桁解除", nullptr, 0},
    {kFunctionTenKeyPad, "テンキー", nullptr, 0},
    {kFunctionQuantity, "×", nullptr, vk(0x6A)},
    {kFunctionPlu, "ＰＬＵ", nullptr, ctrl(fkey(5))},
    {kFunctionPriceChange, "売価変更", nullptr, 0},
    {kFunctionFixedTail, "万", nullptr, 0},
    {kFunctionReceiptOnOff, "ﾚｼｰﾄ印字", nullptr, ctrl(fkey(8))},
    {kFunctionReprintOrReserve, "保留", nullptr, ctrl(fkey(10))},
    {kFunctionNonTaxable, "非課税", nullptr, 0},
    {kFunctionTaxExempt, "免税", nullptr, 0},
    {kFunctionSpecialTax, "税／奉", nullptr, 0},
    {kFunctionNoSpecialTax, "特税除外", nullptr, 0},
    {kFunctionPersons, "客数", nullptr, 0},
    {kFunctionDoubleZero, "00", nullptr, 0},
    {kFunctionBackspace, "戻る", nullptr, vk(0x08)},
    {kFunctionClear, "クリア", nullptr, vk(0x1B)},
    {kFunctionCancelLine, "取消", nullptr, fkey(7)},
    {kFunctionEditNames, "名称変更", nullptr, 0},
    {kFunctionFormalReceipt, "領収書", nullptr, 0},
    {kFunctionCancelSale, "全取消", nullptr, 0},
    {kFunctionSalesSlip, "売上伝票", nullptr, 0},
    {kFunctionTaxReduction, "減税", nullptr, fkey(11)},
    {kFunctionCustomer, "取引先", nullptr, shift(fkey(11))},
};

void writeKeys(Shop& shop) {
  int32_t layoutRecord = 0;
  int position = 0;  // running touch-panel cell, 8 columns a row
  auto layout = [&](uint16_t keyCode, uint16_t keyWord) {
    std::vector<uint8_t> r(kTables[kKeyLayoutTable].recordLen, 0);
    putU16(r.data(), keylayout::kFunction.offset, keyCode);
    const int row = position / 8, column = position % 8;
    putU16(r.data(), keylayout::kPosition.offset, static_cast<uint16_t>(row + column * 100 + 101));
    putU16(r.data(), keylayout::kKeyWord.offset, keyWord);
    shop.write(kKeyLayoutTable, layoutRecord++, r);
    ++position;
  };
  for (const Department& d : kDepartments) layout(makeKeyCode(kKeyDepartment, d.number), 0);
  // Every code of a table up to its last has a record; the keys lie at their
  // codes, the other records stay blank.
  auto keys = [&](TableIndex t, const Key* list, size_t count, uint16_t type, uint16_t base, uint16_t last) {
    for (uint16_t code = base; code <= last; ++code) {
      auto r = blank(t);
      const Key* key = nullptr;
      for (size_t i = 0; i < count; ++i)
        if (list[i].code == code) key = &list[i];
      if (key) named(r, transkey::kName, transkey::kPrintName, key->name, key->print);
      shop.write(t, static_cast<int32_t>(code - base), r);
      if (key) layout(makeKeyCode(type, code), key->keyWord);
    }
  };
  keys(kTrans1Table, kTrans1, std::size(kTrans1), kKeyTrans1, transkey::kTrans1Base, kTenderCodePayment + 4);
  keys(kTrans2Table, kTrans2, std::size(kTrans2), kKeyTrans2, transkey::kTrans2Base, kTrans2Last);
  keys(kTrans3Table, kTrans3, std::size(kTrans3), kKeyFunction, transkey::kTrans3Base, kFunctionLast);
}

void writeFixedTotals(Shop& shop) {
  static const char* const kFirst[11][2] = {
      {"純売上", nullptr},   {"総売上", nullptr},   {"客数", nullptr},     {"返品", nullptr},
      {"月間売上", nullptr}, {"値引", nullptr},     {"割引", nullptr},     {"取消", nullptr},
      {"訂正", nullptr},     {"入金", nullptr},     {"出金", nullptr},
  };
  static const char* const kTax[6][2] = {
      {"外税課税額%d", "ｿﾄ課税%d"}, {"外税額%d", "ｿﾄ税金%d"}, {"外税免税額%d", "ｿﾄ免税%d"},
      {"内税課税額%d", "ｳﾁ課税%d"}, {"内税額%d", "ｳﾁ税金%d"}, {"内税免税額%d", "ｳﾁ免税%d"},
  };
  static const char* const kLast[7] = {"現金在高", "クレジット", "商品券", "掛売", "ポイント", "釣銭", "税合計"};
  for (int n = 0; n < fixedtotal::kSlots; ++n) {
    auto r = blank(kFixedTotalTable);
    char display[32], print[32];
    if (n < 11) {
      named(r, fixedtotal::kName, fixedtotal::kPrintName, kFirst[n][0]);
    } else if (n < 29) {
      const int rate = (n - 11) / 6 + 1, k = (n - 11) % 6;
      std::snprintf(display, sizeof display, kTax[k][0], rate);
      std::snprintf(print, sizeof print, kTax[k][1], rate);
      named(r, fixedtotal::kName, fixedtotal::kPrintName, display, print);
    } else {
      named(r, fixedtotal::kName, fixedtotal::kPrintName, kLast[n - 29]);
    }
    shop.write(kFixedTotalTable, n, r);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: mkdemo <data folder> [<project definition>]\n");
    return 2;
  }
  std::string folder = argv[1];
  if (folder.empty()) return 2;
  folder = platform::withSeparator(folder, '/');
  const std::string definitionPath = argc == 3 ? argv[2] : defaultDefinition();
  const std::string catalog = folder + "Res/Varnex.dbf";
  if (platform::fileExists(platform::mapPath(catalog))) {
    std::fprintf(stderr, "mkdemo: %s already holds a project; nothing changed\n", folder.c_str());
    return 1;
  }
  std::ifstream in(definitionPath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "mkdemo: cannot read %s\n", definitionPath.c_str());
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  zemta::fileproj::ProjectDefinition definition;
  std::string error;
  if (!zemta::fileproj::parseProjectDefinition(text, definition, error)) {
    std::fprintf(stderr, "mkdemo: %s: %s\n", definitionPath.c_str(), error.c_str());
    return 1;
  }
  ZemtaEnableLastErrorMessage(0);
  if (!platform::createDirectories(folder) || FileSetLocPath(folder.c_str()) != 0) {
    std::fprintf(stderr, "mkdemo: cannot use the folder %s\n", folder.c_str());
    return 1;
  }
  if (!zemta::fileproj::makeProject(definition, catalog, error)) {
    std::fprintf(stderr, "mkdemo: %s\n", error.c_str());
    return 1;
  }
  if (!writeForms(definition, folder)) return 1;
  Shop shop(definition, catalog);
  writeSettings(shop);
  writeDepartmentsAndGroups(shop);
  writePlu(shop);
  writeClerks(shop);
  writeCustomers(shop);
  writeKeys(shop);
  writeFixedTotals(shop);
  const bool closed = shop.close();
  if (!shop.ok() || !closed) {
    std::fprintf(stderr, "mkdemo: the demo shop could not be written completely\n");
    return 1;
  }
  std::printf("%s: demo project made\n", catalog.c_str());
  return 0;
}
