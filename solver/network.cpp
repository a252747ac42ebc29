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

namespace {

// Network generation under way: arcs are numbered as they are made, long
// connections written as records.
struct NetworkBuilder {
  const Problem& problem;
  Network& net;
  LongArcWriter& writer;
  GroupLinkTable* links;  // where the groups' rule is in force
  int k = 0;              // the last arc made

  void add(int tail, int head, int lower, int upper, long long cost) {
    add_arc(net, ++k, tail, head, lower, upper, checked_cost(cost, 2 * problem.num_trips + 2), 0);
  }
};

// Trip i's connections to the later trips: short ones as arcs, long ones as
// records. The same decision as decide_connection, with what depends on trip
// i alone taken out of the loop; where the groups' rule is in force, only the
// later trips it allows are visited.
void add_connections(NetworkBuilder& b, int i) {
  const Problem& problem = b.problem;
  Network& net = b.net;
  const int T = problem.num_trips;
  const int num_nodes = 2 * T + 2;
  int k = b.k;  // in a local for the loop, given back at the end
  const ConnectionFrom from = connection_from(problem, problem.trips[i]);
  auto connect = [&](int j) {
    Connection c = connect_allowed(problem, from, problem.trips[j]);
    if (c.kind == ConnectionKind::short_arc) {
      add_arc(net, ++k, trip_end_node(T, i), trip_start_node(j), 0, 1, checked_cost(c.cost, num_nodes), 0);
    } else if (c.kind == ConnectionKind::long_record) {
      b.writer.write(trip_end_node(T, i), trip_start_node(j), checked_cost(c.cost, num_nodes), 0);
      ++net.num_long_arcs;
    }
  };
  if (b.links) {
    const std::vector<uint64_t>& allowed =
        b.links->trips_allowed_from(problem, static_cast<size_t>(b.links->class_of_trip[i]));
    // The allowed trips from i + 1 on, by their bits.
    const size_t first_word = static_cast<size_t>(i + 1) / 64;
    for (size_t w = first_word; w < allowed.size(); ++w) {
      uint64_t bits = w == first_word ? allowed[w] & (~uint64_t{0} << ((i + 1) % 64)) : allowed[w];
      for (; bits != 0; bits &= bits - 1) connect(static_cast<int>(w * 64) + std::countr_zero(bits));
    }
  } else {
    for (int j = i + 1; j <= T; ++j) connect(j);
  }
  b.k = k;
}

}  // namespace

void build_network(const Problem& problem, Network& net, const LongArcFile& long_arcs) {
  LongArcWriter writer{long_arcs, {}};
  writer.buffer.reserve(4096);

  std::printf("\nGenerating network...");
  const int T = problem.num_trips;
  net.num_long_arcs = 0;
  net.feasible = true;
  // Trips whose keys stand in the same groups' lists are linked alike, so the
  // rule is worked out once per pair of such classes.
  std::unique_ptr<GroupLinkTable> links;
  if (problem.link_preference_cost > 0) links = std::make_unique<GroupLinkTable>(make_group_link_table(problem));
  NetworkBuilder b{problem, net, writer, links.get()};
  for (int i = 1; i <= T; ++i) {
    const Trip& trip = problem.trips[i];
    b.add(depot_out_node(T), trip_start_node(i), 0, 1, pull_out_cost(problem, trip));
    b.add(trip_start_node(i), trip_end_node(T, i), 1, 1, 0);
    add_connections(b, i);
    b.add(trip_end_node(T, i), depot_in_node(T), 0, 1, pull_in_cost(problem, trip));
  }
  add_arc(net, ++b.k, depot_in_node(T), depot_out_node(T), 0, T, VEHICLE_COST, 0);
  writer.flush();

  net.num_short_arcs = b.k;
  std::printf("\nTotal of Nodes: %d", 2 * T + 2);
  std::printf("\nTotal of Short Arcs: %d", b.k);
  std::printf("\nTotal of Long Arcs: %d\n", net.num_long_arcs);
  net.num_arcs = b.k;
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
