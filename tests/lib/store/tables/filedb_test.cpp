#include "zemta/filedb.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <random>
#include <thread>

#include "lib/store/filedb_test_support.h"
#include "lib/core/report.h"
#include "lib/views/view/view_registry.h"
#include "support/scripted_message_box.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"

namespace {

using filedb_test::makeRecord;
using filedb_test::Record;
using filedb_test::TableFixture;
using filedb_test::kHeaderLen;
using filedb_test::kRecordLen;
using testing_support::ScriptedMessageBox;
using zemta::errorText;

class FileDBTest : public TableFixture {};

TEST_F(FileDBTest, NewTableIsItsHeaderAndWritesPastTheEndAppend) {
  FileDBHandle h = open();
  EXPECT_EQ(store_test::fileBytes(table_), std::string(kHeaderLen, '\0'));
  EXPECT_EQ(FileDBRecGetSize(h), 0);
  EXPECT_EQ(FileDBRecGetFieldSize(h), static_cast<int32_t>(kRecordLen));

  Record a = makeRecord(7, -1, "ABCD", 1, 2);
  EXPECT_EQ(FileDBRecWrite(h, 5, a.data()), 0);  // past the end: appended at 0
  EXPECT_EQ(FileDBRecGetSize(h), 1);
  EXPECT_EQ(store_test::fileBytes(table_).size(), kHeaderLen + kRecordLen);

  Record got(kRecordLen, 0xEE);
  EXPECT_EQ(FileDBRecRead(h, 1, got.data()), 1);  // at the end: zeroed
  EXPECT_EQ(got, Record(kRecordLen, 0));
  EXPECT_EQ(FileDBRecReadField(h, 0, 8, 4, got.data()), 0);
  EXPECT_EQ(std::string(got.begin(), got.begin() + 4), "ABCD");
  expectMatches(h, {a});

  char path[300];
  EXPECT_EQ(FileDBGetPathName(h, path), static_cast<int32_t>(table_.size()));
  EXPECT_EQ(std::string(path), table_);
}

// Writes, appends, rewrites and deletes in random order; after each step the
// table and its three indexes agree with a model kept in memory.
TEST_F(FileDBTest, RandomChangesKeepEveryIndexInStep) {
  FileDBHandle h = open();
  std::vector<Record> model;
  std::mt19937 random(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  auto randomRecord = [&]() {
    const char* names[] = {"AAAA", "ABBA", "BETA", "ZED ", "ABBA"};
    return makeRecord(pick(0, 40), static_cast<int16_t>(pick(-300, 300)), names[pick(0, 4)],
                      static_cast<uint16_t>(pick(0, 0x1FF)), static_cast<uint8_t>(pick(0, 255)),
                      static_cast<uint8_t>(pick(0, 255)));
  };
  for (int step = 0; step < 160; ++step) {
    int what = model.size() < 4 ? 0 : pick(0, 9);
    if (what <= 2) {  // append, sometimes past the end
      Record r = randomRecord();
      ASSERT_EQ(FileDBRecWrite(h, static_cast<int32_t>(model.size()) + pick(0, 3), r.data()), 0);
      model.push_back(r);
    } else if (what <= 5) {  // rewrite
      int n = pick(0, static_cast<int>(model.size()) - 1);
      Record r = randomRecord();
      if (pick(0, 1)) r = model[n], r[filedb_test::kFill.offset] ^= 0x5A;  // same keys, other bytes
      ASSERT_EQ(FileDBRecWrite(h, n, r.data()), 0);
      model[n] = r;
    } else if (what == 6) {  // rewrite with the bytes it holds
      int n = pick(0, static_cast<int>(model.size()) - 1);
      Record r(kRecordLen);
      ASSERT_EQ(FileDBRecRead(h, n, r.data()), 0);
      ASSERT_EQ(FileDBRecWrite(h, n, r.data()), 0);
    } else {  // delete a range
      int first = pick(0, static_cast<int>(model.size()) - 1);
      int last = std::min<int>(first + pick(0, 3), static_cast<int>(model.size()) - 1);
      ASSERT_EQ(FileDBRecDelete(h, first, last, nullptr), 0);
      model.erase(model.begin() + first, model.begin() + last + 1);
    }
    ASSERT_NO_FATAL_FAILURE(expectMatches(h, model)) << "step " << step;
  }
  // A second opening finds the index files sound and in step.
  close(h);
  expectMatches(open(), model);
}

TEST_F(FileDBTest, DeleteSavesTheRecordsMovesTheTailAndCutsTheFile) {
  FileDBHandle h = open();
  std::vector<Record> model;
  for (int i = 0; i < 6; ++i) {
    model.push_back(makeRecord(10 + i, static_cast<int16_t>(i), "NAME", 1, static_cast<uint8_t>(i)));
    ASSERT_EQ(FileDBRecWrite(h, i, model.back().data()), 0);
  }
  std::string saved = folder_.file("saved.dbf");
  ASSERT_EQ(FileDBRecDelete(h, 1, 2, saved.c_str()), 0);
  EXPECT_EQ(store_test::fileBytes(saved),
            std::string(model[1].begin(), model[1].end()) + std::string(model[2].begin(), model[2].end()));
  model.erase(model.begin() + 1, model.begin() + 3);
  expectMatches(h, model);

  ASSERT_EQ(FileDBRecDelete(h, 3, 3, nullptr), 0);  // the last record: the file is cut there
  model.pop_back();
  EXPECT_EQ(store_test::fileBytes(table_).size(), kHeaderLen + 3 * kRecordLen);
  expectMatches(h, model);
}

TEST_F(FileDBTest, SameBytesWriteNothing) {
  FileDBHandle h = open();
  Record a = makeRecord(1, 1, "AAAA", 1, 1);
  ASSERT_EQ(FileDBRecWrite(h, 0, a.data()), 0);
  // With every index marked as broken, a write that changes nothing still
  // succeeds: it touches neither the table nor the indexes.
  for (const auto& p : indexPaths_) patch(p, 0, "RXBTA MTZE\r\n");
  std::string before = allFiles();
  EXPECT_EQ(FileDBRecWrite(h, 0, a.data()), 0);
  EXPECT_EQ(allFiles(), before);
}

TEST_F(FileDBTest, RecordChangedByAnotherProcessIsNotOverwritten) {
  FileDBHandle h = open();
  std::vector<Record> model;
  for (int i = 0; i < 3; ++i) {
    model.push_back(makeRecord(i, static_cast<int16_t>(i), "MINE", 0, 0));
    ASSERT_EQ(FileDBRecWrite(h, i, model.back().data()), 0);
  }
  Record got(kRecordLen);
  ASSERT_EQ(FileDBRecRead(h, 1, got.data()), 0);

  Record theirs = makeRecord(99, -99, "THEM", 5, 5);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another process with its own table handle.
    FileDBHandle other = FileDBCreate(table_.c_str(), 9, kHeaderLen, kRecordLen, nullptr, nullptr);
    bool ok = other != 0;
    for (int i = 0; ok && i < 3; ++i) {
      const auto* parts = i == 2 ? filedb_test::kParts : nullptr;
      int32_t desc = i == 0 ? 0 : (i == 1 ? 4 : -3);
      uint32_t len = i == 0 ? 4 : (i == 1 ? 2 : filedb_test::kCompositeLen);
      uint32_t type = i == 0 ? filedb_test::kItemUnsigned : (i == 1 ? filedb_test::kItemSigned : 0);
      ok = FileAddIndex(other, indexPaths_[i].c_str(), filedb_test::kOrder, type, desc, len, 0, nullptr, parts,
                        nullptr) == 0;
    }
    ok = ok && FileDBRecWrite(other, 1, theirs.data()) == 0;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  model[1] = theirs;

  std::string before = allFiles();
  Record mine = makeRecord(1, 1, "EDIT", 0, 0);
  EXPECT_EQ(FileDBRecWrite(h, 1, mine.data()), 2);
  EXPECT_EQ(allFiles(), before);
  expectMatches(h, model);  // reads record 1 again: this table now knows their bytes

  EXPECT_EQ(FileDBRecWrite(h, 1, mine.data()), 0);
  model[1] = mine;
  expectMatches(h, model);
}

TEST_F(FileDBTest, IndexLeftDirtyIsRefusedThenRebuiltWhenAdded) {
  FileDBHandle h = open();
  std::vector<Record> model;
  for (int i = 0; i < 5; ++i) {
    model.push_back(makeRecord(i, static_cast<int16_t>(-i), "DIRT", 0, 0));
    ASSERT_EQ(FileDBRecWrite(h, i, model.back().data()), 0);
  }
  // A writer stopped between its dirty marker and the clean one: the second
  // index keeps "RXBTA MTZE\r\n" and has lost an entry.
  std::string clean = store_test::fileBytes(indexPaths_[1]);
  patch(indexPaths_[1], 0, "RXBTA MTZE\r\n");
  std::string before = allFiles();
  {
    ScriptedMessageBox box;
    Record r = makeRecord(50, 50, "NEW ", 0, 0);
    EXPECT_EQ(FileDBRecWrite(h, 0, r.data()), -1);
    EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_INDEX_UPDATE));
  }
  // Nothing changed: the first index got its clean magic back, the broken
  // one was not declared clean.
  EXPECT_EQ(allFiles(), before);
  close(h);

