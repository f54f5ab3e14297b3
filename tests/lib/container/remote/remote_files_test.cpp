// Remote mode of the file-access layer over a real connection: files under a
// mapped folder are created, written, read and cut on a server that keeps
// them as real files, and end up byte for byte as the same work done locally.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "lib/container/remote/connection.h"
#include "lib/store/tables/file_access.h"
#include "peers/file_service_peer.h"
#include "platform/base/clock.h"
#include "platform/base/last_error.h"
#include "support/temp_folder.h"
#include "zemta/fileaccess.h"
#include "zemta/filedb.h"
#include "zemta/sockifs.h"

namespace {

using testing_support::FileServicePeer;
using testing_support::TempFolder;
namespace fs = std::filesystem;

constexpr uint32_t kReadWrite = ZEMTA_GENERIC_READ | ZEMTA_GENERIC_WRITE;

// The same writes, reads and cuts on one path; what the reads saw.
std::string exercise(const std::string& path) {
  ZemtaFileHandle file = ZemtaCreateFile(path.c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL);
  if (file == ZEMTA_INVALID_FILE) return "open failed " + std::to_string(platform::lastError());
  std::string seen;
  std::string big(10000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  uint32_t done = 0;
  if (!ZemtaWriteFile(file, big.data(), static_cast<uint32_t>(big.size()), &done, 0, ZEMTA_FILE_BEGIN)) seen += "w1!";
  if (!ZemtaWriteFile(file, "TAIL", 4, &done, 0, ZEMTA_FILE_CURRENT)) seen += "w2!";
  seen += std::to_string(ZemtaGetFileSize(file)) + ";";
  std::string back(5000, '\0');
  if (!ZemtaReadFile(file, back.data(), 5000, &done, 100, ZEMTA_FILE_BEGIN)) seen += "r1!";
  seen += back.substr(0, 3) + back.substr(4997, 3) + std::to_string(done) + ";";
  if (!ZemtaReadFile(file, back.data(), 5000, &done, 9000, ZEMTA_FILE_BEGIN)) seen += "r2!";
  seen += std::to_string(done) + ";";
  seen += std::to_string(ZemtaSetFilePointer(file, -4, ZEMTA_FILE_END)) + ";";
  if (!ZemtaSetEndOfFile(file, 6000)) seen += "cut!";
  seen += std::to_string(ZemtaGetFileSize(file));
  if (!ZemtaCloseFile(file)) seen += "close!";
  return seen;
}

std::string bytesOf(const fs::path& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

TEST(RemoteFiles, MappedFilesLiveOnTheServerAndMatchLocalWork) {
  TempFolder folder;
  const fs::path root(folder.path());
  fs::create_directories(root / "server" / "shop");
  fs::create_directories(root / "local");
  FileServicePeer peer;
  peer.serveFolder((root / "server").string());
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  ASSERT_EQ(SockBindWVSrv("Varnex", "1.0"), 0);

  const std::string localResult = exercise((root / "local" / "data.bin").string());

  ZemtaSetSockIfs(1);
  const fs::path mapped = root / "mapped";
  ASSERT_EQ(ZemtaAddSockIfsDir(mapped.string().c_str(), "shop", 1), 0);
  const std::string remoteResult = exercise((mapped / "data.bin").string());
  ZemtaSetSockIfs(0);

  EXPECT_EQ(remoteResult, localResult);
  EXPECT_FALSE(fs::exists(mapped));  // nothing of it was made locally
  EXPECT_EQ(bytesOf(root / "server" / "shop" / "data.bin"), bytesOf(root / "local" / "data.bin"));
  EXPECT_EQ(bytesOf(root / "local" / "data.bin").size(), 6000u);
  SockDisconnect();
}

// A table's records written, changed and deleted; the record count seen.
int32_t tableWork(const std::string& path) {
  FileDBHandle table = FileDBCreate(path.c_str(), 1, 16, 32, "items", nullptr);
  if (!table) return -100;
  char record[32] = {};
  for (int i = 0; i < 5; ++i) {
    std::memset(record, 0, sizeof record);
    std::snprintf(record, sizeof record, "record %d", i);
    if (FileDBRecWrite(table, i, record) != 0) return -200 - i;
  }
  std::memset(record, 0, sizeof record);
  std::snprintf(record, sizeof record, "changed");
  if (FileDBRecWrite(table, 2, record) != 0) return -300;
  if (FileDBRecDelete(table, 0, 1, nullptr) < 0) return -400;
  const int32_t count = FileDBRecGetSize(table);
  if (FileDBRecRead(table, 0, record) != 0 || std::string(record) != "changed") return -500;
  FileDBDelete(table);
  return count;
}

TEST(RemoteFiles, TableOnTheServerEqualsTheSameTableKeptLocally) {
  TempFolder folder;
  const fs::path root(folder.path());
  fs::create_directories(root / "server" / "shop");
  fs::create_directories(root / "local");
  FileServicePeer peer;
  peer.serveFolder((root / "server").string());
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);

  EXPECT_EQ(tableWork((root / "local" / "items.dbf").string()), 3);
  ZemtaSetSockIfs(1);
  const fs::path mapped = root / "mapped";
  ASSERT_EQ(ZemtaAddSockIfsDir(mapped.string().c_str(), "shop", 1), 0);
  EXPECT_EQ(tableWork((mapped / "items.dbf").string()), 3);
  ZemtaSetSockIfs(0);
  SockDisconnect();
  EXPECT_EQ(bytesOf(root / "server" / "shop" / "items.dbf"), bytesOf(root / "local" / "items.dbf"));
  EXPECT_FALSE(fs::exists(mapped));
}

TEST(RemoteFiles, ServerRefusalAndLostConnectionReachTheCaller) {
  TempFolder folder;
  const fs::path root(folder.path());
  fs::create_directories(root / "server");
  FileServicePeer peer;
  peer.serveFolder((root / "server").string());
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  ZemtaSetSockIfs(1);
  const fs::path mapped = root / "mapped";
  ASSERT_EQ(ZemtaAddSockIfsDir(mapped.string().c_str(), "shop", 1), 0);
  // The server has no folder "shop": the open is refused with its error.
  EXPECT_EQ(ZemtaCreateFile((mapped / "x.dbf").string().c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS,
                            ZEMTA_FILE_ATTRIBUTE_NORMAL),
            ZEMTA_INVALID_FILE);
  EXPECT_NE(platform::lastError(), 0u);
  EXPECT_EQ(SockIsConnect(), 1);

  fs::create_directories(root / "server" / "shop");
  ZemtaFileHandle file = ZemtaCreateFile((mapped / "x.dbf").string().c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS,
                                         ZEMTA_FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, ZEMTA_INVALID_FILE);
  // The server goes away: the next transfer fails and the connection is gone.
  SockDisconnect();
  uint32_t done = 0;
  EXPECT_FALSE(ZemtaWriteFile(file, "abc", 3, &done, 0, ZEMTA_FILE_BEGIN));
  EXPECT_EQ(platform::lastError(), 10093u);
  EXPECT_FALSE(ZemtaCloseFile(file));
  ZemtaSetSockIfs(0);
}

// Positioned transfers, sizes, syncs, existence and removal: the same
// answers and the same bytes on the server as on the local disk.
std::string positionedWork(const std::string& folder) {
  const std::string path = folder + "/journal.bin";
  std::string seen = std::to_string(ZemtaFileExists(path.c_str())) + ";";
  ZemtaFileHandle file = ZemtaCreateFile(path.c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL);
  if (file == ZEMTA_INVALID_FILE) return seen + "open failed " + std::to_string(platform::lastError());
  std::string block(6000, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('A' + i % 23);
  uint32_t done = 0;
  seen += std::to_string(ZemtaWriteFileAt(file, 100, block.data(), 6000, &done)) + std::to_string(done) + ";";
  seen += std::to_string(ZemtaWriteFileAt(file, 0, "head", 4, &done)) + ";";
  seen += std::to_string(ZemtaFlushFile(file)) + std::to_string(ZemtaGetFileSize64(file)) + ";";
  std::string back(300, '\0');
  seen += std::to_string(ZemtaReadFileAt(file, 5900, back.data(), 300, &done)) + std::to_string(done) + ";";
  seen += back.substr(0, done) + ";";
  seen += std::to_string(ZemtaReadFileAt(file, -1, back.data(), 1, &done)) + ";";
  seen += std::to_string(ZemtaFileExists(path.c_str())) + std::to_string(ZemtaFlushFolder(folder.c_str())) + ";";
  ZemtaCloseFile(file);
  const std::string gone = folder + "/gone.bin";
  ZemtaCloseFile(ZemtaCreateFile(gone.c_str(), kReadWrite, 0, ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL));
  seen += std::to_string(ZemtaDeleteFile(gone.c_str())) + std::to_string(ZemtaFileExists(gone.c_str()));
  seen += std::to_string(ZemtaDeleteFile(gone.c_str())) + ";";
  return seen;
}

TEST(RemoteFiles, PositionedTransfersExistenceAndRemovalMatchLocalWork) {
  TempFolder folder;
  const fs::path root(folder.path());
  fs::create_directories(root / "server" / "shop");
  fs::create_directories(root / "local");
  FileServicePeer peer;
  peer.serveFolder((root / "server").string());
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);

  const std::string localResult = positionedWork((root / "local").string());
  EXPECT_EQ(ZemtaIsRemotePath((root / "local" / "journal.bin").c_str()), 0);
  ZemtaSetSockIfs(1);
  const fs::path mapped = root / "mapped";
  ASSERT_EQ(ZemtaAddSockIfsDir(mapped.string().c_str(), "shop", 1), 0);
  EXPECT_EQ(ZemtaIsRemotePath((mapped / "journal.bin").c_str()), 1);
  EXPECT_EQ(ZemtaIsRemotePath((root / "local" / "journal.bin").c_str()), 0);
  // Either separator after a mapped folder, in any case, is under it.
  ASSERT_EQ(ZemtaAddSockIfsDir((root / "Other").string().append("/").c_str(), "shop/", 1), 0);
  EXPECT_EQ(ZemtaIsRemotePath((root / "OTHER").string().append("\\LocDat\\x.dbf").c_str()), 1);
  EXPECT_EQ(ZemtaIsRemotePath((root / "Other").string().append("/x.dbf").c_str()), 1);
  EXPECT_EQ(ZemtaIsRemotePath((root / "Otherwise").string().c_str()), 0);
  const std::string remoteResult = positionedWork(mapped.string());
  ZemtaSetSockIfs(0);
  SockDisconnect();

  EXPECT_EQ(remoteResult, localResult);
  EXPECT_EQ(localResult.substr(0, 2), "0;");
  EXPECT_FALSE(fs::exists(mapped));
  EXPECT_EQ(bytesOf(root / "server" / "shop" / "journal.bin"), bytesOf(root / "local" / "journal.bin"));
  EXPECT_EQ(bytesOf(root / "local" / "journal.bin").size(), 6100u);
  EXPECT_FALSE(fs::exists(root / "server" / "shop" / "gone.bin"));
}

}  // namespace

namespace {

// A file's last write time, on the local disk and from the server's
// descriptor: the same file gives the same time; a missing one says so; a
// server that answers without a descriptor tells no time.
TEST(RemoteFiles, WriteTimeOfLocalAndServedFiles) {
  TempFolder folder;
  const fs::path root(folder.path());
  fs::create_directories(root / "server" / "times");
  std::FILE* made = std::fopen((root / "server" / "times" / "a.log").c_str(), "wb");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  FileServicePeer peer;
  peer.serveFolder((root / "server").string());
  ASSERT_EQ(SockConnect("127.0.0.1", peer.port()), 0);
  const fs::path mapped = root / "mappedTimes";
  ZemtaSetSockIfs(1);
  ASSERT_EQ(ZemtaAddSockIfsDir(mapped.string().c_str(), "times", 1), 0);

  uint64_t local = 0, served = 0;
  EXPECT_EQ(ZemtaGetFileWriteTime((root / "server" / "times" / "a.log").c_str(), &local), 1);
  EXPECT_EQ(ZemtaGetFileWriteTime((mapped / "a.log").c_str(), &served), 1);
  EXPECT_EQ(served, local);
  // Made just now (within a minute).
  const uint64_t now = platform::fileTimeUtcNow();
  EXPECT_LT(local > now ? local - now : now - local, 600000000ull);

  EXPECT_EQ(ZemtaGetFileWriteTime((mapped / "none.log").c_str(), &served), 0);
  EXPECT_EQ(platform::lastError(), platform::kErrorFileNotFound);
  EXPECT_EQ(ZemtaGetFileWriteTime((root / "none.log").c_str(), &local), 0);
  EXPECT_EQ(platform::lastError(), platform::kErrorFileNotFound);

  peer.queue(FileServicePeer::frame(0x06, 1, 0));
  EXPECT_EQ(ZemtaGetFileWriteTime((mapped / "a.log").c_str(), &served), 0);
  EXPECT_EQ(platform::lastError(), platform::kErrorNotSupported);
  ZemtaSetSockIfs(0);
  SockDisconnect();
}

}  // namespace
