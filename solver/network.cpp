#include "solver/network.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/common.h"

using namespace common;

namespace solver {

void add_arc(Network& net, int k, int tail, int head, int lower, int upper, int cost, int flow) {
  if (k < 1 || k > MAX_ARCS)
    fatal_diagnostic("\nThe network needs more than %d arcs in memory, which is more than the solver holds.\n"
                     "Lower the short arc parameter or split the timetable.\n",
                     MAX_ARCS);
  net.tail[k] = tail;
  net.head[k] = head;
  net.lower[k] = lower;
  net.upper[k] = upper;
  net.cost[k] = cost;
  net.flow[k] = flow;
}

void link_arc(Network& net, int a) {
  net.next_out[a] = 0;
  net.next_in[a] = 0;
  int t = net.tail[a];
  if (net.first_out[t] == 0)
    net.first_out[t] = a;
  else
    net.next_out[net.last_out[t]] = a;
  net.last_out[t] = a;
  int h = net.head[a];
  if (net.first_in[h] == 0)
    net.first_in[h] = a;
  else
    net.next_in[net.last_in[h]] = a;
  net.last_in[h] = a;
}

void prepare_network(Network& net) {
  net.lists_made += 1;
  for (int n = 1; n <= net.num_nodes; ++n) {
    net.first_in[n] = 0;
    net.first_out[n] = 0;
    net.last_in[n] = 0;
    net.last_out[n] = 0;
  }
  for (int a = 1; a <= net.num_arcs; ++a) {
    net.flow[a] = 0;
    if (net.lower[a] > net.upper[a]) net.feasible = false;
  }
  for (int a = 1; a <= net.num_arcs; ++a) link_arc(net, a);
}

namespace {
bool list_has_member(const int* members, int key) {
  for (int s = 1; s < GROUP_LIST_SLOTS && members[s] != GROUP_END_MARKER; ++s)
    if (members[s] == key) return true;
  return false;
}
bool list_has_key(const float* keys, float key) {
  for (int s = 1; s < GROUP_LIST_SLOTS && keys[s] != static_cast<float>(GROUP_END_MARKER); ++s)
    if (keys[s] == key) return true;
  return false;
}
}  // namespace

namespace {
// A key truncated toward zero; a key beyond the integers matches no member.
int member_key(float key) {
  if (!(key > -2147483520.0f && key < 2147483520.0f)) return INT_MIN;
  return static_cast<int>(key);
}
}  // namespace

GroupMembership group_membership(const Problem& problem, float key) {
  static_assert(GROUP_ROWS <= 33, "one bit per group");
  const int k = member_key(key);
  GroupMembership m;
  for (int g = 1; g <= problem.num_groups && g < GROUP_ROWS; ++g) {
    const Group& group = problem.groups[g];
    const uint32_t bit = 1u << (g - 1);
    if (list_has_member(group.members, k)) m.member |= bit;
    if (list_has_key(group.from_keys, key)) m.from |= bit;
    if (list_has_key(group.to_keys, key)) m.to |= bit;
  }
  return m;
}

bool group_link_allowed(const Problem& problem, const GroupMembership& a, const GroupMembership& b) {
  // The flags carry over from one group to the next: a member match in an
  // earlier group still counts when a later group is examined.
  bool fa = false, fb = false;
  for (int g = 1; g <= problem.num_groups && g < GROUP_ROWS; ++g) {
    const uint32_t bit = 1u << (g - 1);
    if (a.member & bit) fa = true;
    if (b.member & bit) fb = true;
    if (fa && fb) {
      fa = (a.from & bit) != 0;
      fb = (b.to & bit) != 0;
    }
    if (fa && fb) return true;
  }
  return false;
}

bool group_link_allowed(const Problem& problem, float a, float b) {
  return group_link_allowed(problem, group_membership(problem, a), group_membership(problem, b));
}

GroupLinkTable make_group_link_table(const Problem& problem) {
  GroupLinkTable table;
  table.class_of_trip.assign(problem.num_trips + 1, 0);
  for (int i = 1; i <= problem.num_trips; ++i) {
    const GroupMembership m = group_membership(problem, problem.trips[i].group_key);
    size_t c = 0;
    while (c < table.classes.size() && !(table.classes[c] == m)) ++c;
    if (c == table.classes.size()) table.classes.push_back(m);
    table.class_of_trip[i] = static_cast<int>(c);
  }
  table.allowed.assign(table.classes.size() * table.classes.size(), -1);
  return table;
}

bool GroupLinkTable::allowed_for(const Problem& problem, int i, int j) {
  const size_t a = static_cast<size_t>(class_of_trip[i]);
  const signed char known = allowed[a * classes.size() + static_cast<size_t>(class_of_trip[j])];
  return known < 0 ? work_out(problem, a, class_of_trip[j]) : known != 0;
}

const std::vector<uint64_t>& GroupLinkTable::trips_allowed_from(const Problem& problem, size_t a) {
  if (allowed_trips.empty()) allowed_trips.resize(classes.size());
  std::vector<uint64_t>& bits = allowed_trips[a];
  if (!bits.empty()) return bits;
  bits.assign(class_of_trip.size() / 64 + 1, 0);
  for (size_t j = 1; j < class_of_trip.size(); ++j) {
    const int b = class_of_trip[j];
    const signed char known = allowed[a * classes.size() + static_cast<size_t>(b)];
    if (known < 0 ? work_out(problem, a, b) : known != 0) bits[j / 64] |= 1ull << (j % 64);
  }
  return bits;
}

bool GroupLinkTable::work_out(const Problem& problem, size_t a, int b) {
  const bool yes = group_link_allowed(problem, classes[a], classes[static_cast<size_t>(b)]);
  allowed[a * classes.size() + static_cast<size_t>(b)] = yes ? 1 : 0;
  return yes;
}

namespace {

// What a connection from one trip depends on, taken once for all the trips
// that may follow it.
struct ConnectionFrom {
  const int* dead_runs;  // from the trip's destination terminal
  int min_layover;
  int ready;             // arrival plus minimum layover
};

ConnectionFrom connection_from(const Problem& problem, const Trip& from) {
  return ConnectionFrom{problem.deadrun_matrix[from.destination_terminal], from.min_layover,
                        from.arrival_time + from.min_layover};
}

// The connection once the groups' rule allows the pair (or is not in force).
inline Connection connect_allowed(const Problem& problem, const ConnectionFrom& from, const Trip& to) {
  const Parameters& p = problem.params;
  int st = to.origin_terminal;
  // Readers bound every value in minutes, so these sums cannot overflow.
  int direct = from.dead_runs[st];
  int via_depot = from.dead_runs[0] + problem.deadrun_matrix[0][st];
  int available = to.departure_time - from.ready;

  bool groups = problem.link_preference_cost > 0;
  int slack = available - (groups ? min_of(direct, via_depot) : direct);
  Connection c;
  if (slack < 0) return c;
  // In 64 bits: a short-arc parameter near the top of the integers makes
  // every connection short, and must not wrap around.
  if (available < static_cast<long long>(via_depot) + p.short_arc_param) {
    // The direct dead run is charged even when the slack was measured via the depot.
    c.kind = ConnectionKind::short_arc;
    c.cost = static_cast<long long>(p.deadrun_weight) * direct +
             static_cast<long long>(p.layover_weight) * (from.min_layover + slack);
  } else {
    c.kind = ConnectionKind::long_record;
    c.cost = static_cast<long long>(p.deadrun_weight) * via_depot + p.short_arc_param;
  }
  return c;
}

}  // namespace

Connection decide_connection(const Problem& problem, int i, int j) { return decide_connection(problem, i, j, nullptr); }

Connection decide_connection(const Problem& problem, int i, int j, GroupLinkTable* links) {
  const Trip& from = problem.trips[i];
  const Trip& to = problem.trips[j];
  if (problem.link_preference_cost > 0 && !(links ? links->allowed_for(problem, i, j)
                                                  : group_link_allowed(problem, from.group_key, to.group_key)))
    return Connection{};
  return connect_allowed(problem, connection_from(problem, from), to);
}

namespace {

// Long records go out in blocks; the file holds the same bytes as with one
// write per record.
struct LongArcWriter {
  const LongArcFile& file;
  std::vector<LongArcRecord> buffer;

