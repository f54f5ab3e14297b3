// Posting of a transaction's lines to the counters kept in the master records
// and of its sale totals block to the 36 fixed totalizers.
//
// Every posting carries a sign s: +1 normally, -1 in reverse (a refund posts
// in reverse, an undo posts again with the reverse flag inverted), so that
// posting a line once each way leaves every counter as it was. Record 0 of
// departments, PLU items and groups is the grand total: each addition to an
// item is made again on record 0.
//
// Inside a commit every read and write of a record goes through the commit's
// staging (commit_journal.cpp): nothing reaches a table until the sale is
// committed, so a line that fails leaves nothing to take back.
#include <cmath>
#include <cstring>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "zemta/date.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/tax.h"

namespace varnex::reg {
namespace {

// Counters wrap as the stored 32-bit words do, without overflow in the sums.
inline int32_t add32(int32_t a, int64_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(static_cast<int64_t>(b)));
}
inline void addField(uint8_t* record, const FieldPlace& f, int64_t add) {
  putI32(record, f.offset, add32(getI32(record, f.offset), add));
}

constexpr int32_t kAppend = 0x7FFFFFFF;
constexpr uint16_t kMonthlySlot = 4;  // the fixed totalizer of the month

// Quantity, amount, cost and the amount of lines with a unit net.
const FieldPlace* const kDepartmentCounters[4] = {&department::kCount, &department::kAmount, &department::kCost,
                                                  &department::kMarginBase};
const FieldPlace* const kPluCounters[4] = {&plu::kCount, &plu::kAmount, &plu::kCost, &plu::kMarginBase};
const FieldPlace* const kGroupCounters[4] = {&group::kCount, &group::kAmount, &group::kCost, &group::kMarginBase};

const FieldPlace* const* countersOf(TableIndex t) {
  switch (t) {
    case kDepartmentTable: return kDepartmentCounters;
    case kPluTable: return kPluCounters;
    default: return kGroupCounters;
  }
}

}  // namespace

// Adds to four counters of an item record and of record 0.
int32_t CRegCom::postItem(TableIndex table, int32_t record, const FieldPlace* const* fields, int32_t q, int32_t p,
                          int32_t u, int32_t s) {
  const int64_t adds[4] = {static_cast<int64_t>(q) * s, static_cast<int64_t>(p) * s,
                           static_cast<int64_t>(u) * q * s, static_cast<int64_t>(p) * s};
  const int count = q != 0 && u != 0 ? 4 : 2;
  int32_t narrow[4];
  for (int i = 0; i < 4; ++i) narrow[i] = static_cast<int32_t>(static_cast<uint32_t>(adds[i]));
  if (postCounters(table, record, fields, narrow, count) != 0) return -1;
  if (record == 0) return 0;
  return postCounters(table, 0, fields, narrow, count);
}

// Adds to the first count counters of one record, read then written.
int32_t CRegCom::postCounters(TableIndex table, int32_t record, const FieldPlace* const* fields, const int32_t* adds,
                              int count) {
  std::vector<uint8_t> image(kTables[table].recordLen, 0);
  if (record < 0 || readForPosting(table, record, image.data()) != 0) return -1;
  for (int i = 0; i < count; ++i) addField(image.data(), *fields[i], adds[i]);
  return writeForPosting(table, record, image.data());
}

int32_t CRegCom::postSettings(uint16_t offset, int32_t add) {
  putI32(settings_, offset, add32(getI32(settings_, offset), add));
  return writeForPosting(kSettingsTable, 0, settings_);
}

// The count and amount of a key of "取引１" (type 2), "取引２" (type 3) or
// "取引３" (type 4).
int32_t CRegCom::postTransKey(uint16_t keyCode, int32_t countAdd, int32_t amountAdd) {
  TableIndex table;
  int32_t n;
  if (!transKeyPlace(keyCode, &table, &n)) return -1;
  // A key without its record is not posted anywhere: the line fails.
  if (n < 0 || n >= FileDBRecGetSize(tables_[table])) return -1;
  const FieldPlace* fields[2] = {&transkey::kCount, &transkey::kAmount};
  const int32_t adds[2] = {countAdd, amountAdd};
  return postCounters(table, n, fields, adds, 2);
}

