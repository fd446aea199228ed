#pragma once

#include <string>
#include <vector>

#include "shell/unattended_update.h"

namespace avendro {

// What the arguments ask for.
struct CommandLineRequest {
  bool help = false;
  bool force = false;         // --forza: update even what the drive has installed already
  bool check_only = false;    // --controlla: only ask the server what is new
  char letter = 0;            // --unita; 0: the drive of the current folder
  std::string shop;           // --negozio: the shop's name in its report
  std::vector<int> programs;  // slots of the named programs, in order; none: every installed one
  std::string error;          // wrong usage: why, in a line
};

// Reads the arguments that follow the program's name: "--aggiorna
// [PROGRAMMA ...]", "--controlla [PROGRAMMA ...]", "--forza", "--unita X:",
// "--negozio NOME", "--aiuto". A program is named by its executable's name
// without ".exe", in any letter case.
CommandLineRequest ParseCommandLine(const std::vector<std::string>& args);

// The usage, in Italian, with the exit codes.
std::string CommandLineUsage();

// The program without a window: updates the named programs on the work
// drive as "AGGIORNA" does for ticked boxes, with no question asked and no
// Qt object made, writing each line to the console and the log file.
// Returns the exit code.
int RunCommandLine(const std::vector<std::string>& args, const std::string& version);

class Session;

// The update of `request` on a session already open: what RunCommandLine
// does once it has the drive. Returns the exit code.
int RunUpdateRequest(Session& session, const CommandLineRequest& request);

}  // namespace avendro
