// The files one run leaves in the problem directory, put in place as one
// set: Tarsel_best.bss and Tarsel_shifts.csv, and Tarsel_best_V.bss and
// Tarsel_shifts_V.csv per vehicle count V. A run's set replaces the whole set
// of the run before, per-count files it does not write included, so that the
// directory never holds files of two runs.
//
// How: every file is first written beside its name (NAME.new) and flushed to
// the disk; nothing has changed if any of them fails (a full disk). Then the
// list of names to put in place and to remove goes to Tarsel_search.commit,
// whose arrival decides the change; the renames and removals follow, and the
// list goes. A run stopped in between (killed, the machine down) leaves the
// list, and the next run finishes the change before it does anything else.
#pragma once

#include <string>
#include <vector>

namespace search {

inline constexpr const char* COMMIT_LIST_NAME = "Tarsel_search.commit";

struct OutputFile {
  std::string name;  // within the directory
  std::string text;
};

// Whether a name is one of the set's: Tarsel_best.bss, Tarsel_shifts.csv,
// Tarsel_best_V.bss, Tarsel_shifts_V.csv.
bool is_result_file_name(const std::string& name);

// Puts `files` in place in dir (ending in '/') and removes the other files of
// the set; false with the reason when the directory still holds the set of
// the run before (or, after a failed rename, when the next run finishes).
bool put_file_set(const std::string& dir, const std::vector<OutputFile>& files, std::string& error);

// Finishes a change a stopped run left decided (Tarsel_search.commit), or
// removes the staged files of one it left undecided.
bool finish_file_set(const std::string& dir, std::string& error);

}  // namespace search
