#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "channel/update_server.h"
#include "shell/session.h"
#include "shell/startup.h"
#include "tests/test_support.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::LogOf;
using testing::NoDetails;
using testing::RecordingWindow;
using testing::TempPrefix;
using testing::UnusedLauncher;
using testing::UnusedProcesses;

struct Startup {
  explicit Startup(const TempPrefix& t) : files(testing::SystemFileSystem(t)) {}
  std::string Run(const std::string& drive_text = "d: [LAVORO]") {
    modu1.LetteraUnita = drive_text[0];
    return RunStartup(window, platform, &modu1);
  }
  std::unique_ptr<FileSystem> files;
  UnusedProcesses processes;
  UnusedLauncher launcher;
  NoDetails details;
  Platform platform{*files, processes, launcher, details};
  RecordingWindow window;
  Modu1 modu1;
};

const std::vector<std::string> kHead = {"===== CONTROLLO PROGRAMMI SU DISCO ======", ""};
const std::vector<std::string> kTail = {"", "== CONTROLLO PROG IN MEMORIA  ======", ""};

std::vector<std::string> Around(std::vector<std::string> scan) {
  std::vector<std::string> all = kHead;
  all.insert(all.end(), scan.begin(), scan.end());
  all.insert(all.end(), kTail.begin(), kTail.end());
  return all;
}

TEST(Startup, NothingInstalled) {
  TempPrefix t;
  Startup s(t);
  s.Run();
  EXPECT_EQ(s.window.log.text(),
            "- ===== CONTROLLO PROGRAMMI SU DISCO ======\r\n- \r\n- \r\n"
            "- == CONTROLLO PROG IN MEMORIA  ======\r\n- ");
  EXPECT_TRUE(s.window.marked.empty());
  EXPECT_TRUE(fs::is_directory(t.Drive('d') / "drubel"));  // created, no line says so
  EXPECT_EQ(s.modu1.LetteraUnita, 'd');
  EXPECT_EQ(s.modu1.nomiProgrammi[19], "vendix.exe");
  EXPECT_EQ(s.modu1.nomiProgrammi[20], "");
  EXPECT_TRUE(s.window.boxes_read.empty());
}

TEST(Startup, SomeProgramsAreReportedInSlotOrder) {
  TempPrefix t;
  // Installed in another order than the slots, with other letter case.
  t.Put('d', "FENU/Fenu.exe");
  t.Put('d', "programmi/varnok/tamrel.exe");
  t.Put('d', "drubel/fr.exe");
  t.Put('d', "zal/zal.exe");
  Startup s(t);
  s.Run();
  EXPECT_EQ(s.window.log.text(), LogOf(Around({
                                     "Controllo Fe.RO sul Disco...OK",
                                     "Controllo Tamrel sul Disco...OK",
                                     "Controllo Ordini-ZAL sul Disco...OK",
                                     "Controllo Ordini- FENU sul Disco...OK",
                                 })));
  EXPECT_EQ(s.window.marked, (std::vector<int>{2, 4, 12, 14}));
}

TEST(Startup, AllSixteen) {
  TempPrefix t;
  std::vector<std::string> scan;
  std::vector<int> slots;
  for (int slot = kProductCount - 1; slot >= 0; --slot) {
    std::string tail(Row(slot).diskPath.substr(2));
    for (char& c : tail) c = c == '\\' ? '/' : c;
    t.Put('d', tail);
  }
  for (int slot = 0; slot < kProductCount; ++slot) {
    scan.emplace_back(Row(slot).diskMessage);
    slots.push_back(slot);
  }
  Startup s(t);
  s.Run();
  EXPECT_EQ(s.window.log.text(), LogOf(Around(scan)));
  EXPECT_EQ(s.window.marked, slots);
}

TEST(Startup, FoldersAndHiddenFilesAtAProgramPathDoNotCount) {
  TempPrefix t;
  fs::create_directories(t.Drive('d') / "vemo" / "vemo.exe");
  t.Put('d', "olbi/.olbi.exe");
  t.Put('d', "morva/morva.exe");
  Startup s(t);
  s.Run();
  EXPECT_EQ(s.window.lines, Around({"Controllo Ordini-MORVA sul Disco...OK"}));
}

TEST(Startup, WorkFolderKeptWhenAFileStandsThere) {
  TempPrefix t;
  t.Put('d', "drubel", "not a folder");
  t.Put('d', "dunmar/dunmar.exe");
  Startup s(t);
  s.Run();
  EXPECT_TRUE(fs::is_regular_file(t.Drive('d') / "drubel"));
  EXPECT_EQ(s.window.lines, Around({"Controllo Dunmar-supermercati sul Disco...OK"}));
}

