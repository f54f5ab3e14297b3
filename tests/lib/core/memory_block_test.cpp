#include "zemta/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/core/memory_block.h"
#include "lib/core/report.h"
#include "support/scripted_message_box.h"

namespace {

using testing_support::ScriptedMessageBox;

// Every byte the block holds, read from the start; the position is kept.
std::string contents(MemoryBlockHandle block) {
  const uint32_t position = block->position;
  std::string bytes(block->length, '?');
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  EXPECT_EQ(ReadDataMemory(block, bytes.data(), block->length), static_cast<int32_t>(block->length));
  block->position = position;
  return bytes;
}

// A growable block of the given chunk size holding the given bytes, positioned
// at `position`.
MemoryBlockHandle blockOf(uint32_t chunkSize, const std::string& bytes, uint32_t position) {
  MemoryBlockHandle block = CreateMemory(nullptr, 0, chunkSize);
  EXPECT_EQ(WriteDataMemory(block, bytes.data(), bytes.size()), static_cast<int32_t>(bytes.size()));
  SeekMemory(block, static_cast<int32_t>(position), MEMORY_SEEK_BEGIN);
  return block;
}

class MemoryBlockTest : public ::testing::Test {
 protected:
  ScriptedMessageBox box;
};

TEST_F(MemoryBlockTest, GrowableWriteAllocatesChunksAsItGoes) {
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->chunkCount, 0u);
  EXPECT_EQ(WriteDataMemory(block, "0123456789", 10), 10);
  EXPECT_EQ(block->chunkCount, 3u);
  EXPECT_EQ(block->length, 10u);
  EXPECT_EQ(block->position, 10u);
  EXPECT_EQ(contents(block), "0123456789");
  EXPECT_EQ(WriteDataMemory(block, "x", 0), 0);
  DeleteMemory(block);
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(MemoryBlockTest, CreateRefusesZeroSizesWithoutReporting) {
  char buffer[8];
  EXPECT_EQ(CreateMemory(buffer, 0, 16), nullptr);
  EXPECT_EQ(CreateMemory(nullptr, 0, 0), nullptr);
  EXPECT_EQ(CreateMemory(buffer, 8, 0), nullptr);
  EXPECT_EQ(box.count(), 0u);
}

TEST_F(MemoryBlockTest, SeekOrigins) {
  MemoryBlockHandle block = blockOf(4, "abcdef", 0);
  EXPECT_EQ(SeekMemory(block, 2, MEMORY_SEEK_BEGIN), 2);
  EXPECT_EQ(SeekMemory(block, 3, MEMORY_SEEK_CURRENT), 5);
  EXPECT_EQ(SeekMemory(block, -1, MEMORY_SEEK_CURRENT), 4);
  EXPECT_EQ(SeekMemory(block, -2, MEMORY_SEEK_END), 4);
  EXPECT_EQ(SeekMemory(block, 10, MEMORY_SEEK_END), 16);  // past the end is allowed
  EXPECT_EQ(SeekMemory(block, 0, 0), -1);
  EXPECT_EQ(SeekMemory(block, 0, 4), -1);
  EXPECT_EQ(block->position, 16u);
  DeleteMemory(block);
}

TEST_F(MemoryBlockTest, WritePastTheEndFillsTheGapWithZeros) {
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4);
  EXPECT_EQ(SeekMemory(block, 20, MEMORY_SEEK_BEGIN), 20);
  EXPECT_EQ(WriteDataMemory(block, "x", 1), 1);
  EXPECT_EQ(block->length, 21u);
  EXPECT_EQ(contents(block), std::string(20, '\0') + "x");
  DeleteMemory(block);
}

// A delete used to leave the removed bytes behind the new end, and a later
// write past the end showed them again in the gap.
TEST_F(MemoryBlockTest, GapAfterADeleteReadsAsZerosNotOldBytes) {
  // Cut at the position.
  MemoryBlockHandle cut = blockOf(4, "ABCDEFGHIJ", 2);
  EXPECT_EQ(DeleteDataMemory(cut, 100), 8);
  EXPECT_EQ(SeekMemory(cut, 8, MEMORY_SEEK_BEGIN), 8);
  EXPECT_EQ(WriteDataMemory(cut, "z", 1), 1);
  EXPECT_EQ(contents(cut), std::string("AB\0\0\0\0\0\0z", 9));
  DeleteMemory(cut);

  // Removed from the middle: the tail moved down, its old place is cleared.
  MemoryBlockHandle middle = blockOf(4, "ABCDEFGH", 1);
  EXPECT_EQ(DeleteDataMemory(middle, 3), 3);
  EXPECT_EQ(contents(middle), "AEFGH");
  EXPECT_EQ(SeekMemory(middle, 2, MEMORY_SEEK_END), 7);
  EXPECT_EQ(WriteDataMemory(middle, "z", 1), 1);
  EXPECT_EQ(contents(middle), std::string("AEFGH\0\0z", 8));
  DeleteMemory(middle);
}

