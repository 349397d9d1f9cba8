#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

extern char** environ;

namespace sonavel {

namespace {

std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunProgram(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return -1;
  std::vector<char*> argv = ArgumentVector(arguments);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  return WaitFor(child);
}

std::string OwnExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string FindProgram(const std::string& name) {
  const char* search = std::getenv("PATH");
  if (name.empty() || name.find('/') != std::string::npos || search == nullptr) return {};
  const std::string folders = search;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    start = end + 1;
    // Only absolute folders: an empty or relative entry would run a file of the current folder.
    if (folder.empty() || folder[0] != '/') continue;
    const std::string candidate = folder + "/" + name;
    struct stat info;
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::CloseReadEnds() {
  for (int* fd : {&output_, &extra_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

bool ChildProcess::Start(const std::vector<std::string>& arguments, bool extra_pipe, int output_file) {
  Kill();
  if (arguments.empty() || arguments[0].empty() || arguments[0][0] != '/') return false;
  int out[2] = {-1, -1};
  int more[2] = {-1, -1};
  auto close_all = [&] {
    for (int fd : {out[0], out[1], more[0], more[1]})
      if (fd >= 0) ::close(fd);
  };
  if ((output_file < 0 && ::pipe2(out, O_CLOEXEC) != 0) || (extra_pipe && ::pipe2(more, O_CLOEXEC) != 0)) {
    close_all();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output_file >= 0 ? output_file : out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (extra_pipe) posix_spawn_file_actions_adddup2(&actions, more[1], 3);
  std::vector<char*> argv = ArgumentVector(arguments);
  pid_t child = -1;
  const int started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (out[1] >= 0) ::close(out[1]);
  out[1] = -1;
  if (more[1] >= 0) ::close(more[1]);
  more[1] = -1;
  if (started != 0) {
    close_all();
    return false;
  }
  pid_ = child;
  output_ = out[0];
  extra_ = more[0];
  return true;
}

int ChildProcess::Wait() {
  CloseReadEnds();
  if (pid_ < 0) return -1;
  const int status = WaitFor(pid_);
  pid_ = -1;
  return status;
}

void ChildProcess::Kill() {
  if (pid_ >= 0) ::kill(pid_, SIGKILL);
  Wait();
}

int RunForOutput(const std::vector<std::string>& arguments, std::string& output, std::size_t limit) {
  output.clear();
  ChildProcess child;
  if (!child.Start(arguments, false)) return -1;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(child.output(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, std::min(static_cast<std::size_t>(got), limit - std::min(limit, output.size())));
  }
  return child.Wait();
}

}  // namespace sonavel
