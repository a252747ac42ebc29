#include "search/shift_search.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <random>
#include <thread>

#include "search/solver_check.h"
#include "solver/connection.h"

namespace search {

namespace {

using Clock = std::chrono::steady_clock;
using solver::connection_from;
using solver::connection_gap;
using solver::connection_slack;
using solver::ConnectionFrom;
using solver::ConnectionGap;
using solver::short_connection_cost;
constexpr int64_t MOVE_PRICE_UNDER_LIMIT = 25;
// What every second thread's annealing weighs each moved trip by, so that
// beside the searches for the cheapest timetable some look for timetables
// that save a vehicle with few moves.
constexpr int64_t MOVE_PRICE_FEW_MOVES = 30;
// Evaluations between two meetings of the threads.
constexpr int64_t EPOCH = 4096;
// Candidates turned down unevaluated in a row (by the limit on the moves or
// the headway rule) after which a phase has nothing left to try.
constexpr int64_t STUCK = 100000;

// What the threads share. Under a budget of evaluations they meet every
// EPOCH evaluations, and stop_all is written only while every thread still
// running waits there, so each reads it at the same point of its own run.
// Under the time budget alone they never wait for each other: a thread that
// reaches the bound stops the others at once.
struct Meeting;
struct AtMeeting {
  Meeting* meeting;
  void operator()() noexcept;
};
struct Meeting {
  std::barrier<AtMeeting> barrier;
  std::vector<std::atomic<bool>> reached;  // per thread: a timetable at the bound
  std::atomic<bool> stop_all{false};
  const bool lockstep;
  Meeting(int threads, bool in_lockstep)
      : barrier(threads, AtMeeting{this}), reached(static_cast<size_t>(threads)), lockstep(in_lockstep) {}
};
void AtMeeting::operator()() noexcept {
  for (const auto& r : meeting->reached)
    if (r.load()) meeting->stop_all.store(true);
}

// Whether a timetable with this vehicle count beats the one kept for it:
// fewer moves, then a lower cost.
bool improves(const std::map<int, ParetoPoint>& pareto, int vehicles, int moved, int64_t cost) {
  auto it = pareto.find(vehicles);
  return it == pareto.end() || moved < it->second.moved || (moved == it->second.moved && cost < it->second.cost);
}

// A connection that the present times miss by a few minutes, with the
// reduced cost its arc would have once the gap is closed: a vehicle that
// could be saved shows as a reduced cost near minus the vehicle cost.
struct Missed {
  int from, to;
  int minutes;  // how much the gap must grow
  int64_t reduced_cost;
};

void collect_missed(const ShiftNetwork& net, std::vector<Missed>& list) {
  list.clear();
  const Problem& p = net.current;
  const int T = net.num_trips;
  for (int i = 1; i <= T; ++i) {
    const Trip& a = p.trips[i];
    const ConnectionFrom from = connection_from(p, a);
    for (int x = net.conn_out_begin[i]; x < net.conn_out_begin[i + 1]; ++x) {
      int e = net.conn_out[x];
      if (net.cap[e] > 0) continue;
      int j = net.head[e] - T;
      const ConnectionGap gap = connection_gap(p, from, p.trips[j]);
      int slack = connection_slack(p, gap);
      if (slack >= 0) continue;
      int room = (net.shift[i] - net.lowest_shift[i]) + (net.highest_shift[j] - net.shift[j]);
      if (-slack > room) continue;
      // Its cost once the gap is closed exactly.
      int64_t cost = short_connection_cost(p, a.min_layover, gap, 0);
      int64_t rc = cost + net.pi[i] - net.pi[T + j];
      if (rc < 0) list.push_back({i, j, -slack, rc});
    }
  }
  std::sort(list.begin(), list.end(), [](const Missed& x, const Missed& y) {
    return x.reduced_cost != y.reduced_cost ? x.reduced_cost < y.reduced_cost
                                            : (x.from != y.from ? x.from < y.from : x.to < y.to);
  });
}

struct Search {
  ShiftNetwork& net;
  const SearchOptions& opt;
  SearchResult& result;
  Meeting& meeting;
  const int thread;
  const int64_t budget;  // this thread's evaluations; -1 no limit
  std::mt19937_64 rng;
  Clock::time_point start;
  Clock::time_point last_progress;
  int64_t best_objective = 0;
  // The best timetable whatever its number of moves, and whether the limit
  // on the moves holds in the present phase.
  int64_t free_best_objective = 0;
  std::vector<int> free_best_shift;
  bool limited = false;
  std::vector<Missed> missed;
  int64_t missed_at = -1;
  std::vector<TripShift> moves;
  HeadwayScratch headway_scratch;
  int64_t turned_down = 0;  // candidates in a row not evaluated
  bool reached = false;     // this thread met a timetable at the bound
  bool finishing = false;   // in the last phase, which the bound does not cut short

