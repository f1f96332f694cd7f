// The module's own option scanner: GNU-style short options with permutation. Its position is
// module-wide, set when the module is loaded and never rewound, so one loaded instance serves
// one command line (a second call continues where the first one stopped).
#pragma once

namespace membw_internal {

constexpr int kEndOfOptions = -1;

// Returns the next option letter of argv (whose entries it may reorder), '?' after writing a
// diagnostic to standard error, or kEndOfOptions. *argument receives an option's argument.
int NextOption(int argc, char** argv, const char* options, const char** argument);

// Back to the state of a fresh load. Only the tests of the procedures, which link the module's
// code statically, use it; the module itself never rewinds.
void ResetScanner();

}  // namespace membw_internal