  int builds = 0;
  auto previous = zemta::filedb::setIndexBuildProgress({[&](const std::string&, uint32_t) { ++builds; }, {}, {}});
  FileDBHandle again = open();
  zemta::filedb::setIndexBuildProgress(previous);
  EXPECT_EQ(builds, 1);
  expectMatches(again, model);
  Record r = makeRecord(50, 50, "NEW ", 0, 0);
  EXPECT_EQ(FileDBRecWrite(again, 0, r.data()), 0);
  model[0] = r;
  expectMatches(again, model);
}

TEST_F(FileDBTest, BadHandlesAreRefused) {
  FileDBHandle h = open();
  FileDBHandle gone = FileDBCreate(folder_.file("gone.dbf").c_str(), 3, 0, 4, nullptr, nullptr);
  ASSERT_EQ(FileDBDelete(gone), 0);
  Record r(kRecordLen);
  FileFieldPlace place{0, 4, 0};
  for (FileDBHandle bad : {FileDBHandle{0}, FileDBHandle{0x25340000u | 77}, h + 0x10000u, gone}) {
    ScriptedMessageBox box;
    EXPECT_EQ(FileDBRecRead(bad, 0, r.data()), -1);
    EXPECT_EQ(FileDBRecWrite(bad, 0, r.data()), -1);
    EXPECT_EQ(FileDBRecDelete(bad, 0, 0, nullptr), -1);
    EXPECT_EQ(FileDBRecGetSize(bad), -1);
    EXPECT_EQ(FileDBRead(bad, 0, r.data(), 4), -1);
    EXPECT_EQ(FileDBOpenEx(bad, 3), -1);
    EXPECT_EQ(FileDBUpdateOffset(bad, 0, &place, 1), -1);
    EXPECT_EQ(FileIdxEqu(bad, 0, nullptr, r.data()), -1);
    EXPECT_EQ(FileAddIndex(bad, "x.bxx", 2, 0, 0, 4, 0, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(box.count(), 9u);
    for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, errorText(ZEMTA_ERR_BAD_FILEDB_HANDLE));
  }
  EXPECT_EQ(FileDBRecGetSize(h), 0);
}

TEST_F(FileDBTest, MalformedSizesAndRecordsPastTheEndChangeNothing) {
  // A file whose record area is not whole records cannot be opened.
  std::string odd = folder_.file("odd.dbf");
  store_test::writeFileBytes(odd, std::string(kHeaderLen + kRecordLen + 5, 'x'));
  {
    ScriptedMessageBox box;
    EXPECT_EQ(FileDBCreate(odd.c_str(), 4, kHeaderLen, kRecordLen, nullptr, nullptr), 0u);
    EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_FILE_FORMAT));
  }
  // ...nor one shorter than its header.
  store_test::writeFileBytes(odd, "abc");
  {
    ScriptedMessageBox box;
    EXPECT_EQ(FileDBCreate(odd.c_str(), 4, kHeaderLen, kRecordLen, nullptr, nullptr), 0u);
    EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_FILE_FORMAT));
  }
  EXPECT_EQ(store_test::fileBytes(odd), "abc");

  FileDBHandle h = open();
  Record a = makeRecord(1, 1, "ONE ", 1, 1);
  ASSERT_EQ(FileDBRecWrite(h, 0, a.data()), 0);
  ASSERT_EQ(FileDBRecWrite(h, 1, a.data()), 0);
  std::string before = allFiles();
  Record r(kRecordLen);
  FileFieldPlace place{0, 4, 0};
  {
    ScriptedMessageBox box;
    EXPECT_EQ(FileDBRecDelete(h, 2, 2, nullptr), -1);
    EXPECT_EQ(FileDBRecDelete(h, 1, 0, nullptr), -1);
    EXPECT_EQ(FileDBRecReadField(h, 0, 30, 4, r.data()), -1);
    EXPECT_EQ(FileDBRecReadField(h, 0, 0, 0, r.data()), -1);
    EXPECT_EQ(FileDBUpdateOffset(h, 2, &place, 1), -1);
    ASSERT_EQ(box.count(), 5u);
    for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, errorText(ZEMTA_ERR_BAD_PARAMETER));
  }
  EXPECT_EQ(allFiles(), before);

  // Another program leaves a partial record behind: every operation refuses.
  std::string grown = store_test::fileBytes(table_) + "zz";
  store_test::writeFileBytes(table_, grown);
  before = allFiles();
  {
    ScriptedMessageBox box;
    EXPECT_EQ(FileDBRecGetSize(h), -1);
    EXPECT_EQ(FileDBRecRead(h, 0, r.data()), -1);
    EXPECT_EQ(FileDBRecWrite(h, 0, r.data()), -1);
    EXPECT_EQ(FileDBRecDelete(h, 0, 0, nullptr), -1);
    ASSERT_EQ(box.count(), 4u);
    for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, errorText(ZEMTA_ERR_FILE_FORMAT));
  }
  EXPECT_EQ(allFiles(), before);
}

