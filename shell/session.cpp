#include "shell/session.h"

#include "checks/controllo_prog_mem.h"
#include "platform/services.h"
#include "shell/startup.h"
#include "shell/status_log.h"
#include "update/ftp.h"

namespace avendro {

// The face as the core's procedures see it: each line goes to the log file
// first, then to the face. A line the file refuses is followed, on the face
// only, by one that says why.
class Session::LoggedFace : public WindowPort {
 public:
  LoggedFace(WindowPort& face, RunLog& log) : face_(face), log_(log) {}

  void AggiungiStato(const std::string& line) override {
    Status status = log_.Write("- " + Printable(line));
    face_.AggiungiStato(line);
    if (!status.ok()) face_.AggiungiStato("Impossibile scrivere il registro " + status.message());
  }
  int BoxValue(int slot) override { return face_.BoxValue(slot); }
  void MarkInstalled(int slot) override { face_.MarkInstalled(slot); }
  bool AskYesNo(const std::string& prompt, const std::string& title, bool no_default) override {
    return face_.AskYesNo(prompt, title, no_default);
  }
  void SetPointer(Pointer pointer) override { face_.SetPointer(pointer); }
  void ShowBusy(bool visible) override { face_.ShowBusy(visible); }
  void ShowProgress(const std::string& text) override { face_.ShowProgress(text); }
  void KeepAlive() override { face_.KeepAlive(); }

 private:
  WindowPort& face_;
  RunLog& log_;
};

Status Session::Open(char letter, const std::string& version, std::unique_ptr<Session>* out,
                     const std::string& refused_face) {
  std::unique_ptr<PlatformServices> services;
  Status status = MakePlatformServices(&services);
  if (!status.ok()) return status;
  FileSystem& files = services->platform().files;
  auto refused = [&](const Status& why) {
    std::string written;
    if (!refused_face.empty())
      (void)NoteRefusedRun(files, letter, refused_face, version, why.message(), &written);
    return why;
  };
  if (letter == 0) status = files.CurrentDrive(&letter);
  if (!status.ok()) {
    letter = 0;  // no drive of the shop's: only the machine's log
    return refused(status);
  }
  std::unique_ptr<DriveLock> lock;
  status = files.LockDrive(letter, &lock);
  if (!status.ok()) return refused(status);
  out->reset(new Session(std::move(services), std::move(lock), letter, version));
  return Status::Ok();
}

Session::Session(std::unique_ptr<PlatformServices> services, std::unique_ptr<DriveLock> lock,
                 char letter, const std::string& version)
    : services_(std::move(services)),
      lock_(std::move(lock)),
      own_ftp_(std::make_unique<Ftp>(services_->platform().files)),
      platform_(services_->platform()),
      ftp_(*own_ftp_),
      letter_(letter),
      version_(version),
      settings_(CompiledFtpSettings()),
      log_(platform_.files, letter) {}

Session::Session(Platform& platform, Ftp& ftp, char letter, const std::string& version,
                 FtpSettings settings)
    : platform_(platform),
      ftp_(ftp),
      letter_(letter),
      version_(version),
      settings_(std::move(settings)),
      log_(platform.files, letter) {}

// The runs go first: they hand the FTP control their callbacks back.
Session::~Session() { remote_.reset(); }

std::string Session::Start(WindowPort& face, const std::string& drive_text,
                           const std::string& face_name) {
  face_ = std::make_unique<LoggedFace>(face, log_);
  // The scan's lines wait in the log until it opens.
  std::string caption = RunStartup(*face_, platform_, drive_text, &modu1_);
  // Only now: the scan makes the work folder that holds the file.
  Status status = log_.Open(face_name, version_);
  if (!status.ok()) face.AggiungiStato("Impossibile scrivere il registro " + status.message());
  remote_ = std::make_unique<RemoteUpdate>(*face_, platform_, ftp_, modu1_, settings_);
  return caption;
}

void Session::AggiungiStato(const std::string& line) { face_->AggiungiStato(line); }

std::vector<int> Session::ControlloProgMem() {
  return avendro::ControlloProgMem(*face_, platform_.processes, modu1_.nomiProgrammi);
}

RunOutcome Session::Aggiorna() { return remote_->Aggiorna(); }

void Session::Installa() { remote_->Installa(); }

int Session::ReportEndedScripts() { return remote_->ReportEndedScripts(); }

void Session::Cancel() { ftp_.Cancel(); }

bool Session::closing() const { return ftp_.cancelled(); }

}  // namespace avendro
