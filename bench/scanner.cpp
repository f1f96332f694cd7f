#include "scanner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue.h"
#include "format.h"

namespace membw_internal {

namespace {

// Plain data, zero-initialised at load time: no constructor runs and dlclose really discards it.
struct ScannerState {
  bool initialized;
  bool requireOrder;  // POSIXLY_CORRECT: stop at the first non-option
  int next;           // index of the next token to look at
  bool inToken;       // letters of tokens[next] remain, from offset on
  int offset;
  int firstNonOption;  // non-options seen so far lie in [firstNonOption, lastNonOption)
  int lastNonOption;
};

ScannerState state;

bool IsNonOption(const char* token) { return token[0] != '-' || token[1] == '\0'; }

// Moves the options found after the non-options in front of them, keeping both runs in order.
void Exchange(char** argv, int argc) {
  const int first = state.firstNonOption, last = state.lastNonOption, next = state.next;
  if (first < 1 || first > last || last > next || next > argc) return;
  std::rotate(argv + first, argv + last, argv + next);
  state.firstNonOption += next - last;
  state.lastNonOption = next;
}

// The host program's path, as the C run-time reports it in its own diagnostics.
const char* ProgramPath() { return program_invocation_name ? program_invocation_name : "membw"; }

void Diagnose(const char* format, char letter) {
  char text[600];
  FormatText(text, sizeof text, format, ProgramPath(), letter);
  std::fputs(text, stderr);
  std::fflush(stderr);
}

}  // namespace

void ResetScanner() { state = ScannerState{}; }

int NextOption(int argc, char** argv, const char* options, const char** argument) {
  *argument = nullptr;
  if (!state.initialized) {
    state.initialized = true;
    state.next = 1;
    state.firstNonOption = state.lastNonOption = 1;
    state.requireOrder = std::getenv("POSIXLY_CORRECT") != nullptr;
  }
  if (argc < 1) return kEndOfOptions;
  // A position left by an earlier call may lie beyond this command line.
  if (state.next > argc) {
    state.next = argc;
    state.inToken = false;
  }
  if (state.inToken &&
      (state.next >= argc || state.offset >= static_cast<int>(std::strlen(argv[state.next]))))
    state.inToken = false;

  if (!state.inToken) {
    if (state.lastNonOption > state.next) state.lastNonOption = state.next;
    if (state.firstNonOption > state.next) state.firstNonOption = state.next;
    if (!state.requireOrder) {
      if (state.firstNonOption != state.lastNonOption && state.lastNonOption != state.next)
        Exchange(argv, argc);
      else if (state.lastNonOption != state.next)
        state.firstNonOption = state.next;
      while (state.next < argc && IsNonOption(argv[state.next])) ++state.next;
      state.lastNonOption = state.next;
    }
    if (state.next != argc && std::strcmp(argv[state.next], "--") == 0) {
      ++state.next;
      if (state.firstNonOption != state.lastNonOption && state.lastNonOption != state.next)
        Exchange(argv, argc);
      else if (state.firstNonOption == state.lastNonOption)
        state.firstNonOption = state.next;
      state.lastNonOption = argc;
      state.next = argc;
    }
    if (state.next == argc) {
      if (state.firstNonOption != state.lastNonOption) state.next = state.firstNonOption;
      return kEndOfOptions;
    }
    if (IsNonOption(argv[state.next])) return kEndOfOptions;  // only reached in POSIX order
    state.inToken = true;
    state.offset = 1;
  }

  const char* token = argv[state.next];
  const char letter = token[state.offset++];
  const char* spec = letter == ':' ? nullptr : std::strchr(options, letter);
  const bool tokenDone = token[state.offset] == '\0';
  if (tokenDone) {
    ++state.next;
    state.inToken = false;
  }
  if (!spec) {
    Diagnose(kUnknownOption, letter);
    return '?';
  }
  if (spec[1] == ':') {
    if (!tokenDone) {
      *argument = token + state.offset;
      ++state.next;
    } else if (state.next == argc) {
      Diagnose(kMissingArgument, letter);
      return '?';
    } else {
      *argument = argv[state.next++];
    }
    state.inToken = false;
  }
  return letter;
}

}  // namespace membw_internal
