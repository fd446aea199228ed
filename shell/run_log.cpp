#include "shell/run_log.h"

#include "catalogue/catalogue.h"
#include "platform/local_time.h"

#include <vector>

namespace avendro {

RunLog::RunLog(FileSystem& files, char letter, Clock clock)
    : files_(files), path_(OnDrive(letter, kLogFile)), clock_(std::move(clock)) {}

RunLog::RunLog(FileSystem& files, std::string path, Clock clock)
    : files_(files), path_(std::move(path)), clock_(std::move(clock)) {}

// The file is left where it is: the next run appends to it.
RunLog::~RunLog() = default;

Status RunLog::Open(const std::string& face, const std::string& version) {
  opened_ = true;
  // Its Commit is the move aside when the file is full: the partial file
  // of a download is exactly a file appended to and moved in one step.
  Status status = files_.OpenSharedLog(path_, path_ + ".1", &file_);
  if (!status.ok()) return Close(status);
  size_ = file_->kept();
  std::vector<std::string> kept = std::move(kept_);
  header_ = "===== Avendro " + version + ", " + face + " =====";
  status = Append(LocalTimeText(clock_()) + " " + header_);
  for (size_t i = 0; status.ok() && i < kept.size(); ++i) status = Append(kept[i]);
  return status;
}

Status RunLog::Write(const std::string& line) {
  std::string stamped = LocalTimeText(clock_()) + " " + line;
  if (!opened_) {
    kept_.push_back(std::move(stamped));
    return Status::Ok();
  }
  if (!file_) return Status::Ok();
  return Append(stamped);
}

Status RunLog::Append(const std::string& text) {
  const std::string bytes = text + "\r\n";
  if (size_ > 0 && size_ + bytes.size() > kRunLogLimit) {
    Status status = file_->Commit(Flush::kAll);
    if (status.ok()) status = files_.OpenSharedLog(path_, path_ + ".1", &file_);
    if (!status.ok()) return Close(status);
    size_ = file_->kept();
    // The new file says which run its first lines belong to.
    const std::string header = LocalTimeText(clock_()) + " " + header_ + "\r\n";
    status = file_->Append(header.data(), header.size());
    if (!status.ok()) return Close(status);
    size_ += header.size();
  }
  Status status = file_->Append(bytes.data(), bytes.size());
  if (!status.ok()) return Close(status);
  size_ += bytes.size();
  return Status::Ok();
}

Status RunLog::Close(const Status& failure) {
  file_.reset();
  kept_.clear();
  // The file layer names the file a Commit would move to; the operator
  // knows the log by its own name.
  std::string reason = failure.message();
  const std::string aside = path_ + ".1: ";
  if (reason.compare(0, aside.size(), aside) == 0) reason.erase(0, aside.size());
  if (reason.starts_with(path_ + ":") || reason.starts_with(path_ + " "))
    return Status::Error(reason);
  return Status::Error(path_ + ": " + reason);
}

namespace {

// The log's header and `lines` in the file at `path`.
Status WriteRun(FileSystem& files, const std::string& path, const std::string& face,
                const std::string& version, const std::vector<std::string>& lines) {
  RunLog log(files, path);
  for (const std::string& line : lines) (void)log.Write(line);  // kept until Open
  return log.Open(face, version);
}

}  // namespace

Status NoteRefusedRun(FileSystem& files, char letter, const std::string& face,
                      const std::string& version, const std::string& line, std::string* written) {
  std::vector<std::string> lines = {line};
  if (letter != 0) {
    *written = OnDrive(letter, kLogFile);
    std::string found;
    // Only where the scan of a run would have made the work folder.
    Status status = files.FindEntry(OnDrive(letter, kWorkFolder), kMaskDirectory, &found);
    if (status.ok() && found.empty()) status = Status::Error(*written + ": cartella mancante");
    if (status.ok()) status = WriteRun(files, *written, face, version, lines);
    if (status.ok()) return status;
    lines.push_back("Impossibile scrivere il registro " + status.message());
  }
  std::string folder;
  Status status = files.MachineDataFolder(&folder);
  if (!status.ok()) return status;
  *written = folder + "\\Avendro\\" + std::string(kLogFileName);
  for (const std::string& make : {folder, folder + "\\Avendro"}) {
    std::string found;
    if (status.ok()) status = files.FindEntry(make, kMaskDirectory, &found);
    if (status.ok() && found.empty()) status = files.CreateFolder(make);
  }
  if (status.ok()) status = WriteRun(files, *written, face, version, lines);
  return status;
}

}  // namespace avendro