TEST_F(FileDBTest, CreationArgumentsAreChecked) {
  struct Case {
    const char* path;
    uint32_t id, header, record;
    uint32_t code;
  } cases[] = {
      {"", 1, 0, 4, ZEMTA_ERR_BAD_FILE_NAME},
      {nullptr, 1, 0, 4, ZEMTA_ERR_BAD_FILE_NAME},
      {"t.dbf", 0, 0, 4, ZEMTA_ERR_BAD_ACCESS_CODE},
      {"t.dbf", 1, 0, 0, ZEMTA_ERR_BAD_SIZE},
  };
  for (const auto& c : cases) {
    ScriptedMessageBox box;
    std::string path = c.path && *c.path ? folder_.file(c.path) : (c.path ? "" : std::string());
    EXPECT_EQ(FileDBCreate(c.path ? path.c_str() : nullptr, c.id, c.header, c.record, nullptr, nullptr), 0u);
    EXPECT_EQ(box.lastText(), errorText(c.code));
  }
  std::string longPath(260, 'a');
  ScriptedMessageBox box;
  EXPECT_EQ(FileDBCreate(longPath.c_str(), 1, 0, 4, nullptr, nullptr), 0u);
  EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_BAD_FILE_NAME));
}

TEST_F(FileDBTest, HeaderWriteRefusesAHeaderChangedElsewhere) {
  FileDBHandle h = open(16);
  FileDBHandle other = FileDBCreate(table_.c_str(), 9, 16, kRecordLen, nullptr, nullptr);
  ASSERT_NE(other, 0u);
  opened_.push_back(other);
  ASSERT_EQ(FileDBWrite(h, 4, "ABCD", 4), 4);
  char buffer[16];
  EXPECT_EQ(FileDBWrite(other, 0, "XY", 2), 0);  // other's image is still all zero
  EXPECT_EQ(FileDBRead(other, 0, buffer, 16), 16);
  EXPECT_EQ(std::string(buffer + 4, 4), "ABCD");
  EXPECT_EQ(FileDBWrite(other, 0, "XY", 2), 2);
  EXPECT_EQ(store_test::fileBytes(table_).substr(0, 8), std::string("XY\0\0ABCD", 8));
}

