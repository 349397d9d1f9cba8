#pragma once
// Starting other programs.

#include <sys/types.h>

#include <string>
#include <vector>

namespace sonavel {

// Runs `arguments[0]` (looked up on PATH) with the given arguments, its output discarded,
// and waits for it. Its exit status, or -1 when it could not be started.
int RunProgram(const std::vector<std::string>& arguments);

// The path of this program's own executable.
std::string OwnExecutablePath();

// The absolute path of the executable `name` on PATH, "" when there is none.
std::string FindProgram(const std::string& name);

// A child started from an argument vector (never a shell line), `arguments[0]` an absolute
// path. Standard input and error are /dev/null; standard output (unless it goes straight
// into a file the parent opened) and, when asked, descriptor 3 are pipes whose read ends
// the parent holds. The destructor ends a child
// that is still running and collects it, so none outlives its owner.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when the pipes could not be made or the program not started. With
  // `output_file` (an open descriptor) the child writes its standard output there, at the
  // descriptor's position, and output() is -1.
  bool Start(const std::vector<std::string>& arguments, bool extra_pipe, int output_file = -1);
  // The read ends: standard output, and descriptor 3 (-1 when not asked for).
  int output() const { return output_; }
  int extra() const { return extra_; }
  // Waits for the child's end: its exit status, -1 when it ended by a signal or was not
  // running.
  int Wait();
  // Ends the child (SIGKILL) and collects it.
  void Kill();

 private:
  void CloseReadEnds();
  pid_t pid_ = -1;
  int output_ = -1;
  int extra_ = -1;
};

// Runs the program of `arguments` (an absolute path first) and collects its standard
// output, at most `limit` bytes (the rest is read and dropped). Its exit status, or -1.
int RunForOutput(const std::vector<std::string>& arguments, std::string& output, std::size_t limit);

}  // namespace sonavel
