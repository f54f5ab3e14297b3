#include "zemta/combine.h"
#include "zemta/fileaccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "support/scripted_message_box.h"
#include "support/temp_folder.h"

namespace {

using testing_support::TempFolder;

namespace fs = std::filesystem;
using testing_support::ScriptedMessageBox;

const std::string kHeader("ZEMTA COMBINE ID=0\r\n\0", 21);

std::string u32le(uint32_t value) {
  return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
          static_cast<char>(value >> 24)};
}

// One member entry as the file holds it.
std::string entry(const std::string& name, const std::string& data) {
  return u32le(static_cast<uint32_t>(name.size() + 1)) + u32le(static_cast<uint32_t>(data.size())) + u32le(0) +
         name + std::string(1, '\0') + data;
}

// Every file under a folder (relative path, bytes), and the folders.
std::map<std::string, std::string> treeOf(const std::string& folder) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(folder)) return tree;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(item.path(), folder).string();
    if (item.is_directory()) {
      tree[relative + "/"] = "";
    } else {
      std::ifstream in(item.path(), std::ios::binary);
      tree[relative] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return tree;
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CombineTest : public ::testing::Test {
 protected:
  void expectReported(uint32_t code) {
    ASSERT_GE(box.count(), 1u);
    EXPECT_EQ(box.lastText(), zemta::errorText(code));
    box.clear();
  }
  ScriptedMessageBox box;
  TempFolder folder;
};

TEST_F(CombineTest, TwoFilesMakeTheLayoutByteForByte) {
  folder.write("src/a.txt", "abc");
  folder.write("src/b.bin", "");
  const char* names[] = {"a.txt", "b.bin"};
  const std::string combined = folder / "two.dbk";
  ASSERT_EQ(CombineFiles(2, names, combined.c_str(), (folder / "src").c_str()), 0);
  const std::string bytes = folder.read("two.dbk");
  EXPECT_EQ(bytes.size(), 60u);
  EXPECT_EQ(bytes, kHeader + entry("a.txt", "abc") + entry("b.bin", ""));

  // A base folder without its trailing separator, and one that is not there yet.
  EXPECT_EQ(ApartFile(combined.c_str(), (folder / "out").c_str()), 2);
  EXPECT_EQ(treeOf(folder / "out"), (std::map<std::string, std::string>{{"a.txt", "abc"}, {"b.bin", ""}}));
  // No temporary folder is left beside it.
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"out", "src", "two.dbk"}));

  // No members: only the header, and nothing to unpack from it.
  ASSERT_EQ(CombineFiles(0, nullptr, combined.c_str(), nullptr), 0);
  EXPECT_EQ(folder.read("two.dbk"), kHeader);
  EXPECT_EQ(ApartFile(combined.c_str(), (folder / "out").c_str()), -1);
  expectReported(ZEMTA_ERR_FILE_FORMAT);
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(CombineTest, FolderTreeRoundTripIsByteIdentical) {
  std::string binary;
  for (int i = 0; i < 10000; ++i) binary += static_cast<char>(i * 7 % 256);
  // "表" and "ソ" end in the byte 0x5C, which is no separator.
  const std::map<std::string, std::string> files = {
      {"POS_BAS.dbf", binary},
      {"empty.bin", ""},
      {"表示.txt", "小計,１２３\r\n"},
      {"sub/ソフト/deep.dat", std::string(4096, 'x')},
      {"sub/note.txt", "n"},
  };
  for (const auto& [name, data] : files) folder.write("src/" + name, data);
  std::vector<std::string> memberNames = {"POS_BAS.dbf", "empty.bin", "表示.txt", "sub\\ソフト\\deep.dat",
                                          "sub\\note.txt"};
  std::vector<const char*> names;
  for (const auto& name : memberNames) names.push_back(name.c_str());
  const std::string combined = folder / "tree.dbk";
  ASSERT_EQ(CombineFiles(static_cast<int32_t>(names.size()), names.data(), combined.c_str(),
                         (folder / "src/").c_str()),
            0);

  // Restored over an older copy: every member replaced, other files kept.
  folder.write("dst/POS_BAS.dbf", "old");
  folder.write("dst/other.txt", "kept");
  EXPECT_EQ(ApartFile(combined.c_str(), (folder / "dst").c_str()), 5);
  std::map<std::string, std::string> expected = treeOf(folder / "src");
  expected["other.txt"] = "kept";
  EXPECT_EQ(treeOf(folder / "dst"), expected);
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"dst", "src", "tree.dbk"}));
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(CombineTest, AHeaderDifferingInAnyByteIsRefused) {
  const std::string body = entry("a.txt", "abc");
  for (size_t at = 0; at < kHeader.size(); ++at) {
    SCOPED_TRACE(at);
    std::string header = kHeader;
    header[at] = static_cast<char>(header[at] ^ 0x01);
    folder.write("bad.dbk", header + body);
    EXPECT_EQ(ApartFile((folder / "bad.dbk").c_str(), (folder / "out").c_str()), -1);
    expectReported(ZEMTA_ERR_FILE_FORMAT);
  }
  EXPECT_FALSE(fs::exists(folder / "out"));
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"bad.dbk"}));
}

