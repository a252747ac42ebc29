// Output files whose every write and whose close are checked. The stream
// keeps the first failure of the system calls beneath it, so a report cut
// short by a full disk or a file size limit is told apart from a complete
// one, and the message can give the system's reason.
#pragma once

#include <cstdio>
#include <string>

namespace common {

// Which file failed, at which step, and why; the second line of a message.
struct FileFailure {
  std::string path;
  std::string action;  // "create", "write", "rename", ...
  int error_number = 0;
  // "cannot write Tarsel.bla: No space left on device"
  std::string text() const;
};

struct CheckedFileState;

// Written through `stream` with the usual formatted output.
struct CheckedFile {
  std::FILE* stream = nullptr;
  std::string path;
  CheckedFileState* state = nullptr;
};

// Creates or empties `path` for writing, as mode "w" does.
bool open_checked_file(const std::string& path, CheckedFile& file, FileFailure& failure);
// Takes over an open descriptor (closed with the file); false when no stream
// can be made, and the descriptor is then closed.
bool adopt_checked_descriptor(int fd, const std::string& path, CheckedFile& file, FileFailure& failure);
bool is_open(const CheckedFile& file);
int checked_descriptor(const CheckedFile& file);

// Pushes what is buffered to the file; false once any write has failed.
bool flush_checked_file(CheckedFile& file, FileFailure& failure);
// Flushes and closes; false when a write or the close failed. The file is
// closed either way.
bool close_checked_file(CheckedFile& file, FileFailure& failure);
// Closes without looking at failures (after an error elsewhere).
void drop_checked_file(CheckedFile& file);

}  // namespace common
