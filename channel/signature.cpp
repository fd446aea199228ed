#include "channel/signature.h"

#include <sodium.h>

#include <cstring>

#include "channel/signature_settings.h"

namespace avendro {

namespace {

constexpr size_t kSignatureSize = crypto_sign_BYTES;        // 64: R || S
constexpr size_t kHashSize = crypto_generichash_BYTES_MAX;  // 64: BLAKE2b-512

// minisign's two-byte algorithm names. Keys are always "Ed"; a signature is
// "ED" when it signs the BLAKE2b-512 of the file (minisign's default since
// 0.8), "Ed" when it signs the file itself (minisign -l).
constexpr char kLegacy[] = "Ed";
constexpr char kPrehashed[] = "ED";

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";

// sodium_init is safe to call from several threads; once is enough.
Status SodiumReady() {
  static const int result = sodium_init();
  if (result < 0) return Status::Error("libreria crittografica non disponibile");
  return Status::Ok();
}

// Ok when `base64` (padded, nothing around it) is exactly N bytes.
template <size_t N>
bool DecodeExactly(const std::string& base64, std::array<uint8_t, N>* out) {
  size_t size = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out->data(), N, base64.data(), base64.size(), nullptr, &size, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0) {
    return false;
  }
  return size == N && end == base64.data() + base64.size();
}

// The line of `text` at `*pos`, without its line end; `*pos` moves past it.
// False when nothing is left.
bool NextLine(const std::string& text, size_t* pos, std::string* line) {
  if (*pos >= text.size()) return false;
  size_t end = text.find('\n', *pos);
  if (end == std::string::npos) end = text.size();
  *line = text.substr(*pos, end - *pos);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  *pos = end + 1;
  return true;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// S < L exactly when reducing it modulo L leaves it as it is.
bool CanonicalScalar(const uint8_t* s) {
  uint8_t wide[64] = {};
  std::memcpy(wide, s, 32);
  uint8_t reduced[32];
  crypto_core_ed25519_scalar_reduce(reduced, wide);
  return std::memcmp(reduced, s, 32) == 0;
}

// Ed25519 verification with the message hashed beforehand, piece by piece:
// `hram` is SHA-512(R || A || message). crypto_sign_verify_detached would
// need the whole message in memory. Refuses what it refuses (S >= L, R or A
// of small order or not a point) and checks [S]B == R + [k]A. The library's
// scalar products refuse a zero scalar or result; S or k being 0 mod L has
// probability 2^-252 for an honest signature, so those are refused too.
bool VerifyEd25519(const uint8_t* signature, const uint8_t* public_key, const uint8_t* hram) {
  const uint8_t* r = signature;
  const uint8_t* s = signature + 32;
  if (!CanonicalScalar(s)) return false;
  if (crypto_core_ed25519_is_valid_point(r) != 1) return false;
  if (crypto_core_ed25519_is_valid_point(public_key) != 1) return false;
  uint8_t k[32];
  crypto_core_ed25519_scalar_reduce(k, hram);
  uint8_t sb[32], ka[32], rka[32];
  if (crypto_scalarmult_ed25519_base_noclamp(sb, s) != 0) return false;
  if (crypto_scalarmult_ed25519_noclamp(ka, k, public_key) != 0) return false;
  if (crypto_core_ed25519_add(rka, r, ka) != 0) return false;
  return crypto_verify_32(sb, rka) == 0;
}

// The four lines of a .minisig, decoded.
struct Minisig {
  std::array<uint8_t, 2 + SigningKey::kIdSize + kSignatureSize> signature_line;
  std::string trusted_comment;  // after its prefix
  std::array<uint8_t, kSignatureSize> global_signature;

  std::string algorithm() const {
    return std::string(signature_line.begin(), signature_line.begin() + 2);
  }
  const uint8_t* key_id() const { return signature_line.data() + 2; }
  const uint8_t* signature() const { return signature_line.data() + 2 + SigningKey::kIdSize; }
};

// Like minisign, reads the first four lines and ignores the rest.
bool ParseMinisig(const std::string& text, Minisig* sig) {
  size_t pos = 0;
  std::string untrusted, signature, trusted, global;
  if (!NextLine(text, &pos, &untrusted) || !NextLine(text, &pos, &signature) ||
      !NextLine(text, &pos, &trusted) || !NextLine(text, &pos, &global)) {
    return false;
  }
  if (!StartsWith(untrusted, kUntrustedPrefix) || !StartsWith(trusted, kTrustedPrefix)) {
    return false;
  }
  sig->trusted_comment = trusted.substr(std::strlen(kTrustedPrefix));
  return DecodeExactly(signature, &sig->signature_line) &&
         DecodeExactly(global, &sig->global_signature);
}

// The global signature covers the file's signature followed by the trusted
// comment, so the comment cannot be changed nor moved to another file.
bool TrustedCommentSigned(const Minisig& sig, const SigningKey& key) {
  std::string signed_text(reinterpret_cast<const char*>(sig.signature()), kSignatureSize);
  signed_text += sig.trusted_comment;
  return crypto_sign_verify_detached(sig.global_signature.data(),
                                     reinterpret_cast<const uint8_t*>(signed_text.data()),
                                     signed_text.size(), key.public_key().data()) == 0;
}

}  // namespace

Status SigningKey::Parse(const std::string& base64_line, SigningKey* key) {
  Status ready = SodiumReady();
  if (!ready.ok()) return ready;
  const char* blanks = " \t\r\n";
  size_t first = base64_line.find_first_not_of(blanks);
  size_t last = base64_line.find_last_not_of(blanks);
  std::string trimmed =
      first == std::string::npos ? "" : base64_line.substr(first, last - first + 1);
  std::array<uint8_t, 2 + kIdSize + kPublicKeySize> bytes;
  if (!DecodeExactly(trimmed, &bytes) || std::memcmp(bytes.data(), kLegacy, 2) != 0) {
    return Status::Error("chiave pubblica malformata");
  }
  std::memcpy(key->id_.data(), bytes.data() + 2, kIdSize);
  std::memcpy(key->public_key_.data(), bytes.data() + 2 + kIdSize, kPublicKeySize);
  return Status::Ok();
}

Status CompiledSigningKey(std::optional<SigningKey>* key) {
  key->reset();
  if (kCompiledSigningKey[0] == '\0') return Status::Ok();
  SigningKey parsed;
  Status status = SigningKey::Parse(kCompiledSigningKey, &parsed);
  if (!status.ok()) return Status::Error("AVENDRO_SIGNING_KEY: " + status.message());
  *key = parsed;
  return Status::Ok();
}

Status ReadClaims(const std::string& trusted_comment, SignedClaims* claims) {
  SignedClaims read;
  for (size_t start = 0; start <= trusted_comment.size();) {
    size_t end = trusted_comment.find('\t', start);
    if (end == std::string::npos) end = trusted_comment.size();
    const std::string field = trusted_comment.substr(start, end - start);
    if (StartsWith(field, "timestamp:")) {
      const std::string digits = field.substr(10);
      if (digits.empty() || digits.size() > 18 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        return Status::Error("data della firma illeggibile (" + field + ")");
      }
      read.timestamp = std::stoll(digits);
    } else if (StartsWith(field, "file:")) {
      read.file = field.substr(5);
    }
    start = end + 1;
  }
  if (read.timestamp < 0) return Status::Error("la firma non dice quando è stata fatta");
  if (read.file.empty()) return Status::Error("la firma non dice di quale file è");
  *claims = read;
  return Status::Ok();
}

struct SignatureCheck::State {
  std::string trusted_comment;
  bool prehashed = false;
  std::array<uint8_t, SigningKey::kPublicKeySize> public_key;
  std::array<uint8_t, kSignatureSize> signature;
  crypto_generichash_state blake2b;  // prehashed: of the file
  crypto_hash_sha512_state sha512;   // legacy: of R || A || the file
};

SignatureCheck::SignatureCheck(std::unique_ptr<State> state) : state_(std::move(state)) {}
SignatureCheck::~SignatureCheck() = default;

Status SignatureCheck::Begin(const SigningKey& key, const std::string& minisig_text,
                             std::unique_ptr<SignatureCheck>* check) {
  check->reset();
  if (minisig_text.size() > kMaxSignatureFile) {
    return Status::Error("file della firma troppo grande");
  }
  Status ready = SodiumReady();
  if (!ready.ok()) return ready;
  Minisig sig;
  if (!ParseMinisig(minisig_text, &sig)) return Status::Error("firma malformata");
  std::string algorithm = sig.algorithm();
  if (algorithm != kPrehashed && algorithm != kLegacy) {
    return Status::Error("tipo di firma sconosciuto");
  }
  if (std::memcmp(sig.key_id(), key.id().data(), SigningKey::kIdSize) != 0) {
    return Status::Error("firma di un'altra chiave");
  }
  if (!TrustedCommentSigned(sig, key)) return Status::Error("commento fidato alterato");

  auto state = std::make_unique<State>();
  state->trusted_comment = sig.trusted_comment;
  state->prehashed = algorithm == kPrehashed;
  state->public_key = key.public_key();
  std::memcpy(state->signature.data(), sig.signature(), kSignatureSize);
  if (state->prehashed) {
    crypto_generichash_init(&state->blake2b, nullptr, 0, kHashSize);
  } else {
    crypto_hash_sha512_init(&state->sha512);
    crypto_hash_sha512_update(&state->sha512, state->signature.data(), 32);  // R
    crypto_hash_sha512_update(&state->sha512, state->public_key.data(), state->public_key.size());
  }
  check->reset(new SignatureCheck(std::move(state)));
  return Status::Ok();
}

const std::string& SignatureCheck::trusted_comment() const { return state_->trusted_comment; }

void SignatureCheck::Update(const char* data, size_t size) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  if (state_->prehashed) {
    crypto_generichash_update(&state_->blake2b, bytes, size);
  } else {
    crypto_hash_sha512_update(&state_->sha512, bytes, size);
  }
}

Status SignatureCheck::Finish() {
  uint8_t hash[64];
  bool valid;
  if (state_->prehashed) {
    crypto_generichash_final(&state_->blake2b, hash, kHashSize);
    valid = crypto_sign_verify_detached(state_->signature.data(), hash, kHashSize,
                                        state_->public_key.data()) == 0;
  } else {
    crypto_hash_sha512_final(&state_->sha512, hash);
    valid = VerifyEd25519(state_->signature.data(), state_->public_key.data(), hash);
  }
  return valid ? Status::Ok() : Status::Error("firma non valida");
}

}  // namespace avendro