TEST_F(FileDBTest, CounterStepsInHeaderAndRecord) {
  FileDBHandle h = open(16);
  FileFieldPlace headerCounter{8, 4, 0};
  EXPECT_EQ(FileDBUpdateOffset(h, -1, &headerCounter, 1), 1);
  EXPECT_EQ(FileDBUpdateOffset(h, -1, &headerCounter, 41), 42);
  EXPECT_EQ(store_test::getLe(store_test::fileBytes(table_), 8, 4), 42u);

  Record a = makeRecord(100, 0, "CNT ", 0, 0);
  ASSERT_EQ(FileDBRecWrite(h, 0, a.data()), 0);
  FileFieldPlace code{0, 4, 0};
  EXPECT_EQ(FileDBUpdateOffset(h, 0, &code, 5), 105);
  // A bit field: 4 bits at shift 4 of the flag byte.
  FileFieldPlace nibble{filedb_test::kFlag.offset, 1, 0x0404};
  EXPECT_EQ(FileDBUpdateOffset(h, 0, &nibble, 3), 3);
  a = makeRecord(105, 0, "CNT ", 0, 0x30);
  expectMatches(h, {a});
}

TEST_F(FileDBTest, HeldOpenTableWritesAndClosesClean) {
  FileDBHandle h = open();
  {
    ScriptedMessageBox box;
    EXPECT_EQ(FileDBOpenEx(h, 4), -1);
    EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_BAD_MODE));
  }
  ASSERT_EQ(FileDBOpenEx(h, 3), 0);
  EXPECT_EQ(FileDBIsAccess(h, 1 | 0x100), 0);  // held exclusively
  std::vector<Record> model;
  for (int i = 0; i < 20; ++i) {
    model.push_back(makeRecord(20 - i, static_cast<int16_t>(i * 7 - 50), "HOLD", static_cast<uint16_t>(i), 1));
    ASSERT_EQ(FileDBRecWrite(h, i, model.back().data()), 0);
    // Marked dirty from the first change to the end of the hold, so that a
    // crash inside it leaves the indexes to be checked.
    for (const auto& p : indexPaths_) EXPECT_EQ(store_test::fileBytes(p).substr(0, 12), "RXBTA MTZE\r\n") << p;
  }
  ASSERT_EQ(FileDBCloseEx(h), 0);
  for (const auto& p : indexPaths_) EXPECT_EQ(store_test::fileBytes(p).substr(0, 12), "ZEMTA BTRX\r\n") << p;
  EXPECT_EQ(FileDBIsAccess(h, 1), 1);
  expectMatches(h, model);
}

