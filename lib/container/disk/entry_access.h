// The entry operations' inside, shared by the table layers (records,
// fields, columns, indexes, searches, cursor tables): handle checks, the
// access bracket, entry creation and lookup (entry.cpp).
#pragma once

#include <new>
#include <string>

#include "lib/container/disk/container_internal.h"
#include "lib/core/report.h"

namespace zemta::container {

// A failure inside an access bracket: thrown, reported when the bracket ends.
struct Failure {
  uint32_t code;  // 0: already reported
  int32_t line;
};
#define ENTRY_FAIL(code) throw Failure{static_cast<uint32_t>(code), __LINE__}

void report(const Failure& failure);

// What a handle argument stands for: the disk (root folder) or an entry.
struct Target {
  Disk* disk = nullptr;
  Entry* entry = nullptr;  // null for the root
};

bool resolveHandle(const void* handle, Target* target);

Entry* newEntry(Disk& disk);
void dropTree(Disk& disk, int32_t* tree);
bool accessed(const Entry& entry);
// Begins access to an entry (null: the disk alone); false when an access
// already under way is reused, which the caller then must not end.
bool beginAccess(Disk& disk, Entry* entry, uint32_t mode);
void endAccess(Disk& disk, Entry* entry, int32_t* result);
void attachTrees(Disk& disk, Entry& entry);
void readRecord(Disk& disk, int64_t position, uint8_t* record);
Entry* openHandleWithId(Disk& disk, uint64_t id, const Entry* except);
std::string fullPathOf(Disk& disk, const uint8_t* record);
void removeEntryAt(Disk& disk, int32_t folderTree, int64_t position, bool fromRecordDeletion);
void setOwnerName(Entry& entry, const char* name);
Entry* createAt(Disk& disk, const std::string& pathText, const char* path, int32_t length, const char* description,
                uint32_t flags, uint32_t keyType, uint32_t keyLength, const char* ownerName);
void openRecordStore(Disk& disk, Entry& table);
void loadOpenedEntry(Disk& disk, Entry& entry);

// Every entry of a handle: itself, its record store, its indexes.
template <typename Visit>
void forFamily(Entry& entry, Visit&& visit) {
  visit(entry);
  if (entry.store) visit(*entry.store);
  for (Entry* index : entry.indexes)
    if (index) visit(*index);
}

// Runs body inside the access bracket of a handle; failures are reported
// after the bracket ends.
template <typename Body>
int32_t withAccess(Disk& disk, Entry* entry, Body&& body) {
  int32_t result = 0;
  bool began = false;
  try {
    began = beginAccess(disk, entry, kImplicitMode);
  } catch (const Failure& failure) {
    report(failure);
    return -1;
  }
  int32_t value = -1;
  try {
    value = body();
  } catch (const Failure& failure) {
    report(failure);
    result = -1;
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    result = -1;
  }
  if (began) endAccess(disk, entry, &result);
  return result == 0 ? value : -1;
}

}  // namespace zemta::container
