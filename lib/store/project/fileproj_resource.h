// The inside of the resource functions (fileproj_resource.cpp, the format
// described there), shared with the project dialogs and the layout change,
// which moves the record offsets of form items.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/store/project/fileproj_internal.h"
#include "zemta/fileproj_resource.h"

namespace zemta::fileproj {

constexpr uint32_t kResourceHeaderLen = 16;
constexpr uint32_t kResourceItemLen = 64;

// Resource entry offsets.
constexpr size_t kResourceTitle = 0, kResourceTitleLen = 20, kResourceShownTitleLen = 16, kResourceFlags = 20,
                 kResourceAttribute = 24, kResourceTables = 26, kResourceFormWord = 54, kResourceFile = 56,
                 kResourceFileLen = 72;

// Item word byte offsets.
constexpr size_t kItemRecordOffset = 20, kItemFieldSize = 22;

struct ResourceForm {
  uint8_t format = 0;
  uint16_t version = 0;
  uint16_t width = 0, height = 0;
  std::vector<uint8_t> chars, attributes;
  std::array<uint8_t, 32> block{};
  std::vector<uint8_t> items;  // 64 bytes each
  int32_t itemPosition = 0;    // file position of the first item
  std::vector<uint8_t> trailer;
  std::vector<uint16_t> words;
};

// Loads a form; the data length (bit 30 for a header), or -1 after a report.
int32_t loadResource(const char* path, ResourceForm& form, int32_t* itemPosition);
// The path of an entry's file: project folder + folder 0 + file name.
std::string resourcePath(const Project& project, const uint8_t* entry);

uint32_t resourceFlags(const uint8_t* entry);
uint16_t resourceAttribute(const uint8_t* entry);
uint16_t resourceFormWord(const uint8_t* entry);
std::string resourceTitle(const uint8_t* entry);
std::string resourceFile(const uint8_t* entry);
bool resourceNamesTable(const uint8_t* entry, int32_t tableId);
// The first of the entry's table ids that is set and not tableId; tableId
// when there is none.
int32_t relatedTableId(const uint8_t* entry, int32_t tableId);

}  // namespace zemta::fileproj
