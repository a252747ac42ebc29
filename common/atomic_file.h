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

#include <sys/types.h>

#include <string>
#include <utility>

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

// The whole of `content` as `path`.new, flushed to the disk and closed, for
// the caller to rename when a set of files takes its places together; on a
// failure nothing is left.
bool stage_file(const std::string& path, const std::string& content, FileFailure& failure);

// A file written whole many times in a run (a trip file per candidate
// timetable). Each version goes into the spare NAME.new, is flushed to the
// disk and then exchanged with NAME by name, so that NAME is at every moment
// one complete version and the spare, holding the version before, takes the
// next one in place: no file is made and none freed per version, which costs
// the file system more than the write. The spare is written over only while
// it is a regular file with no other name (otherwise it is made afresh as
// above, so that a link to an older version keeps it), and where names cannot
// be exchanged, or NAME does not exist yet, it takes NAME's place by rename.
// On a failure the spare is removed and NAME keeps what it held.
struct RewrittenFile {
  std::string path;
  std::string spare_path;
  int fd = -1;              // the spare, opened for the next version
  off_t spare_size = 0;     // the length of what the spare holds when opened
  bool spare_kept = false;  // spare_path holds this run's version before
  bool can_exchange = true;
  RewrittenFile() = default;
  explicit RewrittenFile(std::string name) : path(std::move(name)) {}
  RewrittenFile(const RewrittenFile&) = delete;
  RewrittenFile& operator=(const RewrittenFile&) = delete;
  // The spare goes with the run, also when the run stops on an error.
  ~RewrittenFile();
};

bool open_rewrite(RewrittenFile& file, FileFailure& failure);
bool commit_rewrite(RewrittenFile& file, const std::string& content, FileFailure& failure);
// Removes the spare (once the last version is written).
void remove_spare(RewrittenFile& file);

}  // namespace common
