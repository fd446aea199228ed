// The vendor's look at the server through a shop's eyes: fetches the named
// archives with their signatures through the very checked download of the
// program (the signature, the key, the file name, the clock rule, the
// sizes) into a folder that stands for a shop's drive d:, and says for each
// whether a shop would install it. tools/publish runs it after every
// publish; a loop of it is a shop fetching while the vendor publishes.
//
//   checked_fetch --key minisign.pub --into FOLDER ftp://USER@HOST[:PORT]/PATH
//                 [--tls] [--ca CA.pem] ARCHIVE...
//   checked_fetch --key minisign.pub --into FOLDER https://HOST[:PORT]/PATH/
//                 [--ca CA.pem] ARCHIVE...
//   checked_fetch --key minisign.pub --into FOLDER --folder FOLDER ARCHIVE...
//
// The password is AVENDRO_FTP_PASSWORD. An https:// URL is a web server,
// reached as the program reaches one, trusting CA.pem alone when given.
// --folder reads the archives of a folder that a web server or a CDN
// serves, as such a server hands them out. The archives land as
// FOLDER/<archive>, the accepted signatures' times in
// FOLDER/drubel/avendro-firme.txt, as on a shop's drive: a second run in
// the same FOLDER is a shop's next night. Exit code 0 when every archive
// verified, 1 when one did not, 2 when the command or the server is wrong.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "channel/signature.h"
#include "channel/transport.h"
#include "channel/update_server.h"
#include "platform/drive_map.h"
#include "platform/file_system_posix.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;

// A folder served by a web server or a CDN: every fetch opens the file
// anew, as such a server does for every request, so that a file replaced
// between two fetches is seen replaced.
class FolderTransport : public Transport {
 public:
  explicit FolderTransport(fs::path root) : root_(std::move(root)) {}

  Status Connect() override {
    std::error_code error;
    if (!fs::is_directory(root_, error)) return Status::Error(root_.string() + ": no such folder");
    return Status::Ok();
  }
  Status ChangeFolder(const std::string& folder) override {
    std::error_code error;
    if (!fs::is_directory(root_ / folder, error)) return Status::Error(folder + ": no such folder");
    root_ /= folder;
    return Status::Ok();
  }
  Status Describe(const std::string& remote, RemoteFile* file) override {
    struct stat info;
    if (::stat((root_ / remote).c_str(), &info) != 0) return ErrnoError(remote, errno);
    file->size = info.st_size;
    file->modified = info.st_mtime;
    return Status::Ok();
  }
  FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t, FetchSink& sink,
                 std::string* reason) override {
    std::ifstream in(root_ / remote, std::ios::binary);
    if (!in) {
      *reason = remote + ": " + std::strerror(errno);
      return errno == ENOENT ? FetchEnd::kNotFound : FetchEnd::kFailed;
    }
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<char> buffer(1 << 16);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
      if (!sink.Take(buffer.data(), static_cast<size_t>(in.gcount()))) return FetchEnd::kRefused;
    }
    if (in.bad()) {
      *reason = remote + ": read error";
      return FetchEnd::kFailed;
    }
    return FetchEnd::kDone;
  }
  Status Disconnect() override { return Status::Ok(); }

 private:
  fs::path root_;
};

struct Options {
  std::string key_file, into, url, folder, ca_file;
  bool tls = false;
  std::vector<std::string> archives;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "checked_fetch: %s\nusage: checked_fetch --key minisign.pub --into FOLDER "
               "(ftp://USER@HOST[:PORT]/PATH [--tls] [--ca CA.pem] | "
               "https://HOST[:PORT]/PATH/ [--ca CA.pem] | --folder FOLDER) "
               "ARCHIVE...\n",
               why);
  return 2;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "ftp://USER@HOST[:PORT]/PATH": the account, "host[:port]" and the folder.
bool ParseFtpUrl(const std::string& url, std::string* user, std::string* host,
                 std::string* folder) {
  const std::string scheme = "ftp://";
  if (url.rfind(scheme, 0) != 0) return false;
  const size_t slash = url.find('/', scheme.size());
  const std::string authority = url.substr(scheme.size(), slash - scheme.size());
  const size_t at = authority.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == authority.size()) return false;
  *user = Unescaped(authority.substr(0, at));
  *host = authority.substr(at + 1);
  *folder = slash == std::string::npos ? "" : Unescaped(url.substr(slash + 1));
  while (!folder->empty() && folder->back() == '/') folder->pop_back();
  return true;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The key's base64 line: the last line of a minisign.pub that is not blank.
