#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/status.h"

namespace avendro {

// The reasons below are short Italian phrases for the operator; the caller
// puts the archive's name in front of them.

// A minisign public key: the base64 line of a minisign.pub ("RWQ...").
class SigningKey {
 public:
  static constexpr size_t kIdSize = 8;
  static constexpr size_t kPublicKeySize = 32;

  // Ok and `*key` set when `base64_line` is an Ed25519 minisign key;
  // surrounding blanks are ignored. Otherwise a reason, `*key` untouched.
  static Status Parse(const std::string& base64_line, SigningKey* key);

  // The key id as minisign stores it (little-endian).
  const std::array<uint8_t, kIdSize>& id() const { return id_; }
  const std::array<uint8_t, kPublicKeySize>& public_key() const { return public_key_; }

 private:
  std::array<uint8_t, kIdSize> id_{};
  std::array<uint8_t, kPublicKeySize> public_key_{};
};

// The key given when the program was built (AVENDRO_SIGNING_KEY): Ok with
// `*key` empty when none was given, meaning that no signatures are required.
// A failure is a broken build.
Status CompiledSigningKey(std::optional<SigningKey>* key);

// What the trusted comment of a signature says of its file. minisign
// writes "timestamp:<seconds>\tfile:<name>" (and "\thashed") unless told
// otherwise with -t.
struct SignedClaims {
  int64_t timestamp = -1;  // when it was signed, Unix time
  std::string file;        // the name of the file signed, without folders
};

// Ok and `*claims` set when `trusted_comment` has a "timestamp:" and a
// "file:" field; otherwise a reason. Fields are separated by tabs.
Status ReadClaims(const std::string& trusted_comment, SignedClaims* claims);

// Checks one file against its .minisig while the file's bytes go by, so that
// a large archive is never read twice nor held in memory.
class SignatureCheck {
 public:
  // A longer .minisig is refused without being read.
  static constexpr size_t kMaxSignatureFile = 4096;

  // Reads the text of a .minisig: untrusted comment, signature, trusted
  // comment and its signature. Ok and `*check` ready for the file's bytes
  // when the text is well formed, made with `key`, and its trusted comment
  // is the one that was signed; otherwise a reason and `*check` empty.
  static Status Begin(const SigningKey& key, const std::string& minisig_text,
                      std::unique_ptr<SignatureCheck>* check);

  ~SignatureCheck();
  SignatureCheck(const SignatureCheck&) = delete;
  SignatureCheck& operator=(const SignatureCheck&) = delete;

  // The trusted comment, whose signature Begin has checked.
  const std::string& trusted_comment() const;

  // The file's bytes, in order, in pieces of any size.
  void Update(const char* data, size_t size);

  // Ok only when the signature covers exactly the bytes given.
  // REQUIRES: called once, after the last Update.
  Status Finish();

 private:
  struct State;
  explicit SignatureCheck(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace avendro
