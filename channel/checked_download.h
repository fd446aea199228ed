#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "channel/archive_identity.h"
#include "channel/signature.h"
#include "channel/transport.h"
#include "platform/file_system.h"

namespace avendro {

// A download that replaces a file only with what has been proved whole and,
// with a key, signed for that file: the partial file beside the target and
// its resume, the sizes the server announces, the signature and the newest
// signature already accepted, the commit. It knows nothing of the protocol;
// any Transport serves.
// Whether `remote`'s signature made at `signed_at` may be accepted on a
// machine whose clock says `now`, when the newest accepted for it was made
// at `accepted` (-1: none); all Unix times. Refused, naming the times in
// the operator's words, when it lies more than kFutureMargin after `now`,
// or before `accepted`.
Status SignedTimeAccepted(const std::string& remote, int64_t signed_at, int64_t accepted,
                          int64_t now);

class CheckedDownload {
 public:
  CheckedDownload(Transport& transport, FileSystem& files) : transport_(transport), files_(files) {}

  // With a key, every download must come with "<name>.minisig" beside it on
  // the server, made with that key, whose trusted comment names the file
  // and was signed no earlier than the newest one accepted for that name on
  // the target's drive (kept in <drive>:\drubel\avendro-firme.txt, one line
  // "<unix time> <name in lower case>" per archive) and no later than
  // kFutureMargin after this machine's clock (see SignedTimeAccepted).
  void SetSigningKey(std::optional<SigningKey> key) { key_ = std::move(key); }
  // The record of the newest signature time accepted for each archive, on
  // the work drive (UpdateServer::SetWorkDrive); a key needs one.
  void SetStateFile(std::string path) { state_file_ = std::move(path); }

  // Downloads `remote` from the transport's current folder to the Windows
  // path `local`. The old file at `local` is replaced only by a complete
  // download: of every size the server announced, not empty, and signed when
  // a key is set. An interrupted download stays beside the target as a
  // partial file that the next download of the same file resumes while the
  // server's file is unchanged; partial files no resume can use, and
  // temporary files of runs that were killed, are removed.
  // On success `*got`, when given, is the identity of the file now at
  // `local` (empty when the server told too little to know it again).
  Status Download(const std::string& remote, const std::string& local,
                  ArchiveIdentity* got = nullptr);

  // What the archive `remote` of the current folder is, without fetching
  // it: with a key, its signature alone is fetched and checked as a
  // download would check it (made with the key, naming `remote`, no older
  // than the one accepted on the work drive); without one, the server's
  // size and time. Fails, saying why, when the server cannot be asked or
  // the signature would be refused.
  Status Identify(const std::string& remote, ArchiveIdentity* identity);

  // While the bytes of a file arrive: how many of the file are there, and
  // its size (-1 unknown). False otherwise.
  bool Progress(uint64_t* done, int64_t* total) const;

  // A partial file untouched this long is not resumed.
  static constexpr std::chrono::hours kPartialLifetime{24 * 7};
  static constexpr char kPartialSuffix[] = ".avendro-part";
  // How far a signature's time may lie after this machine's clock. A day
  // covers the honest differences (a PC showing the right local time in a
  // wrong time zone is hours off, one left on summer time an hour) and
  // bounds what a vendor's clock running ahead can do: once accepted, its
  // time refuses the vendor's later signatures until the real time reaches
  // it, so a day at most.
  static constexpr std::chrono::hours kFutureMargin{24};

  struct Sink;

 private:
  // The signature of `remote`, checked and bound to it: `*minisig` its text.
  Status FetchSignature(const std::string& remote, std::string* minisig, SignedClaims* claims);
  // Records `claims` as the newest accepted for its archive.
  Status Remember(const SignedClaims& claims);
  void RemoveLeftovers(const std::string& local, const std::string& keep);

  Transport& transport_;
  FileSystem& files_;
  std::optional<SigningKey> key_;
  std::string state_file_;
  const Sink* under_way_ = nullptr;
};

}  // namespace avendro
