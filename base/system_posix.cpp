#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/system.h"

extern char** environ;

namespace kp {

Path ExecutablePath() {
  std::error_code ec;
  Path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? Path() : exe;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

bool StderrIsTerminal() { return ::isatty(2) == 1; }

bool IsWritableFolder(const Path& folder) { return ::access(folder.c_str(), W_OK) == 0; }

Status RunProcess(const Path& program, const std::vector<Path>& args, size_t keep, ProcessOutcome* outcome) {
  *outcome = ProcessOutcome();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Status::IOError(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const Path& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawn_error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawn_error != 0) {
    ::close(fds[0]);
    return Status::IOError("cannot start " + program.native() + ": " + std::strerror(spawn_error));
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fds[0], buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (outcome->errors.size() < keep) outcome->errors.append(buffer, size_t(got));  // the start only
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    outcome->exited = true;
    outcome->exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome->ended_by = "signal " + std::to_string(WTERMSIG(status));
  } else {
    outcome->ended_by = "wait status " + std::to_string(status);
  }
  return Status::OK();
}

}  // namespace kp
