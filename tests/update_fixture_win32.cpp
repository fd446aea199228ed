#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/launcher_win32.h"
#include "platform/utf16_win32.h"
#include "tests/update_fixture.h"

namespace avendro::testing {

namespace fs = std::filesystem;

namespace {

// The folder of this test program, where the programs built with it lie.
fs::path ProgramFolder() {
  wchar_t own[MAX_PATH];
  return fs::path(std::wstring(own, GetModuleFileNameW(nullptr, own, MAX_PATH))).parent_path();
}

fs::path Recorder() { return ProgramFolder() / "avendro_start_recorder.exe"; }

// The path as the Linux side sees it: Wine's kernel32 turns a Windows path
// into the Unix one. Elsewhere the path stays as it is.
std::string ServerPath(const fs::path& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
  if (found == nullptr) return path.string();
  auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(found));
  char* unix_path = to_unix(path.wstring().c_str());
  if (unix_path == nullptr) throw std::runtime_error("no Unix path for " + path.string());
  std::string out = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return out;
}

// A connection to the spawner of the test FTP servers on 127.0.0.1.
SOCKET ConnectToSpawner() {
  const char* port = std::getenv("AVENDRO_FTP_SPAWNER");
  if (port == nullptr || std::atoi(port) <= 0) {
    throw std::runtime_error(
        "AVENDRO_FTP_SPAWNER does not name the port of tools/ftp_server_spawner.py "
        "(tools/test-windows starts it)");
  }
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    throw std::runtime_error(std::string("cannot reach the FTP server spawner on port ") + port);
  }
  DWORD limit_ms = 15000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit_ms), sizeof limit_ms);
  return s;
}

}  // namespace

TestFtpServer::TestFtpServer(const Faults& faults) {
  home_ = FreshFolder("avendro-ftp-");
  fs::create_directories(home_ / kSite / "download" / "utility");
  tls_ = faults.tls || faults.tls_wrong_name;

  // One line of options separated by tabs; the spawner answers with the
  // line the server prints, its port.
  const std::string home = ServerPath(home_);
  std::string request;
  for (const auto& option : Options(faults, home, home + ".log")) request += option + "\t";
  request.back() = '\n';

  SOCKET s = ConnectToSpawner();
  server_ = static_cast<intptr_t>(s);
  std::string answer;
  if (send(s, request.data(), static_cast<int>(request.size()), 0) ==
      static_cast<int>(request.size())) {
    char buf[64];
    int n = 0;
    while (answer.find('\n') == std::string::npos && (n = recv(s, buf, sizeof buf, 0)) > 0) {
      answer.append(buf, static_cast<size_t>(n));
    }
  }
  port_ = std::atoi(answer.c_str());
  if (port_ <= 0) {
    closesocket(s);
    server_ = -1;
    throw std::runtime_error("tools/ftp_server.py did not report its port: " + answer);
  }
}

TestFtpServer::~TestFtpServer() {
  if (server_ != -1) {
    // The spawner stops the server when the request ends, and closes the
    // connection once the server has exited.
    SOCKET s = static_cast<SOCKET>(server_);
    shutdown(s, SD_SEND);
    char buf[64];
    while (recv(s, buf, sizeof buf, 0) > 0) {
    }
    closesocket(s);
  }
  std::error_code ec;
  fs::remove_all(home_, ec);
  fs::remove(home_.string() + ".log", ec);
  fs::remove_all(home_.string() + ".tls", ec);
}

FakeStarter::FakeStarter(const TempPrefix&) {
  folder_ = FreshFolder("avendro-starts-");
  SetEnvironmentVariableW(L"AVENDRO_START_RECORD", folder_.wstring().c_str());
  Win32Launcher::UseInterpreter(Recorder().string());
}

FakeStarter::~FakeStarter() {
  Win32Launcher::UseInterpreter("");
  SetEnvironmentVariableW(L"AVENDRO_START_RECORD", nullptr);
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

std::string FakeStarter::Installer() const { return ReadFile(Recorder()); }

NoStarter::NoStarter() {
  folder_ = FreshFolder("avendro-nostarter-");
  Win32Launcher::UseInterpreter((folder_ / "cmd.exe").string());
}

NoStarter::~NoStarter() {
  Win32Launcher::UseInterpreter("");
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

int WithMounts(const std::vector<Mount>&, const std::function<int()>&) { return kNoMounts; }

}  // namespace avendro::testing
