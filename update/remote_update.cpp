#include "update/remote_update.h"

#include <thread>

#include "update/ftp_settings.h"

namespace avendro {

FtpSettings CompiledFtpSettings() { return {HostFtp, UtenteFtp, PasswordFtp, CartellaSito}; }

RemoteUpdate::RemoteUpdate(WindowPort& window, Platform& platform, Ftp& ftp, const Modu1& modu1,
                           FtpSettings settings)
    : window_(window),
      platform_(platform),
      ftp_(ftp),
      modu1_(modu1),
      settings_(std::move(settings)) {
  ftp_.SetKeepAlive([this] { window_.KeepAlive(); });
}

RemoteUpdate::~RemoteUpdate() { ftp_.SetKeepAlive(nullptr); }

RemoteUpdate::Opening RemoteUpdate::Apertura() {
  const char lettera = modu1_.LetteraUnita;
  window_.SetPointer(Pointer::kHourglass);
  if (!window_.AskYesNo("Sei sicuro di voler procedere", "Aggiornamento software",
                        /*no_default=*/true)) {
    return Opening::kDeclined;
  }

  window_.AggiungiStato("Verifica esistenza Winrar");
  std::string found;
  Status status =
      platform_.files.FindEntry(OnDrive(lettera, ":\\drubel\\rar.exe"), kMaskNormal, &found);
  if (!status.ok()) window_.AggiungiStato("Impossibile controllare " + status.message());
  if (!found.empty()) {
    window_.AggiungiStato("Controllo Winrar sul Disco...OK");
  } else {
    window_.AggiungiStato("Controllo Winrar sul Disco...NON ESISTE");
    if (!window_.AskYesNo("Winrar Non esiste .Cliccare su SI per installarlo ", "",
                          /*no_default=*/false)) {
      return Opening::kNoArchiver;
    }
    ScaricoInstallaRar();  // whatever it achieves, the run goes on
  }

  window_.SetPointer(Pointer::kHourglass);
  window_.ShowBusy(true);
  if (!Collega()) return Opening::kServerFailed;
  if (ftp_.ChangeFolder(settings_.site + "/download") == 0) {
    window_.AggiungiStato("La Directory 'download' non esiste sul server ");
    return Opening::kServerFailed;
  }
  return Opening::kGoOn;
}

bool RemoteUpdate::Collega() {
  window_.AggiungiStato("Collegamento al sito ZEFIRANO");
  window_.SetPointer(Pointer::kHourglass);
  ftp_.SetHost(settings_.host);
  ftp_.SetAccount(settings_.user);
  ftp_.SetPassword(settings_.password);
  int32_t result = ftp_.Connect();
  window_.SetPointer(Pointer::kHourglass);
  if (result == 0) {
    window_.AggiungiStato("Impossibile connettersi al server " + settings_.host +
                          ". Riprovare più tardi");
    return false;
  }
  window_.AggiungiStato("Collegamento riuscito");
  return true;
}

bool RemoteUpdate::ScriviEAvvia(const std::string& path, const std::string& bytes) {
  // Several programs share one script file: a script still running must
  // not have its file rewritten under it.
  std::string key;
  if (!platform_.files.NativePath(path, &key).ok()) key = path;
  auto earlier = scripts_.find(key);
  if (earlier != scripts_.end()) {
    const auto deadline = std::chrono::steady_clock::now() + script_wait_limit_;
    while (platform_.launcher.Running(earlier->second)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        auto seconds = std::chrono::ceil<std::chrono::seconds>(script_wait_limit_).count();
        window_.AggiungiStato("Lo script " + path + " avviato prima è ancora in esecuzione dopo " +
                              std::to_string(seconds) + " secondi: impossibile riscriverlo");
        return false;
      }
      window_.KeepAlive();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    scripts_.erase(earlier);
  }

  Status status = platform_.files.WriteFile(path, bytes);
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
  return true;
}

}  // namespace avendro
