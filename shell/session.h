#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "platform/status.h"
#include "port/window_port.h"
#include "shell/run_log.h"
#include "shell/unattended_update.h"
#include "update/remote_update.h"

namespace avendro {

class DriveLock;
class LoggedFace;
class UpdateServer;
class PlatformServices;

// What the window and the command line share, put together once: the
// system's services, the work drive and its lock, the FTP control, the log
// file, the start-up scan and the runs. Each face only shows the lines and
// answers the questions (WindowPort).
class Session {
 public:
  // The services of this machine on the drive `letter` (0: the drive of the
  // current folder), taken for this program alone. On failure the message
  // names what is missing or says that another Avendro is open on the
  // drive; nothing has been created on disk, except that with a
  // `refused_face` ("riga di comando") the refusal is noted in a log file
  // (NoteRefusedRun): a night that did nothing must say so.
  static Status Open(char letter, const std::string& version, std::unique_ptr<Session>* out,
                     const std::string& refused_face = "");

  // Over services and a server made elsewhere, without a lock (tests).
  Session(Platform& platform, UpdateServer& ftp, char letter, const std::string& version,
          ServerSettings settings = CompiledServerSettings());
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The load sequence through `face`: the scan of the drive, then the log
  // file opens with this run's header naming `face_name` ("finestra" or
  // "riga di comando"); a log file that cannot be opened costs one line.
  // Afterwards the runs go through `face`, which must outlive them.
  // Returns the caption of the version label.
  std::string Start(WindowPort& face, const std::string& face_name);

  // What a face does, through the session, once Start has run. Every line
  // of these, and every line a face adds with AggiungiStato, reaches the
  // log file from here and then the face, which only shows it.
  void AggiungiStato(const std::string& line);
  // The running-instance check of the ticked boxes; returns the slots whose
  // instances could not all be stopped.
  std::vector<int> ControlloProgMem();
  // "AGGIORNA" and "INSTALLA".
  RunOutcome Aggiorna();
  void Installa();
  // Reports the scripts that ended since the last call; returns how many.
  int ReportEndedScripts();
  // The update of `request`'s programs with nobody there: only what is new
  // on the server unless forced, the programs after a failed one in a run
  // of their own, the scripts waited for, the vendor's report stored when
  // the program is built with a report folder. Returns the exit code
  // (CommandLineExit).
  int UpdatePrograms(const UnattendedRequest& request);
  // The face is closing: the operation under way stops at once and every
  // later one fails.
  void Cancel();
  bool closing() const;

  // The work drive's letter, LetteraUnita: the one value every path of the
  // runs starts from.
  char letter() const { return modu1_.LetteraUnita; }
  const std::string& version() const { return version_; }

 private:
  Session(std::unique_ptr<PlatformServices> services, std::unique_ptr<DriveLock> lock, char letter,
          const std::string& version);

  std::unique_ptr<PlatformServices> services_;
  std::unique_ptr<DriveLock> lock_;  // no second Avendro on this drive
  std::unique_ptr<UpdateServer> own_ftp_;
  Platform& platform_;
  UpdateServer& ftp_;
  const std::string version_;
  const ServerSettings settings_;
  Modu1 modu1_;
  RunLog log_;
  std::unique_ptr<LoggedFace> face_;  // the face given to Start, behind the log file
  std::chrono::system_clock::time_point started_;
  // Cancel was called: the face is closing. The runs ask it while they
  // wait for a script; the server's token, cancelled with it, stops the
  // transfer under way.
  CancelToken closing_;
  // "AGGIORNA", "INSTALLA" and the scripts they started; made by Start.
  std::unique_ptr<RemoteUpdate> remote_;
};

}  // namespace avendro