  Search(ShiftNetwork& n, const SearchOptions& o, SearchResult& r, Meeting& m, int t, int64_t b)
      : net(n), opt(o), result(r), meeting(m), thread(t), budget(b), rng(seed_of(o.seed, t)) {}

  static uint64_t seed_of(unsigned seed, int t) {
    return t == 0 ? seed : seed ^ (UINT64_C(0x9E3779B97F4A7C15) * static_cast<uint64_t>(t));
  }

  int64_t objective() const { return net.total_cost + opt.move_cost * net.moved; }
  // What the annealing weighs a candidate by. Under a limit on the moves a
  // move that buys nothing must not hold one of the few places, so each
  // moved trip costs at least a few minutes of layover there; so too in the
  // threads that look for few moves.
  int64_t steering() const {
    int64_t per_move = opt.move_cost;
    if (thread % 2 == 1) per_move = std::max(per_move, MOVE_PRICE_FEW_MOVES);
    else if (opt.max_moves >= 0) per_move = std::max(per_move, MOVE_PRICE_UNDER_LIMIT);
    return net.total_cost + per_move * net.moved;
  }
  double elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  double unit() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); }

  // A phase ends once the given share of the evaluations (when they are
  // counted) or of the time is used up. The bound reached (here or, as of
  // the last meeting, by another thread) ends every phase but the last; a
  // signal ends them all.
  bool past(double share, int64_t counter) {
    if (stop_signal() != 0 || turned_down >= STUCK) return true;
    if (budget >= 0 && static_cast<double>(result.evaluations) >= share * static_cast<double>(budget)) return true;
    if (!finishing && (reached || meeting.stop_all.load())) return true;
    return (counter & 15) == 0 && elapsed() >= share * opt.seconds;
  }

  void evaluated() {
    ++result.evaluations;
    turned_down = 0;
    if (meeting.lockstep && result.evaluations % EPOCH == 0) meeting.barrier.arrive_and_wait();
  }

  void note_state() {
    if (objective() < free_best_objective) {
      free_best_objective = objective();
      free_best_shift = net.shift;
    }
    if (opt.max_moves >= 0 && net.moved > opt.max_moves) return;
    if (opt.bound_vehicles >= 0 && net.vehicles <= opt.bound_vehicles && !reached) {
      reached = true;
      meeting.reached[static_cast<size_t>(thread)].store(true);
      if (!meeting.lockstep) meeting.stop_all.store(true);
    }
    if (improves(result.pareto, net.vehicles, net.moved, net.total_cost)) {
      ParetoPoint& point = result.pareto[net.vehicles];
      point.moved = net.moved;
      point.cost = net.total_cost;
      point.shift = net.shift;
    }
    int64_t f = objective();
    if (f < best_objective) {
      best_objective = f;
      result.best_shift = net.shift;
      result.best_cost = net.total_cost;
      result.best_vehicles = net.vehicles;
      result.best_moved = net.moved;
    }
  }

  void show_progress(const char* phase, double temperature) {
    if (!opt.progress) return;
    auto now = Clock::now();
    if (now - last_progress < std::chrono::milliseconds(250)) return;
    last_progress = now;
    std::fprintf(stderr,
                 "\r%s: evaluation %lld, temperature %.2f, current %lld, best %lld (%d vehicles, %d moved), %.0f s   ",
                 phase, static_cast<long long>(result.evaluations), temperature,
                 static_cast<long long>(net.total_cost), static_cast<long long>(result.best_cost),
                 result.best_vehicles, result.best_moved, elapsed());
    std::fflush(stderr);
  }

