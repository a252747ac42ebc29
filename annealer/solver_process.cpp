#include "annealer/solver_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/common.h"
#include "common/run_end.h"

using namespace common;

extern char** environ;

namespace annealer {


namespace {
constexpr const char* SOLVER_NAME = "Tovarin";
}

std::string find_solver() {
  char own_path[4096];
  ssize_t length = readlink("/proc/self/exe", own_path, sizeof own_path - 1);
  if (length > 0) {
    std::string path(own_path, static_cast<size_t>(length));
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
      std::string beside = path.substr(0, slash + 1) + SOLVER_NAME;
      if (access(beside.c_str(), X_OK) == 0) return beside;
    }
  }
  return SOLVER_NAME;
}

void run_solver_process(const std::string& solver_path, const std::string& solution_file_name) {
  if (std::remove(solution_file_name.c_str()) != 0 && errno != ENOENT)
    fatal_diagnostic("\nN\xE3o foi poss\xEDvel apagar o arquivo %s: %s\n", solution_file_name.c_str(), std::strerror(errno));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  char name[] = "Tovarin";
  char* arguments[] = {name, nullptr};
  std::fflush(stdout);
  pid_t child = 0;
  int error = solver_path.find('/') != std::string::npos
                  ? posix_spawn(&child, solver_path.c_str(), &actions, nullptr, arguments, environ)
                  : posix_spawnp(&child, solver_path.c_str(), &actions, nullptr, arguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0)
    fatal_diagnostic("\nN\xE3o foi poss\xEDvel iniciar o %s: %s\nA execu\xE7\xE3o sera interrompida.\n", solver_path.c_str(),
                     std::strerror(error));

  end_child_on_interrupt(child);
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) {
      end_child_on_interrupt(0);
      fatal_diagnostic("\nN\xE3o foi poss\xEDvel esperar pelo %s: %s\n", solver_path.c_str(), std::strerror(errno));
    }
  end_child_on_interrupt(0);
  if (WIFSIGNALED(status))
    fatal_diagnostic("\nO Tovarin foi interrompido pelo sinal %d. A execu\xE7\xE3o sera interrompida.\n", WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    fatal_diagnostic("\nO Tovarin terminou com o c\xF3" "digo %d. A execu\xE7\xE3o sera interrompida.\n",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace annealer
