#include "update/remote_update.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/local_time.h"
#include "platform/text.h"
#include "platform/windows_rules.h"
#include "update/server_settings.h"

namespace avendro {

ServerSettings CompiledServerSettings() {
  ServerSettings settings;
  settings.url = UpdateUrl;
  settings.host = HostFtp;
  settings.user = UtenteFtp;
  settings.password = PasswordFtp;
  settings.tls_required = TlsRequired;
  settings.ca_pem = TrustedCaPem;
  settings.site = CartellaSito;
  // A web server stores nothing; the build says so when it is given one.
  settings.report_folder = settings.url.empty() ? ReportFolder : "";
  // The build refuses a malformed key, so this cannot fail; were it to,
  // no download must pass unchecked.
  if (!CompiledSigningKey(&settings.signing_key).ok()) std::abort();
  return settings;
}

namespace {

// "1,5 MB" and the like, with the decimal comma.
std::string Amount(uint64_t bytes) {
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / 1024));
  } else {
    unsigned long long tenths = bytes * 10 / (1024 * 1024);
    std::snprintf(text, sizeof text, "%llu,%llu MB", tenths / 10, tenths % 10);
  }
  return text;
}

}  // namespace

std::string ProgressText(uint64_t done, int64_t total) {
  if (total <= 0) return Amount(done) + " scaricati";
  uint64_t whole = static_cast<uint64_t>(total);
  return std::to_string(done >= whole ? 100 : done * 100 / whole) + "% - " + Amount(done) + " di " +
         Amount(whole);
}

RemoteUpdate::RemoteUpdate(WindowPort& window, Platform& platform, UpdateServer& ftp,
                           const Modu1& modu1, const CancelToken& closing, ServerSettings settings)
    : window_(window),
      platform_(platform),
      ftp_(ftp),
      modu1_(modu1),
      closing_(closing),
      settings_(std::move(settings)) {
  ftp_.SetWorkDrive(modu1_.LetteraUnita);
  ftp_.SetKeepAlive([this] { window_.KeepAlive(); });
  ftp_.SetProgress(
      [this](uint64_t done, int64_t total) { window_.ShowProgress(ProgressText(done, total)); });
}

RemoteUpdate::~RemoteUpdate() {
  RecordInstalled();
  ftp_.SetKeepAlive(nullptr);
  ftp_.SetProgress(nullptr);
}

void RemoteUpdate::LogReason(const Status& failure) {
  window_.AggiungiStato("Motivo: " + failure.message());
}

bool RemoteUpdate::FetchArchive(const std::string& remote, const std::string& local,
                                ArchiveIdentity* got) {
  window_.AggiungiStato("Inizio download programma ");
  Status result = ftp_.Download(remote, local, got);
  window_.ShowProgress("");
  if (!result.ok()) {
    window_.AggiungiStato("Impossibile scaricare il programma. Riprovare più tardi");
    LogReason(result);
    return false;
  }
  return true;
}

RemoteUpdate::Opening RemoteUpdate::OpenRun() {
  const char lettera = modu1_.LetteraUnita;
  window_.SetPointer(Pointer::kHourglass);
  if (!window_.AskYesNo(Question::kConfirmRun, kConfermaProcedere, "Aggiornamento software",
                        /*no_default=*/true)) {
    return Opening::kDeclined;
  }

  window_.AggiungiStato("Verifica esistenza Winrar");
  std::string found;
  Status status = platform_.files.FindEntry(OnDrive(lettera, kRarTool), kMaskNormal, &found);
  if (!status.ok()) window_.AggiungiStato("Impossibile controllare " + status.message());
  if (!found.empty()) {
    window_.AggiungiStato("Controllo Winrar sul Disco...OK");
  } else {
    window_.AggiungiStato("Controllo Winrar sul Disco...NON ESISTE");
    if (!window_.AskYesNo(Question::kInstallArchiver,
                          "Winrar Non esiste .Cliccare su SI per installarlo ", "",
                          /*no_default=*/false)) {
      return Opening::kNoArchiver;
    }
    ScaricoInstallaRar();  // whatever it achieves, the run goes on
  }

  window_.SetPointer(Pointer::kHourglass);
  window_.ShowBusy(true);
  return OpenDownloadFolder() ? Opening::kGoOn : Opening::kServerFailed;
}

