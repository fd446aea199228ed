#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "channel/checked_download.h"
#include "channel/signature.h"
#include "tests/test_support.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::ReadFile;

std::string Bytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  return bytes;
}

// The whole check of `data` against `minisig`, the bytes given in pieces of
// uneven sizes. A refused Begin must leave no check behind.
Status Check(const SigningKey& key, const std::string& minisig, const std::string& data) {
  std::unique_ptr<SignatureCheck> check;
  Status begun = SignatureCheck::Begin(key, minisig, &check);
  if (!begun.ok()) {
    EXPECT_EQ(check, nullptr);
    return begun;
  }
  const size_t pieces[] = {1, 7, 4093, 65537, 300000};
  size_t pos = 0;
  for (size_t i = 0; pos < data.size(); ++i) {
    size_t n = std::min(pieces[i % std::size(pieces)], data.size() - pos);
    check->Update(data.data() + pos, n);
    pos += n;
  }
  return check->Finish();
}

std::string Base64(const std::string& bytes) {
  std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const uint8_t*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  out.pop_back();  // the terminating zero
  return out;
}

std::string AsText(const uint8_t* bytes, size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

// A key pair of libsodium's and the .minisig texts that minisign writes,
// so that these cases run also where minisign does not (under Wine).
struct SodiumSigner {
  SodiumSigner() {
    EXPECT_GE(sodium_init(), 0);
    crypto_sign_keypair(pk, sk);
    EXPECT_TRUE(SigningKey::Parse(Base64("Ed" + id + AsText(pk, sizeof pk)), &key).ok());
  }
  std::string SignLegacy(const std::string& data) const {
    uint8_t sig[64];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                         sk);
    return AsText(sig, sizeof sig);
  }
  std::string SignPrehashed(const std::string& data) const {
    uint8_t hash[64];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const uint8_t*>(data.data()),
                       data.size(), nullptr, 0);
    return SignLegacy(AsText(hash, sizeof hash));
  }
  std::string Minisig(const std::string& algorithm, const std::string& signature,
                      int64_t timestamp = 1767225600) const {
    const std::string trusted = "timestamp:" + std::to_string(timestamp) + "\tfile:dunmar.rar";
    return "untrusted comment: signature from minisign secret key\n" +
           Base64(algorithm + id + signature) + "\ntrusted comment: " + trusted + "\n" +
           Base64(SignLegacy(signature + trusted)) + "\n";
  }

  uint8_t pk[crypto_sign_PUBLICKEYBYTES];
  uint8_t sk[crypto_sign_SECRETKEYBYTES];
  std::string id = "\x29\x00\xdc\xe5\xa9\x5f\xcc\x6a"s;
  SigningKey key;
};

TEST(SignatureKey, TakesOnlyAnEd25519MinisignKey) {
  SodiumSigner signer;
  std::string bytes = "Ed" + signer.id + AsText(signer.pk, sizeof signer.pk);
  SigningKey key;
  std::string line = " ";  // appended: " " + string makes mingw's GCC 12 warn (-Wrestrict)
  line += Base64(bytes) + "\r\n";
  EXPECT_TRUE(SigningKey::Parse(line, &key).ok());
  EXPECT_EQ(AsText(key.id().data(), key.id().size()), signer.id);
  std::string not_base64 = Base64(bytes);
  not_base64[10] = '*';
  for (const std::string& bad : {std::string(), Base64(bytes.substr(0, 39)), Base64(bytes + "x"),
                                 Base64("ED" + bytes.substr(2)), not_base64}) {
    Status status = SigningKey::Parse(bad, &key);
    EXPECT_EQ(status.message(), "chiave pubblica malformata") << bad;
  }
}

