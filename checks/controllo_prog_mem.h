#pragma once

#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/processes.h"
#include "port/window_port.h"

namespace avendro {

// Outcomes of TerminaProcesso.
inline constexpr char kNonEsiste[] = "NON ESISTE";          // nothing matched
inline constexpr char kCancellato[] = "CANCELLATO";         // every match stopped
inline constexpr char kNonCancellato[] = "NON CANCELLATO";  // a match still runs

// The running-instance check, run after every click on a box of aa1: for
// every slot 0..20 with a process name whose box holds exactly 1, stops the
// running instances of that name and logs "Controllo Memoria <name>" before
// and "Controllo <name>....<outcome>" after. Slots without a name are passed
// over without reading their box. The running processes are listed once per
// check, at the first ticked slot. Returns the slots whose outcome was
// NON CANCELLATO: an instance still runs, or whether one does is unknown.
std::vector<int> ControlloProgMem(WindowPort& window, ProcessTable& processes,
                                  const NomiProgrammi& names);

// Stops every running process whose image name ends with `NomeProcesso`,
// letter case aside, except this program's own; one whose name could not be
// verified is left running and counts as not stopped, one that has ended by
// itself meanwhile as stopped. `Esito` receives the outcome; a process that
// could not be stopped, or a listing that failed, gets one line in the log
// with the reason.
void TerminaProcesso(WindowPort& window, ProcessTable& processes, const std::string& NomeProcesso,
                     std::string& Esito);

}  // namespace avendro
