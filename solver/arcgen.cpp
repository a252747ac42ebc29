#include "solver/arcgen.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <memory>
#include <vector>

#include "common/common.h"

using namespace common;

namespace solver {

void append_arc(Network& net, int a, int tail, int head, int upper, int cost) {
  net.tail[a] = tail;
  net.head[a] = head;
  net.upper[a] = upper;
  net.cost[a] = cost;
  net.lower[a] = 0;
  link_arc(net, a);
}

int objective_value(const Network& net, int num_trips, int& vehicles) {
  int total = 0;
  for (int k = 1; k <= net.num_arcs; ++k) {
    total += net.flow[k] * net.cost[k];
    if (net.tail[k] == depot_in_node(num_trips) && net.head[k] == depot_out_node(num_trips)) vehicles = net.flow[k];
  }
  return total;
}

namespace {

struct Candidate {
  int rc;
  int position;
  LongArcRecord record;
};

// The best records of the current tail group, most negative first; an empty
// slot has reduced cost 0.
struct CandidateBuffer {
  Candidate slot[LONG_ARCS_PER_NODE + 1] = {};  // slots 1..40

  // The reduced cost a record must be below to get in.
  const int& worst() const { return slot[LONG_ARCS_PER_NODE].rc; }

  // For a record below worst(); kept out of the scanning loop, which calls it
  // for few records.
  [[gnu::noinline]] void insert(int rc, int position, const LongArcRecord& record) {
    Candidate* const last = slot + LONG_ARCS_PER_NODE;
    // Behind equal reduced costs: the earlier record wins ties.
    Candidate* at = std::upper_bound(slot + 1, last, rc, [](int value, const Candidate& c) { return value < c.rc; });
    std::copy_backward(at, last, last + 1);
    *at = Candidate{rc, position, record};
  }
};

struct Selection {
  std::vector<int> positions;
  std::vector<LongArcRecord> records;  // as read, beside their positions
  int most_negative = 0;
  int least_negative = INT_MIN;  // shown as 0 when nothing is chosen
};

// A stretch of the long-arc file as read, with the span of it that marks
// have changed since.
struct FileBlock {
  std::vector<LongArcRecord> records;
  int first = 0;  // position of records[0]
  int count = 0;  // whole records held
  int changed_from = INT_MAX, changed_to = -1;

  bool holds(int position) const { return position >= first && position - first < count; }
  void mark(int position) {
    records[static_cast<size_t>(position - first)].included = 1;
    changed_from = std::min(changed_from, position);
    changed_to = std::max(changed_to, position);
  }
};

// The records that join the network are marked in the file while the pass
// reads it: in the block that holds them (the current one or the one before,
// since a tail group of a file that network generation wrote is shorter than
// a block), or, for a longer group, afterwards from the file.
struct Marks {
  size_t room;  // records that can still join the arc table
  FileBlock* blocks[2];
  std::vector<int> beyond_blocks;

