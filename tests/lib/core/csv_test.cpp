#include "zemta/csv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lib/core/report.h"
#include "support/scripted_message_box.h"
#include "support/temp_folder.h"

namespace {

using testing_support::TempFolder;

using testing_support::ScriptedMessageBox;

// One field as a reader returns it.
struct Field {
  int32_t result;
  std::string text;
  bool operator==(const Field&) const = default;
};

void PrintTo(const Field& field, std::ostream* out) { *out << "{" << field.result << ", \"" << field.text << "\"}"; }

// Every field up to and with the "no more data" result.
std::vector<Field> readAll(CsvHandle reader, int32_t bufferSize = 256) {
  std::vector<Field> fields;
  std::string buffer(bufferSize, '\0');
  for (int guard = 0; guard < 100000; ++guard) {
    const int32_t result = CsvGetNextStr(reader, buffer.data(), bufferSize, nullptr);
    fields.push_back({result, buffer.c_str()});
    if (result <= 0) break;
  }
  return fields;
}

// The whole text of a writer (the writer is emptied).
std::string textOf(CsvHandle writer) {
  std::string text(1 << 16, '\0');
  const int32_t copied = CsvGetStr(writer, text.data(), static_cast<int32_t>(text.size()));
  if (copied <= 0) return "<empty>";
  EXPECT_LT(copied, static_cast<int32_t>(text.size()));
  text.resize(static_cast<size_t>(copied) - 1);  // without the terminating zero
  return text;
}

class CsvTest : public ::testing::Test {
 protected:
  void expectReported(uint32_t code) {
    ASSERT_GE(box.count(), 1u);
    EXPECT_EQ(box.lastText(), zemta::errorText(code));
    box.clear();
  }
  ScriptedMessageBox box;
};

// A field to write: text, or a number when isNumber.
struct Put {
  std::string text;
  bool endOfLine = false;
  bool isNumber = false;
  int64_t number = 0;
};

struct WriteCase {
  const char* name;
  char separator;
  std::vector<Put> fields;
  std::string expected;
};

TEST_F(CsvTest, WriterQuotesOnlyWhatNeedsIt) {
  const WriteCase cases[] = {
      {"spaces, plain, quote", ',', {{" a b "}, {"x"}, {"say \"hi\"", true}}, "\" a b \",x,\"say \"\"hi\"\"\"\n"},
      {"empty fields", ',', {{""}, {""}, {"", true}}, ",,\n"},
      {"separator, CR and LF inside", ',', {{"a,b"}, {"l1\r\nl2", true}}, "\"a,b\",\"l1\r\nl2\"\n"},
      {"a space inside only", ',', {{"a b", true}}, "a b\n"},
      {"two lines", ',', {{"a", true}, {"b"}, {"c", true}}, "a\nb,c\n"},
      {"numbers never quoted", ',',
       {{"", false, true, INT64_MIN}, {"", false, true, 0}, {"", true, true, 1234567}},
       "-9223372036854775808,0,1234567\n"},
      {"tab separator", '\t', {{"a,b"}, {"c\td", true}}, "a,b\t\"c\td\"\n"},
      {"code page 932", ',', {{"小計"}, {"ｶﾞ", true}}, "小計,ｶﾞ\n"},
      {"no line end yet", ',', {{"a"}, {"b"}}, "a,b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CsvHandle writer = CsvCreate(nullptr, 0, c.separator, 7);
    ASSERT_NE(writer, nullptr);
    int32_t used = 0;
    for (const Put& put : c.fields)
      used = put.isNumber ? CsvSetNextInt64(writer, put.number, put.endOfLine)
                          : CsvSetNextStr(writer, put.text.c_str(), -1, put.endOfLine);
    EXPECT_EQ(used, static_cast<int32_t>(c.expected.size() + 1));
    EXPECT_EQ(textOf(writer), c.expected);
    EXPECT_EQ(CsvDelete(writer), 0);
  }
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(CsvTest, WriterLengthsAndLineEnds) {
  CsvHandle writer = CsvCreate(nullptr, 0, ',', 0);
  EXPECT_EQ(CsvSetEol(writer), -1);  // nothing to end
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  EXPECT_EQ(CsvSetNextStr(writer, "abcdef", 3, 0), 4);
  EXPECT_EQ(CsvSetNextStr(writer, "x", 1, 0), 6);
  EXPECT_EQ(CsvSetEol(writer), 7);
  EXPECT_EQ(textOf(writer), "abc,x\n");
  // A text past one 4096-byte step of the buffer.
  const std::string longField(10000, 'z');
  EXPECT_EQ(CsvSetNextStr(writer, longField.c_str(), -1, 1), 10002);
  EXPECT_EQ(textOf(writer), longField + "\n");
  CsvDelete(writer);
}

TEST_F(CsvTest, GetStrCutsATextThatDoesNotFitAndReportsIt) {
  CsvHandle writer = CsvCreate(nullptr, 0, ',', 0);
  CsvSetNextStr(writer, "abc", -1, 0);
  CsvSetNextStr(writer, "def", -1, 1);  // "abc,def\n" and its zero: 9 bytes

  // As many bytes as fit, the last of them the zero; the writer is emptied.
  char small[5] = "????";
  EXPECT_EQ(CsvGetStr(writer, small, sizeof small), 5);
  EXPECT_EQ(std::string(small, 5), std::string("abc,\0", 5));
  expectReported(ZEMTA_ERR_BAD_SIZE);
  EXPECT_EQ(CsvGetStr(writer, small, sizeof small), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);

  // A text that fits exactly is copied whole and nothing is reported.
  CsvSetNextStr(writer, "abc", -1, 0);
  CsvSetNextStr(writer, "def", -1, 1);
  char exact[9];
  EXPECT_EQ(CsvGetStr(writer, exact, sizeof exact), 9);
  EXPECT_STREQ(exact, "abc,def\n");
  EXPECT_EQ(box.count(), 0u);
  // Emptied: the next field starts a fresh text and line.
  EXPECT_EQ(CsvSetNextStr(writer, "g", -1, 1), 3);
  EXPECT_EQ(textOf(writer), "g\n");

  CsvSetNextStr(writer, "h", -1, 0);
  EXPECT_EQ(CsvGetStr(writer, nullptr, 10), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  EXPECT_EQ(CsvGetStr(writer, exact, 0), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  CsvDelete(writer);
}

struct ReadCase {
  const char* name;
  std::string text;
  char separator;
  std::vector<Field> expected;
};

const ReadCase kReadCases[] = {
    {"empty middle field, CR LF", "a,,b\r\n", ',', {{1, "a"}, {1, ""}, {2, "b"}, {0, ""}}},
    {"separator at the end", "a,b,", ',', {{1, "a"}, {1, "b"}, {2, ""}, {0, ""}}},
    {"separator at the end of a line", "a,\nb", ',', {{1, "a"}, {2, ""}, {2, "b"}, {0, ""}}},
    {"quoted separator and LF", "\"x,\ny\",z\n", ',', {{1, "x,\ny"}, {2, "z"}, {0, ""}}},
    {"spaces trimmed unless quoted", "  a b  ,\"  c  \"\n", ',', {{1, "a b"}, {2, "  c  "}, {0, ""}}},
    {"doubled quotes", "\"say \"\"hi\"\"\",after", ',', {{1, "say \"hi\""}, {2, "after"}, {0, ""}}},
    {"text after the closing quote", "\"ab\"cd,e", ',', {{1, "abcd"}, {2, "e"}, {0, ""}}},
    {"CR, LF and empty lines", "l1\rl2\n\nl3", ',', {{2, "l1"}, {2, "l2"}, {2, ""}, {2, "l3"}, {0, ""}}},
    {"unclosed quote runs to the end", "\"ab,c", ',', {{2, "ab,c"}, {0, ""}}},
    {"nothing at all", "", ',', {{0, ""}}},
    {"tab separator", "a b\t c\t\r\n", '\t', {{1, "a b"}, {1, "c"}, {2, ""}, {0, ""}}},
    {"code page 932", "小計,ｶﾞ\r\n", ',', {{1, "小計"}, {2, "ｶﾞ"}, {0, ""}}},
    // 0x5C, the second byte of "表", is no separator.
    {"double-byte trail byte as separator", "表\\x", '\\', {{1, "表"}, {2, "x"}, {0, ""}}},
};

TEST_F(CsvTest, ReaderCases) {
  for (const auto& c : kReadCases) {
    SCOPED_TRACE(c.name);
    CsvHandle reader = CsvCreate(c.text.data(), static_cast<int32_t>(c.text.size()), c.separator, 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(readAll(reader), c.expected);
    EXPECT_EQ(CsvGetNextStr(reader, nullptr, 0, nullptr), 0);  // stays at the end
    EXPECT_EQ(CsvDelete(reader), 0);
  }
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(CsvTest, ReaderCutsALongFieldAndTellsItsSize) {
  CsvHandle reader = CsvCreate("0123456789,x", -1, ',', 0);
  uint32_t needed = 0;
  // Measuring does not move on.
  EXPECT_EQ(CsvGetNextStr(reader, nullptr, 0, &needed), 1);
  EXPECT_EQ(needed, 11u);
  char buffer[5];
  EXPECT_EQ(CsvGetNextStr(reader, buffer, sizeof buffer, &needed), 1);
  EXPECT_STREQ(buffer, "0123");
  EXPECT_EQ(needed, 11u);
  EXPECT_EQ(CsvGetNextStr(reader, buffer, sizeof buffer, &needed), 2);
  EXPECT_STREQ(buffer, "x");
  EXPECT_EQ(needed, 2u);

  EXPECT_EQ(CsvGetNextStr(reader, buffer, 0, &needed), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  EXPECT_EQ(CsvGetNextStr(nullptr, buffer, sizeof buffer, &needed), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  // A reader takes no writer operation.
  EXPECT_EQ(CsvSetNextStr(reader, "a", -1, 1), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  CsvDelete(reader);
}

TEST_F(CsvTest, WhatTheWriterWritesTheReaderReadsBack) {
  const std::vector<std::vector<std::string>> lines = {
      {"", " lead", "trail ", "a,b", "\"", "\"\"x\"", "line\r\nbreak", "小計", "ｱｲｳ ｴｵ"},
      {"single"},
      {"", ""},
  };
  CsvHandle writer = CsvCreate(nullptr, 0, ',', 0);
  std::vector<Field> expected;
  for (const auto& line : lines) {
    for (size_t i = 0; i < line.size(); ++i) {
      const bool last = i + 1 == line.size();
      CsvSetNextStr(writer, line[i].c_str(), -1, last);
      expected.push_back({last ? 2 : 1, line[i]});
    }
  }
  expected.push_back({0, ""});
  const std::string text = textOf(writer);
  CsvDelete(writer);
  CsvHandle reader = CsvCreate(text.c_str(), -1, ',', 0);
  EXPECT_EQ(readAll(reader), expected);
  CsvDelete(reader);
}

TEST_F(CsvTest, FileReaderReadsWhatTheTextReaderReads) {
  // Lines that cross the 4096-byte blocks everywhere, a CR LF split between
  // two blocks, and fields longer than the whole 12288-byte window.
  std::string content;
  for (int i = 0; i < 300; ++i) content += "r" + std::to_string(i) + ",\"q,\"\"" + std::to_string(i) + "\"\"\",x\r\n";
  ASSERT_LT(content.size(), 8191u);
  content.resize(8191, 'p');
  content += "\r\n";  // CR at 8191, LF at 8192
  // A field longer than the window whose CR is the last byte of a block (28671).
  content += std::string(20478, 'L') + "\r\n";
  ASSERT_EQ(content[28671], '\r');
  content += "\"" + std::string(15000, 'Q') + "\"\n";
  content += "小計,end,";
  TempFolder folder;
  folder.write("big.csv", content);

  CsvHandle textReader = CsvCreate(content.data(), static_cast<int32_t>(content.size()), ',', 0);
  const std::vector<Field> expected = readAll(textReader, 40000);
  CsvDelete(textReader);
  ASSERT_GT(expected.size(), 900u);
  EXPECT_EQ(expected[expected.size() - 5], (Field{2, std::string(15000, 'Q')}));
  EXPECT_EQ(expected.back(), (Field{0, ""}));

  CsvHandle fileReader = OpenCsvFile((folder / "big.csv").c_str(), ',', 0);
  ASSERT_NE(fileReader, nullptr);
  EXPECT_EQ(readAll(fileReader, 40000), expected);
  EXPECT_EQ(CsvDelete(fileReader), -1);  // a file reader is closed, not deleted
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  EXPECT_EQ(CsvSetNextStr(fileReader, "a", -1, 1), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  EXPECT_EQ(CloseCsvFile(fileReader), 0);

  folder.write("empty.csv", "");
  CsvHandle empty = OpenCsvFile((folder / "empty.csv").c_str(), ',', 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(readAll(empty), (std::vector<Field>{{0, ""}}));
  EXPECT_EQ(CloseCsvFile(empty), 0);
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(CsvTest, FileReaderFailures) {
  TempFolder folder;
  EXPECT_EQ(OpenCsvFile((folder / "missing.csv").c_str(), ',', 0), nullptr);
  expectReported(2);
  CsvHandle textReader = CsvCreate("a", -1, ',', 0);
  EXPECT_EQ(CloseCsvFile(textReader), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
  CsvDelete(textReader);
  EXPECT_EQ(CsvDelete(nullptr), -1);
  expectReported(ZEMTA_ERR_BAD_PARAMETER);
}

// Text files.

std::string blockBytes(MemoryBlockHandle block) {
  const int32_t length = SeekMemory(block, 0, MEMORY_SEEK_END);
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  std::string bytes(length, '\0');
  EXPECT_EQ(ReadDataMemory(block, bytes.data(), length), length);
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  return bytes;
}

MemoryBlockHandle blockOf(const std::string& bytes) {
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  WriteDataMemory(block, bytes.data(), static_cast<uint32_t>(bytes.size()));
  return block;
}

TEST_F(CsvTest, TextFileRoundTrips) {
  TempFolder folder;
  const std::string path = folder / "text.txt";
  std::string content;
  for (int i = 0; i < 1200; ++i) content += "行" + std::to_string(i) + ",小計\r\n";  // past several 4096-byte pieces
  ASSERT_GT(content.size(), 12000u);

  EXPECT_EQ(CloseTextFile(blockOf(content), path.c_str(), 0, nullptr, nullptr), 0);
  EXPECT_EQ(folder.read("text.txt"), content);
  MemoryBlockHandle block = OpenTextFile(path.c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(SeekMemory(block, 0, MEMORY_SEEK_CURRENT), 0);
  char line[64];
  EXPECT_GT(ReadStringMemory(block, line, sizeof line), 0);
  EXPECT_STREQ(line, "行0,小計");
  EXPECT_EQ(blockBytes(block), content);

  // Appending adds to the end; without the flag the file is replaced.
  EXPECT_EQ(CloseTextFile(block, path.c_str(), 1, nullptr, nullptr), 0);
  EXPECT_EQ(folder.read("text.txt"), content + content);
  EXPECT_EQ(CloseTextFile(blockOf("short"), path.c_str(), 0, nullptr, nullptr), 0);
  EXPECT_EQ(folder.read("text.txt"), "short");
  EXPECT_EQ(CloseTextFile(blockOf("new"), (folder / "appended.txt").c_str(), 1, nullptr, nullptr), 0);
  EXPECT_EQ(folder.read("appended.txt"), "new");

  // A null path only frees the block.
  EXPECT_EQ(CloseTextFile(blockOf("kept out"), nullptr, 0, nullptr, nullptr), 0);

  folder.write("empty.txt", "");
  MemoryBlockHandle empty = OpenTextFile((folder / "empty.txt").c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(blockBytes(empty), "");
  EXPECT_EQ(CloseTextFile(empty, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(CsvTest, TextFileFailures) {
  TempFolder folder;
  uint32_t error = 0;
  // With an error pointer the open's failure is handed back, not shown.
  EXPECT_EQ(OpenTextFile((folder / "missing.txt").c_str(), nullptr, nullptr, &error), nullptr);
  EXPECT_EQ(error, 2u);
  EXPECT_EQ(box.count(), 0u);
  EXPECT_EQ(OpenTextFile((folder / "missing.txt").c_str(), nullptr, nullptr, nullptr), nullptr);
  expectReported(2);
  // A folder that does not exist: the block is freed, nothing is created.
  EXPECT_EQ(CloseTextFile(blockOf("x"), (folder / "no/such/file.txt").c_str(), 0, nullptr, nullptr), -1);
  expectReported(3);
}

}  // namespace
