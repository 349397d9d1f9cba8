#pragma once
// Starting other programs.

#include <string>
#include <vector>

namespace sonavel {

// Runs `arguments[0]` (looked up on PATH) with the given arguments, its output discarded,
// and waits for it. Its exit status, or -1 when it could not be started.
int RunProgram(const std::vector<std::string>& arguments);

// The path of this program's own executable.
std::string OwnExecutablePath();

}  // namespace sonavel
