#include "common/run_end.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "common/common.h"

namespace common {

namespace {

constexpr int SLOTS = 4;
constexpr size_t PATH_CAPACITY = 4096;

// Written by the program, read by the handler: a slot counts only while its
// flag is set, and the flag is cleared before the path changes.
char g_paths[SLOTS][PATH_CAPACITY];
volatile sig_atomic_t g_in_use[SLOTS];
volatile sig_atomic_t g_child = 0;

void write_text(const char* text) {
  size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t w = ::write(STDERR_FILENO, text, length);
    if (w <= 0) return;
    text += w;
    length -= static_cast<size_t>(w);
  }
}

void on_signal(int signal_number) {
  if (g_child > 0) ::kill(static_cast<pid_t>(g_child), SIGTERM);
  for (int s = 0; s < SLOTS; ++s)
    if (g_in_use[s]) ::unlink(g_paths[s]);
  write_text("\nEnded by signal ");
  char digits[4] = {static_cast<char>('0' + signal_number / 10 % 10), static_cast<char>('0' + signal_number % 10),
                    '\n', '\0'};
  write_text(signal_number >= 10 ? digits : digits + 1);
  ::_exit(1);
}

}  // namespace

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigfillset(&action.sa_mask);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

void remove_on_interrupt(const std::string& path) {
  if (path.size() >= PATH_CAPACITY) return;
  for (int s = 0; s < SLOTS; ++s)
    if (g_in_use[s] && path == g_paths[s]) return;
  for (int s = 0; s < SLOTS; ++s)
    if (!g_in_use[s]) {
      std::memcpy(g_paths[s], path.c_str(), path.size() + 1);
      g_in_use[s] = 1;
      return;
    }
}

void forget_on_interrupt(const std::string& path) {
  for (int s = 0; s < SLOTS; ++s)
    if (g_in_use[s] && path == g_paths[s]) g_in_use[s] = 0;
}

void end_child_on_interrupt(pid_t child) { g_child = child; }

int report_unexpected_exception() {
  std::fflush(stdout);
  try {
    throw;
  } catch (const std::bad_alloc&) {
    std::fputs("\nOut of memory: the run is stopped.\n", stderr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "\nUnexpected error: %s. The run is stopped.\n", error.what());
  } catch (...) {
    std::fputs("\nUnexpected error: the run is stopped.\n", stderr);
  }
  pause_for_key();
  return 1;
}

}  // namespace common