// The legacy signatures are checked with our own Ed25519 equation (libsodium
// has no streaming verification): it must agree with libsodium's on honest
// signatures and on every kind of tampering.
TEST(SignatureCheck, LegacyEd25519AgreesWithLibsodium) {
  SodiumSigner signer;
  // L, the order of the group, little-endian.
  const uint8_t order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                             0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                             0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
  for (const std::string& message :
       {std::string(), std::string("a"), Bytes(64, 1), Bytes(200000, 2)}) {
    const std::string honest = signer.SignLegacy(message);
    std::vector<std::pair<std::string, std::string>> cases = {{"honest", honest}};
    auto add = [&](const std::string& what, auto change) {
      std::string sig = honest;
      change(reinterpret_cast<uint8_t*>(sig.data()));
      cases.push_back({what, sig});
    };
    add("R changed", [](uint8_t* s) { s[0] ^= 1; });
    add("S changed", [](uint8_t* s) { s[40] ^= 1; });
    add("S + L", [&](uint8_t* s) {
      unsigned carry = 0;
      for (int i = 0; i < 32; ++i) {
        carry += s[32 + i] + order[i];
        s[32 + i] = static_cast<uint8_t>(carry);
        carry >>= 8;
      }
    });
    add("S top bit", [](uint8_t* s) { s[63] |= 0x80; });
    add("R the neutral point", [](uint8_t* s) {
      std::fill(s, s + 32, 0);
      s[0] = 1;
    });
    add("R of order 4", [](uint8_t* s) { std::fill(s, s + 32, 0); });

    for (const auto& [what, sig] : cases) {
      for (const std::string& data : {message, message + "x"}) {
        bool sodium = crypto_sign_verify_detached(reinterpret_cast<const uint8_t*>(sig.data()),
                                                  reinterpret_cast<const uint8_t*>(data.data()),
                                                  data.size(), signer.pk) == 0;
        Status ours = Check(signer.key, signer.Minisig("Ed", sig), data);
        EXPECT_EQ(ours.ok(), sodium) << what << ", " << data.size() << " bytes";
        if (what == "honest") {
          EXPECT_EQ(sodium, data == message);
        }
      }
    }
  }

  // The algorithm names are not signed: a signature of one kind sent as the
  // other is refused by the file's check.
  const std::string data = Bytes(100000, 3);
  EXPECT_TRUE(Check(signer.key, signer.Minisig("ED", signer.SignPrehashed(data)), data).ok());
  EXPECT_FALSE(Check(signer.key, signer.Minisig("ED", signer.SignLegacy(data)), data).ok());
  EXPECT_FALSE(Check(signer.key, signer.Minisig("Ed", signer.SignPrehashed(data)), data).ok());
}

// Keys and signatures made by the real minisign, as the vendor's
// tools/sign-archives makes them.
class SignatureMinisign : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::OnWindows()) GTEST_SKIP() << "minisign is not run from Windows programs";
    folder_ = testing::FreshFolder("avendro-minisign-");
    key_ = MakeKey("key");
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  void Run(const std::string& arguments) {
    std::string command = "minisign " + arguments + " </dev/null >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0)
        << command << " failed (tools/install-deps installs minisign)";
  }

  // A key pair without password, in <folder>/<name>.pub and .key.
  SigningKey MakeKey(const std::string& name) {
    fs::path base = folder_ / name;
    Run("-G -W -p '" + base.string() + ".pub' -s '" + base.string() + ".key'");
    std::string pub = ReadFile(base.string() + ".pub");
    SigningKey key;
    Status status = SigningKey::Parse(pub.substr(pub.find('\n') + 1), &key);
    EXPECT_TRUE(status.ok()) << status.message();
    return key;
  }

  // The .minisig of `data` signed with `key_name`; `options` may hold -l.
  std::string Sign(const std::string& data, const std::string& options = "",
                   const std::string& key_name = "key") {
    fs::path file = folder_ / "dunmar.rar";
    std::ofstream(file, std::ios::binary) << data;
    fs::remove(file.string() + ".minisig");
    Run("-S " + options + " -s '" + (folder_ / key_name).string() + ".key' -m '" + file.string() +
        "' -t 'dunmar.rar 1.0.5'");
    return ReadFile(file.string() + ".minisig");
  }

  fs::path folder_;
  SigningKey key_;
};

TEST_F(SignatureMinisign, SignaturesCoverExactlyTheSignedBytes) {
  const std::string archive = Bytes(3 * 1024 * 1024 + 17, 4);
  for (const std::string options : {"", "-l"}) {
    SCOPED_TRACE(options.empty() ? "prehashed" : "legacy");
    const std::string minisig = Sign(archive, options);
    Status status = Check(key_, minisig, archive);
    EXPECT_TRUE(status.ok()) << status.message();

    std::string flipped = archive;
    flipped[flipped.size() / 2] ^= 0x20;
    EXPECT_EQ(Check(key_, minisig, flipped).message(), "firma non valida");
    EXPECT_FALSE(Check(key_, minisig, archive.substr(0, archive.size() - 1)).ok());
    EXPECT_FALSE(Check(key_, Sign(Bytes(1000, 5), options), archive).ok());

    const std::string empty_signed = Sign("", options);
    EXPECT_TRUE(Check(key_, empty_signed, "").ok());
    EXPECT_FALSE(Check(key_, empty_signed, "x").ok());
    EXPECT_FALSE(Check(key_, Sign("x", options), "").ok());
  }
}