// A lingering hold keeps the files open past FileDBCloseEx for the next
// hold in its mode, and gives way to anything else: a change from outside
// the hold, an open of its files by the same thread, FileDBEndLinger. While
// it lingers other threads and programs find the files in use, and the
// indexes a held change touched stay marked dirty.
TEST_F(FileDBTest, LingeringHoldOutlivesItsCloseAndGivesWay) {
  FileDBHandle h = open();
  constexpr uint32_t kLinger = FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH | FILEDB_MODE_LINGER;
  auto elsewhereCanRead = [&] {
    int32_t can = -1;
    std::thread other([&] { can = ZemtaIsFileAccess(table_.c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ); });
    other.join();
    return can == 1;
  };
  auto indexesClean = [&] {
    for (const auto& p : indexPaths_)
      if (store_test::fileBytes(p).substr(0, 12) != "ZEMTA BTRX\r\n") return false;
    return true;
  };
  std::vector<Record> model;
  auto heldAppend = [&](int code) {
    ASSERT_EQ(FileDBOpenEx(h, kLinger), 0);
    model.push_back(makeRecord(code, static_cast<int16_t>(code), "LING", 1, 1));
    ASSERT_EQ(FileDBRecWrite(h, 0x7FFFFFFF, model.back().data()), 0);
    ASSERT_EQ(FileDBCloseEx(h), 0);
  };

  heldAppend(10);
  heldAppend(11);  // the lingering hold taken up again
  EXPECT_FALSE(elsewhereCanRead());
  EXPECT_FALSE(indexesClean());
  Record got(kRecordLen);
  ASSERT_EQ(FileDBRecRead(h, 1, got.data()), 0);  // reads go on through it
  EXPECT_EQ(got, model[1]);
  EXPECT_FALSE(elsewhereCanRead());

  // A write from outside the hold ends it and is written as any other.
  model[0] = makeRecord(20, 20, "OUTS", 2, 2);
  ASSERT_EQ(FileDBRecWrite(h, 0, model[0].data()), 0);
  EXPECT_TRUE(indexesClean());
  EXPECT_TRUE(elsewhereCanRead());
  expectMatches(h, model);

  // This thread's own open of a lingering file takes its place.
  heldAppend(12);
  EXPECT_FALSE(elsewhereCanRead());
  EXPECT_EQ(ZemtaIsFileAccess(table_.c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ), 1);
  EXPECT_TRUE(indexesClean());
  EXPECT_TRUE(elsewhereCanRead());

  // Ended by name; ending a table that does not linger does nothing.
  heldAppend(13);
  EXPECT_EQ(FileDBEndLinger(h), 0);
  EXPECT_TRUE(indexesClean());
  EXPECT_TRUE(elsewhereCanRead());
  EXPECT_EQ(FileDBEndLinger(h), 0);
  expectMatches(h, model);
}

