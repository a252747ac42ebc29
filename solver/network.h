// The circulation network: two nodes per trip and two depot nodes, the arc
// table with its forward-star lists, and the generation of the first network
// (pull-out, trip, short connection, pull-in and return arcs) together with the
// file of long connection records that arc generation prices later. Which
// trips connect is connection.h's to say.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/types.h>
#include <string>
#include <utility>
#include <vector>

#include "solver/connection.h"
#include "solver/problem.h"

namespace solver {

inline constexpr int MAX_NODES = 5470;
inline constexpr int MAX_ARCS = 683099;

// Largest cost either way that an arc of a network of num_nodes nodes may
// carry: node prices then stay within num_nodes times it, so that every
// reduced cost and every total fits in 32 bits.
inline long long max_arc_cost(int num_nodes) { return 2147483647LL / (4LL * (num_nodes + 1)); }

// Node numbering for T trips: start node of trip i is i, its end node T + i,
// the depot out node 2T + 1 and the depot in node 2T + 2.
inline int trip_start_node(int trip) { return trip; }
inline int trip_end_node(int num_trips, int trip) { return num_trips + trip; }
inline int depot_out_node(int num_trips) { return 2 * num_trips + 1; }
inline int depot_in_node(int num_trips) { return 2 * num_trips + 2; }

// Fresh zeroed memory in pages of 2 MB where the kernel has them, for a
// large table that a run fills from its start: one page fault then stands
// for 512 small ones, and on a virtual machine each fault is dear. A table
// written here and there stays on small pages (calloc), or its few touched
// spots would each cost the zeroing of 2 MB.
void* allocate_huge_pages(size_t bytes);
void free_huge_pages(void* p, size_t bytes);

// The arc tables take 27 MB, of which a small problem uses a sliver. Their
// memory comes zeroed (fresh pages for blocks this large) and the elements
// are not written again when the table is made, so the pages a run never
// uses are never touched. Tables made this way hold zeros like any other;
// only resize must not be used to grow them. HUGE_PAGES: see
// allocate_huge_pages.
template <class T, bool HUGE_PAGES = false>
struct ZeroedAllocator {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = ZeroedAllocator<U, HUGE_PAGES>;
  };
  ZeroedAllocator() = default;
  template <class U>
  ZeroedAllocator(const ZeroedAllocator<U, HUGE_PAGES>&) {}
  T* allocate(size_t n) {
    if constexpr (HUGE_PAGES) return static_cast<T*>(allocate_huge_pages(n * sizeof(T)));
    void* p = std::calloc(n, sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    if constexpr (HUGE_PAGES)
      free_huge_pages(p, n * sizeof(T));
    else
      std::free(p);
  }
  template <class U>
  void construct(U*) noexcept {}  // already zero
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  bool operator==(const ZeroedAllocator&) const { return true; }
};

// A table on the pages of allocate_huge_pages whose elements are made as in
// any vector (resize fills with zeros).
template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(allocate_huge_pages(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { free_huge_pages(p, n * sizeof(T)); }
  bool operator==(const HugePageAllocator&) const { return true; }
};
template <class T>
using HugeTable = std::vector<T, HugePageAllocator<T>>;

using ArcTable = std::vector<int, ZeroedAllocator<int, true>>;

struct Network {
  int num_nodes = 0;
  int num_arcs = 0;
  // Arc fields, positions 1..num_arcs.
  ArcTable tail = ArcTable(MAX_ARCS + 1);
  ArcTable head = ArcTable(MAX_ARCS + 1);
  ArcTable lower = ArcTable(MAX_ARCS + 1);
  ArcTable upper = ArcTable(MAX_ARCS + 1);
  ArcTable cost = ArcTable(MAX_ARCS + 1);
  ArcTable flow = ArcTable(MAX_ARCS + 1);
  // Forward-star lists in increasing arc number; 0 ends a list.
  std::vector<int> first_out = std::vector<int>(MAX_NODES + 1);
  std::vector<int> first_in = std::vector<int>(MAX_NODES + 1);
  ArcTable next_out = ArcTable(MAX_ARCS + 1);
  ArcTable next_in = ArcTable(MAX_ARCS + 1);
  // Last arc of each list, so that appending does not walk the list.
  std::vector<int> last_out = std::vector<int>(MAX_NODES + 1);
  std::vector<int> last_in = std::vector<int>(MAX_NODES + 1);

  int num_short_arcs = 0;  // arcs in memory when generation ends, every kind
  int num_long_arcs = 0;   // records written to the long-arc file
  bool feasible = true;    // false once no feasible circulation can exist
  // Counts the times prepare_network made the lists anew: tables kept from
  // an earlier solve describe another network once it has moved on.
  unsigned lists_made = 0;
};

// A solve's outcome. The network's feasible flag is the run's own state (once
// cleared it stays so, and every later solve ends at once); a solve reports
// it as this status.
enum class SolveStatus { optimal, infeasible };
inline SolveStatus solve_status(const Network& net) {
  return net.feasible ? SolveStatus::optimal : SolveStatus::infeasible;
}

// One record of the long-arc file: 16 bytes, four little-endian int32.
struct LongArcRecord {
  int32_t tail;
  int32_t head;
  int32_t cost;
  int32_t included;
};
static_assert(sizeof(LongArcRecord) == 16);

// Stores arc k; lists and num_arcs are the caller's business. Stops with a
// message when k lies beyond the arc table.
void add_arc(Network& net, int k, int tail, int head, int lower, int upper, int cost, int flow);
// Zero flows, clear and build every list in increasing arc number.
void prepare_network(Network& net);
// Appends arc a at the ends of its tail's out-list and its head's in-list.
void link_arc(Network& net, int a);

// The long-arc file of a run, open from network generation to the end of the
// solve loop, so that every pass reads the very file that was written.
struct LongArcFile {
  int fd = -1;
  std::string path;  // for messages
};

// Builds the first network from an already read problem and writes the long
// records to the empty long-arc file.
void build_network(const Problem& problem, Network& net, const LongArcFile& long_arcs);
// The same with the file long_arc_path (created or emptied, then closed).
void build_network(const Problem& problem, Network& net, const std::string& long_arc_path);

// Reads the problem from prefix + problem_name + its extensions, then builds
// the network.
void generate_network(const std::string& prefix, const std::string& problem_name, Problem& problem, Network& net,
                      const LongArcFile& long_arcs);

// The detail line of a failed access to the long-arc file: the system's
// reason, or `short_reason` when the call moved no byte without an error.
std::string long_arc_failure(const char* action, const LongArcFile& long_arcs, ssize_t result,
                             const char* short_reason);

}  // namespace solver
