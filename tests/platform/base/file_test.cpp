#include "platform/base/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/base/last_error.h"
#include "support/temp_folder.h"

namespace platform {
namespace {

using testing_support::TempFolder;

// An open held by another process until close() is called.
class ChildOpen {
 public:
  ChildOpen(const std::string& path, uint32_t access, uint32_t share) {
    EXPECT_EQ(pipe(toChild_), 0);
    EXPECT_EQ(pipe(fromChild_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      File file = File::open(path, access, share, kOpenAlways);
      char answer = file.isOpen() ? 'y' : 'n';
      (void)!::write(fromChild_[1], &answer, 1);
      char command;
      (void)!::read(toChild_[0], &command, 1);
      file.close();
      (void)!::write(fromChild_[1], "c", 1);
      _exit(0);
    }
    char answer = 0;
    EXPECT_EQ(::read(fromChild_[0], &answer, 1), 1);
    opened_ = answer == 'y';
  }
  ~ChildOpen() { close(); }

  bool opened() const { return opened_; }
  void close() {
    if (pid_ <= 0) return;
    char done;
    (void)!::write(toChild_[1], "x", 1);
    (void)!::read(fromChild_[0], &done, 1);
    int status = 0;
    waitpid(pid_, &status, 0);
    for (int fd : {toChild_[0], toChild_[1], fromChild_[0], fromChild_[1]}) ::close(fd);
    pid_ = -1;
  }

 private:
  int toChild_[2];
  int fromChild_[2];
  pid_t pid_ = -1;
  bool opened_ = false;
};

constexpr uint32_t kReadWrite = kFileRead | kFileWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite | kShareDelete;

TEST(FileSharing, BetweenProcessesRefusedUntilTheFirstCloses) {
  TempFolder folder;
  std::string path = folder / "POS_BAS.dbf";
  folder.write("POS_BAS.dbf", "record");

  ChildOpen child(path, kReadWrite, kShareNone);
  ASSERT_TRUE(child.opened());
  File second = File::open(path, kFileRead, kShareAll, kOpenExisting);
  EXPECT_FALSE(second.isOpen());
  EXPECT_EQ(lastError(), kErrorSharingViolation);

  child.close();
  second = File::open(path, kFileRead, kShareAll, kOpenExisting);
  EXPECT_TRUE(second.isOpen());
}

TEST(FileSharing, BetweenProcessesReadSharersCoexist) {
  TempFolder folder;
  std::string path = folder / "shared.dat";
  folder.write("shared.dat", "x");

  ChildOpen child(path, kFileRead, kShareRead);
  ASSERT_TRUE(child.opened());
  File reader = File::open(path, kFileRead, kShareRead, kOpenExisting);
  EXPECT_TRUE(reader.isOpen());
  // A writer is refused: the child does not share write...
  File writer = File::open(path, kReadWrite, kShareAll, kOpenExisting);
  EXPECT_FALSE(writer.isOpen());
  EXPECT_EQ(lastError(), kErrorSharingViolation);
  // ...and an open that refuses to share read cannot join the readers.
  File exclusive = File::open(path, kFileRead, kShareNone, kOpenExisting);
  EXPECT_FALSE(exclusive.isOpen());
  EXPECT_EQ(lastError(), kErrorSharingViolation);
}

struct ShareCase {
  uint32_t firstAccess, firstShare, secondAccess, secondShare;
  bool secondOpens;
};

TEST(FileSharing, WithinOneProcessFollowsTheWindowsRules) {
  const ShareCase cases[] = {
      {kFileRead, kShareRead, kFileRead, kShareRead, true},
      {kFileRead, kShareRead, kFileWrite, kShareAll, false},           // write not shared
      {kFileRead, kShareRead | kShareWrite, kFileWrite, kShareRead, true},
      {kFileWrite, kShareRead | kShareWrite, kFileWrite, kShareRead, false},  // second won't share the first's write
      {kFileRead, kShareRead | kShareWrite, kFileWrite, kShareAll, true},
      {kReadWrite, kShareAll, kReadWrite, kShareAll, true},
      {kReadWrite, kShareNone, kFileRead, kShareAll, false},
      {kFileWrite, kShareRead, kFileRead, kShareWrite, true},
      {kFileWrite, kShareRead, kFileRead, kShareRead, false},          // second won't share the first's write
      {0, kShareNone, kFileRead, kShareAll, false},
      {0, kShareAll, 0, kShareNone, true},
  };
  TempFolder folder;
  std::string path = folder / "file.dat";
  folder.write("file.dat", "");
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.firstAccess << "/" << c.firstShare << " then " << c.secondAccess << "/"
                                      << c.secondShare);
    File first = File::open(path, c.firstAccess, c.firstShare, kOpenExisting);
    ASSERT_TRUE(first.isOpen());
    File second = File::open(path, c.secondAccess, c.secondShare, kOpenExisting);
    EXPECT_EQ(second.isOpen(), c.secondOpens);
    if (!c.secondOpens) {
      EXPECT_EQ(lastError(), kErrorSharingViolation);
    }
  }
}

TEST(FileSharing, ExclusiveOpensNeverOverlapAcrossProcesses) {
  // Both processes race to open the file unshared; whoever gets in stamps it
  // and reads its own stamp back. Two holders at once would mix stamps.
  TempFolder folder;
  std::string path = folder / "race.dat";
  auto hammer = [&](char mark) {
    int mixed = 0;
    for (int i = 0; i < 300; ++i) {
      File file = File::open(path, kReadWrite, kShareNone, kOpenAlways);
      if (!file.isOpen()) {
        if (lastError() != kErrorSharingViolation) ++mixed;
        continue;
      }
      char seen = 0;
      uint32_t done = 0;
      file.writeAt(0, &mark, 1, &done);
      usleep(50);
      file.readAt(0, &seen, 1, &done);
      if (seen != mark) ++mixed;
    }
    return mixed;
  };
  pid_t child = fork();
  if (child == 0) _exit(hammer('c') == 0 ? 0 : 1);
  EXPECT_EQ(hammer('p'), 0);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FileSharing, ARefusedOpenDoesNotTruncate) {
  TempFolder folder;
  std::string path = folder / "keep.dat";
  folder.write("keep.dat", "precious");
  File holder = File::open(path, kFileRead, kShareRead, kOpenExisting);
  ASSERT_TRUE(holder.isOpen());
  for (uint32_t disposition : {kCreateAlways, kTruncateExisting}) {
    File refused = File::open(path, kReadWrite, kShareAll, disposition);
    EXPECT_FALSE(refused.isOpen());
    EXPECT_EQ(lastError(), kErrorSharingViolation);
  }
  EXPECT_EQ(folder.read("keep.dat"), "precious");
}

TEST(FileSharing, DeleteAndMoveNeedShareDelete) {
  TempFolder folder;
  folder.write("a.dat", "a");
  folder.write("b.dat", "b");
  {
    File holder = File::open(folder / "a.dat", kFileRead, kShareRead, kOpenExisting);
    EXPECT_FALSE(deleteFile(folder / "a.dat"));
    EXPECT_EQ(lastError(), kErrorSharingViolation);
    EXPECT_FALSE(moveFile(folder / "a.dat", folder / "c.dat", false));
    EXPECT_EQ(lastError(), kErrorSharingViolation);
  }
  File sharing = File::open(folder / "b.dat", kFileRead, kShareAll, kOpenExisting);
  EXPECT_TRUE(deleteFile(folder / "b.dat"));
  EXPECT_TRUE(deleteFile(folder / "a.dat"));
}

TEST(FileDisposition, ErrorsAndLastErrors) {
  TempFolder folder;
  folder.write("there.dat", "12345");
  struct Case {
    const char* name;
    uint32_t disposition;
    bool opens;
    uint32_t error;
    int64_t sizeAfter;
  };
  const Case cases[] = {
      {"there.dat", kCreateNew, false, kErrorFileExists, 5},
      {"there.dat", kOpenExisting, true, kErrorSuccess, 5},
      {"there.dat", kOpenAlways, true, kErrorAlreadyExists, 5},
      {"there.dat", kCreateAlways, true, kErrorAlreadyExists, 0},
      {"missing.dat", kOpenExisting, false, kErrorFileNotFound, -1},
      {"missing.dat", kTruncateExisting, false, kErrorFileNotFound, -1},
      {"no-folder/x.dat", kOpenExisting, false, kErrorPathNotFound, -1},
      {"no-folder/x.dat", kCreateAlways, false, kErrorPathNotFound, -1},
      {"new1.dat", kCreateNew, true, kErrorSuccess, 0},
      {"new2.dat", kOpenAlways, true, kErrorSuccess, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.disposition));
    if (std::string(c.name) == "there.dat") folder.write("there.dat", "12345");
    File file = File::open(folder / c.name, kReadWrite, kShareNone, c.disposition);
    EXPECT_EQ(file.isOpen(), c.opens);
    EXPECT_EQ(lastError(), c.error);
    if (c.opens) {
      EXPECT_EQ(file.size(), c.sizeAfter);
    } else if (c.sizeAfter >= 0) {
      EXPECT_EQ(static_cast<int64_t>(folder.read(c.name).size()), c.sizeAfter);
    }
  }
  // A folder is no file.
  File dir = File::open(folder.path(), kFileRead, kShareAll, kOpenExisting);
  EXPECT_FALSE(dir.isOpen());
  EXPECT_EQ(lastError(), kErrorAccessDenied);
}

