#include "search/solver_check.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace search {

namespace {

volatile sig_atomic_t g_stop_signal = 0;
volatile sig_atomic_t g_child = 0;

void on_stop_signal(int signal_number) {
  g_stop_signal = signal_number;
  if (g_child > 0) ::kill(static_cast<pid_t>(g_child), SIGTERM);
}

std::string own_directory() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  std::string p(path, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "" : p.substr(0, slash + 1);
}

std::string solver_path() {
  std::string beside = own_directory() + "Tovarin";
  if (!beside.empty() && access(beside.c_str(), X_OK) == 0) return beside;
  return "Tovarin";
}

bool read_text(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

bool copy_if_present(const std::string& from, const std::string& to, std::string& failure) {
  std::string text;
  if (!read_text(from, text)) return errno == ENOENT;
  std::ofstream out(to, std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    failure = "cannot write " + to;
    return false;
  }
  return true;
}

// Runs Tovarin in dir, its console into dir/console.txt; returns its exit
// status as waitpid gives it, or -1 when it could not start.
int run_in(const std::string& dir, const std::string& program) {
  std::string console = dir + "console.txt";
  if (g_stop_signal != 0) return -1;
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    close(in);
    close(out);
    char name[] = "Tovarin";
    char* args[] = {name, nullptr};
    if (program.find('/') != std::string::npos)
      execv(program.c_str(), args);
    else
      execvp(program.c_str(), args);
    _exit(127);
  }
  // A signal that came before the handler knew the child ends it here.
  g_child = child;
  if (g_stop_signal != 0) ::kill(child, SIGTERM);
  int status = 0;
  int result;
  while ((result = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  g_child = 0;
  return result < 0 ? -1 : status;
}

}  // namespace

namespace {

// The parameter file, the optional groups file and the trip file in the
// scratch directory; false, with the reason, when one cannot be put there.
bool stage_problem(const std::string& problem_dir, const std::string& dir, const std::string& trip_file,
                   std::string& failure) {
  bool ready = copy_if_present(problem_dir + "Tarsel.ini", dir + "Tarsel.ini", failure) &&
               copy_if_present(problem_dir + "Tarsel.prr", dir + "Tarsel.prr", failure);
  if (ready) {
    std::ofstream out(dir + "Tarsel.bss", std::ios::binary);
    out << trip_file;
    out.close();
    if (!out) {
      ready = false;
      failure = "cannot write " + dir + "Tarsel.bss";
    }
  }
  if (!ready && failure.empty()) failure = "cannot copy the problem's files";
  return ready;
}

// Runs Tovarin in the scratch directory and takes its total and vehicles.
void solve_staged(const std::string& dir, SolverCheck& check) {
  const std::string program = solver_path();
  int status = run_in(dir, program);
  std::string console, sol, arm;
  read_text(dir + "console.txt", console);
  if (g_stop_signal != 0) {
    check.failure = "stopped by signal " + std::to_string(g_stop_signal);
  } else if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !read_text(dir + "Tarsel.sol", sol)) {
    check.failure = program + " did not solve the timetable (" +
                    (status < 0 ? std::string("not started")
                     : WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status))
                                         : "signal " + std::to_string(WTERMSIG(status))) +
                    "):\n" + console;
  } else {
    long long cost = 0;
    int vehicles = -1;
    if (std::sscanf(sol.c_str(), "%lld", &cost) != 1) {
      check.failure = "Tarsel.sol holds no number";
      return;
    }
    read_text(dir + "Tarsel.arm", arm);
    size_t at = arm.find("Num Buses:");
    if (at != std::string::npos) std::sscanf(arm.c_str() + at + 10, "%d", &vehicles);
    check.ran = true;
    check.total_cost = cost;
    check.vehicles = vehicles;
  }
}

}  // namespace

SolverCheck check_with_solver(const std::string& problem_dir, const std::string& trip_file) {
  SolverCheck check;
  std::string base = std::filesystem::temp_directory_path().string() + "/shift_search.XXXXXX";
  std::string dir_buffer = base;
  if (!mkdtemp(dir_buffer.data())) {
    check.failure = std::string("cannot make a scratch directory: ") + std::strerror(errno);
    return check;
  }
  const std::string dir = dir_buffer + "/";
  if (stage_problem(problem_dir, dir, trip_file, check.failure)) solve_staged(dir, check);
  std::error_code ignored;
  std::filesystem::remove_all(dir_buffer, ignored);
  return check;
}

void install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigfillset(&action.sa_mask);
  // No SA_RESTART: the wait for Tovarin returns, and is taken up again.
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

int stop_signal() { return g_stop_signal; }

}  // namespace search
