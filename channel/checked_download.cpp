#include "channel/checked_download.h"

#include "channel/archive_identity.h"
#include "platform/local_time.h"
#include "platform/text.h"

#include <ctime>
#include <map>
#include <sstream>
#include <vector>

namespace avendro {

namespace {

// The last component of a Windows path.
std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Windows drops trailing blanks and dots of a name.
std::string WithoutTrailingBlanks(std::string path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '.')) path.pop_back();
  return path;
}

// "d:\dunmar\dunmar.rar " -> "d:\dunmar\dunmar.rar.<size>-<time>.avendro-part":
// the server's size and time in the name tie the bytes to the file they
// came from.
std::string PartialPath(const std::string& local, const RemoteFile& file) {
  std::string base = WithoutTrailingBlanks(local);
  if (file.size > 0 && file.modified >= 0) {
    return base + "." + std::to_string(file.size) + "-" + std::to_string(file.modified) +
           CheckedDownload::kPartialSuffix;
  }
  return base + CheckedDownload::kPartialSuffix;
}

// The state file's lines, archive name (lower case) -> newest timestamp.
std::map<std::string, int64_t> ParseState(const std::string& text) {
  std::map<std::string, int64_t> newest;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t blank = line.find(' ');
    if (blank == 0 || blank == std::string::npos || blank > 18 ||
        line.find_first_not_of("0123456789") != blank) {
      continue;  // not a line of ours
    }
    int64_t& kept = newest[line.substr(blank + 1)];
    kept = std::max(kept, static_cast<int64_t>(std::stoll(line.substr(0, blank))));
  }
  return newest;
}

// A Unix time as the operator reads the clock of the computer.
std::string TimeText(int64_t unix_time) {
  return LocalTimeText(std::chrono::system_clock::from_time_t(static_cast<std::time_t>(unix_time)));
}

}  // namespace

static_assert(CheckedDownload::kFutureMargin == std::chrono::hours(24),
              "the refusals below say \"più di un giorno\"");

Status SignedTimeAccepted(const std::string& remote, int64_t signed_at, int64_t accepted,
                          int64_t now) {
  const int64_t latest =
      now +
      std::chrono::duration_cast<std::chrono::seconds>(CheckedDownload::kFutureMargin).count();
  // Accepted, such a time would refuse every later signature until the
  // clocks reach it: a wrong clock, the vendor's or this one, says it.
  if (signed_at > latest) {
    return Status::Error(remote + ": firma datata " + TimeText(signed_at) +
                         ", più di un giorno dopo l'ora di questo computer (" + TimeText(now) +
                         "): se data e ora del computer sono giuste, l'archivio è stato firmato " +
                         "con l'orologio avanti e va pubblicato di nuovo dal fornitore");
  }
  if (accepted < 0 || signed_at >= accepted) return Status::Ok();
  // Accepted before such signatures were refused: the archive on the
  // server is newer, and the way out is the operator's.
  if (accepted > latest) {
    return Status::Error(remote + ": la firma già accettata per questo archivio è datata " +
                         TimeText(accepted) + ", più di un giorno dopo l'ora di questo computer (" +
                         TimeText(now) + "), e rifiuta quella del server (" + TimeText(signed_at) +
                         "): fu fatta con l'orologio avanti; per ricevere l'archivio togliere la " +
                         "riga di " + Lower(remote) + " dal file drubel\\avendro-firme.txt");
  }
  return Status::Error(remote + ": firma del " + std::to_string(signed_at) +
                       ", più vecchia di quella già accettata (" + std::to_string(accepted) +
                       "): l'archivio sul server è una versione precedente");
}

// Where the bytes of a fetch go: a partial file, or memory up to `limit`.
struct CheckedDownload::Sink : FetchSink {
  PartialFile* file = nullptr;
  std::string* memory = nullptr;
  size_t limit = 0;
  SignatureCheck* check = nullptr;  // sees every byte of the file, if set
  uint64_t base = 0;                // bytes the file held before this fetch
  int64_t total = -1;               // the whole file's size, -1 unknown
  uint64_t received = 0;
  bool too_long = false;  // more bytes than `limit` or `total`
  Status error;           // of a failed write

  uint64_t got() const { return base + received; }

  // A server without SIZE may still say the size when the transfer starts.
  void Announced(int64_t size) override {
    if (file != nullptr && total < 0) total = size;
  }