TEST(Startup, TheDriveListEntryGivesOneLetter) {
  TempPrefix t;
  t.Put('c', "drubel/drubel.exe");
  Startup s(t);
  s.Run("c: [SISTEMA]");
  EXPECT_EQ(s.modu1.LetteraUnita, 'c');
  EXPECT_EQ(s.window.lines, Around({"Controllo Drubel sul Disco...OK"}));
  EXPECT_TRUE(fs::is_directory(t.Drive('c') / "drubel"));
  EXPECT_FALSE(fs::exists(t.Drive('d') / "drubel"));
}

TEST(Startup, FailingFolderCreationStopsTheScanWithOneLine) {
  TempPrefix t;
  t.PutUnseen('d', "drubel");  // the query sees nothing, the creation finds it taken
  t.Put('d', "vemo/vemo.exe");
  Startup s(t);
  s.Run();
  Status again = s.files->CreateFolder("d:\\drubel");
  ASSERT_FALSE(again.ok());
  ASSERT_EQ(s.window.lines.size(), 6u);
  EXPECT_EQ(s.window.lines[2], "Impossibile creare la cartella " + again.message());
  EXPECT_TRUE(s.window.marked.empty());
  EXPECT_EQ(s.window.lines[4], "== CONTROLLO PROG IN MEMORIA  ======");
}

TEST(Startup, FailingQueryStopsTheScanWhereItIs) {
  // A Windows test makes no link loop, and under Wine it runs as root, whom
  // no folder keeps out.
  if (testing::OnWindows()) GTEST_SKIP() << "no fault a Windows test can make fails the query";
  TempPrefix t;
  t.Put('d', "drubel/Drubel2.exe");
  // A link that points at itself cannot be looked at: the query fails.
  fs::create_symlink("fr.exe", t.Drive('d') / "drubel" / "fr.exe");
  t.Put('d', "vemo/vemo.exe");
  Startup s(t);
  s.Run();
  EXPECT_EQ(
      s.window.lines,
      Around({"Controllo Drubel2 sul Disco...OK",
              "Impossibile controllare d:\\drubel\\fr.exe: Too many levels of symbolic links"}));
  EXPECT_EQ(s.window.marked, (std::vector<int>{1}));
}

TEST(Startup, DriveNotReady) {
  TempPrefix t;
  Startup s(t);
  s.Run("q:");
  std::string name;
  Status reason = s.files->FindEntry("q:\\drubel", kMaskDirectory, &name);
  ASSERT_FALSE(reason.ok());
  EXPECT_EQ(s.window.lines, Around({"Impossibile controllare " + reason.message()}));
}

}  // namespace
}  // namespace avendro

namespace avendro {
namespace {

std::string Read(const fs::path& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

// Every line reaches the log file with its time, none is lost when the full
// file moves aside, and a log file that cannot be written costs one line.
TEST(Startup, TheLogFileKeepsEveryLine) {
  TempPrefix t;
  const fs::path log = t.Drive('d') / "drubel" / "avendro.log";
  {
    Startup s(t);
    UpdateServer ftp(*s.files);
    Session session(s.platform, ftp, 'd', "1.2");
    session.Start(s.window, "prova");
    EXPECT_TRUE(
        std::regex_search(Read(log), std::regex("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                                "===== Avendro 1.2, prova =====\r\n"
                                                "\\S+ \\S+ - ===== CONTROLLO PROGRAMMI")));
    const int kLines = 35000;  // about 1.2 MiB
    for (int i = 0; i < kLines; ++i) session.AggiungiStato("riga " + std::to_string(i));
    const std::string aside = Read(log.string() + ".1"), now = Read(log);
    EXPECT_LE(aside.size(), RunLog::kRunLogLimit);
    EXPECT_NE(now.find(" - riga 34999\r\n"), std::string::npos);
    EXPECT_TRUE(
        std::regex_search(now, std::regex("^\\S+ \\S+ ===== Avendro 1.2, prova =====\r\n")));
    auto count = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    EXPECT_EQ(count(aside) + count(now), 2 + 5 + kLines);
  }
  // A folder, then a link, where the file should be: one line, naming the
  // file once.
  for (bool link : {false, true}) {
    fs::remove(log);
    if (link && testing::OnWindows()) break;
    if (link) fs::create_symlink("avendro.log.1", log);
    if (!link) fs::create_directories(log);
    Startup s(t);
    UpdateServer ftp(*s.files);
    Session session(s.platform, ftp, 'd', "1.2");
    session.Start(s.window, "prova");
    session.AggiungiStato("dopo");
    EXPECT_EQ(s.window.lines.size(), 5u + 2u);
    EXPECT_TRUE(
        s.window.lines[5].starts_with("Impossibile scrivere il registro d:\\drubel\\avendro.log"));
    EXPECT_EQ(s.window.lines[5].find("avendro.log", 45), std::string::npos) << s.window.lines[5];
  }
}

}  // namespace
}  // namespace avendro
