#include "checks/controllo_prog_mem.h"
#include "platform/text.h"

#include <cctype>
#include <cstdint>

namespace avendro {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The process table as seen by one check: listed once, when the first
// ticked slot asks, and kept current as processes are stopped. Listing
// thousands of processes once per ticked slot would make a click slow.
class OneListingPerCheck : public ProcessTable {
 public:
  explicit OneListingPerCheck(ProcessTable& processes) : processes_(processes) {}

  Status List(std::vector<ProcessEntry>* out) override {
    if (!listed_) {
      status_ = processes_.List(&running_);
      listed_ = true;
    }
    *out = running_;
    return status_;
  }
  Status Terminate(const ProcessEntry& process) override {
    Status status = processes_.Terminate(process);
    if (status.ok()) {
      std::erase_if(running_, [&](const ProcessEntry& p) { return p.id == process.id; });
    }
    return status;
  }
  uint32_t SelfId() override { return processes_.SelfId(); }

 private:
  ProcessTable& processes_;
  bool listed_ = false;
  Status status_;
  std::vector<ProcessEntry> running_;
};

}  // namespace

std::vector<int> ControlloProgMem(WindowPort& window, ProcessTable& system,
                                  const NomiProgrammi& names) {
  OneListingPerCheck processes(system);
  std::vector<int> still_running;
  for (int16_t IndiceProg = 0; IndiceProg < kNomiProgrammiCount; ++IndiceProg) {
    const std::string& name = names[static_cast<size_t>(IndiceProg)];
    if (name.empty()) continue;
    if (window.BoxValue(IndiceProg) != 1) continue;
    window.AggiungiStato("Controllo Memoria " + name);
    std::string Esito;
    TerminaProcesso(window, processes, name, Esito);
    window.AggiungiStato("Controllo " + name + "...." + Esito);
    if (Esito == kNonCancellato) still_running.push_back(IndiceProg);
  }
  return still_running;
}

void TerminaProcesso(WindowPort& window, ProcessTable& processes, const std::string& NomeProcesso,
                     std::string& Esito) {
  Esito = kNonEsiste;
  if (NomeProcesso.empty()) return;

  std::vector<ProcessEntry> running;
  Status status = processes.List(&running);
  if (!status.ok()) {
    // Whether the program runs is unknown, so it is not reported absent.
    Esito = kNonCancellato;
    window.AggiungiStato("Impossibile elencare i processi: " + status.message());
    return;
  }

  const std::string wanted = Lower(NomeProcesso);
  const uint32_t self = processes.SelfId();
  bool matched = false;
  bool refused = false;
  for (const ProcessEntry& process : running) {
    if (process.id == self || !EndsWith(Lower(process.image_name), wanted)) continue;
    matched = true;
    // Its name may be one it gave itself: stopping it could hit a stranger.
    if (!process.unverified.empty()) {
      status = Status::Error("processo " + std::to_string(process.id) + ": " + process.unverified);
    } else {
      status = processes.Terminate(process);
    }
    if (!status.ok()) {
      window.AggiungiStato("Impossibile terminare " + process.image_name + ", " + status.message());
      refused = true;
    }
  }
  if (matched) Esito = refused ? kNonCancellato : kCancellato;
}

}  // namespace avendro
