// The link's connection string (kept in "ODBCリンク", parsed and built
// again) and the connect, against each outside backend.
#include <cstring>

#include "app/register/odbc/odbc_fixture.h"

using namespace varnex::reg;
using varnex_test::OdbcLinkTest;
namespace fs = std::filesystem;

namespace {

const char kBadName[] = "ＯＤＢＣデータソースの接続名が不適切です\nアプリケーションの実行を継続できません";

std::string built(const OdbcConnectParams& p) {
  char out[512];
  EXPECT_EQ(CRegCom::BuildConnectString(out, p), 0);
  return out;
}

TEST(OdbcConnectString, ParsesAndBuildsTheSameText) {
  CRegCom engine;
  OdbcConnectParams p;
  ASSERT_EQ(engine.ParseConnectString(-1, "DSN=x;UID=u;PWD=p;", &p), 0);
  EXPECT_EQ(p.sourceKind, 0);
  EXPECT_STREQ(p.dsn, "x");
  EXPECT_STREQ(p.uid, "u");
  EXPECT_STREQ(p.pwd, "p");
  EXPECT_EQ(p.trusted, -1);
  EXPECT_EQ(built(p), "DSN=x;UID=u;PWD=p;");

  // A driver name in braces keeps its inner space; no final ";" is needed.
  ASSERT_EQ(engine.ParseConnectString(-1, "DRIVER={SQL Server};DATABASE=shop;Trusted_Connection=yes", &p), 0);
  EXPECT_STREQ(p.driver, "{SQL Server}");
  EXPECT_STREQ(p.database, "shop");
  EXPECT_EQ(p.trusted, 1);
  EXPECT_EQ(p.sourceKind, 1);
  EXPECT_EQ(built(p), "DRIVER={SQL Server};Trusted_Connection=Yes;DATABASE=shop;");

  // A lone leading word is dropped; keys outside the list keep their order
  // and come last; white space inside a value becomes one space.
  ASSERT_EQ(engine.ParseConnectString(-1, "lone; Port=5432 ;DRIVER=SQLite3; Timeout = 100 ;sslmode=disable;", &p), 0);
  EXPECT_STREQ(p.driver, "SQLite3");
  EXPECT_STREQ(p.other, "Port=5432;Timeout=100;sslmode=disable;");
  EXPECT_EQ(built(p), "DRIVER=SQLite3;Port=5432;Timeout=100;sslmode=disable;");
  EXPECT_EQ(engine.OdbcState().excel, 0);

  ASSERT_EQ(engine.ParseConnectString(-1, "DRIVER=x;DBQ=C:\\data\\shop.XLSX;", &p), 0);
  EXPECT_EQ(engine.OdbcState().excel, 1);
  ASSERT_EQ(engine.ParseConnectString(-1, "", &p), 0);
  EXPECT_EQ(p.sourceKind, 1);
}

TEST(OdbcConnectString, RefusesMalformedStrings) {
  CRegCom engine;
  OdbcConnectParams p;
  const std::string longValue(256, 'v');
  const std::string longOther = "a=" + std::string(200, 'x') + ";b=" + std::string(60, 'y') + ";";
  const std::string cases[] = {
      "DSN=x;Trusted_Connection=maybe;",  // neither Yes nor No
      "DSN=x=y;",                         // a second "=" inside a value
      "DATA SOURCE NAME=x;",              // a key of two words
      "DSN=" + longValue + ";",           // a value of 256 bytes
      longOther,                          // other pairs reaching 256 bytes
      "=x;",                              // no key at all
  };
  for (const std::string& text : cases) EXPECT_EQ(engine.ParseConnectString(-1, text.c_str(), &p), -1) << text;
  ASSERT_EQ(engine.ParseConnectString(-1, ("DSN=" + std::string(255, 'v')).c_str(), &p), 0);
}

TEST(OdbcConnectString, BuildRefusesWhatTheHeaderCannotHold) {
  OdbcConnectParams p{};
  p.trusted = -1;
  for (char* field : {p.driver, p.dsn, p.uid}) std::memset(field, 'a', 200);
  char out[512];
  std::memset(out, 'z', sizeof out);
  EXPECT_EQ(CRegCom::BuildConnectString(out, p), -1);
  EXPECT_EQ(out[0], 0);
}

class OdbcConnectTest : public OdbcLinkTest {};
VARNEX_ODBC_BACKENDS(OdbcConnectTest);

TEST_P(OdbcConnectTest, OpenConnectsTheStoredLinkAndLoadsItsMap) {
  ASSERT_TRUE(open());
  writeLink(varnex_test::fullMap(), connectString);
  engine.reset();
  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  ASSERT_TRUE(open()) << boxes->lastText();
  EXPECT_TRUE(engine->OdbcIsOpen());
  EXPECT_EQ(engine->OdbcState().foreign, 1);
  EXPECT_EQ(engine->OdbcState().kinds[0].count, 6);
  EXPECT_EQ(engine->OdbcState().kinds[1].count, 20);
  EXPECT_EQ(engine->OdbcState().kinds[4].count, 18);
  EXPECT_EQ(engine->OdbcState().kinds[0].select,
            quoted("SELECT [code], [name], [kw1], [kw2], [kw3], [balance] FROM [customers] WHERE [code] = "));
  EXPECT_EQ(boxes->count(), 0u);
}

TEST_P(OdbcConnectTest, AFailedConnectStopsTheStartWithTheDriversMessage) {
  ASSERT_TRUE(open());
  writeLink(varnex_test::fullMap(), "DRIVER=NoSuchDriver;DATABASE=x;");
  engine.reset();
  engine = std::make_unique<CRegCom>();
  engine->SetDataFolder(folder.string());
  EXPECT_FALSE(open());
  EXPECT_FALSE(engine->IsOpen());
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_NE(boxes->lastText().find("NoSuchDriver"), std::string::npos) << boxes->lastText();

}

TEST_P(OdbcConnectTest, AHeaderWithoutItsZeroIsABadName) {
  ASSERT_TRUE(open());
  std::vector<char> header(512, 'x');
  ASSERT_EQ(FileDBWrite(engine->Table(kOdbcLinkTable), 0, header.data(), 512), 512);
  EXPECT_EQ(engine->OdbcConnect(), 0);
  EXPECT_EQ(boxes->lastText(), kBadName);
}

TEST_P(OdbcConnectTest, ServerFollowsTheMachineAndUserStaysUnlessTrusted) {
  ASSERT_TRUE(open());
  // The machine's server reaches the outside database; the stored one does
  // not, and this machine's user is no login of it.
  engine->SetServerName(machineServer.c_str());
  engine->SetUserName("clerk1");
  writeLink(varnex_test::fullMap(), connectString + "SERVER=OLD;UID=" + user + ";PWD=secret;");
  ASSERT_EQ(engine->OdbcConnect(), 1) << boxes->lastText();
  char header[512];
  ASSERT_EQ(FileDBRead(engine->Table(kOdbcLinkTable), 0, header, 512), 512);
  // The server is replaced and kept; the SQL login keeps its stored user.
  EXPECT_EQ(std::string(header), "DRIVER=" + driverName + ";UID=" + user + ";PWD=secret;DATABASE=" + database +
                                     ";SERVER=" + machineServer + ";" + connectTail);

  // A server of the same name in another case is left alone.
  std::string upper = machineServer;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  writeLink(varnex_test::fullMap(), connectString + "SERVER=" + upper + ";");
  ASSERT_EQ(engine->OdbcConnect(), 1) << boxes->lastText();
  ASSERT_EQ(FileDBRead(engine->Table(kOdbcLinkTable), 0, header, 512), 512);
  EXPECT_EQ(std::string(header), connectString + "SERVER=" + upper + ";");
}

TEST_P(OdbcConnectTest, AnEmptyLinkConnectsTheEmbeddedDefault) {
  ASSERT_TRUE(open());
  writeLink({}, "");
  ASSERT_EQ(engine->OdbcConnect(), 1) << boxes->lastText();
  char header[512];
  ASSERT_EQ(FileDBRead(engine->Table(kOdbcLinkTable), 0, header, 512), 512);
  const std::string stored = header;
  EXPECT_NE(stored.find("Varnex.sqlite3"), std::string::npos) << stored;
  EXPECT_TRUE(fs::exists(folder / "Varnex.sqlite3"));
  // What was stored connects again.
  ASSERT_EQ(engine->OdbcConnect(), 1) << boxes->lastText();
  engine->OdbcClose();
  EXPECT_FALSE(engine->OdbcIsOpen());
}

}  // namespace