  // Evaluates the moves; keeps them when accept says so for the change of
  // the objective. The headway rule first makes the neighbours of the moved
  // trips follow; moves that would move more trips than allowed are not
  // evaluated.
  template <class Accept>
  bool try_moves(Accept accept) {
    if (moves.empty() || (opt.headway && !complete_moves(*opt.headway, net, headway_scratch, moves))) {
      ++turned_down;
      return false;
    }
    if (limited && opt.max_moves >= 0) {
      int moved = net.moved;
      for (const TripShift& m : moves) moved += (m.shift != 0) - (net.shift[m.trip] != 0);
      if (moved > opt.max_moves) {
        ++turned_down;
        return false;
      }
    }
    int64_t before = steering();
    apply_shifts(net, moves.data(), static_cast<int>(moves.size()));
    note_state();
    evaluated();
    if (accept(steering() - before)) {
      commit_shifts(net);
      return true;
    }
    undo_shifts(net);
    return false;
  }

  // One candidate: close a missed connection, move one trip, or take one
  // trip's shift back.
  void propose() {
    moves.clear();
    const int T = net.num_trips, M = net.max_shift;
    if (M == 0 || T == 0) return;
    if (missed_at < 0 || result.evaluations - missed_at >= 200) {
      collect_missed(net, missed);
      missed_at = result.evaluations;
    }
    double u = unit();
    if (u < 0.5 && !missed.empty()) {
      double r = unit();
      const Missed& c = missed[static_cast<size_t>(r * r * static_cast<double>(missed.size()))];
      int room_from = net.shift[c.from] - net.lowest_shift[c.from];
      int room_to = net.highest_shift[c.to] - net.shift[c.to];
      int lo = std::max(0, c.minutes - room_to), hi = std::min(c.minutes, room_from);
      if (lo > hi) return;
      int earlier = uniform(lo, hi);
      moves.push_back({c.from, net.shift[c.from] - earlier});
      moves.push_back({c.to, net.shift[c.to] + (c.minutes - earlier)});
      return;
    }
    if (u < 0.62 && net.moved > 0) {
      // A moved trip back to where it was read, or one minute towards it.
      for (int tries = 0; tries < 8; ++tries) {
        int k = uniform(1, T);
        if (net.shift[k] == 0) continue;
        int s = unit() < 0.5 ? 0 : net.shift[k] - (net.shift[k] > 0 ? 1 : -1);
        moves.push_back({k, s});
        return;
      }
    }
    int k = uniform(1, T);
    int lo = net.lowest_shift[k], hi = net.highest_shift[k];
    if (lo == hi) return;
    int s = uniform(lo, hi - 1);
    if (s >= net.shift[k]) ++s;
    moves.push_back({k, s});
  }

  void anneal(double until) {
    const double hot = 40.0, cold = 0.5;
    const int64_t cycle = 40000;
    int64_t step = 0;
    while (!past(until, step)) {
      double phase = static_cast<double>(step % cycle) / static_cast<double>(cycle);
      double temperature = hot * std::pow(cold / hot, phase);
      ++step;
      propose();
      try_moves([&](int64_t delta) {
        return delta <= 0 || unit() < std::exp(-static_cast<double>(delta) / temperature);
      });
      show_progress("search", temperature);
    }
  }

  void go_to(const std::vector<int>& shifts) { move_network_to(net, shifts); }

  // From the best timetable, takes shifts back one trip at a time while the
  // vehicle count holds; when none can go back any more, lets one more
  // vehicle in. Each level reached is a point of the moves-vehicles table.
  void take_moves_back(const std::vector<int> from, double until) {
    go_to(from);
    int level = net.vehicles;
    int64_t tried = 0;
    std::vector<int> order;
    while (net.moved > 0) {
      bool any = true;
      while (any && net.moved > 0) {
        any = false;
        order.clear();
        for (int k = 1; k <= net.num_trips; ++k)
          if (net.shift[k] != 0) order.push_back(k);
        std::shuffle(order.begin(), order.end(), rng);
        for (int k : order) {
          if (past(until, ++tried)) return;
          if (net.shift[k] == 0) continue;  // followed another trip back
          moves.assign(1, TripShift{k, 0});
          if (try_moves([&](int64_t) { return net.vehicles <= level; })) any = true;
          show_progress("fewer moves", 0);
        }
      }
      ++level;
    }
  }
};

}  // namespace

void move_network_to(ShiftNetwork& net, const std::vector<int>& shifts) {
  std::vector<TripShift> moves;
  for (int k = 1; k <= net.num_trips; ++k)
    if (net.shift[k] != shifts[k]) moves.push_back({k, shifts[k]});
  if (moves.empty()) return;
  apply_shifts(net, moves.data(), static_cast<int>(moves.size()));
  commit_shifts(net);
}

