// The demo shop linked to a real outside database through ODBC, once for
// each backend: an SQLite database file in the test's folder through the
// SQLite ODBC driver, and a database of the test's own in a PostgreSQL
// server on 127.0.0.1 (tests/peers/postgres_server.h) through the PostgreSQL
// Unicode driver. Both drivers are registered in a driver list of the test's
// own (ODBCSYSINI) without any connection log; the outside tables are made
// by odbc_outside_tables.sql and the link records of the five kinds written
// into "ODBCリンク".
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/demo_project.h"
#include "peers/postgres_server.h"
#include "platform/base/odbc.h"
#include "zemta/filedb.h"

namespace varnex_test {

enum class Backend { SQLite, PostgreSQL };

inline const char* nameOf(Backend b) { return b == Backend::SQLite ? "SQLite" : "PostgreSQL"; }
inline std::string backendName(const ::testing::TestParamInfo<Backend>& info) { return nameOf(info.param); }
inline void PrintTo(Backend b, std::ostream* out) { *out << nameOf(b); }

// Runs every test of a suite against each backend.
#define VARNEX_ODBC_BACKENDS(suite)                                                                           \
  INSTANTIATE_TEST_SUITE_P(Backends, suite,                                                                  \
                           ::testing::Values(varnex_test::Backend::SQLite, varnex_test::Backend::PostgreSQL), \
                           varnex_test::backendName)

inline const char* firstExisting(std::initializer_list<const char*> candidates) {
  for (const char* path : candidates)
    if (fs::exists(path)) return path;
  return nullptr;
}

inline const char* sqliteDriverPath() {
  return firstExisting({"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so",
                        "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/odbc/libsqlite3odbc.so"});
}

// The Unicode build of the PostgreSQL driver (package odbc-postgresql).
inline const char* postgresDriverPath() {
  return firstExisting({"/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so", "/usr/lib/aarch64-linux-gnu/odbc/psqlodbcw.so",
                        "/usr/lib/odbc/psqlodbcw.so"});
}

// One link record (80 bytes).
inline std::vector<uint8_t> linkRecord(uint32_t kind, uint16_t offset, uint16_t size, uint16_t type,
                                       const char* table, const char* column, uint16_t flags = 0,
                                       int16_t sqlType = 0, uint16_t position = 0) {
  using namespace varnex::reg;
  std::vector<uint8_t> r(80, 0);
  putU32(r.data(), odbclink::kKind.offset, kind);
  putU16(r.data(), odbclink::kFieldOffset.offset, offset);
  putU16(r.data(), odbclink::kFieldSize.offset, size);
  putU16(r.data(), odbclink::kFieldWord.offset, position);
  putU16(r.data(), odbclink::kItemType.offset, type);
  putU16(r.data(), odbclink::kLinkFlags.offset, flags);
  putU16(r.data(), odbclink::kSqlType.offset, static_cast<uint16_t>(sqlType));
  putText(r.data(), odbclink::kOuterTable.offset, 32, table);
  putText(r.data(), odbclink::kOuterColumn.offset, 32, column);
  return r;
}

// The full map of the outside tables of odbc_outside_tables.sql.
inline std::vector<std::vector<uint8_t>> fullMap() {
  using varnex::reg::odbclink::kCustomers;
  using varnex::reg::odbclink::kOrders;
  using varnex::reg::odbclink::kPlu;
  using varnex::reg::odbclink::kSalesLines;
  using varnex::reg::odbclink::kSettlement;
  std::vector<std::vector<uint8_t>> m;
  const int16_t kInt = 4, kText = 12, kDouble = 8, kTime = 93;
  m.push_back(linkRecord(kCustomers, 0, 28, 0, "customers", "code", 3, kText));
  m.push_back(linkRecord(kCustomers, 32, 32, 0, "customers", "name", 0, kText));
  m.push_back(linkRecord(kCustomers, 64, 32, 0, "customers", "kw1", 0, kText));
  m.push_back(linkRecord(kCustomers, 96, 32, 0, "customers", "kw2", 0, kText));
  m.push_back(linkRecord(kCustomers, 128, 32, 0, "customers", "kw3", 0, kText));
  m.push_back(linkRecord(kCustomers, 172, 4, 7, "customers", "balance", 0, kInt));
  m.push_back(linkRecord(kPlu, 0, 24, 0, "plu", "name", 0, kText));
  m.push_back(linkRecord(kPlu, 36, 14, 0, "plu", "code", 3, kText));
  m.push_back(linkRecord(kPlu, 50, 2, 4, "plu", "dept", 0, kInt));
  // The point-target bit, not linked (its upkeep looks for it).
  m.push_back(linkRecord(kPlu, 52, 2, 4, "plu", "", 0, kInt, 0x0104));
  m.push_back(linkRecord(kPlu, 54, 2, 4, "plu", "listorder", 0, kInt));
  const struct { uint16_t offset; const char* column; } kPluInts[] = {
      {60, "price"}, {64, "qty"}, {68, "amount"}, {72, "cost"}, {76, "margin"}, {92, "saleunit"},
      {96, "basestock"}, {100, "stock"}, {104, "properstock"}, {108, "minorder"}, {112, "ordered"},
      {116, "leaddays"}, {120, "orderunit"}};
  for (const auto& f : kPluInts) {
    m.push_back(linkRecord(kPlu, f.offset, 4, 7, "plu", f.column, 0, kInt));
    if (f.offset == 76) m.push_back(linkRecord(kPlu, 84, 8, 8, "plu", "unitcost", 0, kDouble));
  }
  m.push_back(linkRecord(kPlu, 124, 14, 0, "plu", "stockerror", 0, kText));
  m.push_back(linkRecord(kPlu, 138, 14, 0, "plu", "shortage", 0, kText));
  m.push_back(linkRecord(kOrders, 0, 4, 7, "orders", "orderno", 1, kInt));
  m.push_back(linkRecord(kOrders, 4, 4, 4, "orders", "orderer", 0, kInt));
  m.push_back(linkRecord(kOrders, 8, 4, 4, "orders", "status", 0, kInt));
  m.push_back(linkRecord(kOrders, 12, 16, 14, "orders", "orderdate", 0, kTime));
  m.push_back(linkRecord(kOrders, 28, 14, 0, "orders", "supplier", 0, kText));
  m.push_back(linkRecord(kOrders, 42, 14, 0, "orders", "itemcode", 0, kText));
  m.push_back(linkRecord(kOrders, 92, 4, 7, "orders", "quantity", 0, kInt));
  m.push_back(linkRecord(kOrders, 96, 8, 8, "orders", "unitprice", 0, kDouble));
  m.push_back(linkRecord(kOrders, 112, 16, 14, "orders", "duedate", 0, kTime));
  const struct { uint16_t offset, size, type; const char* column; int16_t sql; } kSales[] = {
      {0, 16, 14, "saletime", kTime},   {32, 4, 4, "store", kInt},       {36, 2, 4, "clerk", kInt},
      {38, 2, 4, "dept", kInt},         {40, 32, 0, "customer", kText},  {72, 32, 0, "itemname", kText},
      {104, 14, 0, "itemcode", kText},  {118, 14, 0, "subcode", kText},  {132, 1, 4, "innertax", kInt},
      {133, 1, 4, "nontax", kInt},      {134, 1, 4, "exempt", kInt},     {135, 1, 4, "nospecial", kInt},
      {136, 4, 7, "qty", kInt},         {140, 4, 7, "unitprice", kInt},  {144, 4, 7, "amount", kInt},
      {148, 8, 8, "unitcost", kDouble}};
  for (const auto& f : kSales) m.push_back(linkRecord(kSalesLines, f.offset, f.size, f.type, "sales", f.column, 0, f.sql));
  const char* const kTotals[] = {"netcount", "netamount", "grosscount", "grossamount", "paidin", "paidout", "cash",
                                 "credit", "card", "coupon", "points", "granted", "carddeposit", "codesale"};
  m.push_back(linkRecord(kSettlement, 0, 16, 14, "settlement", "settled", 0, kTime));
  m.push_back(linkRecord(kSettlement, 32, 4, 4, "settlement", "store", 0, kInt));
  m.push_back(linkRecord(kSettlement, 36, 2, 4, "settlement", "section", 0, kInt));
  m.push_back(linkRecord(kSettlement, 38, 2, 4, "settlement", "clerk", 0, kInt));
  for (int i = 0; i < 14; ++i)
    m.push_back(linkRecord(kSettlement, static_cast<uint16_t>(40 + 4 * i), 4, 7, "settlement", kTotals[i], 0, kInt));
  return m;
}

class OdbcLinkTest : public DemoProject, public ::testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    if (HasFatalFailure()) return;
    // The shop moves to a folder of a short name: the register keeps its
    // index paths under 128 bytes, and a folder named after a long test of
    // a backend would reach that.
    static int serial = 0;
    const fs::path shorter = testRoot() / ("odbc-" + std::to_string(++serial));
    fs::remove_all(shorter);
    fs::rename(folder, shorter);
    std::error_code ignored;
    fs::remove(folder.parent_path(), ignored);  // empty now
    folder = shorter;
    engine->SetDataFolder(folder.string());
    registerDrivers();
    if (GetParam() == Backend::SQLite) {
      if (!sqliteDriverPath()) GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
      driverName = "SQLite3";
      database = (folder / "outside.sqlite3").string();
      connectString = "DRIVER=SQLite3;DATABASE=" + database + ";";
      user = "shopuser";
      machineServer = "counter-server";
    } else {
      if (!postgresDriverPath()) GTEST_SKIP() << "the PostgreSQL ODBC driver (odbc-postgresql) is not installed";
      std::string why;
      server = testing_support::PostgresServer::shared(why);
      // Only what an installation lacks is skipped; a server that is there
      // and fails to start is a failure.
      if (!server && testing_support::PostgresServer::missingOutside()) GTEST_SKIP() << "no PostgreSQL server: " << why;
      ASSERT_NE(server, nullptr) << "the PostgreSQL server failed: " << why;
      driverName = "PostgreSQL Unicode";
      std::random_device random;
      database = "varnex_" + std::to_string(::getpid()) + "_" + std::to_string(random() % 1000000);
      ASSERT_EQ(admin("CREATE DATABASE " + database), "");
      user = server->user();
      connectTail = "Port=" + std::to_string(server->port()) + ";";
      connectString = "DRIVER=PostgreSQL Unicode;UID=" + user + ";DATABASE=" + database + ";SERVER=" +
                      server->host() + ";" + connectTail;
      machineServer = "localhost";
      schemaPrefix = "public.";
    }
    ASSERT_TRUE(outside.open(connectString)) << outside.lastError();
    std::ifstream script(fs::path(testing_support::sourceTree()) / "tests/app/register/odbc/odbc_outside_tables.sql");
    std::stringstream all;
    all << script.rdbuf();
    std::string statement;
    std::string text = all.str();
    std::string cleaned;
    for (std::istringstream lines(text); std::getline(lines, statement);)
      if (statement.rfind("--", 0) != 0) cleaned += statement + "\n";
    size_t start = 0;
    for (size_t end; (end = cleaned.find(';', start)) != std::string::npos; start = end + 1)
      exec(cleaned.substr(start, end - start));
  }
  void TearDown() override {
    outside.close();
    engine.reset();  // and the link's connection with it
    if (server && !database.empty()) {
      EXPECT_EQ(admin("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)"), "");
    }
    DemoProject::TearDown();
  }

  // A driver list of our own: each driver by its full path, and no
  // connection log of any driver. One for the whole program: the driver
  // manager reads where the list is once per process.
  static void registerDrivers() {
    static const bool done = [] {
      const fs::path odbc = testRoot() / "odbc";
      fs::create_directories(odbc);
      {
        std::ofstream list(odbc / "odbcinst.ini");
        if (const char* path = sqliteDriverPath())
          list << "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=" << path << "\n\n";
        if (const char* path = postgresDriverPath())
          list << "[PostgreSQL Unicode]\nDescription=PostgreSQL ODBC driver (Unicode)\nDriver=" << path
               << "\nCommLog=0\nDebug=0\n\n";
      }
      std::ofstream(odbc / "odbc.ini") << "";
      ::setenv("ODBCSYSINI", odbc.c_str(), 1);
      ::setenv("ODBCINI", (odbc / "odbc.ini").c_str(), 1);
      return true;
    }();
    (void)done;
  }

  // Runs a statement in the server's own database: the driver's message
  // when it fails, else nothing.
  std::string admin(const std::string& sql) {
    platform::odbc::Connection c;
    if (!c.open("DRIVER=PostgreSQL Unicode;UID=" + server->user() + ";DATABASE=postgres;SERVER=" + server->host() +
                ";Port=" + std::to_string(server->port()) + ";"))
      return c.lastError();
    auto s = platform::odbc::Statement::allocate(c);
    if (!s) return c.lastError();
    return s->execute(sql) ? std::string() : s->lastError();
  }

  bool onPostgres() const { return GetParam() == Backend::PostgreSQL; }

  // A statement text written with the brackets the register puts around
  // names, quoted as the link quotes names on this backend.
  std::string quoted(std::string text) const {
    if (onPostgres())
      for (char& c : text)
        if (c == '[' || c == ']') c = '"';
    return text;
  }

  // Runs a statement on the test's own connection.
  void exec(const std::string& sql) {
    auto s = platform::odbc::Statement::allocate(outside);
    ASSERT_TRUE(s) << outside.lastError();
    ASSERT_TRUE(s->execute(sql)) << s->lastError() << "\n" << sql;
  }
  // The rows of a query, each column as text ("NULL" for NULL).
  std::vector<std::vector<std::string>> query(const std::string& sql, int columns) {
    std::vector<std::vector<std::string>> rows;
    auto s = platform::odbc::Statement::allocate(outside);
    EXPECT_TRUE(s && s->execute(sql)) << (s ? s->lastError() : outside.lastError()) << "\n" << sql;
    if (!s) return rows;
    while (s->fetch() == platform::odbc::Statement::Fetch::Row) {
      rows.emplace_back();
      for (int c = 1; c <= columns; ++c) {
        std::string v;
        int64_t indicator = 0;
        EXPECT_TRUE(s->getText(c, v, indicator)) << s->lastError();
        rows.back().push_back(indicator == platform::odbc::kNullData ? "NULL" : v);
      }
    }
    return rows;
  }
  std::string one(const std::string& sql) {
    auto rows = query(sql, 1);
    return rows.size() == 1 ? rows[0][0] : "(" + std::to_string(rows.size()) + " rows)";
  }

  // Writes the link records and the connection string into the open
  // engine's "ODBCリンク".
  void writeLink(const std::vector<std::vector<uint8_t>>& records, const std::string& connect) {
    using namespace varnex::reg;
    FileDBHandle link = engine->Table(kOdbcLinkTable);
    for (size_t i = 0; i < records.size(); ++i)
      ASSERT_EQ(FileDBRecWrite(link, static_cast<int32_t>(i), records[i].data()), 0);
    char header[512] = {};
    std::memcpy(header, connect.data(), std::min<size_t>(connect.size(), 511));
    ASSERT_EQ(FileDBWrite(link, 0, header, sizeof header), 512);
  }
  // Opens the demo shop, links it to the outside database and connects.
  void openLinked(const std::vector<std::vector<uint8_t>>& records = fullMap()) {
    ASSERT_TRUE(open()) << boxes->lastText();
    writeLink(records, connectString);
    ASSERT_EQ(engine->OdbcConnect(), 1) << boxes->lastText();
    ASSERT_EQ(engine->PrepareOdbcQueries(), 0);
  }

  testing_support::PostgresServer* server = nullptr;  // PostgreSQL only
  std::string driverName;     // as the connection string names it
  std::string database;       // the SQLite file, or the PostgreSQL database
  std::string connectString;  // the outside database, in the order the link builds it
  std::string connectTail;    // what the link keeps after SERVER (PostgreSQL's port)
  std::string user;           // a login the outside database takes
  std::string machineServer;  // a server name of this machine that reaches it
  std::string schemaPrefix;   // of the outside tables in a listing
  platform::odbc::Connection outside;
};

}  // namespace varnex_test