  bool Take(const char* data, size_t n) override {
    const uint64_t after = got() + n;
    if ((memory != nullptr && after > limit) ||
        (total >= 0 && after > static_cast<uint64_t>(total))) {
      too_long = true;
      return false;
    }
    if (memory != nullptr) {
      memory->append(data, n);
    } else {
      error = file->Append(data, n);
      if (!error.ok()) return false;
    }
    if (check != nullptr) check->Update(data, n);
    received += n;
    return true;
  }
};

bool CheckedDownload::Progress(uint64_t* done, int64_t* total) const {
  if (under_way_ == nullptr) return false;
  *done = under_way_->got();
  *total = under_way_->total;
  return true;
}

Status CheckedDownload::FetchSignature(const std::string& remote, std::string* minisig,
                                       SignedClaims* claims) {
  const std::string name = remote + ".minisig";
  Sink sink;
  sink.memory = minisig;
  sink.limit = SignatureCheck::kMaxSignatureFile;
  std::string reason;
  FetchEnd end = transport_.Fetch(name, 0, -1, sink, &reason);
  if (sink.too_long) {
    return Status::Error(remote + ": file della firma troppo grande (" + name + ")");
  }
  if (end == FetchEnd::kNotFound) {
    return Status::Error(remote + ": firma mancante, " + name + " non è sul server (" + reason +
                         ")");
  }
  if (end != FetchEnd::kDone) return Status::Error(remote + ": firma non scaricata, " + reason);
  std::unique_ptr<SignatureCheck> check;
  Status status = SignatureCheck::Begin(*key_, *minisig, &check);
  if (status.ok()) status = ReadClaims(check->trusted_comment(), claims);
  if (!status.ok()) return Status::Error(remote + ": " + status.message());

  // Bound to its archive: the signature of another file of the vendor's,
  // or an older one of this file, would otherwise pass as well. Names
  // compare as Windows compares them.
  if (Lower(claims->file) != Lower(remote)) {
    return Status::Error(remote + ": la firma è di un altro file (" + claims->file + ")");
  }
  if (state_file_.empty()) return Status::Error(remote + ": nessun registro delle firme accettate");
  std::string state;
  status = ReadRecordFile(files_, state_file_, &state);
  if (!status.ok()) return Status::Error(remote + ": " + status.message());
  const auto newest = ParseState(state);
  auto accepted = newest.find(Lower(remote));
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  return SignedTimeAccepted(remote, claims->timestamp,
                            accepted == newest.end() ? -1 : accepted->second, now);
}

Status CheckedDownload::Remember(const SignedClaims& claims) {
  const std::string& path = state_file_;
  std::string text;
  Status status = ReadRecordFile(files_, path, &text);
  if (!status.ok()) return status;
  auto newest = ParseState(text);
  int64_t& kept = newest[Lower(claims.file)];
  if (kept > claims.timestamp) return Status::Ok();
  kept = claims.timestamp;
  text.clear();
  for (const auto& [name, timestamp] : newest)
    text += std::to_string(timestamp) + " " + name + "\r\n";
  return WriteRecordFile(files_, path, text);
}

// Partial files of the same target that are not `keep`, or that nobody has
// touched for a week, are of a server file that has changed since, or of a
// run long gone: no resume can use them. Temporary files of replacements
// whose run was killed are of no use either.
void CheckedDownload::RemoveLeftovers(const std::string& local, const std::string& keep) {
  const size_t slash = keep.find_last_of('\\');
  if (slash == std::string::npos) return;
  const std::string folder = keep.substr(0, slash);
  (void)files_.RemoveAbandonedReplacements(folder);  // best effort, as below
  const std::string keep_name = Lower(NameOf(keep));
  const std::string base = Lower(WithoutTrailingBlanks(NameOf(local)));
  const std::string suffix = kPartialSuffix;
  const auto too_old = std::chrono::system_clock::now() - kPartialLifetime;
  std::vector<FolderEntry> entries;
  if (!files_.ListFolder(folder, &entries).ok()) return;  // the download says why
  for (const FolderEntry& entry : entries) {
    const std::string name = Lower(entry.name);
    // "<base><suffix>" (a server without SIZE or MDTM) or "<base>.<...><suffix>".
    if (entry.folder || !name.starts_with(base) || !name.ends_with(suffix)) continue;
    if (name.size() < base.size() + suffix.size()) continue;
    if (name.size() > base.size() + suffix.size() && name[base.size()] != '.') continue;
    if (name == keep_name && entry.modified >= too_old) continue;
    (void)files_.RemoveFile(folder + "\\" + entry.name);  // best effort: a resume checks again
  }
}

