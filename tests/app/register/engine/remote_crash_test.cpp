// The commit through the remote file service, its register killed: a forked
// register commits a sale on the data folder kept on the server, and the
// server kills it (SIGKILL) when a chosen request that changes a file
// arrives, leaving that request undone. A restart through the service must
// leave every counter as a crash-free run of the sales in the daily file
// left them, offer the sale's temporary file only when the sale is not
// committed, and commit the next sale with the next receipt number.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <set>
#include <thread>

#include "app/register/remote_project.h"
#include "platform/base/message_box.h"

using namespace varnex::reg;
using varnex_test::Line;
namespace fs = std::filesystem;

namespace {

std::vector<Line> fiveLineSale(int32_t apples) {
  using namespace varnex_test;
  return {itemLine(1, apples, 128, demoJan(1), 1, line::kPointTarget, "りんご"),
          itemLine(5, 1, 500, "", 0, 0, "酒類"), totalLine(), keyLine(kKeyTrans1, 1, 2000),
          systemLine(2, 2000 - 500 - apples * 128 - 90)};
}

// A name the register looks up just before it commits: the server counts
// the commit's requests from there.
const char kCommitMark[] = "commit-begins";

// A request that changes a file on the server: a write, a new size, a
// removal, a rename, or an open for writing (which may create the file).
bool changesFiles(const std::string& request) {
  const char letter = request[8];
  if (letter == 'W' || letter == 'S' || letter == 'E' || letter == 'N') return true;
  return letter == 'A' && (testing_support::FileServicePeer::u32At(request, 10) & 0x4000) != 0;
}

class RemoteCrashTest : public varnex_test::RemoteProject {
 protected:
  void SetUp() override {
    RemoteProject::SetUp();
    peer->setHook([this](const std::string& request) {
      if (request[8] == 'I' && request.find(kCommitMark) != std::string::npos) {
        counting_ = true;
        changes_ = 0;
        return true;
      }
      if (!counting_ || !changesFiles(request)) return true;
      if (changes_++ != killAt_) return true;
      // The register dies with this request on its way: it is never done.
      pid_t child;
      while ((child = child_.load()) == 0) std::this_thread::yield();
      kill(child, SIGKILL);
      counting_ = false;
      return false;
    });
  }

  // The engine through the service, signed by the manager.
  void reopen() {
    ASSERT_TRUE(openRemote()) << boxes->lastText();
    signAsManager(*remote);
  }
  // The sale committed, with the mark that starts the count just before.
  int32_t commit(const std::vector<Line>& sale) {
    FileDBHandle temporary = startSale(*remote, sale);
    if (!temporary) return -10;
    ZemtaFileExists((mapped / "LocDat" / kCommitMark).c_str());
    varnex_test::BlockOwner block(sale);
    const int32_t result = remote->PrfUpdate(kModeRegister1, block, nullptr, &temporary, 0);
    if (temporary) FileDBDelete(temporary);
    counting_ = false;
    return result;
  }
  void restore(const fs::path& from) {
    fs::remove_all(server / "shop");
    fs::copy(from, server / "shop", fs::copy_options::recursive);
  }

  std::atomic<bool> counting_{false};
  std::atomic<int32_t> changes_{0};
  std::atomic<int32_t> killAt_{-1};
  std::atomic<pid_t> child_{0};
};

// The day's second sale, killed at a handful of its changes: the first, the
// second, three spread between, and the last two.
TEST_F(RemoteCrashTest, SaleThroughTheServiceKilledAtItsWrites) {
  reopen();
  ASSERT_EQ(sell(*remote, fiveLineSale(1)), 0) << boxes->lastText();
  closeRemote();
  const fs::path start = server / "start";
  fs::copy(server / "shop", start, fs::copy_options::recursive);

  // The crash-free run: the counters before and after, and the changes.
  reopen();
  const varnex_test::Counters unchanged = varnex_test::countersOf(*remote);
  ASSERT_EQ(commit(fiveLineSale(4)), 0) << boxes->lastText();
  const int32_t changes = changes_;
  const varnex_test::Counters posted = varnex_test::countersOf(*remote);
  closeRemote();
  ASSERT_GT(changes, 4);

  const std::set<int32_t> points = {0, 1, changes / 4, changes / 2, 3 * changes / 4, changes - 2, changes - 1};
  for (int32_t k : points) {
    SCOPED_TRACE("killed at change " + std::to_string(k) + " of " + std::to_string(changes));
    restore(start);
    killAt_ = k;
    child_ = 0;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      reopen();
      commit(fiveLineSale(4));
      _exit(0);
    }
    child_ = child;
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    killAt_ = -1;

    boxes->clear();
    reopen();
    const std::vector<uint16_t> numbers = varnex_test::receiptsOf(*remote);
    const bool committed = numbers.size() == 2;
    ASSERT_TRUE(committed || numbers.size() == 1);
    const varnex_test::Counters now = varnex_test::countersOf(*remote);
    for (const auto& [where, image] : committed ? posted : unchanged)
      ASSERT_EQ(image, now.at(where)) << kTables[where.first].name << " record " << where.second
                                      << (committed ? " (committed)" : " (not committed)");
    // The scan offers the sale's temporary file only when it is not committed.
    boxes->answer(platform::kIdNo);
    uint16_t mode = 0xFFFF;
    EXPECT_EQ(remote->PrfOpen(4, &mode), 0u);
    EXPECT_EQ(boxes->count(), committed ? 0u : 1u) << boxes->lastText();
    EXPECT_EQ(servedTemporaryFiles(), 0);

    // The next sale goes in with the next number.
    boxes->clear();
    ASSERT_EQ(sell(*remote, fiveLineSale(2)), 0) << boxes->lastText();
    std::vector<uint16_t> expected;
    for (uint16_t n = 1; n <= numbers.size() + 1; ++n) expected.push_back(n);
    EXPECT_EQ(varnex_test::receiptsOf(*remote), expected);
    closeRemote();
  }
}

}  // namespace