TEST_F(CombineTest, MembersLeavingTheBaseFolderAreRefusedAndNothingIsWritten) {
  const std::vector<std::string> badNames = {"..\\x",      "../x",       "a\\..\\..\\x", "\\x",
                                             "/tmp/x",     "C:x",        "C:\\x",        "a\\",
                                             "a\\..",      ".",          ""};
  folder.write("target/keep.txt", "keep");
  for (const std::string& bad : badNames) {
    SCOPED_TRACE(bad);
    // A good member first, so a writer that unpacks as it reads would have begun.
    folder.write("evil.dbk", kHeader + entry("good.txt", "g") + entry(bad, "escaped"));
    const std::string target = folder / "target";
    for (const char* base : {target.c_str(), static_cast<const char*>(nullptr)}) {
      EXPECT_EQ(ApartFile((folder / "evil.dbk").c_str(), base), -1);
      expectReported(bad.size() <= 1 && bad != "." ? ZEMTA_ERR_FILE_FORMAT : ZEMTA_ERR_BAD_FILE_NAME);
    }
    // Combining refuses such a name too, before the output exists.
    const char* names[] = {"keep.txt", bad.c_str()};
    EXPECT_EQ(CombineFiles(2, names, (folder / "out.dbk").c_str(), (folder / "target").c_str()), -1);
    expectReported(ZEMTA_ERR_BAD_FILE_NAME);
    EXPECT_FALSE(fs::exists(folder / "out.dbk"));
  }
  EXPECT_EQ(treeOf(folder / "target"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"evil.dbk", "target"}));
  EXPECT_FALSE(fs::exists("x"));
  // Inside the base folder ".." is harmless.
  folder.write("fine.dbk", kHeader + entry("a\\..\\b.txt", "b"));
  EXPECT_EQ(ApartFile((folder / "fine.dbk").c_str(), (folder / "target").c_str()), 1);
  EXPECT_EQ(folder.read("target/b.txt"), "b");
}

TEST_F(CombineTest, ACutOrDamagedFileLeavesTheTargetUnchanged) {
  const std::string whole = kHeader + entry("a.txt", "new a") + entry("sub\\b.bin", std::string(9000, 'b')) +
                            entry("c.txt", "new c");
  folder.write("target/a.txt", "old a");
  folder.write("target/c.txt", "old c");
  const std::map<std::string, std::string> before = treeOf(folder / "target");
  const size_t kSecondEntry = 21 + 12 + 6 + 5;
  const size_t kSecondData = kSecondEntry + 12 + 10;

  struct Damage {
    const char* name;
    std::string bytes;
  };
  std::string badReserved = whole;
  badReserved[21 + 8] = 1;
  std::string noZero = kHeader + entry("a.txt", "x");
  noZero[21 + 12 + 5] = 'x';
  const Damage damages[] = {
      {"cut inside the last member's data", whole.substr(0, whole.size() - 2)},
      {"cut inside the second member's data", whole.substr(0, kSecondData + 5000)},
      {"cut inside an entry header", whole.substr(0, kSecondEntry + 5)},
      {"cut inside a name", whole.substr(0, 21 + 12 + 3)},
      {"cut inside the header", whole.substr(0, 10)},
      {"reserved word not 0", badReserved},
      {"name without its zero", noZero},
      {"name length 1", kHeader + u32le(1) + u32le(0) + u32le(0) + std::string(1, '\0')},
      {"data length 0xFFFFFFFF", kHeader + u32le(2) + u32le(0xFFFFFFFF) + u32le(0) + std::string("a\0", 2)},
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.name);
    folder.write("backup.dbk", damage.bytes);
    EXPECT_EQ(ApartFile((folder / "backup.dbk").c_str(), (folder / "target").c_str()), -1);
    EXPECT_GE(box.count(), 1u);
    box.clear();
    EXPECT_EQ(treeOf(folder / "target"), before);
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"backup.dbk", "target"}));
  }

  folder.write("backup.dbk", whole);
  EXPECT_EQ(ApartFile((folder / "backup.dbk").c_str(), (folder / "target").c_str()), 3);
  EXPECT_EQ(folder.read("target/a.txt"), "new a");
  EXPECT_EQ(folder.read("target/sub/b.bin"), std::string(9000, 'b'));
  EXPECT_EQ(folder.read("target/c.txt"), "new c");
}

TEST_F(CombineTest, AMemberHeldOpenElsewhereFailsBeforeAnythingIsReplaced) {
  folder.write("backup.dbk", kHeader + entry("a.txt", "new a") + entry("held.txt", "new held"));
  folder.write("target/a.txt", "old a");
  folder.write("target/held.txt", "old held");
  const std::map<std::string, std::string> before = treeOf(folder / "target");
  const ZemtaFileHandle held =
      ZemtaCreateFile((folder / "target/held.txt").c_str(), ZEMTA_GENERIC_READ, 0, ZEMTA_OPEN_EXISTING, 0);
  ASSERT_NE(held, ZEMTA_INVALID_FILE);
  EXPECT_EQ(ApartFile((folder / "backup.dbk").c_str(), (folder / "target").c_str()), -1);
  expectReported(32);
  EXPECT_EQ(treeOf(folder / "target"), before);
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"backup.dbk", "target"}));
  ZemtaCloseFile(held);
  EXPECT_EQ(ApartFile((folder / "backup.dbk").c_str(), (folder / "target").c_str()), 2);
  EXPECT_EQ(folder.read("target/held.txt"), "new held");
}

TEST_F(CombineTest, MissingFilesFail) {
  const char* names[] = {"missing.txt"};
  EXPECT_EQ(CombineFiles(1, names, (folder / "out.dbk").c_str(), folder.path().c_str()), -1);
  expectReported(2);
  EXPECT_EQ(ApartFile((folder / "none.dbk").c_str(), (folder / "target").c_str()), -1);
  expectReported(2);
  EXPECT_FALSE(fs::exists(folder / "target"));
  // A base folder of 4095 characters or more is refused.
  const std::string longBase(4095, 'd');
  EXPECT_EQ(ApartFile((folder / "none.dbk").c_str(), longBase.c_str()), -1);
  expectReported(ZEMTA_ERR_BAD_FILE_NAME);
}

}  // namespace
