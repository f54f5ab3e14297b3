#include "platform/base/path.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "support/cp932_names.h"
#include "support/temp_folder.h"

namespace platform {
namespace {

using testing_support::TempFolder;

TEST(MapPath, FindsNamesWhateverTheirCase) {
  TempFolder folder;
  folder.write("LocDat/POS_BAS.dbf", "x");
  folder.write("LocDat/Sub Folder/Item.Dat", "y");
  const std::string root = folder.path();
  struct Case {
    std::string written, expected;
  };
  const Case cases[] = {
      {root + "\\LocDat\\POS_BAS.DBF", root + "/LocDat/POS_BAS.dbf"},
      {root + "/locdat/pos_bas.dbf", root + "/LocDat/POS_BAS.dbf"},
      {"C:" + root + "\\LOCDAT\\sub folder\\ITEM.DAT", root + "/LocDat/Sub Folder/Item.Dat"},
      // Missing components are kept as written, and so is everything below them.
      {root + "\\LocDat\\NewFile.TXT", root + "/LocDat/NewFile.TXT"},
      {root + "\\NoSuch\\LocDat\\pos_bas.dbf", root + "/NoSuch/LocDat/pos_bas.dbf"},
      {root + "\\LocDat\\", root + "/LocDat/"},
      {root + "//LocDat/./pos_bas.dbf", root + "/LocDat/POS_BAS.dbf"},
  };
  for (const auto& c : cases) EXPECT_EQ(mapPath(c.written), c.expected) << c.written;
}

TEST(MapPath, RelativePathsAndTheCurrentFolder) {
  TempFolder folder;
  folder.write("Data/Tax.ini", "");
  std::string before = currentFolder();
  ASSERT_TRUE(setCurrentFolder(folder.path()));
  EXPECT_EQ(mapPath("data\\TAX.INI"), "Data/Tax.ini");
  EXPECT_EQ(mapPath("C:data\\TAX.INI"), "Data/Tax.ini");
  EXPECT_EQ(mapPath(".\\DATA"), "Data");
  EXPECT_TRUE(fileExists("DATA\\tax.ini"));
  ASSERT_TRUE(setCurrentFolder(before));
  EXPECT_FALSE(setCurrentFolder(folder / "missing"));
  EXPECT_EQ(lastError(), kErrorPathNotFound);
}

TEST(MapPath, DoubleByteNamesKeepTheirBackslashByte) {
  // "ソフト" in code page 932: the 5C of "ソ" (83 5C) closes the character and
  // is no separator; its letters-looking trail bytes do not fold either.
  TempFolder folder;
  const std::string soft = "\x83\x5C\x83\x74\x83\x67";
  const std::string a = "\x83\x41";  // "ア": trail byte 0x41 is an 'A'
  ASSERT_TRUE(createDirectory(folder / soft));
  folder.write(soft + "/" + a + "Data.TXT", "z");
  EXPECT_EQ(mapPath(folder.path() + "\\" + soft + "\\" + a + "data.txt"), folder / (soft + "/" + a + "Data.TXT"));
  EXPECT_EQ(mapPath(folder.path() + "\\" + soft + "\\\x83\x61" "data.txt"),
            folder / (soft + "/\x83\x61" "data.txt"));  // 83 61 is another character
  EXPECT_EQ(fileNameOf("C:\\" + soft), soft);
  EXPECT_EQ(folderOf("C:\\" + soft + "\\a.txt"), "C:\\" + soft);
}

TEST(PathParts, JoinFolderAndName) {
  EXPECT_EQ(joinPath("/a/b", "c.txt"), "/a/b/c.txt");
  EXPECT_EQ(joinPath("/a/b/", "c.txt"), "/a/b/c.txt");
  EXPECT_EQ(joinPath("C:\\Data", "c.txt"), "C:\\Data\\c.txt");
  EXPECT_EQ(joinPath("C:\\Data\\", "\\c.txt"), "C:\\Data\\c.txt");
  EXPECT_EQ(joinPath("", "c.txt"), "c.txt");
  EXPECT_EQ(folderOf("/a/b/c.txt"), "/a/b");
  EXPECT_EQ(folderOf("C:\\Data\\c.txt"), "C:\\Data");
  EXPECT_EQ(folderOf("C:\\c.txt"), "C:\\");
  EXPECT_EQ(folderOf("/c.txt"), "/");
  EXPECT_EQ(folderOf("c.txt"), "");
  EXPECT_EQ(fileNameOf("C:\\Data/sub\\c.txt"), "c.txt");
  EXPECT_EQ(fileNameOf("c.txt"), "c.txt");
}

TEST(PathFolders, XdgFoldersAndProgramFolder) {
  std::string oldConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  std::string oldData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
  std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("XDG_CONFIG_HOME", "/x/config", 1);
  setenv("XDG_DATA_HOME", "/x/data", 1);
  EXPECT_EQ(configFolder(), "/x/config");
  EXPECT_EQ(configFolder("varnex"), "/x/config/varnex");
  EXPECT_EQ(dataFolder("varnex"), "/x/data/varnex");
  unsetenv("XDG_CONFIG_HOME");
  setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
  setenv("HOME", "/home/clerk", 1);
  EXPECT_EQ(configFolder("varnex"), "/home/clerk/.config/varnex");
  EXPECT_EQ(dataFolder(), "/home/clerk/.local/share");
  auto restore = [](const char* name, const std::string& value) {
    if (value.empty()) unsetenv(name);
    else setenv(name, value.c_str(), 1);
  };
  restore("XDG_CONFIG_HOME", oldConfig);
  restore("XDG_DATA_HOME", oldData);
  restore("HOME", oldHome);

  std::string program = programFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(isDirectory(program));
  EXPECT_NE(listFolder(program, "tests_platform_base").size() + listFolder(program, "*").size(), 0u);
}

TEST(PathList, WildcardsIgnoreCase) {
  TempFolder folder;
  for (const char* name : {"POS_BAS.DBF", "pos_tax.dbf", "POS_BAS.IDX", "readme", "a.b.c"}) folder.write(name, "");
  createDirectory(folder / "SubDir");
  struct Case {
    const char* pattern;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"*.dbf", {"POS_BAS.DBF", "pos_tax.dbf"}},
      {"pos_???.DBF", {"POS_BAS.DBF", "pos_tax.dbf"}},
      {"POS_BAS.*", {"POS_BAS.DBF", "POS_BAS.IDX"}},
      {"*.*", {"POS_BAS.DBF", "POS_BAS.IDX", "SubDir", "a.b.c", "pos_tax.dbf", "readme"}},
      {"*", {"POS_BAS.DBF", "POS_BAS.IDX", "SubDir", "a.b.c", "pos_tax.dbf", "readme"}},
      {"*.c", {"a.b.c"}},
      {"READ*.*", {"readme"}},
      {"nothing*", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(listFolder(folder.path(), c.pattern), c.expected) << c.pattern;
  EXPECT_EQ(listFolder(folder.path() + "\\SUBDIR"), std::vector<std::string>{});
  EXPECT_TRUE(listFolder(folder / "missing").empty());
  EXPECT_EQ(lastError(), kErrorPathNotFound);
}

// Every name rule over names whose second bytes look like a backslash or a
// letter: none of them is taken for a separator, and only ASCII letters fold.
TEST(PathNames, SecondBytesAreNeitherSeparatorsNorLetters) {
  for (const auto& n : testing_support::cp932Names()) {
    SCOPED_TRACE(n.label);
    std::string utf8;
    ASSERT_TRUE(cp932ToUtf8(n.name, utf8));
    ASSERT_EQ(utf8, n.utf8);  // the table itself

    // Splitting.
    const std::string inFolder = "C:\\Data\\" + n.name;
    EXPECT_EQ(lastSeparator(n.name), std::string::npos);
    EXPECT_EQ(lastSeparator(n.name, true), std::string::npos);
    EXPECT_FALSE(endsWithSeparator(inFolder));
    EXPECT_TRUE(endsWithSeparator(inFolder + "\\"));
    EXPECT_EQ(fileNameOf(inFolder + "\\" + n.name + ".bxx"), n.name + ".bxx");
    EXPECT_EQ(folderOf(inFolder + "\\x.dbf"), inFolder);
    EXPECT_EQ(folderOf(inFolder), "C:\\Data");
    EXPECT_EQ(splitPath(inFolder + "\\" + n.name + "\\"),
              (std::vector<std::string>{"C:", "Data", n.name, n.name, ""}));
    EXPECT_FALSE(hasExtension("C:\\Data.1\\" + n.name));
    EXPECT_TRUE(hasExtension(n.name + ".bxx"));
    // Joining.
    EXPECT_EQ(withSeparator(inFolder), inFolder + "\\");
    EXPECT_EQ(withSeparator(inFolder + "/", '/'), inFolder + "/");
    EXPECT_EQ(joinPath(inFolder, "x.dbf"), inFolder + "\\x.dbf");
    // Comparing and folding.
    EXPECT_TRUE(sameName(n.name + "a.bxx", n.name + "A.BXX"));
    EXPECT_EQ(cp932::upperAscii(n.name + "a.bxx"), n.name + "A.BXX");
    EXPECT_TRUE(cp932::startsWithNoCase(n.name + "abc", n.name + "AB"));
    if (!n.twin.empty()) {
      EXPECT_FALSE(sameName(n.name + ".bxx", n.twin + ".BXX"));
      EXPECT_FALSE(cp932::startsWithNoCase(n.name + "x", n.twin));
      EXPECT_NE(cp932::upperAscii(n.name), cp932::upperAscii(n.twin));
    }
    // Cutting: a double-byte character goes whole or not at all.
    EXPECT_EQ(cp932::cutText(n.name + n.name, n.name.size() + 1), n.name);
    EXPECT_EQ(cp932::cutText("x" + n.name, 2), "x");

    // On disk: the folder is found by its own name, in any case of its
    // ASCII part, and never by its twin's.
    TempFolder folder;
    folder.write(n.name + "Dir/data.txt", "z");
    EXPECT_EQ(mapPath(folder.path() + "\\" + n.name + "DIR\\DATA.TXT"), folder / (n.name + "Dir/data.txt"));
    EXPECT_EQ(listFolder(folder.path(), n.name + "d*"), std::vector<std::string>{n.name + "Dir"});
    if (!n.twin.empty()) {
      EXPECT_EQ(mapPath(folder.path() + "\\" + n.twin + "DIR\\DATA.TXT"), folder / (n.twin + "DIR/DATA.TXT"));
      EXPECT_TRUE(listFolder(folder.path(), n.twin + "dir").empty());
    }
  }
}

TEST(Cp932Cut, HalfCharactersAreNeverKept) {
  const std::string ka = "\x83\x4A";  // "カ"
  struct Case {
    std::string text;
    size_t limit;
    std::string expected;
  };
  const Case cases[] = {
      {"ab" + ka, 3, "ab"}, {"ab" + ka, 4, "ab" + ka}, {"ab" + ka, 99, "ab" + ka},
      {"ab\x83", 9, "ab"},  // a lead byte that ends the text is half a character
      {"\xB1\xB2", 1, "\xB1"},  // half-width kana are single bytes
      {"", 5, ""}, {ka, 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(cp932::cutText(c.text, c.limit), c.expected) << c.text << " " << c.limit;
}

}  // namespace
}  // namespace platform