  void flush() {
    if (buffer.empty()) return;
    size_t bytes = buffer.size() * sizeof(LongArcRecord);
    const char* data = reinterpret_cast<const char*>(buffer.data());
    size_t done = 0;
    while (done < bytes) {
      ssize_t w = ::write(file.fd, data + done, bytes - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        fatal_with_detail(long_arc_failure("write", file, w, "no byte was written"), "Error writing to the file.\n");
      done += static_cast<size_t>(w);
    }
    buffer.clear();
  }
  void write(int tail, int head, int cost, int included) {
    buffer.push_back(LongArcRecord{tail, head, cost, included});
    if (buffer.size() >= 4096) flush();
  }
};

}  // namespace

namespace {
// Every cost, every total of a schedule and every node price must stay within
// 32-bit integers. Prices stay within the number of nodes times the largest
// arc cost, so that product is what has to fit.
int checked_cost(long long cost, int num_nodes) {
  const long long bound = max_arc_cost(num_nodes);
  if (cost > bound || cost < -bound)
    fatal_diagnostic("\nAn arc of this problem costs %lld, more than the %lld the solver can add up for %d nodes.\n"
                     "Lower the weights or the short arc parameter.\n",
                     cost, bound, num_nodes);
  return static_cast<int>(cost);
}
}  // namespace

std::string long_arc_failure(const char* action, const LongArcFile& long_arcs, ssize_t result,
                             const char* short_reason) {
  return std::string("cannot ") + action + " " + long_arcs.path + ": " +
         (result < 0 ? std::strerror(errno) : short_reason);
}

void build_network(const Problem& problem, Network& net, const std::string& long_arc_path) {
  LongArcFile file{::open(long_arc_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644),
                   long_arc_path};
  if (file.fd < 0) fatal_with_detail(long_arc_failure("create", file, -1, ""), "Error creating Temp file.\n");
  try {
    build_network(problem, net, file);
  } catch (...) {
    ::close(file.fd);
    throw;
  }
  ::close(file.fd);
}

void build_network(const Problem& problem, Network& net, const LongArcFile& long_arcs) {
  LongArcWriter writer{long_arcs, {}};
  writer.buffer.reserve(4096);

  std::printf("\nGenerating network...");
  const int T = problem.num_trips;
  const Parameters& p = problem.params;
  int k = 0;
  net.num_long_arcs = 0;
  net.feasible = true;
  // Trips whose keys stand in the same groups' lists are linked alike, so the
  // rule is worked out once per pair of such classes.
  std::unique_ptr<GroupLinkTable> links;
  if (problem.link_preference_cost > 0) links = std::make_unique<GroupLinkTable>(make_group_link_table(problem));
  for (int i = 1; i <= T; ++i) {
    const Trip& trip = problem.trips[i];
    add_arc(net, ++k, depot_out_node(T), trip_start_node(i), 0, 1,
            checked_cost(static_cast<long long>(p.deadrun_weight) * problem.deadrun_matrix[0][trip.origin_terminal],
                         2 * T + 2),
            0);
    add_arc(net, ++k, trip_start_node(i), trip_end_node(T, i), 1, 1, 0, 0);
    // The same decision as decide_connection, with what depends on trip i
    // alone taken out of the loop; where the groups' rule is in force, only
    // the later trips it allows are visited.
    const ConnectionFrom from = connection_from(problem, trip);
    auto connect = [&](int j) {
      Connection c = connect_allowed(problem, from, problem.trips[j]);
      if (c.kind == ConnectionKind::short_arc) {
        add_arc(net, ++k, trip_end_node(T, i), trip_start_node(j), 0, 1, checked_cost(c.cost, 2 * T + 2), 0);
      } else if (c.kind == ConnectionKind::long_record) {
        writer.write(trip_end_node(T, i), trip_start_node(j), checked_cost(c.cost, 2 * T + 2), 0);
        ++net.num_long_arcs;
      }
    };
    if (links) {
      const std::vector<uint64_t>& allowed =
          links->trips_allowed_from(problem, static_cast<size_t>(links->class_of_trip[i]));
      // The allowed trips from i + 1 on, by their bits.
      const size_t first_word = static_cast<size_t>(i + 1) / 64;
      for (size_t w = first_word; w < allowed.size(); ++w) {
        uint64_t bits = w == first_word ? allowed[w] & (~uint64_t{0} << ((i + 1) % 64)) : allowed[w];
        for (; bits != 0; bits &= bits - 1) connect(static_cast<int>(w * 64) + std::countr_zero(bits));
      }
    } else {
      for (int j = i + 1; j <= T; ++j) connect(j);
    }
    add_arc(net, ++k, trip_end_node(T, i), depot_in_node(T), 0, 1,
            checked_cost(static_cast<long long>(p.deadrun_weight) *
                             problem.deadrun_matrix[trip.destination_terminal][0],
                         2 * T + 2),
            0);
  }
  add_arc(net, ++k, depot_in_node(T), depot_out_node(T), 0, T, VEHICLE_COST, 0);
  writer.flush();

  net.num_short_arcs = k;
  std::printf("\nTotal of Nodes: %d", 2 * T + 2);
  std::printf("\nTotal of Short Arcs: %d", k);
  std::printf("\nTotal of Long Arcs: %d\n", net.num_long_arcs);
  net.num_arcs = k;
  net.num_nodes = 2 * T + 2;
  prepare_network(net);
}

void generate_network(const std::string& prefix, const std::string& problem_name, Problem& problem, Network& net,
                      const LongArcFile& long_arcs) {
  read_problem(prefix, problem, problem_name);
  build_network(problem, net, long_arcs);
}

namespace {
constexpr size_t HUGE_PAGE = size_t{2} << 20;
// The sanitizer watches the blocks of the allocator, not mappings of our own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool ADDRESS_SANITIZER = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool ADDRESS_SANITIZER = true;
#else
constexpr bool ADDRESS_SANITIZER = false;
#endif
#else
constexpr bool ADDRESS_SANITIZER = false;
#endif
size_t whole_huge_pages(size_t bytes) { return (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1); }
}  // namespace

void* allocate_huge_pages(size_t bytes) {
  if (bytes < HUGE_PAGE || ADDRESS_SANITIZER) {
    void* p = std::calloc(bytes, 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  // A mapping one page longer, trimmed to a run of whole pages on a 2 MB
  // boundary: the kernel gives a large page only to such a run.
  const size_t size = whole_huge_pages(bytes);
  void* mapped = mmap(nullptr, size + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  char* const start = static_cast<char*>(mapped);
  char* const aligned = start + ((HUGE_PAGE - reinterpret_cast<uintptr_t>(start) % HUGE_PAGE) % HUGE_PAGE);
  if (aligned != start) munmap(start, aligned - start);
  if (aligned + size != start + size + HUGE_PAGE) munmap(aligned + size, start + HUGE_PAGE - aligned);
  // Only advice: where the kernel has no large pages the table works on small ones.
  madvise(aligned, size, MADV_HUGEPAGE);
  return aligned;
}

void free_huge_pages(void* p, size_t bytes) {
  if (bytes < HUGE_PAGE || ADDRESS_SANITIZER)
    std::free(p);
  else
    munmap(p, whole_huge_pages(bytes));
}

}  // namespace solver