namespace {

// One thread's search, from the timetable read.
void search(ShiftNetwork& net, const SearchOptions& options, Meeting& meeting, int thread, int64_t budget,
            SearchResult& result) {
  Search s(net, options, result, meeting, thread, budget);
  s.start = Clock::now();
  s.last_progress = s.start;
  result.best_shift = net.shift;
  result.best_cost = net.total_cost;
  result.best_vehicles = net.vehicles;
  result.best_moved = net.moved;
  s.best_objective = s.free_best_objective = s.objective();
  s.free_best_shift = net.shift;
  s.note_state();
  if (options.max_moves == 0) {
    // The timetable read is the only one allowed.
  } else if (options.max_moves < 0) {
    s.anneal(0.9);
    s.finishing = true;
    s.take_moves_back(result.best_shift, 1.0);
  } else {
    // Under a limit, the timetables with few moves come best from one with
    // many: anneal freely, take moves back, then anneal within the limit
    // from the best timetable that keeps it.
    s.anneal(0.45);
    s.take_moves_back(s.free_best_shift, 0.6);
    s.go_to(result.best_shift);
    s.limited = true;
    s.anneal(0.9);
    s.finishing = true;
    s.take_moves_back(result.best_shift, 1.0);
  }
  s.go_to(result.best_shift);
  result.bound_reached = s.reached;
  result.seconds = s.elapsed();
}

// A thread leaves the meetings however its search ends, so that none waits
// for it; what stopped it is given to the caller.
void search_thread(ShiftNetwork& net, const SearchOptions& options, Meeting& meeting, int thread, int64_t budget,
                   SearchResult& result, std::exception_ptr& failure) {
  try {
    search(net, options, meeting, thread, budget, result);
  } catch (...) {
    failure = std::current_exception();
  }
  meeting.barrier.arrive_and_drop();
}

// The threads' results as one: the best timetable (ties to the fewer moves,
// then the lower thread) and, per vehicle count, the fewest moves.
void merge_results(const std::vector<SearchResult>& parts, int64_t move_cost, SearchResult& result) {
  result = parts[0];
  auto objective = [&](const SearchResult& r) { return r.best_cost + move_cost * r.best_moved; };
  for (size_t t = 1; t < parts.size(); ++t) {
    const SearchResult& r = parts[t];
    result.evaluations += r.evaluations;
    result.seconds = std::max(result.seconds, r.seconds);
    result.bound_reached = result.bound_reached || r.bound_reached;
    if (objective(r) < objective(result) || (objective(r) == objective(result) && r.best_moved < result.best_moved)) {
      result.best_shift = r.best_shift;
      result.best_cost = r.best_cost;
      result.best_vehicles = r.best_vehicles;
      result.best_moved = r.best_moved;
    }
    for (const auto& [vehicles, point] : r.pareto)
      if (improves(result.pareto, vehicles, point.moved, point.cost)) result.pareto[vehicles] = point;
  }
}

}  // namespace

void run_shift_search(ShiftNetwork& net, const SearchOptions& options, SearchResult& result) {
  const int threads = std::max(1, options.threads);
  std::vector<std::unique_ptr<ShiftNetwork>> copies;
  for (int t = 1; t < threads; ++t) copies.push_back(std::make_unique<ShiftNetwork>(net));
  std::vector<SearchResult> parts(static_cast<size_t>(threads));
  Meeting meeting(threads, options.max_evaluations >= 0);
  auto budget = [&](int t) {
    if (options.max_evaluations < 0) return int64_t{-1};
    return options.max_evaluations / threads + (t < options.max_evaluations % threads ? 1 : 0);
  };
  std::vector<std::exception_ptr> failures(static_cast<size_t>(threads));
  std::vector<std::thread> running;
  for (int t = 1; t < threads; ++t) {
    SearchOptions quiet = options;
    quiet.progress = false;
    running.emplace_back([&, t, quiet] {
      const size_t at = static_cast<size_t>(t);
      search_thread(*copies[at - 1], quiet, meeting, t, budget(t), parts[at], failures[at]);
    });
  }
  search_thread(net, options, meeting, 0, budget(0), parts[0], failures[0]);
  for (std::thread& th : running) th.join();
  if (options.progress) std::fputc('\n', stderr);
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
  merge_results(parts, options.move_cost, result);
  move_network_to(net, result.best_shift);
}

}  // namespace search
