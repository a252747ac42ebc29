#include "tests/support/run_program.h"
#include "tests/support/regex.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>

ProgramResult run_limited(const std::string& program, const std::string& dir, const RunLimits& limits) {
  int in_pipe[2], out_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(out_pipe[1], 2);
    close(in_pipe[0]);
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(out_pipe[1]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    for (const std::string& setting : limits.environment) putenv(const_cast<char*>(setting.c_str()));
    if (limits.file_size_limit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {static_cast<rlim_t>(limits.file_size_limit), static_cast<rlim_t>(limits.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    if (limits.memory_limit > 0) {
      struct rlimit limit = {static_cast<rlim_t>(limits.memory_limit), static_cast<rlim_t>(limits.memory_limit)};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    alarm(static_cast<unsigned>(limits.timeout_seconds));
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  signal(SIGPIPE, SIG_IGN);
  if (!limits.keep_stdin_open) {
    if (!limits.input.empty()) (void)!write(in_pipe[1], limits.input.data(), limits.input.size());
    close(in_pipe[1]);
  }
  std::thread interrupter;
  std::atomic<bool> ended{false};
  if (limits.interrupt_signal != 0)
    interrupter = std::thread([&] {
      for (int polls = 0; polls < limits.timeout_seconds * 1000 && !ended; ++polls) {
        if (std::filesystem::exists(limits.interrupt_when_exists)) {
          kill(pid, limits.interrupt_signal);
          return;
        }
        usleep(1000);
      }
    });
  ProgramResult result;
  char buffer[65536];
  ssize_t n;
  while ((n = read(out_pipe[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(n));
  close(out_pipe[0]);
  int status = 0;
  // Until it is waited for, an ended program is a zombie: a late signal
  // cannot reach another process.
  ended = true;
  if (interrupter.joinable()) interrupter.join();
  waitpid(pid, &status, 0);
  if (limits.keep_stdin_open) close(in_pipe[1]);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

ProgramResult run_program(const std::string& program, const std::string& dir, const std::string& input,
                          int timeout_seconds) {
  RunLimits limits;
  limits.timeout_seconds = timeout_seconds;
  limits.input = input;
  return run_limited(program, dir, limits);
}

std::string mask_times(const std::string& text) {
  static const std::regex date(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4})");
  static const std::regex clock(R"([0-9]{2,}:[0-9]{2}:[0-9]{2})");
  static const std::regex seconds(R"(Total time: [0-9.]+ seconds)");
  static const std::regex cpu(R"(CPU Time:      \t [0-9]+ )");
  std::string s = std::regex_replace(text, date, "<date>");
  s = std::regex_replace(s, clock, "<clock>");
  s = std::regex_replace(s, seconds, "Total time: <seconds> seconds");
  return std::regex_replace(s, cpu, "CPU Time:      \t <seconds> ");
}