  void mark(int position) {
    for (FileBlock* b : blocks)
      if (b->holds(position)) return b->mark(position);
    beyond_blocks.push_back(position);
  }
};

void flush(CandidateBuffer& buffer, Selection& selection, Marks& marks) {
  for (int s = 1; s <= LONG_ARCS_PER_NODE && buffer.slot[s].rc < 0; ++s) {
    // The list has room for 40 records of every tail node a network can hold;
    // only a damaged file, whose tails do not come in groups, can fill it. The
    // records left out stay unincluded for a later pass.
    if (static_cast<int>(selection.positions.size()) >= SELECTION_CAPACITY) {
      buffer.slot[s].rc = 0;
      continue;
    }
    if (selection.positions.size() < marks.room) marks.mark(buffer.slot[s].position);
    selection.positions.push_back(buffer.slot[s].position);
    selection.records.push_back(buffer.slot[s].record);
    selection.most_negative = std::min(selection.most_negative, buffer.slot[s].rc);
    selection.least_negative = std::max(selection.least_negative, buffer.slot[s].rc);
    buffer.slot[s].rc = 0;
  }
}

// The result of the last failed call, for the message: negative with errno
// set, or 0 when the file ended.
ssize_t read_exact_at(int fd, void* data, size_t bytes, off_t offset) {
  size_t done = 0;
  char* p = static_cast<char*>(data);
  while (done < bytes) {
    ssize_t r = ::pread(fd, p + done, bytes - done, offset + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r;
    done += static_cast<size_t>(r);
  }
  return 1;
}

ssize_t write_exact_at(int fd, const void* data, size_t bytes, off_t offset) {
  size_t done = 0;
  const char* p = static_cast<const char*>(data);
  while (done < bytes) {
    ssize_t w = ::pwrite(fd, p + done, bytes - done, offset + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return w;
    done += static_cast<size_t>(w);
  }
  return 1;
}

// Writes the span of the block that marks changed: the same bytes as read
// but for the marks.
void write_back(const LongArcFile& file, FileBlock& block) {
  if (block.changed_to < 0) return;
  const size_t from = static_cast<size_t>(block.changed_from - block.first);
  const size_t count = static_cast<size_t>(block.changed_to - block.changed_from) + 1;
  ssize_t w = write_exact_at(file.fd, block.records.data() + from, count * sizeof(LongArcRecord),
                             static_cast<off_t>(block.changed_from) * 16);
  if (w <= 0) fatal_with_detail(long_arc_failure("write", file, w, "no byte was written"), "Error writing to the file.\n");
  block.changed_from = INT_MAX;
  block.changed_to = -1;
}

// Marks chosen records included in the file itself, for those that no block
// read in the pass held any more. They are visited by rising
// position and rewritten a stretch at a time, so that a pass costs a few
// hundred system calls instead of three per chosen record; every other byte
// of the file stays as it was.
void mark_included(const LongArcFile& file, std::vector<int> positions, std::vector<LongArcRecord>& stretch) {
  std::sort(positions.begin(), positions.end());
  const size_t span = stretch.size();
  size_t i = 0;
  while (i < positions.size()) {
    const int first = positions[i];
    size_t j = i;
    while (j < positions.size() && static_cast<size_t>(positions[j] - first) < span) ++j;
    const size_t count = static_cast<size_t>(positions[j - 1] - first) + 1;
    const off_t offset = static_cast<off_t>(first) * 16;
    ssize_t r = read_exact_at(file.fd, stretch.data(), count * sizeof(LongArcRecord), offset);
    if (r <= 0)
      fatal_with_detail(long_arc_failure("read", file, r, "the file is shorter than the records it had"),
                        "Error Reading File to update\n");
    for (size_t k = i; k < j; ++k) stretch[static_cast<size_t>(positions[k] - first)].included = 1;
    ssize_t w = write_exact_at(file.fd, stretch.data(), count * sizeof(LongArcRecord), offset);
    if (w <= 0) fatal_with_detail(long_arc_failure("write", file, w, "no byte was written"), "Error writing to the file.\n");
    i = j;
  }
}

}  // namespace

bool generate_arcs(Network& net, KilterState& ks, RunCounters& counters, int num_trips,
                   const std::string& long_arc_path, FILE* iteration_file) {
  LongArcFile file{::open(long_arc_path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC), long_arc_path};
  if (file.fd < 0)
    throw FatalError{"Error Opening Temp File.\n", 1, false, long_arc_failure("open", file, -1, "")};
  bool added = false;
  try {
    added = generate_arcs(net, ks, counters, num_trips, file, iteration_file);
  } catch (...) {
    ::close(file.fd);
    throw;
  }
  ::close(file.fd);
  return added;
}

namespace {

// One pass's reading of the long-arc file: the two blocks it reads into, the
// best records of the current tail group and what the pass has chosen.
struct ArcScan {
  static constexpr size_t BLOCK_RECORDS = 8192;
  const int* price;
  unsigned num_nodes;
  unsigned cost_bound;
  CandidateBuffer buffer;
  Selection selection;
  FileBlock blocks[2];
  Marks marks;
  // The tail group being read, and what its records share, taken when the
  // group begins.
  int current_tail = -1;
  bool tail_in_table = false;
  int tail_price = 0;

  ArcScan(const Network& net, const KilterState& ks)
      : price(ks.price.data()),
        num_nodes(static_cast<unsigned>(net.num_nodes)),
        cost_bound(static_cast<unsigned>(max_arc_cost(net.num_nodes))),
        marks{static_cast<size_t>(MAX_ARCS - net.num_arcs), {&blocks[0], &blocks[1]}, {}} {
    for (FileBlock& b : blocks) b.records.resize(BLOCK_RECORDS);
    selection.positions.reserve(4096);
    selection.records.reserve(4096);
  }
};

// Prices the whole records of one block, whose first is at `position` in the
// file. Inlined into the reading loop: it runs for every record of the file.
[[gnu::always_inline]] inline void price_block(ArcScan& scan, const LongArcRecord* records, size_t whole,
                                               int position) {
  const int* const price = scan.price;
  size_t k = 0;
  while (k < whole) {
    if (records[k].tail != scan.current_tail) {
      flush(scan.buffer, scan.selection, scan.marks);  // nothing to flush before the first group
      scan.current_tail = records[k].tail;
      scan.tail_in_table = static_cast<unsigned>(scan.current_tail) - 1u < scan.num_nodes;
      scan.tail_price = scan.tail_in_table ? price[scan.current_tail] : 0;
    }
    // The rest of the group in this block.
    const int tail = scan.current_tail;
    if (!scan.tail_in_table) {
      while (k < whole && records[k].tail == tail) ++k;
      continue;
    }
    const int tail_price = scan.tail_price;
    const unsigned num_nodes = scan.num_nodes, cost_bound = scan.cost_bound;
    for (; k < whole && records[k].tail == tail; ++k) {
      const LongArcRecord& rec = records[k];
      // Only a record that network generation could have written is priced:
      // a damaged one may name nodes outside the network or a cost whose
      // reduced cost would not fit in 32 bits (the cost lies in
      // -cost_bound..cost_bound when cost + cost_bound, taken unsigned, is
      // at most twice the bound).
      if (static_cast<unsigned>(rec.head) - 1u >= num_nodes ||
          static_cast<unsigned>(rec.cost) + cost_bound > 2 * cost_bound || rec.included != 0)
        continue;
      const int rc = rec.cost + tail_price - price[rec.head];
      if (rc < scan.buffer.worst()) scan.buffer.insert(rc, position + static_cast<int>(k), rec);
    }
  }
}

// Reads the file in large blocks, pricing every record and marking the
// chosen ones as it goes; a trailing piece shorter than a record is the end
// of the file, as a short read always was.
void scan_long_arc_file(const LongArcFile& long_arcs, ArcScan& scan) {
  FileBlock* block = &scan.blocks[0];
  FileBlock* previous = &scan.blocks[1];
  int position = 0;
  size_t carried = 0;
  off_t offset = 0;
  for (;;) {
    char* bytes = reinterpret_cast<char*>(block->records.data());
    ssize_t r = ::pread(long_arcs.fd, bytes + carried, ArcScan::BLOCK_RECORDS * sizeof(LongArcRecord) - carried,
                        offset);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) fatal_with_detail(long_arc_failure("read", long_arcs, r, ""), "Error Reading File to update\n");
    if (r == 0) break;
    offset += r;
    size_t available = carried + static_cast<size_t>(r);
    size_t whole = available / sizeof(LongArcRecord);
    block->first = position;
    block->count = static_cast<int>(whole);
    price_block(scan, block->records.data(), whole, position);
    position += static_cast<int>(whole);
    // No group that ends later has records in the block before this one.
    write_back(long_arcs, *previous);
    carried = available - whole * sizeof(LongArcRecord);
    char* next = reinterpret_cast<char*>(previous->records.data());
    if (carried > 0) std::copy(bytes + whole * sizeof(LongArcRecord), bytes + available, next);
    previous->count = 0;
    std::swap(block, previous);
  }
  flush(scan.buffer, scan.selection, scan.marks);
  write_back(long_arcs, *block);
  write_back(long_arcs, *previous);
  mark_included(long_arcs, scan.marks.beyond_blocks, scan.blocks[0].records);
}

// The chosen records join in selection order, from the copies taken while
// scanning (the file holds the same bytes at their positions), as far as the
// arc table has room; those that joined are marked in the file already.
void join_selected_arcs(Network& net, KilterState& ks, RunCounters& counters, const Selection& selection,
                        size_t room) {
  const size_t joining = std::min(selection.records.size(), room);
  const int arcs_before = net.num_arcs;
  for (size_t k = 0; k < joining; ++k) {
    const LongArcRecord& rec = selection.records[k];
    net.num_arcs += 1;
    counters.longs_included += 1;
    add_arc(net, net.num_arcs, rec.tail, rec.head, 0, 1, rec.cost, 0);
    append_arc(net, net.num_arcs, rec.tail, rec.head, 1, rec.cost);
  }
  note_appended_arcs(net, ks, arcs_before);
  if (joining < selection.records.size()) {
    fatal_diagnostic("\nArc generation needs more than %d arcs in memory, which is more than the solver holds.\n"
                     "Lower the short arc parameter or split the timetable.\n",
                     MAX_ARCS);
  }
}

}  // namespace

bool generate_arcs(Network& net, KilterState& ks, RunCounters& counters, int num_trips,
                   const LongArcFile& long_arcs, FILE* iteration_file) {
  std::time_t t0 = std::time(nullptr);
  auto scan = std::make_unique<ArcScan>(net, ks);
  scan_long_arc_file(long_arcs, *scan);
  Selection& selection = scan->selection;
  join_selected_arcs(net, ks, counters, selection, scan->marks.room);
  int secs = static_cast<int>(std::difftime(std::time(nullptr), t0));
  counters.disc_seconds += secs;

  int count = static_cast<int>(selection.positions.size());
  if (selection.positions.empty()) selection.least_negative = 0;
  int vehicles = 0;
  int total = objective_value(net, num_trips, vehicles);
  if (iteration_file)
    std::fprintf(iteration_file, "\t%s\t%d\t%d\t%d\t%d\t\t%d\n", format_hh_mm_ss(secs).c_str(), count,
                 selection.most_negative, selection.least_negative, total, vehicles);
  return count > 0;
}

}  // namespace solver