bool RemoteUpdate::OpenDownloadFolder() {
  if (!ConnectToServer()) return false;
  Status result = ftp_.ChangeFolder(settings_.site + "/" + std::string(kServerDownloadFolder));
  if (!result.ok()) {
    window_.AggiungiStato("La Directory 'download' non esiste sul server ");
    LogReason(result);
    return false;
  }
  return true;
}

bool RemoteUpdate::ConnectToServer() {
  window_.AggiungiStato("Collegamento al sito ZEFIRANO");
  window_.SetPointer(Pointer::kHourglass);
  Status result = Login();
  window_.SetPointer(Pointer::kHourglass);
  // Where the shop's network goes out through a proxy, which one.
  if (!ftp_.proxy().empty()) window_.AggiungiStato("Collegamento tramite il proxy " + ftp_.proxy());
  if (!result.ok()) {
    window_.AggiungiStato("Impossibile connettersi al server " + settings_.shown_host() +
                          ". Riprovare più tardi");
    LogReason(result);
    return false;
  }
  window_.AggiungiStato("Collegamento riuscito");
  return true;
}

Status RemoteUpdate::Login() {
  ftp_.SetAddress(settings_);
  ftp_.SetSigningKey(settings_.signing_key);
  return ftp_.Connect();
}

Status RemoteUpdate::StoreReport(const std::string& name, const std::string& text) {
  if (!reports()) return Status::Error("nessuna cartella dei rapporti");
  Status status = Login();
  if (status.ok()) status = ftp_.ChangeFolder(settings_.site + "/" + settings_.report_folder);
  if (status.ok()) status = ftp_.Store(name, text);
  if (status.ok()) return ftp_.Disconnect();
  (void)ftp_.Disconnect();  // the failure above says what matters
  return status;
}

std::string RemoteUpdate::WithoutPassword(std::string text) const {
  const std::string& secret = settings_.password;
  if (secret.size() < 4) return text;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
    text.replace(at, secret.size(), "********");
  }
  return text;
}

int RemoteUpdate::ReportEndedScripts() {
  const int failed = CollectEndedScripts();
  RecordInstalled();
  return failed;
}

int RemoteUpdate::CollectEndedScripts() {
  int failed = 0;
  for (auto it = unreported_.begin(); it != unreported_.end();) {
    if (platform_.launcher.Running(it->task)) {
      ++it;
      continue;
    }
    std::optional<uint32_t> code = platform_.launcher.ExitCode(it->task);
    const std::string script =
        "Lo script " + it->path + " (" + std::string(Row(it->slot).caption) + ")";
    if (!code) {
      window_.AggiungiStato(script + " è terminato senza un codice di uscita (interrotto)");
      failed_scripts_.push_back(it->slot);
      ++failed;
    } else if (*code != 0) {
      window_.AggiungiStato(script + " è terminato con il codice " + windows::ExitCodeText(*code));
      failed_scripts_.push_back(it->slot);
      ++failed;
    } else if (!it->installs.archive.empty() && !it->installs.identity.text.empty()) {
      installed_.emplace_back(it->installs.archive, it->installs.identity);
    }
    it = unreported_.erase(it);
  }
  return failed;
}

void RemoteUpdate::RecordInstalled() {
  if (installed_.empty()) return;
  InstalledArchives record(platform_.files, modu1_.LetteraUnita);
  Status status = record.Record(installed_);
  installed_.clear();
  if (!status.ok())
    window_.AggiungiStato("Impossibile registrare l'aggiornamento installato " + status.message());
}

bool RemoteUpdate::FindUpdates(const std::vector<int>& slots, std::vector<int>* updates,
                               int* failed) {
  updates->clear();
  *failed = 0;
  window_.ShowBusy(true);
  const bool reached = OpenDownloadFolder();
  InstalledArchives record(platform_.files, modu1_.LetteraUnita);
  for (size_t i = 0; reached && i < slots.size(); ++i) {
    const Product& row = Row(slots[i]);
    const std::string caption = TrimmedRight(row.caption);
    ArchiveIdentity identity;
    Status status = ftp_.Identify(std::string(row.updateArchive), &identity);
    std::string installed;
    if (status.ok()) status = record.Find(std::string(row.updateArchive), &installed);
    if (!status.ok()) {
      window_.AggiungiStato("Impossibile controllare l'aggiornamento di " + caption);
      LogReason(status);
      ++*failed;
    } else if (identity.text.empty()) {
      window_.AggiungiStato("Aggiornamento di " + caption +
                            " senza confronto: il server non dice dimensione e data dell'archivio");
    } else if (identity.text == installed) {
      window_.AggiungiStato("Nessun aggiornamento per " + caption +
                            ": l'archivio sul server è quello già installato (" +
                            LocalTimeText(std::chrono::system_clock::from_time_t(identity.time)) +
                            ")");
      continue;
    } else {
      window_.AggiungiStato("Aggiornamento disponibile per " + caption + " (" +
                            LocalTimeText(std::chrono::system_clock::from_time_t(identity.time)) +
                            ")");
    }
    updates->push_back(slots[i]);
  }
  if (reached) (void)ftp_.Disconnect();  // what was asked is known; a failed logout changes nothing
  window_.ShowBusy(false);
  return reached;
}