// A table held for writing reads its records from memory: every change made
// through it must show there (record writes, raw bytes, deletes, appends),
// and what another handle writes once the hold has ended must never be
// hidden by the image of an earlier hold, lingering or not.
TEST_F(FileDBTest, HeldRecordsReadFromMemoryFollowEveryChange) {
  FileDBHandle h = open();
  std::vector<Record> model;
  // Raw bytes go past the indexes: the table is read back by number.
  auto expectRecords = [&](FileDBHandle table) {
    ASSERT_EQ(FileDBRecGetSize(table), static_cast<int32_t>(model.size()));
    for (size_t n = 0; n < model.size(); ++n) {
      Record got(kRecordLen);
      ASSERT_EQ(FileDBRecRead(table, static_cast<int32_t>(n), got.data()), 0);
      EXPECT_EQ(got, model[n]) << n;
    }
  };
  for (int i = 0; i < 4; ++i) {
    model.push_back(makeRecord(40 + i, static_cast<int16_t>(i), "MEM ", 1, static_cast<uint8_t>(i)));
    ASSERT_EQ(FileDBRecWrite(h, i, model.back().data()), 0);
  }
  ASSERT_EQ(FileDBOpenEx(h, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH), 0);
  Record got(kRecordLen);
  ASSERT_EQ(FileDBRecRead(h, 0, got.data()), 0);
  model[1] = makeRecord(51, 51, "NEW1", 2, 2);
  ASSERT_EQ(FileDBRecWrite(h, 1, model[1].data()), 0);
  Record raw = makeRecord(62, 62, "RAW2", 3, 3);
  ASSERT_EQ(FileDBWrite(h, kHeaderLen + 2 * kRecordLen + 2, raw.data() + 2, kRecordLen - 2),
            static_cast<int32_t>(kRecordLen - 2));
  std::memcpy(model[2].data() + 2, raw.data() + 2, kRecordLen - 2);
  ASSERT_EQ(FileDBRecDelete(h, 0, 0, nullptr), 0);
  model.erase(model.begin());
  model.push_back(makeRecord(73, 73, "APND", 4, 4));
  ASSERT_EQ(FileDBRecWrite(h, 0x7FFFFFFF, model.back().data()), 0);
  expectRecords(h);
  ASSERT_EQ(FileDBCloseEx(h), 0);
  expectRecords(h);

  // Another handle's change after a hold, and after a lingering one.
  FileDBHandle other = open();
  for (const uint32_t linger : {0u, static_cast<uint32_t>(FILEDB_MODE_LINGER)}) {
    const uint32_t mode = FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH | linger;
    ASSERT_EQ(FileDBOpenEx(h, mode), 0);
    ASSERT_EQ(FileDBRecRead(h, 0, got.data()), 0);
    ASSERT_EQ(FileDBCloseEx(h), 0);
    model[0] = makeRecord(linger ? 85 : 84, 84, "ELSE", 5, 5);
    ASSERT_EQ(FileDBRecWrite(other, 0, model[0].data()), 0);
    ASSERT_EQ(FileDBOpenEx(h, mode), 0);
    ASSERT_EQ(FileDBRecRead(h, 0, got.data()), 0);
    EXPECT_EQ(got, model[0]) << "linger " << linger;
    ASSERT_EQ(FileDBCloseEx(h), 0);
    ASSERT_EQ(FileDBEndLinger(h), 0);
  }
  expectRecords(h);
}

