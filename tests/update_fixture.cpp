#include "tests/update_fixture.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace avendro::testing {

namespace fs = std::filesystem;

std::vector<std::string> TestFtpServer::Options(const Faults& faults, const std::string& home,
                                                const std::string& log) {
  if (faults.web) {
    std::vector<std::string> args = {"--root", home, "--tls-dir", home + ".tls", "--log", log};
    for (const auto& fault : faults.web_faults) args.insert(args.end(), {"--fault", fault});
    return args;
  }
  std::vector<std::string> args = {"--home",     home,      "--user",          kUser,
                                   "--password", kPassword, "--stall-seconds", "60",
                                   "--log",      log};
  for (const auto& name : faults.refuse) args.insert(args.end(), {"--refuse", name});
  for (const auto& name : faults.broken) args.insert(args.end(), {"--break", name});
  for (const auto& name : faults.stalled) args.insert(args.end(), {"--stall", name});
  for (const auto& name : faults.shortened) args.insert(args.end(), {"--short", name});
  for (const auto& name : faults.lengthened) args.insert(args.end(), {"--long", name});
  for (const auto& name : faults.no_size) args.insert(args.end(), {"--no-size", name});
  for (const auto& name : faults.trickled) args.insert(args.end(), {"--trickle", name});
  if (faults.break_after > 0) {
    args.insert(args.end(), {"--break-after", std::to_string(faults.break_after)});
  }
  for (const auto& name : faults.announce_short)
    args.insert(args.end(), {"--announce-short", name});
  if (faults.no_rest) args.push_back("--no-rest");
  if (faults.not_ftp) args.push_back("--not-ftp");
  if (faults.echo_password) args.push_back("--echo-password");
  if (faults.stall_greeting) args.push_back("--stall-greeting");
  if (faults.tls || faults.tls_wrong_name) {
    args.insert(args.end(), {"--tls", "--tls-dir", home + ".tls"});
    if (faults.tls_wrong_name) args.push_back("--tls-wrong-name");
  }
  return args;
}

std::string TestFtpServer::CaPem() const {
  return ReadFile(fs::path(home_.string() + ".tls") / "ca.pem");
}

int TestFtpServer::Count(const std::string& text, int at_least) const {
  int count = 0;
  for (int tries = 0; tries < 50; ++tries) {
    count = 0;
    std::istringstream in(ReadFile(home_.string() + ".log"));
    for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos;
    if (count >= at_least) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return count;
}

std::string TestFtpServer::host() const {
  return (tls_ && !web_ ? "localhost:" : "127.0.0.1:") + std::to_string(port_);
}

ServerSettings TestFtpServer::settings() const {
  ServerSettings settings;
  settings.host = host();
  settings.user = kUser;
  settings.password = kPassword;
  settings.site = kSite;
  if (web_) {
    settings.url = "https://" + host() + "/" + kSite + "/";
    settings.site.clear();
  }
  settings.ca_pem = CaPem();
  settings.tls_required = !settings.ca_pem.empty();
  return settings;
}

fs::path TestFtpServer::Put(const std::string& relative, const std::string& bytes) const {
  fs::path path = home_ / kSite / "download" / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

void FakeStarter::Hold(double seconds) { std::ofstream(folder_ / "hold") << seconds; }
void FakeStarter::ExitWith(int code) { std::ofstream(folder_ / "exit") << code; }

std::vector<std::string> FakeStarter::Lines(size_t ended) const {
  std::vector<std::string> lines;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    lines.clear();
    size_t ends = 0;
    std::istringstream in(ReadFile(folder_ / "record"));
    for (std::string line; std::getline(in, line);) {
      ends += line.rfind("END ", 0) == 0;
      lines.push_back(line);
    }
    if (ends >= ended) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return lines;
}

std::vector<std::string> FakeStarter::Calls(size_t ended) const {
  std::vector<std::string> calls;
  for (auto& line : Lines(ended)) {
    if (line.rfind("END ", 0) != 0) calls.push_back(line);
  }
  return calls;
}

RunBench::RunBench(const TestFtpServer::Faults& faults)
    : server(faults), remote(window, platform, ftp, modu1, closing, server.settings()) {
  modu1.LetteraUnita = 'd';
  ftp.SetTimeLimits(std::chrono::seconds(3), std::chrono::seconds(2));
  remote.SetScriptWaitLimit(std::chrono::seconds(5));
}

const std::vector<std::string>& ClosingLines() {
  static const std::vector<std::string> lines = {"", "      ELABORAZIONE TERMINATA", "",
                                                 "****  GRAZIE PER LA GENTILE ****",
                                                 "          COLLABORAZIONE "};
  return lines;
}

std::vector<std::string> WithoutScriptWaits(std::vector<std::string> lines) {
  std::erase_if(lines, [](const std::string& line) {
    return line.starts_with("Attesa della fine dello script ");
  });
  return lines;
}

}  // namespace avendro::testing
