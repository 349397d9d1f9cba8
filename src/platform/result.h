#pragma once
// How a long operation ended: a load, a save, an effect's render, a headless command
// (whose exit code it is).

namespace sonavel {

enum Result : int {
  kDone = 0,       // finished; an effect with nothing to do counts as done
  kCancelled = 1,  // the user cancelled; what was there is as before
  kFailed = 2,     // could not be done (invalid input, a file that cannot be read or written)
};

}  // namespace sonavel
