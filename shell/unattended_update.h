#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace avendro {

// The exit codes of a run with nobody there, as a scheduled task or a
// vendor's report reads them.
enum CommandLineExit : int {
  kExitDone = 0,          // every named program updated, every script ended with 0
  kExitSomeFailed = 1,    // a program failed (download, signature, script…); the others were done
  kExitUsage = 2,         // wrong usage: nothing done
  kExitNothingDone = 3,   // no work drive, Avendro open there, server unreachable, no RAR tool
  kExitUpdatesFound = 4,  // check only: some program has an update on the server
};

// How long a run with nobody there waits, after its last download, for the
// scripts it started to end.
inline constexpr std::chrono::minutes kCommandLineScriptWait{30};

// What such a run is asked to do.
struct UnattendedRequest {
  bool force = false;         // update even what the drive has installed already
  bool check_only = false;    // only ask the server what is new
  std::string shop;           // the shop's name in its report; "": the computer's and the drive's
  std::vector<int> programs;  // slots, in order; none: every installed one
};

// The name a program is given by where nobody ticks a box (the command
// line, the vendor's report): its executable's name without ".exe".
std::string ProgramName(int slot);

}  // namespace avendro
