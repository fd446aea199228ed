#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "channel/update_server.h"
#include "platform/platform.h"
#include "port/window_port.h"
#include "update/installed_archives.h"

namespace avendro {

// The update server of the runs: where it is and how to reach it, the
// folder of the update tree, the key of the archives and the report folder.
struct ServerSettings : ServerAddress {
  std::string site;                       // CartellaSito, below the login directory or URL
  std::optional<SigningKey> signing_key;  // when set, every download must be signed with it
  std::string report_folder;              // below the site: where runs store reports; "": none
};

// The update server as built in (UpdateUrl, or HostFtp, UtenteFtp,
// PasswordFtp and CartellaSito), with the protection and signing key the
// program was built with.
ServerSettings CompiledServerSettings();

// What the window shows of a download: "40% - 1,2 MB di 3,0 MB", or
// "1,2 MB scaricati" when the size is unknown.
std::string ProgressText(uint64_t done, int64_t total);

// The question every run asks first.
inline constexpr char kConfermaProcedere[] = "Sei sicuro di voler procedere";

// How a run of "AGGIORNA" ended.
struct RunOutcome {
  enum End {
    kDone,           // every ticked program downloaded and its script started
    kDeclined,       // No at the confirmation
    kNoArchiver,     // RAR tool missing and its installation declined
    kServerFailed,   // login or change of folder failed
    kProgramFailed,  // the program of `slot` failed; the later ones were not tried
  } end = kDone;
  int slot = -1;
};

// The remote work of the window: "AGGIORNA", "INSTALLA" and the archiver
// bootstrap between them. Lives as long as the window, because it remembers
// the scripts it started: a script is rewritten only after the run that
// this object last started from the same file has ended.
class RemoteUpdate {
 public:
  // `closing` is the face's: once cancelled, a wait for an earlier script
  // ends at once and nothing more is started.
  RemoteUpdate(WindowPort& window, Platform& platform, UpdateServer& ftp, const Modu1& modu1,
               const CancelToken& closing, ServerSettings settings = CompiledServerSettings());
  ~RemoteUpdate();
  RemoteUpdate(const RemoteUpdate&) = delete;
  RemoteUpdate& operator=(const RemoteUpdate&) = delete;

  // "AGGIORNA" (Command1): downloads the update of every ticked program of
  // slots 0..15 and starts its update script. In update/aggiorna.cpp.
  RunOutcome Aggiorna();

  // "INSTALLA" (Command3): downloads the installer archive of every ticked
  // program that has one (slots 0 and 4) and starts the install script. In
  // update/installa.cpp.
  void Installa();

  // Downloads the RAR installer into the work folder and starts it. In
  // update/scarico_installa_rar.cpp.
  void ScaricoInstallaRar();

  // For a run without a window: which of `slots` have an archive on the
  // server other than the one last installed on this drive (an archive the
  // server tells too little of, or that cannot be asked for, counts as new:
  // its download will say why it fails). Logs in, asks, one line for each
  // program, logs out. Returns false, the lines saying why, when the server
  // or its download folder cannot be reached; `*failed` counts the archives
  // that could not be asked for.
  bool FindUpdates(const std::vector<int>& slots, std::vector<int>* updates, int* failed);

  // Stores `text` as `name` in the site's report folder, whole or not at
  // all: a login of its own, the store, the logout. Writes no line; the
  // Status says what failed. Fails when the program has no report folder.
  Status StoreReport(const std::string& name, const std::string& text);
  bool reports() const { return !settings_.report_folder.empty(); }

  // `text` with every occurrence of the server's password masked, when the
  // password is long enough (4 characters) to be told from ordinary words:
  // for text that leaves the shop.
  std::string WithoutPassword(std::string text) const;

  // Logs one line for each script started by these runs that has ended
  // since the last call with an exit code other than 0, naming the script,
  // its program's caption and the code: a script's window closes at its
  // end and takes a RAR error or a refused copy with it. Called whenever
  // the window is idle, so also after the run that started it has ended.
  // A script of "AGGIORNA" that ended with 0 has installed its archive:
  // the drive's record of installed archives says so from then on.
  // A script that ended without an exit code (killed) counts as failed.
  // Returns how many of those codes were not 0.
  int ReportEndedScripts();

  // Waits until every script these runs started has ended, at most
  // `limit`, and reports them as above; a script still running then gets
  // a line of its own. Returns how many ended with a code other than 0 or
  // were still running.
  int WaitForScripts(std::chrono::milliseconds limit);

  // The programs whose scripts, started by these runs, have been reported
  // as failed so far, by either call above or before a script's file was
  // rewritten: one entry per failed script.
  const std::vector<int>& failed_scripts() const { return failed_scripts_; }

  // How long a script rewrite waits for the earlier run of that script.
  void SetScriptWaitLimit(std::chrono::milliseconds limit) { script_wait_limit_ = limit; }
  static constexpr std::chrono::minutes kScriptWaitLimit{10};

 private:
  // How the opening of a run went.
  enum class Opening {
    kGoOn,          // in the server's download folder
    kDeclined,      // No at the confirmation
    kNoArchiver,    // RAR tool missing and its installation declined
    kServerFailed,  // Label4 shown, then login or change of folder failed
  };

  // Confirmation, RAR tool check with the bootstrap offer, Label4, login and
  // change to the download folder: the same steps for both runs.
  Opening OpenRun();

  // Connects with fresh login values; on failure logs the failure line and
  // its reason.
  bool ConnectToServer();
  // Hands the login values to the FTP control and connects.
  Status Login();

  // ConnectToServer, then the change to the server's download folder, whose
  // failure is logged with its reason too.
  bool OpenDownloadFolder();

  // Downloads `remote` to `local` with the window showing the progress;
  // on failure logs the failure line and its reason. `*got` as for
  // UpdateServer::Download.
  bool FetchArchive(const std::string& remote, const std::string& local,
                    ArchiveIdentity* got = nullptr);

  // Logs the reason of a failed server operation.
  void LogReason(const Status& failure);

  // What a script installs: recorded once it ends with 0.
  struct Installs {
    std::string archive;  // the archive's name on the server; "": nothing to record
    ArchiveIdentity identity;
  };

  // Writes `bytes` to the script at `path` for the program of `slot` and
  // starts it maximised, after the earlier run of that script has ended. On
  // failure logs one line that names the script and the reason, and returns
  // false.
  bool WriteAndStartScript(const std::string& path, const std::string& bytes, int slot,
                           Installs installs = {});

  // ReportEndedScripts without its record: what the scripts that ended with
  // 0 installed waits in installed_ for RecordInstalled.
  int CollectEndedScripts();
  // The record of what the scripts that ended with 0 installed, in one
  // write however many they are: a night of sixteen programs flushes one
  // file, not sixteen.
  void RecordInstalled();

  // Common end of "AGGIORNA". In update/aggiorna.cpp; the steps above it
  // are in update/remote_update.cpp.
  void EndUpdateRun();

  WindowPort& window_;
  Platform& platform_;
  UpdateServer& ftp_;
  const Modu1& modu1_;
  const CancelToken& closing_;
  ServerSettings settings_;
  std::map<std::string, uint64_t> scripts_;  // native script path -> last task started
  struct StartedScript {
    uint64_t task;
    std::string path;
    int slot;
    Installs installs;
  };
  std::vector<StartedScript> unreported_;  // started, and their end not yet looked at
  std::vector<std::pair<std::string, ArchiveIdentity>> installed_;  // ended with 0, not recorded
  std::vector<int> failed_scripts_;
  std::chrono::milliseconds script_wait_limit_ = kScriptWaitLimit;
};

}  // namespace avendro