// A table held for writing counts its records itself: every change made
// through it, a delete or a raw write past the header too, must move that
// count, or the next append lands on a record or leaves a gap.
TEST_F(FileDBTest, HeldTableCountsEveryChangeItMakes) {
  FileDBHandle h = open();
  ASSERT_EQ(FileDBOpenEx(h, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH), 0);
  std::vector<Record> model;
  for (int i = 0; i < 5; ++i) {
    model.push_back(makeRecord(30 + i, static_cast<int16_t>(i), "HELD", 2, static_cast<uint8_t>(i)));
    ASSERT_EQ(FileDBRecWrite(h, 0x7FFFFFFF, model.back().data()), 0);
  }
  EXPECT_EQ(FileDBRecGetSize(h), 5);
  ASSERT_EQ(FileDBRecDelete(h, 1, 2, nullptr), 0);
  model.erase(model.begin() + 1, model.begin() + 3);
  EXPECT_EQ(FileDBRecGetSize(h), 3);
  // A record written as raw bytes after the last one.
  Record raw = makeRecord(77, 77, "RAW ", 3, 3);
  ASSERT_EQ(FileDBWrite(h, kHeaderLen + 3 * kRecordLen, raw.data(), kRecordLen), static_cast<int32_t>(kRecordLen));
  EXPECT_EQ(FileDBRecGetSize(h), 4);
  Record next = makeRecord(88, 88, "NEXT", 4, 4);
  ASSERT_EQ(FileDBRecWrite(h, 0x7FFFFFFF, next.data()), 0);
  EXPECT_EQ(FileDBRecGetSize(h), 5);
  ASSERT_EQ(FileDBCloseEx(h), 0);
  EXPECT_EQ(store_test::fileBytes(table_).size(), kHeaderLen + 5 * kRecordLen);
  // The raw record never went through the indexes: the table is read back by
  // number.
  model.push_back(raw);
  model.push_back(next);
  for (size_t n = 0; n < model.size(); ++n) {
    Record got(kRecordLen);
    ASSERT_EQ(FileDBRecRead(h, static_cast<int32_t>(n), got.data()), 0);
    EXPECT_EQ(got, model[n]) << n;
  }
}

// Records appended in a hold without write-through wait in memory: every
// read of the table sees them, and the hold's end (or the table's delete)
// puts them in the file before the indexes that point at them are clean.
TEST_F(FileDBTest, AppendsWaitingInAHoldAreSeenByEveryReadAndWrittenAtItsEnd) {
  FileDBHandle h = open();
  ASSERT_EQ(FileDBOpenEx(h, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH), 0);
  std::vector<Record> model;
  auto append = [&](int count) {
    for (int i = 0; i < count; ++i) {
      const uint32_t n = static_cast<uint32_t>(model.size());
      model.push_back(makeRecord(n * 7919 % 10007, static_cast<int16_t>(n % 300 - 150), "WAIT",
                                 static_cast<uint16_t>(n % 5), static_cast<uint8_t>(n)));
      ASSERT_EQ(FileDBRecWrite(h, 0x7FFFFFFF, model.back().data()), 0);
    }
  };
  // More than the memory holds at a time (256 KB), then reads of every kind
  // with records waiting.
  append(9000);
  Record got(kRecordLen);
  ASSERT_EQ(FileDBRecRead(h, 8999, got.data()), 0);
  EXPECT_EQ(got, model[8999]);
  append(3);
  ASSERT_EQ(FileDBRead(h, kHeaderLen + 9001 * kRecordLen, got.data(), kRecordLen), static_cast<int32_t>(kRecordLen));
  EXPECT_EQ(got, model[9001]);
  append(2);
  EXPECT_EQ(FileDBRecGetSize(h), 9005);
  append(1);
  int32_t found = -1;
  ASSERT_EQ(FileIdxEqu(h, 0, &found, model[9005].data()), 1);
  EXPECT_EQ(found, 9005);
  // Changes of waiting records: an overwrite and a delete.
  append(3);
  model[9006] = makeRecord(1, 1, "OVER", 1, 1);
  ASSERT_EQ(FileDBRecWrite(h, 9006, model[9006].data()), 0);
  ASSERT_EQ(FileDBRecDelete(h, 9007, 9008, nullptr), 0);
  model.erase(model.begin() + 9007, model.begin() + 9009);
  append(2);
  ASSERT_EQ(FileDBCloseEx(h), 0);
  EXPECT_EQ(store_test::fileBytes(table_).size(), kHeaderLen + model.size() * kRecordLen);
  expectMatches(h, model);

  // A table deleted inside its hold writes them too; another handle reads them.
  ASSERT_EQ(FileDBOpenEx(h, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH), 0);
  append(2);
  close(h);
  expectMatches(open(), model);
}