Status ReadKey(const std::string& path, SigningKey* key) {
  std::istringstream in(ReadAll(path));
  std::string line, last;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  Status status = SigningKey::Parse(last, key);
  return status.ok() ? status : Status::Error(path + ": " + status.message());
}

int Run(const Options& options) {
  SigningKey key;
  Status status = ReadKey(options.key_file, &key);
  if (!status.ok()) return Usage(status.message().c_str());
  // A CA that cannot be read must not leave the system's store trusted.
  const std::string ca_pem = options.ca_file.empty() ? "" : ReadAll(options.ca_file);
  if (!options.ca_file.empty() && ca_pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    return Usage((options.ca_file + ": no PEM certificate").c_str());
  }
  std::error_code error;
  fs::create_directories(options.into, error);
  DriveMap drives;
  drives.Set('d', options.into);
  PosixFileSystem files(drives);

  std::string user, host, folder;
  std::unique_ptr<Transport> other;  // a server UpdateServer does not speak itself
  // A web server: the program's own address, its URL and its CA.
  ServerAddress web;
  if (!options.folder.empty()) {
    other = std::make_unique<FolderTransport>(options.folder);
  } else if (options.url.rfind("https://", 0) == 0) {
    web.url = options.url;
    web.ca_pem = ca_pem;
  } else if (!ParseFtpUrl(options.url, &user, &host, &folder)) {
    return Usage(("not an ftp://USER@HOST[:PORT]/PATH or https:// URL: " + options.url).c_str());
  }
  std::unique_ptr<UpdateServer> server =
      other ? std::make_unique<UpdateServer>(files, *other) : std::make_unique<UpdateServer>(files);
  if (!web.url.empty()) {
    server->SetAddress(web);
  } else {
    server->SetHost(host);
    server->SetAccount(user);
    const char* password = std::getenv("AVENDRO_FTP_PASSWORD");
    server->SetPassword(password != nullptr ? password : "");
    server->SetTls({options.tls, ca_pem});
  }
  server->SetSigningKey(key);
  server->SetWorkDrive('d');
  status = server->Connect();
  if (status.ok() && !folder.empty()) status = server->ChangeFolder(folder);
  if (!status.ok()) {
    std::fprintf(stderr, "checked_fetch: %s\n", status.message().c_str());
    return 2;
  }
  int refused = 0;
  for (const std::string& archive : options.archives) {
    status = server->Download(archive, "d:\\" + archive);
    if (status.ok()) {
      std::printf("verified: %s\n", archive.c_str());
    } else {
      ++refused;
      std::printf("refused: %s\n", status.message().c_str());
    }
  }
  (void)server->Disconnect();  // every archive has its answer
  std::fflush(stdout);
  return refused == 0 ? 0 : 1;
}

}  // namespace
}  // namespace avendro

int main(int argc, char** argv) {
  avendro::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) return false;
      *into = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--key") {
      ok = value(&options.key_file);
    } else if (arg == "--into") {
      ok = value(&options.into);
    } else if (arg == "--folder") {
      ok = value(&options.folder);
    } else if (arg == "--ca") {
      ok = value(&options.ca_file);
    } else if (arg == "--tls") {
      options.tls = true;
    } else if (arg.rfind("--", 0) == 0) {
      return avendro::Usage(("unknown option " + arg).c_str());
    } else if (options.url.empty() && options.folder.empty() &&
               arg.find("://") != std::string::npos) {
      options.url = arg;
    } else {
      options.archives.push_back(arg);
    }
    if (!ok) return avendro::Usage((arg + " needs a value").c_str());
  }
  if (options.key_file.empty() || options.into.empty() || options.archives.empty() ||
      options.url.empty() == options.folder.empty()) {
    return avendro::Usage("a key, a folder to fetch into, one server and the archives are needed");
  }
  return avendro::Run(options);
}
