// Damaged copies of an input file: cut at line ends and at byte offsets, and
// with single fields blanked or overwritten with letters, as a hand edit or
// an interrupted rewrite leaves them.
#pragma once

#include <string>
#include <vector>

enum class Damage { line_cut, byte_cut, field_blanked, field_letters };
inline constexpr Damage kAllDamage[] = {Damage::line_cut, Damage::byte_cut, Damage::field_blanked,
                                        Damage::field_letters};
const char* damage_name(Damage damage);

struct DamagedCopy {
  Damage damage;
  std::string where;  // for messages: offset, or line and field
  std::string content;
};

// Every line boundary.
std::vector<DamagedCopy> line_cuts(const std::string& text);
// `count` offsets spread over the file, not on line boundaries.
std::vector<DamagedCopy> byte_cuts(const std::string& text, int count);
// Every offset.
std::vector<DamagedCopy> every_byte_cut(const std::string& text);
// Each blank-separated field of each line, once blanked and once replaced by
// as many letters. Of a run of lines of the same kind (trip lines, matrix
// rows) the first, the middle and the last have every field changed, the
// others one field each, in turn.
std::vector<DamagedCopy> field_changes(const std::string& text);

// Every copy of a kind of damage, or every n-th when n > 1.
std::vector<DamagedCopy> damaged_copies(const std::string& text, int byte_cut_count, int stride);
