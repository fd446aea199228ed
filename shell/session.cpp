#include "shell/session.h"

#include "channel/update_server.h"
#include "checks/controllo_prog_mem.h"
#include "platform/services.h"
#include "shell/logged_face.h"
#include "shell/startup.h"

namespace avendro {

Status Session::Open(char letter, const std::string& version, std::unique_ptr<Session>* out,
                     const std::string& refused_face) {
  std::unique_ptr<PlatformServices> services;
  Status status = MakePlatformServices(kWorkFolder, &services);
  if (!status.ok()) return status;
  FileSystem& files = services->platform().files;
  auto refused = [&](const Status& why) {
    std::string written;
    if (!refused_face.empty())
      (void)NoteRefusedRun(files, letter, refused_face, version, why.message(), &written);
    return why;
  };
  if (letter == 0) status = files.CurrentDrive(kWorkFolder, &letter);
  if (!status.ok()) {
    letter = 0;  // no drive of the shop's: only the machine's log
    return refused(status);
  }
  std::unique_ptr<DriveLock> lock;
  status = files.LockDrive(letter, kWorkFolder, &lock);
  if (!status.ok()) return refused(status);
  out->reset(new Session(std::move(services), std::move(lock), letter, version));
  return Status::Ok();
}

Session::Session(std::unique_ptr<PlatformServices> services, std::unique_ptr<DriveLock> lock,
                 char letter, const std::string& version)
    : services_(std::move(services)),
      lock_(std::move(lock)),
      own_ftp_(std::make_unique<UpdateServer>(services_->platform().files)),
      platform_(services_->platform()),
      ftp_(*own_ftp_),
      version_(version),
      settings_(CompiledServerSettings()),
      modu1_{letter, {}},
      log_(platform_.files, letter) {}

Session::Session(Platform& platform, UpdateServer& ftp, char letter, const std::string& version,
                 ServerSettings settings)
    : platform_(platform),
      ftp_(ftp),
      version_(version),
      settings_(std::move(settings)),
      modu1_{letter, {}},
      log_(platform.files, letter) {}

// The runs go first: they hand the FTP control their callbacks back.
Session::~Session() { remote_.reset(); }

std::string Session::Start(WindowPort& face, const std::string& face_name) {
  started_ = std::chrono::system_clock::now();
  face_ = std::make_unique<LoggedFace>(face, log_);
  // The scan's lines wait in the log until it opens.
  std::string caption = RunStartup(*face_, platform_, &modu1_);
  // Only now: the scan makes the work folder that holds the file.
  Status status = log_.Open(face_name, version_);
  if (!status.ok()) face.AggiungiStato("Impossibile scrivere il registro " + status.message());
  remote_ = std::make_unique<RemoteUpdate>(*face_, platform_, ftp_, modu1_, closing_, settings_);
  return caption;
}

void Session::AggiungiStato(const std::string& line) { face_->AggiungiStato(line); }

std::vector<int> Session::ControlloProgMem() {
  return avendro::ControlloProgMem(*face_, platform_.processes, modu1_.nomiProgrammi);
}

RunOutcome Session::Aggiorna() { return remote_->Aggiorna(); }

void Session::Installa() { remote_->Installa(); }

int Session::ReportEndedScripts() { return remote_->ReportEndedScripts(); }

void Session::Cancel() {
  closing_.Cancel();
  ftp_.Cancel();
}

bool Session::closing() const { return closing_.cancelled(); }

}  // namespace avendro
