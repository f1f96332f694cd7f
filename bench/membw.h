// Public face of the bandwidth module libmembw.so: one entry that runs one benchmark per call
// and hands every result line to the caller's output function.
#pragma once

#include <stdint.h>

extern "C" {

// Receives one message; the text is valid only during the call.
typedef void (*MembwOutput)(const char* message);

// Runs the benchmark named by commandLine ("membw " + options + " "). Result 0 when it ran (or
// the CPU report was written), 1 on any error or usage request.
typedef int (*MembwEntry)(const char* commandLine, MembwOutput output);

// Returns the module's version number.
typedef double (*MembwVersion)(void);

int membw(const char* commandLine, MembwOutput output);
}

// Names to look the exports up by.
#define MEMBW_ENTRY_NAME "membw"
#define MEMBW_VERSION_NAME "Version@0"
#define MEMBW_VERSION_NUMBER 1.002