TEST_F(MemoryBlockTest, WritingPastTheChunkLimitStoresWhatFitsAndFails) {
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 1);
  SeekMemory(block, 4090, MEMORY_SEEK_BEGIN);
  EXPECT_EQ(WriteDataMemory(block, "0123456789", 10), -1);
  EXPECT_EQ(block->chunkCount, zemta::kMemoryMaxChunks);
  EXPECT_EQ(block->length, 4096u);
  EXPECT_EQ(contents(block).substr(4088), std::string("\0\0" "012345", 8));
  // Inserting more than fits changes nothing.
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  EXPECT_EQ(InsertDataMemory(block, "x", 1), -1);
  EXPECT_EQ(block->length, 4096u);
  EXPECT_EQ(contents(block).substr(4088), std::string("\0\0" "012345", 8));
  EXPECT_EQ(box.count(), 0u);
  DeleteMemory(block);
}

struct InsertCase {
  uint32_t chunkSize;
  const char* before;
  uint32_t position;
  const char* inserted;
  const char* after;
  uint32_t positionAfter;
};

TEST_F(MemoryBlockTest, InsertMovesTheRestUp) {
  const InsertCase cases[] = {
      {16, "ABC", 0, "xy", "xyABC", 2},
      {4, "ABCDEFGHIJ", 3, "12345", "ABC12345DEFGHIJ", 8},
      {3, "ABCDEFGHIJ", 9, "123456789", "ABCDEFGHI123456789J", 18},
      {1, "ABC", 1, "xyz", "AxyzBC", 4},
      {4, "ABC", 3, "de", "ABCde", 5},  // at the end: a plain write
  };
  for (const auto& c : cases) {
    MemoryBlockHandle block = blockOf(c.chunkSize, c.before, c.position);
    EXPECT_EQ(InsertStringMemory(block, c.inserted), static_cast<int32_t>(std::strlen(c.inserted)));
    EXPECT_EQ(contents(block), c.after) << c.before << " + " << c.inserted;
    EXPECT_EQ(block->position, c.positionAfter);
    DeleteMemory(block);
  }
}

struct DeleteCase {
  const char* before;
  uint32_t position;
  uint32_t count;
  int32_t result;
  const char* after;
};

TEST_F(MemoryBlockTest, DeleteRemovesAtThePositionWhichStays) {
  const DeleteCase cases[] = {
      {"ABCDE", 1, 2, 2, "ADE"},
      {"ABCDE", 1, 10, 4, "A"},
      {"ABCDE", 1, 4, 4, "A"},
      {"ABCDE", 0, 5, 5, ""},
      {"ABCDE", 5, 1, 0, "ABCDE"},
      {"ABCDE", 6, 1, -1, "ABCDE"},
  };
  for (uint32_t chunkSize : {1u, 2u, 4u, 64u}) {
    for (const auto& c : cases) {
      MemoryBlockHandle block = blockOf(chunkSize, c.before, c.position);
      EXPECT_EQ(DeleteDataMemory(block, c.count), c.result) << c.position << "+" << c.count;
      EXPECT_EQ(contents(block), c.after);
      EXPECT_EQ(block->position, c.position);
      DeleteMemory(block);
    }
  }
}

TEST_F(MemoryBlockTest, DeleteFreesOneChunkPerWholeChunkRemoved) {
  MemoryBlockHandle block = blockOf(4, "0123456789ABCDEF", 0);
  EXPECT_EQ(block->chunkCount, 4u);
  EXPECT_EQ(DeleteDataMemory(block, 9), 9);
  EXPECT_EQ(block->chunkCount, 2u);
  EXPECT_EQ(contents(block), "9ABCDEF");
  DeleteMemory(block);
}

