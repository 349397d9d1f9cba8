#pragma once
// Starting other programs.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace sonavel {

// Runs `arguments[0]` (looked up on PATH) with the given arguments, its output discarded,
// and waits for it. Its exit status, or -1 when it could not be started.
int RunProgram(const std::vector<std::string>& arguments);

// The path of this program's own executable.
std::string OwnExecutablePath();

// True when `path` is absolute and names a regular file we may execute.
bool IsExecutableFile(const std::string& path);

// The absolute path of the executable `name` on PATH, "" when there is none.
std::string FindProgram(const std::string& name);

// How a child's descriptors and environment are set up.
struct ChildSetup {
  // Standard input: a pipe whose write end the parent holds (input()), else /dev/null.
  bool input_pipe = false;
  // Standard output: into this open descriptor (at its position) when >= 0; else a pipe
  // whose read end the parent holds (output()), or /dev/null with `discard_output`.
  int output_file = -1;
  bool discard_output = false;
  // Descriptor 3: a pipe whose read end the parent holds (extra()).
  bool extra_pipe = false;
  // "NAME=VALUE" entries added to (or replacing in) the child's copy of our environment;
  // ours stays untouched, as changing it under running threads is unsafe.
  std::vector<std::string> environment;
};

// A child started from an argument vector (never a shell line), `arguments[0]` an absolute
// path. Standard error is /dev/null; the child inherits no other descriptor of ours and
// starts with the default signal handling. The destructor ends a child that is still
// running and collects it, so none outlives its owner.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when the pipes could not be made or the program not started.
  bool Start(const std::vector<std::string>& arguments, const ChildSetup& setup);
  // Standard input /dev/null, standard output `output_file` or a pipe, and descriptor 3
  // a pipe when `extra_pipe`.
  bool Start(const std::vector<std::string>& arguments, bool extra_pipe, int output_file = -1);
  // The write end of standard input and the read ends of standard output and descriptor 3
  // (-1 when not asked for).
  int input() const { return input_; }
  int output() const { return output_; }
  int extra() const { return extra_; }
  // Closes the write end of standard input: the child sees the end of its input.
  void CloseInput();
  bool running() const { return pid_ >= 0; }
  // Waits for the child's end: its exit status, -1 when it ended by a signal or was not
  // running.
  int Wait();
  // Without blocking: nothing while the child runs, else what Wait gives.
  std::optional<int> TryWait();
  // Ends the child (SIGKILL) and collects it.
  void Kill();

 private:
  void CloseEnds();
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int extra_ = -1;
};

// Runs the program of `arguments` (an absolute path first) and collects its standard
// output, at most `limit` bytes (the rest is read and dropped). Its exit status, or -1.
int RunForOutput(const std::vector<std::string>& arguments, std::string& output, std::size_t limit);

}  // namespace sonavel