TEST(FileIo, PointerReadsWritesAndEnd) {
  TempFolder folder;
  File file = File::open(folder / "io.dat", kReadWrite, kShareNone, kCreateNew);
  ASSERT_TRUE(file.isOpen());
  uint32_t done = 0;
  ASSERT_TRUE(file.write("abcdef", 6, &done));
  EXPECT_EQ(done, 6u);
  EXPECT_EQ(file.position(), 6);
  EXPECT_EQ(file.seek(2, kSeekBegin), 2);
  char buffer[16] = {};
  ASSERT_TRUE(file.read(buffer, 10, &done));  // short read at the end is no error
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::string(buffer, done), "cdef");
  ASSERT_TRUE(file.read(buffer, 10, &done));
  EXPECT_EQ(done, 0u);

  ASSERT_TRUE(file.writeAt(10, "Z", 1, &done));  // past the end: a zero-filled gap
  EXPECT_EQ(file.size(), 11);
  EXPECT_EQ(file.position(), 6);
  ASSERT_TRUE(file.readAt(5, buffer, 6, &done));
  EXPECT_EQ(std::string(buffer, done), std::string("f\0\0\0\0Z", 6));

  EXPECT_EQ(file.seek(-3, kSeekEnd), 8);
  ASSERT_TRUE(file.setEndOfFile());
  EXPECT_EQ(file.size(), 8);
  EXPECT_EQ(file.seek(-9, kSeekCurrent), -1);
  EXPECT_EQ(lastError(), 131u);
  EXPECT_EQ(file.position(), 8);
  EXPECT_TRUE(file.flush());

  // What was not asked for is denied.
  File reader = File::open(folder / "io.dat", kFileRead, kShareAll, kOpenExisting);
  EXPECT_FALSE(reader.isOpen());  // the writer shares nothing
  file.close();
  EXPECT_FALSE(file.isOpen());
  reader = File::open(folder / "io.dat", kFileRead, kShareAll, kOpenExisting);
  ASSERT_TRUE(reader.isOpen());
  EXPECT_FALSE(reader.write("x", 1, &done));
  EXPECT_EQ(lastError(), kErrorAccessDenied);
  EXPECT_FALSE(reader.setEndOfFile());

  // Moving hands over the open.
  File moved(std::move(reader));
  EXPECT_FALSE(reader.isOpen());
  ASSERT_TRUE(moved.readAt(0, buffer, 3, &done));
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST(FileIo, WriteThroughReachesTheFileAtOnce) {
  TempFolder folder;
  File file = File::open(folder / "journal.dat", kReadWrite, kShareRead, kCreateAlways, kFileWriteThrough);
  ASSERT_TRUE(file.isOpen());
  EXPECT_TRUE(fcntl(file.nativeHandle(), F_GETFL) & O_DSYNC);
  ASSERT_TRUE(file.write("entry-1", 7, nullptr));
  File other = File::open(folder / "journal.dat", kFileRead, kShareAll, kOpenExisting);
  ASSERT_TRUE(other.isOpen());
  char buffer[8] = {};
  uint32_t done = 0;
  ASSERT_TRUE(other.read(buffer, 8, &done));
  EXPECT_EQ(std::string(buffer, done), "entry-1");
}