// Random writes, inserts, deletes and seeks against a plain string, over chunk
// sizes that put the chunk boundaries everywhere.
TEST_F(MemoryBlockTest, BehavesLikeAByteStringAcrossChunkBoundaries) {
  std::mt19937 random(1234);
  for (uint32_t chunkSize : {1u, 3u, 7u, 64u}) {
    MemoryBlockHandle block = CreateMemory(nullptr, 0, chunkSize);
    std::string model;
    uint32_t position = 0;
    for (int step = 0; step < 400; ++step) {
      const uint32_t choice = random() % 4;
      std::string bytes(random() % 12 + 1, '\0');
      for (char& b : bytes) b = static_cast<char>('a' + random() % 26);
      if (choice == 0) {
        position = random() % (model.size() + 6);
        ASSERT_EQ(SeekMemory(block, position, MEMORY_SEEK_BEGIN), static_cast<int32_t>(position));
      } else if (choice == 1) {
        ASSERT_EQ(WriteDataMemory(block, bytes.data(), bytes.size()), static_cast<int32_t>(bytes.size()));
        if (model.size() < position + bytes.size()) model.resize(position + bytes.size(), '\0');
        model.replace(position, bytes.size(), bytes);
        position += bytes.size();
      } else if (choice == 2) {
        ASSERT_EQ(InsertDataMemory(block, bytes.data(), bytes.size()), static_cast<int32_t>(bytes.size()));
        if (model.size() < position) model.resize(position, '\0');
        model.insert(position, bytes);
        position += bytes.size();
      } else {
        const uint32_t count = random() % 20;
        const int32_t expected =
            position > model.size() ? -1 : static_cast<int32_t>(std::min<size_t>(count, model.size() - position));
        ASSERT_EQ(DeleteDataMemory(block, count), expected);
        if (expected > 0) model.erase(position, expected);
      }
      ASSERT_EQ(contents(block), model) << "chunk size " << chunkSize << ", step " << step;
      ASSERT_EQ(block->position, position);
    }
    DeleteMemory(block);
  }
}

TEST_F(MemoryBlockTest, FixedBlockWritesWithinTheCallersBuffer) {
  char buffer[8] = {};
  MemoryBlockHandle block = CreateMemory(buffer, sizeof buffer, 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->chunkSize, 8u);
  EXPECT_EQ(SeekMemory(block, 5, MEMORY_SEEK_BEGIN), 5);
  EXPECT_EQ(WriteDataMemory(block, "0123456789", 10), 3);
  EXPECT_EQ(std::string(buffer, 8), std::string("\0\0\0\0\0" "012", 8));
  EXPECT_EQ(block->length, 0u);
  // The length stays 0: from the end means from the start of the buffer.
  EXPECT_EQ(SeekMemory(block, 6, MEMORY_SEEK_END), 6);
  char read[8] = {};
  EXPECT_EQ(ReadDataMemory(block, read, 8), 2);
  EXPECT_EQ(std::string(read, 2), "12");
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  EXPECT_EQ(InsertDataMemory(block, "x", 1), -1);
  EXPECT_EQ(DeleteDataMemory(block, 1), -1);
  EXPECT_EQ(box.count(), 0u);
  DeleteMemory(block);  // the buffer is the caller's and stays
  EXPECT_EQ(buffer[7], '2');
}

