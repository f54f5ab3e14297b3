// The roll-back journal of a container disk: what keeps a disk whole when
// the process dies or the power fails between two of the many writes of one
// change (a tree split, an entry created, data written). The format is at
// the top of disk_journal.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "zemta/fileaccess.h"

namespace zemta::container {

// Before bytes of a journaled file change, their old contents are saved in
// its journal and the journal is put on the disk; length 0 means the file is
// cut at position. Files without a journal pass at once. False with the last
// error set when the journal cannot be written (the change must not go on).
bool journalBeforeWrite(ZemtaFileHandle file, int64_t position, uint32_t length);

// The journal's path for a disk file.
std::string journalPathOf(const std::string& diskPath);

// Journals the open file from now on; when a journal of an interrupted
// change is found, the file is first put back as it was before that change.
// rolledBack tells whether it was. False with the last error set.
bool journalAttach(ZemtaFileHandle file, const std::string& diskPath, bool* rolledBack);
// The file's changes so far are whole: flushes the file and drops the
// journal. False with the last error set (the journal then stays, and the
// next open rolls the change back).
bool journalCommit(ZemtaFileHandle file);
// Stops journaling the file (after a commit, before it is closed).
void journalDetach(ZemtaFileHandle file);

}  // namespace zemta::container