TEST(FileIo, DeleteOnCloseAndCaseInsensitiveOpen) {
  TempFolder folder;
  folder.write("LocDat/POS_BAS.dbf", "dbf");
  File file = File::open(folder / "locdat\\pos_bas.DBF", kFileRead, kShareRead, kOpenExisting);
  ASSERT_TRUE(file.isOpen());
  EXPECT_EQ(file.path(), folder / "LocDat/POS_BAS.dbf");

  File temp = File::open(folder / "scratch.tmp", kReadWrite, kShareAll, kCreateNew, kFileDeleteOnClose);
  ASSERT_TRUE(temp.isOpen());
  EXPECT_TRUE(fileExists(folder / "scratch.tmp"));
  temp.close();
  EXPECT_FALSE(fileExists(folder / "scratch.tmp"));
}

TEST(FileHelpers, CopyMoveDeleteAndFolders) {
  TempFolder folder;
  folder.write("a.dat", "alpha");
  folder.write("b.dat", "beta");

  EXPECT_FALSE(copyFile(folder / "a.dat", folder / "b.dat", true));
  EXPECT_EQ(lastError(), kErrorFileExists);
  EXPECT_TRUE(copyFile(folder / "a.dat", folder / "b.dat", false));
  EXPECT_EQ(folder.read("b.dat"), "alpha");
  EXPECT_FALSE(copyFile(folder / "none.dat", folder / "c.dat", false));
  EXPECT_EQ(lastError(), kErrorFileNotFound);

  EXPECT_FALSE(moveFile(folder / "a.dat", folder / "b.dat", false));
  EXPECT_EQ(lastError(), kErrorAlreadyExists);
  folder.write("a.dat", "again");
  EXPECT_TRUE(moveFile(folder / "a.dat", folder / "b.dat", true));
  EXPECT_EQ(folder.read("b.dat"), "again");
  EXPECT_FALSE(fileExists(folder / "a.dat"));
  EXPECT_FALSE(moveFile(folder / "a.dat", folder / "c.dat", false));
  EXPECT_EQ(lastError(), kErrorFileNotFound);

  EXPECT_FALSE(deleteFile(folder / "a.dat"));
  EXPECT_EQ(lastError(), kErrorFileNotFound);
  EXPECT_FALSE(deleteFile(folder / "gone/a.dat"));
  EXPECT_EQ(lastError(), kErrorPathNotFound);

  EXPECT_TRUE(createDirectory(folder / "Sub"));
  EXPECT_FALSE(createDirectory(folder / "sub"));  // found case-insensitively: exists
  EXPECT_EQ(lastError(), kErrorAlreadyExists);
  EXPECT_FALSE(createDirectory(folder / "x/y"));
  EXPECT_EQ(lastError(), kErrorPathNotFound);
  EXPECT_TRUE(createDirectories(folder / "x/y/z"));
  EXPECT_TRUE(createDirectories(folder / "x\\Y\\z"));
  EXPECT_TRUE(isDirectory(folder / "x/y/z"));
  EXPECT_FALSE(isDirectory(folder / "b.dat"));
  EXPECT_FALSE(fileExists(folder / "x"));
  EXPECT_FALSE(removeDirectory(folder / "x"));
  EXPECT_EQ(lastError(), kErrorDirNotEmpty);
  EXPECT_TRUE(removeDirectory(folder / "x/y/z"));
  EXPECT_FALSE(isDirectory(folder / "x/y/z"));
  EXPECT_FALSE(deleteFile(folder / "x"));
  EXPECT_EQ(lastError(), kErrorAccessDenied);
}

// Data files are the shop's alone whatever the umask: files 0660, folders
// 0770 (the shop's users share a group; nobody else may read a customer or
// the link's password, nor write the rights of the clerks).
TEST(FileModes, ShopOnlyWhateverTheUmask) {
  TempFolder folder;
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    const mode_t old = umask(mask);
    const std::string name = "m" + std::to_string(mask);
    File made = File::open(folder / (name + ".dat"), kReadWrite, kShareNone, kCreateNew);
    File always = File::open(folder / (name + "a.dat"), kReadWrite, kShareNone, kOpenAlways);
    const bool one = createDirectory(folder / (name + "d"));
    const bool all = createDirectories(folder / (name + "x/y"));
    umask(old);
    ASSERT_TRUE(made.isOpen() && always.isOpen() && one && all);
    struct stat st;
    for (const char* file : {".dat", "a.dat"}) {
      ASSERT_EQ(stat((folder / (name + file)).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0660u) << name << file;
    }
    for (const char* sub : {"d", "x", "x/y"}) {
      ASSERT_EQ(stat((folder / (name + sub)).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0770u) << name << sub;
    }
  }
}

}  // namespace
}  // namespace platform
