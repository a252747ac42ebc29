#include "search/result_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "common/atomic_file.h"

using namespace common;

namespace search {

namespace {

const char* const STAGED = ".new";

bool digits_between(const std::string& name, const std::string& prefix, const std::string& suffix) {
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  for (size_t c = prefix.size(); c < name.size() - suffix.size(); ++c)
    if (name[c] < '0' || name[c] > '9') return false;
  return true;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (const dirent* entry = ::readdir(d)) names.emplace_back(entry->d_name);
  ::closedir(d);
  return names;
}

// The renames and removals reach the disk before the list goes.
bool sync_directory(const std::string& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::string system_reason(const std::string& what, const std::string& path) {
  return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

// Carries out a decided list: "put NAME" renames NAME.new to NAME where the
// staged file is still there, "remove NAME" removes NAME. Done twice it does
// nothing more, so a run stopped halfway is finished by doing it again.
bool carry_out(const std::string& dir, const std::string& list, std::string& error) {
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    const bool put = line.rfind("put ", 0) == 0, remove = line.rfind("remove ", 0) == 0;
    const std::string name = line.substr(put ? 4 : remove ? 7 : 0);
    // Only the set's own names, whatever the list holds.
    if ((!put && !remove) || !is_result_file_name(name)) continue;
    const std::string path = dir + name;
    if (put && std::rename((path + STAGED).c_str(), path.c_str()) != 0 && errno != ENOENT) {
      error = system_reason("rename " + path + STAGED + " to", path);
      return false;
    }
    if (remove && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
      error = system_reason("remove", path);
      return false;
    }
  }
  const std::string list_path = dir + COMMIT_LIST_NAME;
  if (!sync_directory(dir) || (::unlink(list_path.c_str()) != 0 && errno != ENOENT)) {
    error = system_reason("remove", list_path);
    return false;
  }
  sync_directory(dir);
  return true;
}

void remove_staged(const std::string& dir, const std::vector<OutputFile>& files) {
  for (const OutputFile& f : files) ::unlink((dir + f.name + STAGED).c_str());
}

}  // namespace

bool is_result_file_name(const std::string& name) {
  return name == "Tarsel_best.bss" || name == "Tarsel_shifts.csv" || digits_between(name, "Tarsel_best_", ".bss") ||
         digits_between(name, "Tarsel_shifts_", ".csv");
}

bool finish_file_set(const std::string& dir, std::string& error) {
  std::FILE* in = std::fopen((dir + COMMIT_LIST_NAME).c_str(), "rb");
  if (!in) {
    // No change decided: staged files of a stopped run are only clutter.
    for (const std::string& name : names_in(dir)) {
      const size_t n = name.size(), s = std::strlen(STAGED);
      if (n > s && name.compare(n - s, s, STAGED) == 0 && is_result_file_name(name.substr(0, n - s)))
        ::unlink((dir + name).c_str());
    }
    return true;
  }
  std::string list;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) list.append(buffer, got);
  std::fclose(in);
  return carry_out(dir, list, error);
}

bool put_file_set(const std::string& dir, const std::vector<OutputFile>& files, std::string& error) {
  FileFailure failure;
  for (const OutputFile& f : files)
    if (!stage_file(dir + f.name, f.text, failure)) {
      remove_staged(dir, files);
      error = failure.text();
      return false;
    }
  std::string list;
  for (const OutputFile& f : files) list += "put " + f.name + "\n";
  for (const std::string& name : names_in(dir)) {
    if (!is_result_file_name(name)) continue;
    bool kept = false;
    for (const OutputFile& f : files) kept = kept || f.name == name;
    if (!kept) list += "remove " + name + "\n";
  }
  if (!write_file_atomically(dir + COMMIT_LIST_NAME, list, failure) || !sync_directory(dir)) {
    remove_staged(dir, files);
    ::unlink((dir + COMMIT_LIST_NAME).c_str());
    error = failure.error_number ? failure.text() : system_reason("write", dir + COMMIT_LIST_NAME);
    return false;
  }
  if (!carry_out(dir, list, error)) {
    error += "; the next run of shift_search in this directory finishes putting the files in place";
    return false;
  }
  return true;
}

}  // namespace search
