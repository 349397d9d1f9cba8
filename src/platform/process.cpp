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
#include <string_view>

extern char** environ;

namespace sonavel {

namespace {

std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Our environment with `additions` ("NAME=VALUE") put in, replacing entries of the same name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& additions) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('=') + 1);
    const bool replaced = std::any_of(additions.begin(), additions.end(), [&](const std::string& addition) {
      return std::string_view(addition).substr(0, addition.find('=') + 1) == name;
    });
    if (!replaced) entries.emplace_back(text);
  }
  entries.insert(entries.end(), additions.begin(), additions.end());
  return entries;
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

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
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
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::CloseEnds() {
  for (int* fd : {&input_, &output_, &extra_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

bool ChildProcess::Start(const std::vector<std::string>& arguments, bool extra_pipe, int output_file) {
  ChildSetup setup;
  setup.extra_pipe = extra_pipe;
  setup.output_file = output_file;
  return Start(arguments, setup);
}

bool ChildProcess::Start(const std::vector<std::string>& arguments, const ChildSetup& setup) {
  Kill();
  if (arguments.empty() || arguments[0].empty() || arguments[0][0] != '/') return false;
  const bool output_pipe = setup.output_file < 0 && !setup.discard_output;
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int more[2] = {-1, -1};
  auto close_all = [&] {
    for (int fd : {in[0], in[1], out[0], out[1], more[0], more[1]})
      if (fd >= 0) ::close(fd);
  };
  if ((setup.input_pipe && ::pipe2(in, O_CLOEXEC) != 0) || (output_pipe && ::pipe2(out, O_CLOEXEC) != 0) ||
      (setup.extra_pipe && ::pipe2(more, O_CLOEXEC) != 0)) {
    close_all();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (setup.input_pipe) {
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  if (setup.output_file >= 0 || output_pipe) {
    posix_spawn_file_actions_adddup2(&actions, setup.output_file >= 0 ? setup.output_file : out[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (setup.extra_pipe) posix_spawn_file_actions_adddup2(&actions, more[1], 3);
  // Nothing else of ours reaches the child, whatever other threads have open.
  posix_spawn_file_actions_addclosefrom_np(&actions, setup.extra_pipe ? 4 : 3);
  // Default signal handling: we ignore SIGPIPE, a child must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv = ArgumentVector(arguments);
  std::vector<std::string> environment;
  char** envp = environ;
  std::vector<char*> added_envp;
  if (!setup.environment.empty()) {
    environment = ChildEnvironment(setup.environment);
    added_envp = ArgumentVector(environment);
    envp = added_envp.data();
  }
  pid_t child = -1;
  const int started = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  for (int* fd : {&in[0], &out[1], &more[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (started != 0) {
    close_all();
    return false;
  }
  pid_ = child;
  input_ = in[1];
  output_ = out[0];
  extra_ = more[0];
  return true;
}

int ChildProcess::Wait() {
  CloseEnds();
  if (pid_ < 0) return -1;
  const int status = WaitFor(pid_);
  pid_ = -1;
  return status;
}

std::optional<int> ChildProcess::TryWait() {
  if (pid_ < 0) return -1;
  int status = 0;
  pid_t ended;
  do {
    ended = ::waitpid(pid_, &status, WNOHANG);
  } while (ended < 0 && errno == EINTR);
  if (ended == 0) return std::nullopt;
  CloseEnds();
  pid_ = -1;
  return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
