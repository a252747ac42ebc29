// Scratch directories and whole-file reading and writing for the tests.
#pragma once

#include <string>

// A fresh empty directory under the system's temporary folder, ending in '/'.
std::string make_temp_dir(const std::string& tag);
void remove_dir(const std::string& dir);

// Empty when the file cannot be read.
std::string read_whole_file(const std::string& path);
// Throws when the file cannot be written whole.
void write_whole_file(const std::string& path, const std::string& content);
void copy_file(const std::string& from, const std::string& to);