TEST_F(SignatureMinisign, RefusesBrokenForeignOrOversizedSignatureFiles) {
  const std::string archive = Bytes(50000, 6);
  const std::string minisig = Sign(archive);
  ASSERT_TRUE(Check(key_, minisig, archive).ok());

  // Cut anywhere before its last line end.
  for (size_t size = 0; size + 1 < minisig.size(); ++size) {
    std::unique_ptr<SignatureCheck> check;
    EXPECT_FALSE(SignatureCheck::Begin(key_, minisig.substr(0, size), &check).ok()) << size;
  }

  MakeKey("other");
  EXPECT_EQ(Check(key_, Sign(archive, "", "other"), archive).message(), "firma di un'altra chiave");

  // The trusted comment changed, or taken with its signature from another file's.
  size_t trusted = minisig.find("\ntrusted comment: dunmar") + 1;
  std::string altered = minisig;
  altered[trusted + std::string("trusted comment: d").size()] = 'D';
  EXPECT_EQ(Check(key_, altered, archive).message(), "commento fidato alterato");
  std::string other = Sign(Bytes(10, 7));
  std::string moved =
      minisig.substr(0, trusted) + other.substr(other.find("\ntrusted comment:") + 1);
  EXPECT_EQ(Check(key_, moved, archive).message(), "commento fidato alterato");

  // The untrusted comment is not signed: it may grow up to the size limit.
  std::string padded = minisig;
  padded.insert(padded.find('\n'), SignatureCheck::kMaxSignatureFile - minisig.size(), '.');
  EXPECT_TRUE(Check(key_, padded, archive).ok());
  padded.insert(padded.find('\n'), 1, '.');
  EXPECT_EQ(Check(key_, padded, archive).message(), "file della firma troppo grande");
  EXPECT_EQ(Check(key_, minisig + std::string(10 * 1024 * 1024, '\n'), archive).message(),
            "file della firma troppo grande");
}

struct CuedServer : Transport {
  std::string body, minisig;
  int64_t announce = -1;
  bool from_start = false, refuse_resume = false;
  std::vector<uint64_t> offsets;  // asked for the archive
  Status Connect() override { return Status::Ok(); }
  Status ChangeFolder(const std::string&) override { return Status::Ok(); }
  Status Describe(const std::string&, RemoteFile* file) override {
    *file = {5000, 1000};
    return Status::Ok();
  }
  FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t, FetchSink& sink,
                 std::string*) override {
    const bool signature = remote.ends_with(".minisig");
    if (!signature) offsets.push_back(offset);
    if (!signature && offset > 0 && refuse_resume) return FetchEnd::kResumeRefused;
    if (announce >= 0) sink.Announced(announce);
    const std::string bytes = signature ? minisig : body.substr(from_start ? 0 : offset);
    return sink.Take(bytes.data(), bytes.size()) ? FetchEnd::kDone : FetchEnd::kRefused;
  }
  Status Disconnect() override { return Status::Ok(); }
};

TEST(CheckedDownloadRules, ASizeResumeOrSignatureTimeTheServerGetsWrongIsNeverTaken) {
  testing::TempPrefix t;
  auto files = testing::SystemFileSystem(t);
  CuedServer server;
  server.body = Bytes(5000, 8) + "extra";
  server.announce = 5005;  // the transfer's own size may not raise the described one
  const fs::path old = t.Put('d', "dunmar.rar", "earlier");
  CheckedDownload download(server, *files);
  const std::string too_long = "dunmar.rar: il server manda più dei 5000 byte annunciati";
  EXPECT_EQ(download.Download("dunmar.rar", "d:\\dunmar.rar").message(), too_long);
  server.body.resize(5000);
  server.from_start = true;
  const std::string part = "dunmar.rar.5000-1000.avendro-part";
  t.Put('d', part, server.body.substr(0, 1000));
  EXPECT_EQ(download.Download("dunmar.rar", "d:\\dunmar.rar").message(), too_long);
  EXPECT_EQ(ReadFile(old), "earlier");

  // A refused resume: the signature is checked over the whole file alone.
  SodiumSigner signer;
  const std::string signature = signer.SignPrehashed(server.body);
  server.minisig = signer.Minisig("ED", signature, std::time(nullptr));
  server.from_start = false;
  server.refuse_resume = true;
  t.Put('d', part, server.body.substr(0, 1000));
  t.Put('d', "drubel/avendro-firme.txt", "");
  download.SetSigningKey(signer.key);
  download.SetStateFile("d:\\drubel\\avendro-firme.txt");
  EXPECT_EQ(download.Download("dunmar.rar", "d:\\dunmar.rar").message(), "");
  EXPECT_EQ(server.offsets, (std::vector<uint64_t>{0, 1000, 1000, 0}));
  // Past the day's margin: refused before the archive is asked for.
  server.minisig = signer.Minisig("ED", signature, std::time(nullptr) + 24 * 3600 + 120);
  const std::string ahead = download.Download("dunmar.rar", "d:\\dunmar.rar").message();
  EXPECT_EQ(ahead.rfind("dunmar.rar: firma datata ", 0), 0u) << ahead;
  EXPECT_EQ(server.offsets.size(), 4u);
}

}  // namespace
}  // namespace avendro