Status CheckedDownload::Identify(const std::string& remote, ArchiveIdentity* identity) {
  *identity = {};
  if (key_) {
    std::string minisig;
    SignedClaims claims;
    Status status = FetchSignature(remote, &minisig, &claims);
    if (status.ok()) *identity = SignedIdentity(claims.timestamp);
    return status;
  }
  RemoteFile info;
  Status status = transport_.Describe(remote, &info);
  if (!status.ok()) return Status::Error(remote + ": " + status.message());
  *identity = ServerIdentity(info);
  return Status::Ok();
}

Status CheckedDownload::Download(const std::string& remote, const std::string& local,
                                 ArchiveIdentity* got) {
  std::string minisig;
  SignedClaims claims;
  if (key_) {
    Status signature = FetchSignature(remote, &minisig, &claims);
    if (!signature.ok()) return signature;
  }
  // Whether a partial file can be resumed, and how long the file must be.
  RemoteFile info;
  Status status = transport_.Describe(remote, &info);
  if (!status.ok()) return Status::Error(remote + ": " + status.message());
  if (info.size == 0) return Status::Error(remote + ": il file sul server è vuoto");

  const std::string partial = PartialPath(local, info);
  const bool resumable = info.size > 0 && info.modified >= 0;
  RemoveLeftovers(local, partial);
  std::unique_ptr<PartialFile> file;
  auto start_afresh = [&] {
    file.reset();
    Status removed = files_.RemoveFile(partial);
    return removed.ok() ? files_.OpenPartial(partial, local, &file) : removed;
  };
  status = files_.OpenPartial(partial, local, &file);
  if (status.ok() && file->kept() > 0 &&
      (!resumable || file->kept() >= static_cast<uint64_t>(info.size))) {
    status = start_afresh();  // of unknown origin, or as long as the whole
  }
  if (!status.ok()) return status;

  Sink sink;
  std::unique_ptr<SignatureCheck> check;
  FetchEnd end = FetchEnd::kFailed;
  std::string reason;
  for (bool again = true; again;) {
    again = false;
    if (key_) status = SignatureCheck::Begin(*key_, minisig, &check);
    if (status.ok() && check && file->kept() > 0) {
      status = file->ReadKept([&](const char* data, size_t size) { check->Update(data, size); });
    }
    if (!status.ok()) return status;
    sink = Sink();
    sink.file = file.get();
    sink.check = check.get();
    sink.base = file->kept();
    sink.total = info.size;
    under_way_ = &sink;
    end = transport_.Fetch(remote, file->kept(), info.size, sink, &reason);
    under_way_ = nullptr;
    if (end == FetchEnd::kResumeRefused) {
      // A server that does not resume would refuse every later run as well:
      // the whole file, now.
      status = start_afresh();
      if (!status.ok()) return status;
      again = true;
    }
  }

  // Bytes cut short may be the beginning of the right file; an empty
  // partial file is worth nothing, nor is one that filled the drive.
  bool keep_bytes = resumable && sink.got() > 0 && sink.error.code() != StatusCode::kOutOfSpace;
  status = Status::Ok();
  if (sink.too_long) {
    keep_bytes = false;
    status = Status::Error(remote + ": il server manda più dei " + std::to_string(sink.total) +
                           " byte annunciati");
  } else if (!sink.error.ok()) {
    status = sink.error.In(remote + ": ");
  } else if (end != FetchEnd::kDone) {
    status = Status::Error(remote + ": " + reason);
  } else if (sink.total >= 0 && sink.got() < static_cast<uint64_t>(sink.total)) {
    status = Status::Error(remote + ": trasferimento interrotto, arrivati " +
                           std::to_string(sink.got()) + " byte dei " + std::to_string(sink.total) +
                           " annunciati dal server");
  } else if (sink.got() == 0) {
    status = Status::Error(remote + ": il file sul server è vuoto");
  } else if (check) {
    status = check->Finish();
    if (!status.ok()) {
      keep_bytes = false;  // somewhere in them is a byte the vendor did not sign
      status = Status::Error(remote + ": " + status.message());
    }
  }
  if (!status.ok()) {
    // A download cut short can go on later; bytes that proved wrong cannot.
    file.reset();
    if (!keep_bytes) (void)files_.RemoveFile(partial);
    return status;
  }
  if (key_) status = Remember(claims);
  // An archive moved in but lost by a power cut is fetched again; the
  // signature record, written above, keeps every flush.
  if (status.ok()) status = file->Commit(Flush::kData);
  if (!status.ok()) {
    file.reset();
    (void)files_.RemoveFile(partial);
  } else if (got != nullptr) {
    *got = key_ ? SignedIdentity(claims.timestamp) : ServerIdentity(info);
  }
  return status;
}

}  // namespace avendro
