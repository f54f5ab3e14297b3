#include "platform/base/local_channel.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/base/last_error.h"
#include "support/temp_folder.h"

namespace platform {
namespace {

using testing_support::TempFolder;

// Points XDG_RUNTIME_DIR somewhere else for one test.
class RuntimeFolderOverride {
 public:
  explicit RuntimeFolderOverride(const std::string& folder) {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  }
  ~RuntimeFolderOverride() { setenv("XDG_RUNTIME_DIR", old_.c_str(), 1); }

 private:
  std::string old_;
};

std::string echo(const std::string& request) { return "echo:" + request; }

// A checkout in a deep folder gives a runtime folder whose socket paths are
// longer than a socket file's 107 bytes: channels must still work there.
TEST(LocalChannel, WorksInARuntimeFolderOfAnyDepth) {
  TempFolder folder;
  std::string deep = folder.path();
  while (deep.size() < 200) deep += "/a-rather-long-folder-name";
  std::filesystem::create_directories(deep);
  ::chmod(deep.c_str(), 0700);
  RuntimeFolderOverride runtime(deep);

  const std::string sub = runtimeFolder("channel-test");
  ASSERT_FALSE(sub.empty()) << lastError();
  const std::string path = sub + "/" + std::to_string(::getpid());
  ASSERT_GT(path.size(), 107u);
  LocalChannelServer server;
  ASSERT_TRUE(server.start(path, echo)) << lastError();
  EXPECT_TRUE(std::filesystem::exists(path));  // the marker that lists it

  std::string answer;
  ASSERT_TRUE(localChannelRequest(path, "ping", answer, 5000)) << lastError();
  EXPECT_EQ(answer, "echo:ping");

  // A second server on the same channel is refused while the first lives.
  LocalChannelServer second;
  EXPECT_FALSE(second.start(path, echo));
  EXPECT_EQ(lastError(), kErrorAlreadyExists);

  server.stop();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(localChannelRequest(path, "ping", answer, 5000));
  EXPECT_EQ(lastError(), kErrorFileNotFound);
}

// A runtime folder that another user could enter (or replace) is not used.
TEST(LocalChannel, RefusesARuntimeFolderOpenToOthers) {
  TempFolder folder;
  struct Case {
    const char* name;
    mode_t mode;
    bool usable;
  };
  for (const Case& c : {Case{"closed", 0700, true}, Case{"group", 0750, false}, Case{"world", 0777, false}}) {
    SCOPED_TRACE(c.name);
    const std::string base = folder.path() + "/" + c.name;
    std::filesystem::create_directories(base);
    ::chmod(base.c_str(), c.mode);
    RuntimeFolderOverride runtime(base);
    const std::string sub = runtimeFolder("windows");
    EXPECT_EQ(!sub.empty(), c.usable);
    if (!c.usable) {
      EXPECT_EQ(lastError(), kErrorAccessDenied);
    }
  }
  // A link to a private folder is not the folder itself.
  const std::string target = folder.path() + "/closed";
  const std::string link = folder.path() + "/link";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  RuntimeFolderOverride runtime(link);
  EXPECT_EQ(runtimeFolder("windows"), "");
  EXPECT_EQ(lastError(), kErrorAccessDenied);
}

// A process of another user gets no answer, even though abstract socket
// names carry no permissions.
TEST(LocalChannel, ServesOnlyTheSameUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string sub = runtimeFolder("channel-test");
  ASSERT_FALSE(sub.empty());
  const std::string path = sub + "/peer-" + std::to_string(::getpid());
  LocalChannelServer server;
  ASSERT_TRUE(server.start(path, echo));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setuid(65534) != 0) ::_exit(3);
    std::string answer;
    ::_exit(localChannelRequest(path, "ping", answer, 3000) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user's request was answered";
  std::string answer;
  EXPECT_TRUE(localChannelRequest(path, "ping", answer, 5000));
}

}  // namespace
}  // namespace platform
