// A sale committed here whose outside posting was lost (the register died
// after the local commit point and before the link's commit) reaches the
// outside database at the next start, once; a sale the register died in
// before its local commit point never does.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "app/register/odbc/odbc_fixture.h"
#include "app/register/sale_lines.h"
#include "platform/base/file.h"

using namespace varnex::reg;
using varnex_test::BlockOwner;
using varnex_test::demoJan;
using varnex_test::itemLine;
using varnex_test::keyLine;
using varnex_test::OdbcLinkTest;
namespace fs = std::filesystem;
using Outside = std::vector<std::string>;

namespace {

// The interposer's plan: die at the first write to a file whose name ends in
// g_killIn, once a write to a file ending in g_after has been seen (empty:
// at once).
std::string g_killIn, g_after;
bool g_seen = false;

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int32_t interpose(const std::string& path, uint32_t) {
  if (!g_after.empty() && endsWith(path, g_after)) {
    g_seen = true;
    return -1;
  }
  return (g_after.empty() || g_seen) && endsWith(path, g_killIn) ? 0 : -1;
}

class OdbcRepostTest : public OdbcLinkTest {
 protected:
  void SetUp() override {
    OdbcLinkTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("INSERT INTO customers (code, name, balance) VALUES ('C001', '鈴木', 100)");
    exec("INSERT INTO plu (code, name, dept, price, qty, amount, stock, basestock, properstock, orderunit, "
         "minorder, saleunit, ordered) VALUES ('" + demoJan(1) + "', 'りんご', 1, 128, 0, 0, 12, 0, 0, 1, 0, 1, 0)");
    // The link is stored; each start below connects it itself.
    ASSERT_TRUE(open()) << boxes->lastText();
    writeLink(varnex_test::fullMap(), connectString);
    engine.reset();
  }

  void start() {
    engine = std::make_unique<CRegCom>();
    engine->SetDataFolder(folder.string());
    ASSERT_TRUE(open()) << boxes->lastText();
    ASSERT_TRUE(engine->OdbcIsOpen());
    engine->SetManager(read(kClerkTable, 0).data());
  }

  int32_t sell() {
    BlockOwner block({itemLine(1, 3, 128, demoJan(1)), keyLine(kKeyTrans1, 1, 384)});
    return engine->PrfUpdate(kModeRegister1, block, nullptr, nullptr, 0);
  }

  // What the outside database holds of the sales: sales rows and the stock.
  Outside outsideState() { return {one("SELECT COUNT(*) FROM sales"), one("SELECT stock FROM plu")}; }

  bool waitingNotes() {
    const fs::path notes = folder / "LocDat" / "Outside.jnl";
    return fs::exists(notes) && fs::file_size(notes) > 0;
  }
};
VARNEX_ODBC_BACKENDS(OdbcRepostTest);

TEST_P(OdbcRepostTest, ASaleCutOffFromItsLinkCommitIsPostedOnceLater) {
  struct Case {
    const char* what;
    const char* killIn;
    const char* after;
    bool committedHere;
  };
  const Case cases[] = {
      {"killed writing the commit journal", "Commit.jnl", "", false},
      {"killed writing the daily file after the journal", ".prf", "Commit.jnl", true},
      {"killed writing the tables after the daily file", ".DBF", ".prf", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    exec("DELETE FROM sales");
    exec("UPDATE plu SET stock = 12");
    // The engine of the child connects on its own: nothing of the link is
    // shared with this process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      start();
      g_killIn = c.killIn;
      g_after = c.after;
      g_seen = false;
      platform::setWriteInterposer(interpose);
      sell();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    // The link's transaction died with the register.
    const Outside untouched{"0", "12"};
    EXPECT_EQ(outsideState(), untouched);
    ASSERT_TRUE(waitingNotes());
    start();
    const Outside posted{"1", "9"};
    EXPECT_EQ(outsideState(), c.committedHere ? posted : untouched);
    EXPECT_FALSE(waitingNotes());
    // Once only: the next start and the next sale post nothing of it again.
    start();
    EXPECT_EQ(outsideState(), c.committedHere ? posted : untouched);
    ASSERT_EQ(sell(), 0) << boxes->lastText();
    const Outside twice{"2", "6"};
    EXPECT_EQ(outsideState(), c.committedHere ? twice : posted);
    EXPECT_FALSE(waitingNotes());
    engine.reset();
  }
}

}  // namespace