int RemoteUpdate::WaitForScripts(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto running = [this] {
    for (const StartedScript& script : unreported_) {
      if (platform_.launcher.Running(script.task)) return true;
    }
    return false;
  };
  const auto waited = std::count_if(unreported_.begin(), unreported_.end(), [this](const auto& s) {
    return platform_.launcher.Running(s.task);
  });
  if (waited > 0)
    window_.AggiungiStato("Attesa della fine di " + std::to_string(waited) + " script…");
  while (running() && std::chrono::steady_clock::now() < deadline) {
    window_.KeepAlive();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int failed = ReportEndedScripts();
  const auto minutes = std::chrono::ceil<std::chrono::minutes>(limit).count();
  for (const StartedScript& script : unreported_) {
    window_.AggiungiStato("Lo script " + script.path + " (" +
                          std::string(Row(script.slot).caption) + ") è ancora in esecuzione dopo " +
                          std::to_string(minutes) + " minuti");
    ++failed;
    failed_scripts_.push_back(script.slot);
  }
  if (waited > 0) {
    window_.AggiungiStato(std::to_string(unreported_.size()) +
                          " script ancora in esecuzione alla fine dell'attesa");
  }
  unreported_.clear();
  return failed;
}

bool RemoteUpdate::WriteAndStartScript(const std::string& path, const std::string& bytes, int slot,
                                       Installs installs) {
  // Several programs share one script file: a script still running must
  // not have its file rewritten under it.
  std::string key;
  if (!platform_.files.NativePath(path, &key).ok()) key = path;
  auto earlier = scripts_.find(key);
  // Started here, or by an Avendro that has ended since (a night's run).
  auto running = [&] {
    return (earlier != scripts_.end() && platform_.launcher.Running(earlier->second)) ||
           platform_.launcher.RunningAnywhere(key);
  };
  if (earlier != scripts_.end() || running()) {
    const auto deadline = std::chrono::steady_clock::now() + script_wait_limit_;
    bool told = false;
    while (running()) {
      if (!told) {
        // Once, so that a window standing still has its reason in the log.
        window_.AggiungiStato("Attesa della fine dello script " + path + " avviato prima");
        told = true;
      }
      if (closing_.cancelled()) {
        // The window is closing: nothing more may start.
        window_.AggiungiStato("Attesa dello script " + path +
                              " interrotta: la finestra si sta chiudendo");
        return false;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        auto seconds = std::chrono::ceil<std::chrono::seconds>(script_wait_limit_).count();
        window_.AggiungiStato("Lo script " + path + " avviato prima è ancora in esecuzione dopo " +
                              std::to_string(seconds) + " secondi: impossibile riscriverlo");
        return false;
      }
      window_.KeepAlive();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (earlier != scripts_.end()) scripts_.erase(earlier);
    // The earlier run's result before the file that held it is rewritten.
    // Counted in failed_scripts_; recorded at the run's end.
    (void)CollectEndedScripts();
  }

  // Written afresh before every start, so a power cut may take it.
  Status status = platform_.files.WriteFile(path, bytes, Flush::kNothing);
  if (!status.ok()) {
    window_.AggiungiStato("Impossibile scrivere lo script " + status.message());
    return false;
  }
  uint64_t task = 0;
  status = platform_.launcher.Start(path, WindowStyle::kMaximizedFocus, &task);
  if (!status.ok()) {
    window_.AggiungiStato("Impossibile avviare lo script " + status.message());
    return false;
  }
  scripts_[key] = task;
  platform_.launcher.ShareRunning(key, task);
  unreported_.push_back({task, path, slot, std::move(installs)});
  return true;
}

}  // namespace avendro
