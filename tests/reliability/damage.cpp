#include "tests/reliability/damage.h"

#include <set>

const char* damage_name(Damage damage) {
  switch (damage) {
    case Damage::line_cut:
      return "cut at a line end";
    case Damage::byte_cut:
      return "cut at a byte";
    case Damage::field_blanked:
      return "field blanked";
    case Damage::field_letters:
      return "field in letters";
  }
  return "?";
}

std::vector<DamagedCopy> line_cuts(const std::string& text) {
  std::vector<DamagedCopy> out;
  out.push_back({Damage::line_cut, "empty file", ""});
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '\n') out.push_back({Damage::line_cut, "after byte " + std::to_string(i + 1), text.substr(0, i + 1)});
  return out;
}

std::vector<DamagedCopy> byte_cuts(const std::string& text, int count) {
  std::vector<DamagedCopy> out;
  std::set<size_t> offsets;
  for (int k = 1; k <= count; ++k) {
    size_t at = text.size() * static_cast<size_t>(k) / static_cast<size_t>(count + 1) + static_cast<size_t>(k % 5);
    while (at < text.size() && at > 0 && text[at - 1] == '\n') ++at;  // line ends have their own cuts
    if (at > 0 && at < text.size()) offsets.insert(at);
  }
  for (size_t at : offsets) out.push_back({Damage::byte_cut, "after byte " + std::to_string(at), text.substr(0, at)});
  return out;
}

std::vector<DamagedCopy> every_byte_cut(const std::string& text) {
  std::vector<DamagedCopy> out;
  for (size_t at = 0; at < text.size(); ++at)
    out.push_back({Damage::byte_cut, "after byte " + std::to_string(at), text.substr(0, at)});
  return out;
}

namespace {

struct Line {
  size_t start = 0;
  size_t end = 0;  // the line end itself excluded
  std::vector<std::pair<size_t, size_t>> fields;  // [begin, end) in the text
  int kind = 0;                                   // 0 other, 1 trip line, 2 matrix row
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<Line> split_lines(const std::string& text) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    Line line{start, end, {}, 0};
    for (size_t p = start; p < end;) {
      while (p < end && is_blank(text[p])) ++p;
      size_t q = p;
      while (q < end && !is_blank(text[q])) ++q;
      if (q > p) line.fields.push_back({p, q});
      p = q;
    }
    const std::string content = text.substr(start, end - start);
    if (content.rfind("Trip", 0) == 0) {
      line.kind = 1;
    } else if (line.fields.size() >= 2) {
      bool all_times = true;
      for (size_t f = 1; f < line.fields.size(); ++f)
        all_times &= text.find(':', line.fields[f].first) < line.fields[f].second;
      if (all_times) line.kind = 2;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::vector<DamagedCopy> field_changes(const std::string& text) {
  std::vector<DamagedCopy> out;
  const std::vector<Line> lines = split_lines(text);
  for (size_t l = 0; l < lines.size(); ++l) {
    const Line& line = lines[l];
    if (line.fields.empty()) continue;
    std::vector<size_t> chosen;
    bool whole_line = line.kind == 0;
    if (!whole_line) {
      size_t first = l, last = l;
      while (first > 0 && lines[first - 1].kind == line.kind) --first;
      while (last + 1 < lines.size() && lines[last + 1].kind == line.kind) ++last;
      whole_line = l == first || l == last || l == (first + last) / 2;
    }
    if (whole_line) {
      for (size_t f = 0; f < line.fields.size(); ++f) chosen.push_back(f);
    } else {
      chosen.push_back(l % line.fields.size());
    }
    for (size_t f : chosen) {
      auto [begin, end] = line.fields[f];
      std::string where = "line " + std::to_string(l + 1) + " field " + std::to_string(f + 1);
      std::string blanked = text, letters = text;
      blanked.replace(begin, end - begin, end - begin, ' ');
      letters.replace(begin, end - begin, end - begin, 'x');
      out.push_back({Damage::field_blanked, where, blanked});
      out.push_back({Damage::field_letters, where, letters});
    }
  }
  return out;
}

std::vector<DamagedCopy> damaged_copies(const std::string& text, int byte_cut_count, int stride) {
  std::vector<DamagedCopy> all;
  for (auto part : {line_cuts(text), byte_cuts(text, byte_cut_count), field_changes(text)})
    all.insert(all.end(), part.begin(), part.end());
  if (stride <= 1) return all;
  // Sampled kind by kind, so that every kind keeps its share.
  std::vector<DamagedCopy> sampled;
  for (Damage damage : kAllDamage) {
    int seen = 0;
    for (const DamagedCopy& copy : all)
      if (copy.damage == damage && seen++ % stride == 0) sampled.push_back(copy);
  }
  return sampled;
}