int32_t CRegCom::changeCustomer(const char* code, bool create, const std::function<void(uint8_t*)>& change) {
  if (!code || !*code) return 0;
  std::vector<uint8_t> image(kTables[kCustomerTable].recordLen, 0);
  int32_t n = GetCustomerRecord(code, image.data());
  if (n >= 0) {
    if (readForPosting(kCustomerTable, n, image.data()) != 0) return -1;
  } else {
    // A customer this commit has already added is found among its staged records.
    n = findStagedAppend(kCustomerTable, customer::kCode, code, image.data());
  }
  if (n < 0) {
    if (!create) return 0;
    std::memset(image.data(), 0, image.size());
    putText(image.data(), customer::kCode.offset, customer::kCode.size, code);
    n = kAppend;
  }
  change(image.data());
  return writeForPosting(kCustomerTable, n, image.data());
}

// One line as the posting reads it.
struct CRegCom::LinePost {
  const uint8_t* l;
  int32_t* t;
  int32_t reverse;
  int32_t s;  // +1, or -1 in reverse
  uint16_t key, code, f;
  int r;                     // tax rate slot
  int32_t q, p, u, n;        // quantity, price, unit net, net amount
  std::string customerCode;  // the sale's customer
  bool settlement;
  OdbcPostContext& ctx;
};

// A failed update of the outside database fails the line; while an undo
// reposts, the link's transaction is rolled back anyway, and the register's
// own counters must come back whatever the link answers.
bool CRegCom::linkFailed(int32_t result) const { return result < 0; }