// A position past a fixed buffer once made "buffer length - position" wrap
// around into a huge count that wrote over the caller's memory.
TEST_F(MemoryBlockTest, FixedBlockRefusesAPositionPastItsBuffer) {
  char memory[24];
  std::memset(memory, '#', sizeof memory);
  char* buffer = memory + 8;
  MemoryBlockHandle block = CreateMemory(buffer, 8, 8);
  for (int32_t position : {9, 100, -1}) {
    box.clear();
    SeekMemory(block, position, MEMORY_SEEK_BEGIN);
    char line[16] = "unchanged";
    EXPECT_EQ(WriteDataMemory(block, "0123456789", 10), -1);
    EXPECT_EQ(WriteStringMemory(block, "abc"), -1);
    EXPECT_EQ(ReadDataMemory(block, line, sizeof line), 0);
    EXPECT_EQ(ReadStringMemory(block, line, sizeof line), 0);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(SearchStringMemory(block, "a"), -1);
    ASSERT_EQ(box.count(), 5u);
    for (const auto& shown : box.shown()) EXPECT_EQ(shown.text, zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  }
  EXPECT_EQ(std::string(memory, sizeof memory), std::string(24, '#'));
  // Right at the end is no error: nothing is left to read or write.
  box.clear();
  SeekMemory(block, 8, MEMORY_SEEK_BEGIN);
  EXPECT_EQ(WriteDataMemory(block, "x", 1), 0);
  EXPECT_EQ(box.count(), 0u);
  DeleteMemory(block);
}

struct LineCase {
  uint32_t chunkSize;  // 0: a fixed block over exactly the bytes
  std::string bytes;
  uint32_t size;
  std::vector<std::string> lines;
};

TEST_F(MemoryBlockTest, ReadStringReadsCrLfLines) {
  const LineCase cases[] = {
      {4, "a\r\n\r\nb", 16, {"a", "b"}},
      {0, "a\r\n\r\nb", 16, {"a", "b"}},
      {3, "ab\r\ncd\r\n", 16, {"ab", "cd"}},       // CR LF across two chunks
      {1, "\r\n\r\nx\r\n\r\n", 16, {"x"}},
      {4, "abcdef\r\ngh", 4, {"abc", "def", "gh"}},  // longer than the destination
      {4, "abc\r\nd", 4, {"abc", "d"}},
      {4, "abc\r\nd", 5, {"abc", "d"}},             // CR the last byte taken, LF the next
      {2, "x\r\ny\x1A", 16, {"x", "y"}},             // end-of-file mark dropped
      {0, "only", 16, {"only"}},
  };
  for (const auto& c : cases) {
    std::string fixed = c.bytes;
    MemoryBlockHandle block = c.chunkSize ? blockOf(c.chunkSize, c.bytes, 0)
                                          : CreateMemory(fixed.data(), fixed.size(), 1);
    std::vector<std::string> lines;
    char line[32];
    for (int32_t length; (length = ReadStringMemory(block, line, c.size)) > 0;) {
      EXPECT_EQ(length, static_cast<int32_t>(std::strlen(line)));
      lines.push_back(line);
    }
    EXPECT_STREQ(line, "") << c.bytes;
    EXPECT_EQ(lines, c.lines) << c.bytes;
    DeleteMemory(block);
  }
}

TEST_F(MemoryBlockTest, ReadStringWithSizeZeroWritesNothing) {
  MemoryBlockHandle block = blockOf(4, "abc\r\n", 0);
  char line[4] = "zzz";
  EXPECT_EQ(ReadStringMemory(block, line, 0), 0);
  EXPECT_STREQ(line, "zzz");
  EXPECT_EQ(ReadStringMemory(block, line, 1), 0);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(block->position, 0u);
  DeleteMemory(block);
}

TEST_F(MemoryBlockTest, SearchStringFindsTheLineAndStandsAtItsStart) {
  MemoryBlockHandle block = blockOf(5, "apple\r\n\r\nbanana\r\ncherry\r\n", 0);
  EXPECT_EQ(SearchStringMemory(block, "nan"), 11);
  EXPECT_EQ(block->position, 9u);
  EXPECT_EQ(SearchStringMemory(block, "ban"), 9);  // found again from the line's start
  EXPECT_EQ(SearchStringMemory(block, "rry"), 20);
  EXPECT_EQ(SearchStringMemory(block, "apple"), -1);  // behind the position
  EXPECT_EQ(block->position, block->length);
  SeekMemory(block, 0, MEMORY_SEEK_BEGIN);
  EXPECT_EQ(SearchStringMemory(block, "apple"), 0);
  EXPECT_EQ(SearchStringMemory(block, ""), -1);
  DeleteMemory(block);
}

TEST_F(MemoryBlockTest, NullHandleIsReportedAsABadPointer) {
  char bytes[4] = {};
  struct Call {
    const char* name;
    int32_t (*call)(char*);
    int32_t result;
  };
  const Call calls[] = {
      {"SeekMemory", [](char*) { return SeekMemory(nullptr, 0, 1); }, -1},
      {"ReadDataMemory", [](char* b) { return ReadDataMemory(nullptr, b, 4); }, 0},
      {"WriteDataMemory", [](char* b) { return WriteDataMemory(nullptr, b, 4); }, -1},
      {"InsertDataMemory", [](char* b) { return InsertDataMemory(nullptr, b, 4); }, -1},
      {"DeleteDataMemory", [](char*) { return DeleteDataMemory(nullptr, 4); }, -1},
      {"ReadStringMemory", [](char* b) { return ReadStringMemory(nullptr, b, 4); }, 0},
      {"WriteStringMemory", [](char*) { return WriteStringMemory(nullptr, "ab"); }, -1},
      {"InsertStringMemory", [](char*) { return InsertStringMemory(nullptr, "ab"); }, -1},
      {"SearchStringMemory", [](char*) { return SearchStringMemory(nullptr, "ab"); }, -1},
      {"DeleteMemory", [](char*) { DeleteMemory(nullptr); return 7; }, 7},
  };
  for (const auto& c : calls) {
    box.clear();
    EXPECT_EQ(c.call(bytes), c.result) << c.name;
    ASSERT_EQ(box.count(), 1u) << c.name;
    EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_POINTER)) << c.name;
  }
}

}  // namespace
