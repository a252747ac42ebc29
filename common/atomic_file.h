// Files written whole or not at all. The text goes to NAME.new beside NAME,
// made afresh for this write: a leftover or planted NAME.new entry is
// removed first (the entry itself, never what a link points to) and the new
// file is created exclusively without following links. Every write, the
// flush to the disk and the close are checked; only then does NAME.new take
// NAME's place by rename. On any failure NAME.new is removed, NAME keeps what
// it held, and the failure names the file and the system's reason.
//
// Two writers of the same NAME must not run at once; the problem lock
// (common/problem_lock.h) sees to that for a problem's files.
#pragma once

#include <string>

#include "common/checked_file.h"

namespace common {

struct AtomicFile {
  CheckedFile file;  // write through file.stream
  std::string path;  // the name the file takes when committed
  std::string new_path;
};

bool open_atomic_file(const std::string& path, AtomicFile& out, FileFailure& failure);
// Puts the file in place; false (and nothing in place) when any write, the
// flush, the close or the rename failed.
bool commit_atomic_file(AtomicFile& out, FileFailure& failure);
// Removes the new file unwritten (after an error elsewhere).
void discard_atomic_file(AtomicFile& out);

// The whole of `content` as the file `path`, or nothing.
bool write_file_atomically(const std::string& path, const std::string& content, FileFailure& failure);

}  // namespace common