int32_t CRegCom::CommitLine(const void* record, int32_t* t, int32_t reverse, OdbcPostContext* context,
                            uint8_t* customerBuffer) {
  if (!project_ || !record || !t) {
    ReportError("CRegCom", ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  OdbcPostContext scratch;
  const uint8_t* l = static_cast<const uint8_t*>(record);
  const uint16_t key = getU16(l, line::kKeyCode), f = getU16(l, line::kFlags);
  const LinePost post{l,
                      t,
                      reverse,
                      reverse ? -1 : 1,
                      key,
                      keyNumber(key),
                      f,
                      (f >> line::kRateShift) & 3,
                      getI32(l, line::kUnit),
                      getI32(l, line::kPrice),
                      getI32(l, line::kUnitNet),
                      getI32(l, line::kNetPrice),
                      customerBuffer ? getText(customerBuffer, 0, line::kCodeLen) : std::string(),
                      t[saletotal::kSettlement] != 0,
                      context ? *context : scratch};
  switch (keyType(key)) {
    case kKeyCustomer: return postCustomerLine(post);
    case kKeyDepartment: return postItemLine(post);
    case kKeyTrans1: return postTenderLine(post);
    case kKeyTrans2: return postTrans2Line(post);
    case kKeyFunction:
      if (post.code == kFunctionPersons) t[saletotal::kGuests] += post.p;
      return 0;
    case kKeySystemLine: return postSystemLine(post);
    case kKeyReportItem: return post.settlement ? postReportItem(post) : 0;
    case kKeyReportTotal: return post.settlement ? postReportTotal(post) : 0;
    case kKeyReportHeading:
      // A heading opens its section: the report lines after it count its kind.
      t[saletotal::kSection] = post.code;
      post.ctx.sectionPrice = post.p;
      if (post.code == kReportFixedTotals) post.ctx.settlementInsert = 1;
      return 0;
    default: return 0;
  }
}

// The customer line sets the customer's name and point balance.
int32_t CRegCom::postCustomerLine(const LinePost& post) {
  std::vector<uint8_t> name(customer::kName.size, 0);
  putText(name.data(), 0, name.size(), getText(post.l, 0, customer::kName.size));
  return changeCustomer(post.customerCode.c_str(), true, [&](uint8_t* c) {
    if (std::memcmp(c + customer::kName.offset, name.data(), name.size()) != 0)
      std::memcpy(c + customer::kName.offset, name.data(), name.size());
    putI32(c, customer::kPointBalance.offset, post.p);
  });
}

// A department or PLU item line: the department, the PLU item (a new one for
// a sale kept in its temporary file), the department's group, then the link.
int32_t CRegCom::postItemLine(const LinePost& post) {
  const uint8_t* l = post.l;
  const uint16_t code = post.code;
  const int32_t q = post.q, p = post.p, u = post.u, s = post.s;
  AddLineToTotals(l, post.t);
  int32_t amount = ApplyLineTax(post.f, p);
  uint16_t groupNumber = 0;
  bool stockUpdate = false;
  if (code != 0) {
    std::vector<uint8_t> dept(kTables[kDepartmentTable].recordLen);
    const int32_t d = GetDepartmentRecord(code, dept.data());
    if (d < 0) return -1;
    const int32_t unitPrice = getI32(dept.data(), department::kUnitPrice.offset);
    if (unitPrice != 0)
      amount = ApplyItemTax(getU16(dept.data(), department::kAttributes.offset),
                            static_cast<int32_t>(static_cast<int64_t>(q) * unitPrice));
    groupNumber = getU16(dept.data(), department::kGroupLink.offset);
    if (postItem(kDepartmentTable, d, kDepartmentCounters, q, p, u, s) != 0) return -1;
  }
  const std::string itemCode = getText(l, line::kCode, line::kCodeLen);
  if (!itemCode.empty() && MatchPriceCodeMasks(itemCode.c_str()) == 1) {
    std::vector<uint8_t> item(kTables[kPluTable].recordLen);
    int32_t k = GetPluRecord(itemCode.c_str(), item.data());
    if (k < 0) k = findStagedAppend(kPluTable, plu::kCode, itemCode, item.data());
    if (k < 0) {
      if (!keepInTemporary_) return -1;
      // A sale kept in its temporary file brings its own items.
      std::memset(item.data(), 0, item.size());
      std::memcpy(item.data(), l, plu::kCode.offset);
      putText(item.data(), plu::kCode.offset, plu::kCode.size, itemCode);
      putU16(item.data(), plu::kDepartment.offset, code);
      putU16(item.data(), plu::kAttributes.offset, LineFlagsToItemFlags(post.f));
      if (FileDBRecGetSize(tables_[kPluTable]) < 1 || writeForPosting(kPluTable, kAppend, item.data()) != 0)
        return -1;
      k = findStagedAppend(kPluTable, plu::kCode, itemCode, item.data());
      if (k < 0) k = GetPluRecord(itemCode.c_str(), item.data());
      if (k < 0) return -1;
    }
    const int32_t unitPrice = getI32(item.data(), plu::kUnitPrice.offset);
    if (unitPrice != 0)
      amount = ApplyItemTax(getU16(item.data(), plu::kAttributes.offset),
                            static_cast<int32_t>(static_cast<int64_t>(q) * unitPrice));
    if (postItem(kPluTable, k, kPluCounters, q, p, u, s) != 0) return -1;
    stockUpdate = true;
  }
  post.t[saletotal::kItems] += amount;
  if (code != 0 && groupNumber != 0) {
    std::vector<uint8_t> grp(kTables[kGroupTable].recordLen);
    const int32_t g = GetGroupRecord(groupNumber, grp.data());
    if (g < 0 || postItem(kGroupTable, g, kGroupCounters, q, p, u, s) != 0) return -1;
  }
  // The link's updates come after every posting of the register's own,
  // so that a line failing there is taken back whole by its reposting.
  if (stockUpdate && linkFailed(OdbcLinePluSale(&post.ctx, l, post.reverse))) return -1;
  return linkFailed(OdbcLineSales(&post.ctx, l, post.reverse)) ? -1 : 0;
}

// The customer's point balance moved by add (already signed).
int32_t CRegCom::postCustomerPoints(const LinePost& post, int32_t add) {
  if (linkFailed(OdbcLinePoints(post.customerCode.c_str(), add, post.reverse))) return -1;
  return changeCustomer(post.customerCode.c_str(), true, [&](uint8_t* c) {
    putI32(c, customer::kPointBalance.offset,
           add32(getI32(c, customer::kPointBalance.offset), int64_t(add) * post.s));
  });
}

// A tender of "取引１": its key's count and amount; cash goes into the drawer,
// points come off the customer's balance.
int32_t CRegCom::postTenderLine(const LinePost& post) {
  const int32_t p = post.p, s = post.s;
  if (postTransKey(post.key, s, p * s) != 0) return -1;
  switch (post.code) {
    case kTenderCash:
      post.t[saletotal::kCash] += p;
      return postSettings(settings::kCash.offset, p * s);
    case kTenderPoints: return postCustomerPoints(post, -p);
    default: return 0;
  }
}

// A key of "取引２": paid in and out, points earned, discounts and surcharges;
// other keys only count.
int32_t CRegCom::postTrans2Line(const LinePost& post) {
  using namespace saletotal;
  const int32_t p = post.p, s = post.s;
  int32_t countAdd = s, amountAdd = 0;
  int32_t settingsOffset = -1, settingsAdd = 0;
  switch (post.code) {
    case kTrans2PaidIn:
      post.t[kCash] += p;
      amountAdd = p * s;
      settingsOffset = settings::kPaidIn.offset;
      settingsAdd = p * s;
      break;
    case kTrans2PaidOut:
      amountAdd = -p * s;
      post.t[kCash] += p;
      settingsOffset = settings::kPaidOut.offset;
      settingsAdd = p * s;
      break;
    case kTrans2CardPaidIn: amountAdd = p * s; break;
    case kTrans2PointsEarned:
      countAdd = post.q * s;  // Q in all
      amountAdd = p * s;
      break;
    case kTrans2AmountDiscount:
    case kTrans2PercentDiscount:
      AddLineToTotals(post.l, post.t);
      amountAdd = -ApplyLineTax(post.f, p) * s;
      break;
    case kTrans2AmountSurcharge:
    case kTrans2PercentSurcharge:
      AddLineToTotals(post.l, post.t);
      amountAdd = ApplyLineTax(post.f, p) * s;
      break;
    default: break;
  }
  if (postTransKey(post.key, countAdd, amountAdd) != 0) return -1;
  if (settingsOffset >= 0 && postSettings(static_cast<uint16_t>(settingsOffset), settingsAdd) != 0) return -1;
  return post.code == kTrans2PointsEarned ? postCustomerPoints(post, p) : 0;
}

// A system line: service, change, the special local tax and service charge,
// the cash count of a settlement, points earned at the end of a sale.
int32_t CRegCom::postSystemLine(const LinePost& post) {
  using namespace saletotal;
  int32_t* t = post.t;
  const int32_t p = post.p, s = post.s;
  switch (post.code) {
    case kLineService:
      t[kService] += p;
      t[kSale] -= ApplyLineTax(post.f, p);
      return 0;
    case kLineChange:
      if (postTransKey(makeKeyCode(kKeyTrans1, kTenderCash), 0, -p * s) != 0) return -1;
      t[kCash] -= p;
      return postSettings(settings::kCash.offset, -p * s);
    case kLineSpecialTax:
      t[kSpecialPresent] = 1;
      t[kSpecialTax] += p;
      return 0;
    case kLineServiceCharge:
      AddLineToTotals(post.l, t);
      t[kItems] += ApplyLineTax(post.f, p);
      t[kServiceCharge] += p;
      return 0;
    case kLineCash:
    case kLinePaidIn:
    case kLinePaidOut: {
      if (!post.settlement) return 0;
      const uint16_t offset = post.code == kLineCash     ? settings::kCash.offset
                              : post.code == kLinePaidIn ? settings::kPaidIn.offset
                                                         : settings::kPaidOut.offset;
      return postSettings(offset, -p * s);
    }
    case kLinePointsEarned: return postPointsEarned(post);
    default: return 0;
  }
}

// Points earned by the sale: counted on the points key, taken out of the
// sale's taxable sums, and given to the customer.
int32_t CRegCom::postPointsEarned(const LinePost& post) {
  using namespace saletotal;
  int32_t* t = post.t;
  const int32_t p = post.p, s = post.s, r = post.r;
  const uint16_t f = post.f;
  if (postTransKey(makeKeyCode(kKeyTrans2, kTrans2PointsEarned), s, p * s) != 0) return -1;
  if (pointUpdateAtOnce_ && linkFailed(OdbcLinePoints(post.customerCode.c_str(), p, post.reverse))) return -1;
  t[kSale] -= p;
  const uint16_t word = getU16(settings_, settings::kTaxWord);
  if ((f & line::kNonTaxable) && (f & line::kNoSpecialTax)) {
    if (f & line::kInnerTax)
      t[kInner + r] -= p;
    else
      t[kOuterTaxable + r] -= CalTaxInc(p, 2 - (word & 3), r);
  } else if (f & line::kNonTaxable) {
    t[kExemptInner + r] -= p;
  } else {
    t[kExempt] -= p;
  }
  if (t[kSpecialTax] != 0) {
    t[kSpecialBase] -= p;
    double special = static_cast<double>(getU16(settings_, settings::kSpecialRate.offset)) / 10000.0 * p;
    t[kSpecialTax] -= CalRound(&special, 0, 2 - (getU16(settings_, settings::kSpecialRounding.offset) & 3));
  }
  // With "at once" the earned points go straight to the balance;
  // points still waiting stay waiting for the settlement's fold, so
  // that the reverse posting takes back exactly what this one gave.
  return changeCustomer(post.customerCode.c_str(), true, [&](uint8_t* c) {
    const FieldPlace& field = pointUpdateAtOnce_ ? customer::kPointBalance : customer::kPointsGranted;
    putI32(c, field.offset, add32(getI32(c, field.offset), int64_t(p) * s));
  });
}

// A settlement's item line takes what the report showed off the item.
int32_t CRegCom::postReportItem(const LinePost& post) {
  TableIndex table;
  int32_t k;
  std::vector<uint8_t> image(kTables[kPluTable].recordLen, 0);
  switch (post.t[saletotal::kSection]) {
    case kReportDepartments: table = kDepartmentTable; k = GetDepartmentRecord(post.code, image.data()); break;
    case kReportPlu:
      table = kPluTable;
      k = GetPluRecord(getText(post.l, line::kCode, line::kCodeLen).c_str(), image.data());
      break;
    case kReportGroups: table = kGroupTable; k = GetGroupRecord(post.code, image.data()); break;
    default: return 0;
  }
  if (k < 0) return -1;
  const FieldPlace* const* fields = countersOf(table);
  const int32_t s = post.s;
  const int32_t adds[4] = {-post.q * s, -post.p * s, -post.u * s, -post.n * s};
  if (postCounters(table, k, fields, adds, 4) != 0) return -1;
  return k == 0 ? 0 : postCounters(table, 0, fields, adds, 4);
}

// A settlement's total line takes what the report showed off a clerk, a
// transaction key or a fixed totalizer.
int32_t CRegCom::postReportTotal(const LinePost& post) {
  switch (post.t[saletotal::kSection]) {
    case kReportClerks: return postClerkTotal(post);
    case kReportTransKeys: return postTransKeyTotal(post);
    case kReportFixedTotals: return postFixedTotal(post);
    default: return 0;
  }
}

int32_t CRegCom::postClerkTotal(const LinePost& post) {
  std::vector<uint8_t> image(kTables[kClerkTable].recordLen);
  const int32_t k = GetClerkRecord(getU16(post.l, line::kUnitPrice), image.data());
  if (k < 0) return -1;
  const FieldPlace* fields[2] = {&clerk::kNetCount, &clerk::kNetAmount};
  if (post.f & line::kCcts) {
    fields[0] = &clerk::kGrossCount;
    fields[1] = &clerk::kGrossAmount;
  }
  const int32_t adds[2] = {-post.q * post.s, -post.p * post.s};
  return postCounters(kClerkTable, k, fields, adds, 2);
}

int32_t CRegCom::postTransKeyTotal(const LinePost& post) {
  using C = OdbcPostContext;
  const uint16_t code = post.code;
  const int32_t s = post.s;
  int sum = -1;
  if (code >= kTenderCash && code <= kTenderPoints) sum = C::kTrans1Code1 + (code - kTenderCash);
  if (code == kTenderCodePayment) sum = C::kTrans1Code6;
  if (code == kTrans2PaidIn) sum = C::kTrans2Code20;
  if (code == kTrans2PaidOut) sum = C::kTrans2Code21;
  if (code == kTrans2CardPaidIn) sum = C::kTrans2Code22;
  if (code == kTrans2PointsEarned) sum = C::kTrans2Code29;
  if (sum >= 0) post.ctx.sums[sum] += post.p * s;
  // Codes below the first of "取引２" are tenders of "取引１".
  const uint16_t type = code < kTrans2First ? kKeyTrans1 : kKeyTrans2;
  if (postTransKey(makeKeyCode(type, code), -post.q * s, -post.p * s) != 0) return -1;
  if (code != kTrans2PointsEarned) return 0;
  // Every customer's waiting points join the balance.
  FileDBHandle customers = tables_[kCustomerTable];
  const int32_t count = FileDBRecGetSize(customers);
  std::vector<uint8_t> image(kTables[kCustomerTable].recordLen);
  for (int32_t k = 0; k < count; ++k) {
    if (readForPosting(kCustomerTable, k, image.data()) != 0) return -1;
    const int32_t waiting = getI32(image.data(), customer::kPointsGranted.offset);
    if (waiting == 0) continue;
    const std::string who = getText(image.data(), customer::kCode.offset, customer::kCode.size);
    if (OdbcLinePoints(who.c_str(), waiting, 0) < 0) return -1;
    addField(image.data(), customer::kPointBalance, waiting);
    putI32(image.data(), customer::kPointsGranted.offset, 0);
    if (writeForPosting(kCustomerTable, k, image.data()) != 0) return -1;
  }
  return 0;
}

int32_t CRegCom::postFixedTotal(const LinePost& post) {
  const uint16_t slot = post.code;
  // The report's average sale (客平均) is worked out from slots 0 and 1,
  // not kept in a slot of its own: it takes nothing off.
  if (slot == kFunctionPersons) return 0;
  if (slot >= fixedtotal::kSlots) return -1;
  using C = OdbcPostContext;
  const int32_t q = post.q, p = post.p, s = post.s;
  if (slot == 0) {
    post.ctx.sums[C::kSlot0Count] += q * s;
    post.ctx.sums[C::kSlot0Amount] += p * s;
  } else if (slot == 1) {
    post.ctx.sums[C::kSlot1Count] += q * s;
    post.ctx.sums[C::kSlot1Amount] += p * s;
  }
  const FieldPlace* fields[2] = {&fixedtotal::kCount, &fixedtotal::kAmount};
  // The monthly slot counts its settlements.
  const int32_t adds[2] = {slot == kMonthlySlot ? s : -q * s, -p * s};
  return postCounters(kFixedTotalTable, slot, fields, adds, 2);
}

int32_t CRegCom::UpdateTotalizers(int32_t slot, int32_t* t, int32_t reverse) {
  if (!project_ || !t || slot < 0 || slot >= fixedtotal::kSlots) {
    ReportError("CRegCom", ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  using namespace saletotal;
  if (t[kReading]) return 0;
  const int64_t s = reverse ? -1 : 1;
  std::vector<uint8_t> image(kTables[kFixedTotalTable].recordLen);
  if (readForPosting(kFixedTotalTable, slot, image.data()) != 0) return -1;
  const uint16_t word = getU16(settings_, settings::kTaxWord);
  const int32_t outer = word & 3, inner = (word >> 2) & 3;
  int64_t countAdd = 0, amountAdd = 0;
  bool posted = true;

  auto postManager = [&](const FieldPlace& countField, int64_t countBy, const FieldPlace& amountField,
                         int64_t amountBy) {
    // Number 0 is no clerk: nobody is in charge yet, and no clerk is posted.
    const uint16_t number = getU16(manager_, clerk::kNumber.offset);
    if (number == 0) return 0;
    std::vector<uint8_t> clerkImage(kTables[kClerkTable].recordLen);
    const int32_t k = GetClerkRecord(number, clerkImage.data());
    if (k < 0 || readForPosting(kClerkTable, k, clerkImage.data()) != 0) return -1;
    addField(clerkImage.data(), countField, countBy);
    addField(clerkImage.data(), amountField, amountBy);
    return writeForPosting(kClerkTable, k, clerkImage.data());
  };

  if (slot == 0) {
    if (t[kQuantity] != 0) countAdd = s;
    amountAdd = t[kSale] * s;
    if (postManager(clerk::kNetCount, countAdd, clerk::kNetAmount, amountAdd) != 0) return -1;
  } else if (slot == 1) {
    countAdd = t[kQuantity] * s;
    amountAdd = t[kItems] * s;
    if (postManager(clerk::kGrossCount, countAdd, clerk::kGrossAmount, amountAdd) != 0) return -1;
  } else if (slot == 2) {
    posted = t[kRefund] != 0;
    countAdd = -s;
    amountAdd = -t[kSale] * s;
  } else if (slot == 3) {
    amountAdd = t[kCash] * s;
  } else if (slot == kMonthlySlot) {
    // The monthly slot starts again with the first posting of a new month:
    // a month of another year is a new month too.
    uint16_t today = 0;
    GetDate(&today, nullptr);
    const uint16_t stored = getU16(image.data(), fixedtotal::kDate.offset);
    if (stored != 0 && (stored >> 5) != (today >> 5)) {
      std::vector<uint8_t> slot0(image.size());
      if (readForPosting(kFixedTotalTable, 0, slot0.data()) != 0) return -1;
      putI32(image.data(), fixedtotal::kCount.offset, 0);
      putI32(image.data(), fixedtotal::kAmount.offset, getI32(slot0.data(), fixedtotal::kAmount.offset));
    } else {
      amountAdd = t[kSale] * s;
    }
    putU16(image.data(), fixedtotal::kDate.offset, today);
  } else if (slot <= 28) {
    const int r = (slot - 5) / 6;
    switch ((slot - 5) % 6) {
      case 0: amountAdd = t[kOuterTaxable + r] * s; break;
      case 1: amountAdd = CalTax(t[kOuterTaxable + r], outer, r) * s; break;
      case 3: amountAdd = int64_t(t[kInner + r] - t[kExemptInner + r]) * s; break;
      case 4: {
        const int32_t x = t[kInner + r] - t[kExemptInner + r];
        amountAdd = int64_t(x - CalTaxInc(x, inner, r)) * s;
        break;
      }
      default: posted = false; break;
    }
  } else if (slot == 29) {
    amountAdd = t[kService] * s;
  } else if (slot == 30 || slot == 31) {
    posted = t[kSpecialPresent] != 0 && t[kSpecialTax] != 0;
    countAdd = slot == 30 ? s : t[kGuests] * s;
    amountAdd = slot == 30 ? t[kSpecialBase] * s : t[kSpecialTax] * s;
  } else if (slot == 32 || slot == 33) {
    posted = t[kSpecialPresent] != 0 && t[kSpecialTax] == 0;
    countAdd = slot == 32 ? s : t[kGuests] * s;
    amountAdd = slot == 32 ? t[kSpecialBase] * s : 0;
  } else if (slot == 35) {
    posted = t[kServiceCharge] != 0;
    countAdd = s;
    amountAdd = t[kServiceCharge] * s;
  } else {
    posted = false;
  }
  if (!posted) return 0;
  addField(image.data(), fixedtotal::kCount, countAdd);
  addField(image.data(), fixedtotal::kAmount, amountAdd);
  return writeForPosting(kFixedTotalTable, slot, image.data());
}

}  // namespace varnex::reg