// Waiting records the file refuses (past the process's file size limit)
// fail the hold's end with the error shown, and the indexes, which point at
// them, keep their dirty mark for the next check.
TEST_F(FileDBTest, WaitingAppendsTheFileRefusesFailTheHoldsEndAndLeaveTheIndexesDirty) {
  // A long header makes the table the largest file, so only its write fails.
  constexpr uint32_t kLongHeader = 4096;
  FileDBHandle h = open(kLongHeader);
  ASSERT_EQ(FileDBOpenEx(h, FILEDB_MODE_READ_WRITE | FILEDB_MODE_NO_WRITE_THROUGH), 0);
  for (int i = 0; i < 3; ++i) {
    Record r = makeRecord(i, static_cast<int16_t>(i), "LOST", 0, 0);
    ASSERT_EQ(FileDBRecWrite(h, i, r.data()), 0);
  }
  {
    ScriptedMessageBox box;
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = kLongHeader + kRecordLen;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int32_t closed = FileDBCloseEx(h);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(closed, -1);
    EXPECT_FALSE(box.lastText().empty());
  }
  for (const auto& p : indexPaths_) EXPECT_EQ(store_test::fileBytes(p).substr(0, 12), "RXBTA MTZE\r\n") << p;
  EXPECT_LT(store_test::fileBytes(table_).size(), kLongHeader + 3 * kRecordLen);
}

TEST_F(FileDBTest, OwnedRecordBuffersAreLimitedToEight) {
  FileDBHandle h = open();
  std::vector<void*> buffers;
  for (int i = 0; i < 8; ++i) {
    buffers.push_back(FileDBRecBufAllocEx(h, 1));
    ASSERT_NE(buffers.back(), nullptr);
  }
  EXPECT_EQ(static_cast<uint8_t*>(buffers[0])[kRecordLen - 1], 0);
  ScriptedMessageBox box;
  EXPECT_EQ(FileDBRecBufAllocEx(h, 0), nullptr);
  EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_NO_MEMORY));
  int local = 0;
  EXPECT_EQ(FileDBRecBufRelease(h, &local), -1);
  EXPECT_EQ(FileDBRecBufRelease(h, nullptr), -1);
  EXPECT_EQ(box.lastText(), errorText(ZEMTA_ERR_BAD_POINTER));
  EXPECT_EQ(FileDBRecBufRelease(h, buffers[3]), 0);
  EXPECT_NE(FileDBRecBufAllocEx(h, 0), nullptr);
  void* mine = FileDBRecBufAlloc(h, 1);
  ASSERT_NE(mine, nullptr);
  free(mine);
}

TEST_F(FileDBTest, BoundViewsHearOfNewRecordCounts) {
  FileDBHandle h = open();
  std::vector<std::pair<ZemtaView, int32_t>> told;
  zemta::views::ViewBackend backend;
  backend.updateSize = [&](ZemtaView view, uint32_t table, int32_t timer) {
    EXPECT_EQ(table, h);
    told.emplace_back(view, FileDBRecGetFieldSize(table) + timer);
    return 0;
  };
  auto previous = zemta::views::bindBackend(backend);
  zemta::views::registerView(0x77, 1);
  zemta::views::registerView(0x78, 1);
  zemta::views::bindTable(0x77, h);
  Record a = makeRecord(1, 1, "VIEW", 1, 1);
  ASSERT_EQ(FileDBRecWrite(h, 0, a.data()), 0);  // appended: told
  a[20] = 1;
  ASSERT_EQ(FileDBRecWrite(h, 0, a.data()), 0);  // rewritten: not told
  ASSERT_EQ(FileDBRecDelete(h, 0, 0, nullptr), 0);
  zemta::views::unregisterView(0x77);
  zemta::views::unregisterView(0x78);
  zemta::views::bindBackend(previous);
  EXPECT_EQ(told, (std::vector<std::pair<ZemtaView, int32_t>>{{0x77, 32}, {0x77, 32}}));
  // With no implementation bound the calls do nothing.
  EXPECT_EQ(ViewFileUpdateSize(0x77, h, 0), 0);
}

TEST_F(FileDBTest, LocalPathIsLimited) {
  EXPECT_EQ(FileSetLocPath("/data/shop"), 0);
  EXPECT_EQ(zemta::filedb::localDataPath(), "/data/shop");
  ScriptedMessageBox box;
  EXPECT_EQ(FileSetLocPath(std::string(260, 'p').c_str()), -1);
  EXPECT_EQ(zemta::filedb::localDataPath(), "/data/shop");
  EXPECT_EQ(FileSetLocPath(nullptr), 0);
  EXPECT_EQ(zemta::filedb::localDataPath(), "");
}

}  // namespace
