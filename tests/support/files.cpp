#include "tests/support/files.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

std::string make_temp_dir(const std::string& tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("tarsel_" + tag + "_XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  return std::string(buf.data()) + "/";
}

void remove_dir(const std::string& dir) {
  std::error_code ec;
  if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_whole_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

void copy_file(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}
