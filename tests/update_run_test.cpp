#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "command_line/command_line.h"
#include "shell/session.h"
#include "tests/update_fixture.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ClosingLines;
using testing::FakeStarter;
using testing::LogOf;
using testing::NoStarter;
using testing::ReadFile;
using testing::RunBench;
using testing::TestFtpServer;
using testing::WithoutScriptWaits;

constexpr Pointer H = Pointer::kHourglass;
constexpr Pointer A = Pointer::kArrow;

// Scripts of different paths run side by side, so their record lines come
// in any order.
std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Why the system's file system cannot write `path` now.
std::string WriteFailure(FileSystem& files, const std::string& path) {
  Status status = files.WriteFile(path, "");
  EXPECT_FALSE(status.ok()) << path << " was written";
  return status.message();
}

// Why the system's launcher cannot start `path` now.
std::string StartFailure(Launcher& launcher, const std::string& path) {
  uint64_t task = 0;
  Status status = launcher.Start(path, WindowStyle::kMinimizedFocus, &task);
  EXPECT_FALSE(status.ok()) << path << " was started";
  return status.message();
}

const std::vector<std::string> kRarOk = {"Verifica esistenza Winrar",
                                         "Controllo Winrar sul Disco...OK"};
const std::vector<std::string> kConnected = {"Collegamento al sito ZEFIRANO",
                                             "Collegamento riuscito"};

// A bench whose work drive has the RAR tool and the program folders.
struct Update : RunBench {
  explicit Update(const TestFtpServer::Faults& faults = {}) : RunBench(faults) {
    prefix.Put('d', "drubel/rar.exe");
    prefix.Put('d', "programmi/varnok/varnok.exe");
    for (const char* folder : {"dunmar", "vemo", "zal"}) fs::create_directories(D(folder));
    window.answers = {true};
  }
};

TEST(Aggiorna, SeveralSlotsEndToEnd) {
  Update u;
  FakeStarter starter(u.prefix);
  for (const char* name : {"varnok.rar", "fr.rar", "tamrel.rar", "dunmar.rar", "zal.rar"}) {
    u.server.Put(name, std::string("archive ") + name);
  }
  u.prefix.Put('d', "drubel/fr.rar", "older fr");
  for (int slot : {0, 2, 4, 5, 12}) u.window.boxes[static_cast<size_t>(slot)] = 1;
  u.window.boxes[3] = 2;   // greyed: passed over
  u.window.boxes[17] = 1;  // boxes 16..19 are never looked at

  u.remote.Aggiorna();

  const std::string dl = "Inizio download programma ";
  EXPECT_EQ(
      LogOf(WithoutScriptWaits(u.window.lines)),
      LogOf(Join({kRarOk,
                  kConnected,
                  {dl, "Il programma è stato scaricato ", dl, "Il programma è stato scaricato ", dl,
                   "Il programma  d:\\drubel\\tamrel.rar   è stato scaricato ", dl,
                   "Il programma  d:\\dunmar\\dunmar.rar   è stato scaricato ", dl,
                   "Il programma  d:\\zal\\zal.rar   è stato scaricato "},
                  ClosingLines()})));
  ASSERT_EQ(u.window.questions.size(), 1u);
  EXPECT_EQ(u.window.questions[0].prompt, "Sei sicuro di voler procedere");
  EXPECT_EQ(u.window.questions[0].title, "Aggiornamento software");
  EXPECT_TRUE(u.window.questions[0].no_default);
  EXPECT_EQ(u.window.pointers, (std::vector<Pointer>{H, H, H, H, A, A}));
  EXPECT_EQ(u.window.busy_changes, (std::vector<bool>{true, false}));
  std::vector<int> read;
  for (int slot = 0; slot < kProductCount; ++slot) read.push_back(slot);
  EXPECT_EQ(u.window.boxes_read, read);

  // Archives where the catalogue puts them, the trailing blank dropped.
  EXPECT_EQ(ReadFile(u.D("drubel/varnok.rar")), "archive varnok.rar");
  EXPECT_EQ(ReadFile(u.D("drubel/fr.rar")), "archive fr.rar");
  EXPECT_EQ(ReadFile(u.D("drubel/tamrel.rar")), "archive tamrel.rar");
  EXPECT_EQ(ReadFile(u.D("dunmar/dunmar.rar")), "archive dunmar.rar");
  EXPECT_EQ(ReadFile(u.D("zal/zal.rar")), "archive zal.rar");

  // One started script per download; slot 4 replaced slot 0's script in
  // the shared folder.
  EXPECT_EQ(Sorted(starter.Calls(5)), Sorted({
                                          "start /wait /max d:\\programmi\\varnok\\aggiorna.bat",
                                          "start /wait /max d:\\drubel\\aggiorna.bat",
                                          "start /wait /max d:\\programmi\\varnok\\aggiorna.bat",
                                          "start /wait /max d:\\dunmar\\aggiorna.bat",
                                          "start /wait /max d:\\zal\\aggiorna.bat",
                                      }));
  EXPECT_EQ(ReadFile(u.D("drubel/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\drubel\\fr.rar\r\n");
  EXPECT_EQ(ReadFile(u.D("programmi/varnok/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\drubel\\tamrel.rar \r\n"
            "Copy d:\\drubel\\tamrel.exe c:\\programmi\\varnok\r\n");
  EXPECT_EQ(ReadFile(u.D("dunmar/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\dunmar\\dunmar.rar \r\n");
  EXPECT_EQ(ReadFile(u.D("zal/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\zal\\zal.rar \r\n");

  EXPECT_FALSE(u.ftp.Disconnect().ok());  // the run has disconnected already
  EXPECT_EQ(u.server.Count("logged in"), 1);
  EXPECT_EQ(u.server.Count("session closed", 1), 1);
}

#ifndef _WIN32
// From a web server (nginx) the run writes the lines of an FTP run.
TEST(Aggiorna, OverHttpsTheRunWritesTheLinesOfAnFtpRun) {
  TestFtpServer::Faults faults;
  faults.web = true;
  Update u(faults);
  FakeStarter starter(u.prefix);
  for (const char* name : {"dunmar.rar", "zal.rar"}) u.server.Put(name, std::string("a ") + name);
  u.window.boxes[5] = u.window.boxes[12] = 1;
  u.remote.Aggiorna();
  const std::string dl = "Inizio download programma ";
  EXPECT_EQ(LogOf(WithoutScriptWaits(u.window.lines)),
            LogOf(Join({kRarOk,
                        kConnected,
                        {dl, "Il programma  d:\\dunmar\\dunmar.rar   è stato scaricato ", dl,
                         "Il programma  d:\\zal\\zal.rar   è stato scaricato "},
                        ClosingLines()})));
  EXPECT_EQ(ReadFile(u.D("zal/zal.rar")), "a zal.rar");
  EXPECT_EQ(starter.Calls(2).size(), 2u);
}
#endif

// A script's window closes at its end and takes its failure with it: the
// code reaches the log once the script has ended, after the run, once.
TEST(Aggiorna, AScriptThatEndsWithAnErrorSaysSoAfterTheRun) {
  Update u;
  FakeStarter starter(u.prefix);
  starter.ExitWith(3);
  u.server.Put("dunmar.rar", "d");
  u.window.boxes[5] = 1;
  u.remote.Aggiorna();
  starter.Lines(1);
  const size_t run_lines = u.window.lines.size();
  for (int i = 0; i < 1000 && u.window.lines.size() == run_lines; ++i) {
    u.remote.ReportEndedScripts();
    std::this_thread::sleep_for(10ms);
  }
  u.remote.ReportEndedScripts();
  EXPECT_EQ(std::vector<std::string>(u.window.lines.begin() + run_lines, u.window.lines.end()),
            std::vector<std::string>{"Lo script d:\\dunmar\\aggiorna.bat (Dunmar-Gestione "
                                     "Supermercati) è terminato con il codice 3"});
}

TEST(Aggiorna, SlotZeroScriptReplacesALongerOneAndCopiesToDriveC) {
  Update u;
  FakeStarter starter(u.prefix);
  u.server.Put("varnok.rar", "v");
  u.prefix.Put('d', "programmi/varnok/aggiorna.bat", std::string(500, 'x'));
  u.window.boxes[0] = 1;
  u.remote.Aggiorna();
  EXPECT_EQ(ReadFile(u.D("programmi/varnok/aggiorna.bat")),
            "cd d:\\programmi\\varnok\r\nd:\\drubel\\rar e -o+ d:\\drubel\\varnok.rar\r\n"
            "Copy d:\\drubel\\varnok.exe c:\\programmi\\varnok\r\n");
}

TEST(Aggiorna, NothingTickedStillConnectsAndDisconnects) {
  Update u;
  u.window.boxes[16] = u.window.boxes[19] = 1;
  u.remote.Aggiorna();
  EXPECT_EQ(u.window.log.text(), LogOf(Join({kRarOk, kConnected, ClosingLines()})));
  EXPECT_FALSE(u.ftp.Disconnect().ok());
}

TEST(Aggiorna, NoAtTheConfirmationWritesOnlyTheClosingLines) {
  Update u;
  u.window.answers = {false};
  u.window.boxes[1] = 1;
  u.server.Put("Drubel2.rar", "d");
  u.remote.Aggiorna();
  EXPECT_EQ(u.window.log.text(), LogOf(ClosingLines()));
  EXPECT_EQ(u.window.pointers, (std::vector<Pointer>{H, A}));
  EXPECT_TRUE(u.window.boxes_read.empty());
  EXPECT_FALSE(fs::exists(u.D("drubel/Drubel2.rar")));
}

TEST(Aggiorna, NoAtTheArchiverQuestionEndsWithoutClosingLines) {
  Update u;
  fs::remove(u.D("drubel/rar.exe"));
  fs::create_directories(u.D("drubel/rar.exe/inside"));  // a folder is not the tool
  u.window.answers = {true, false};
  u.remote.Aggiorna();
  EXPECT_EQ(u.window.log.text(),
            LogOf({"Verifica esistenza Winrar", "Controllo Winrar sul Disco...NON ESISTE"}));
  ASSERT_EQ(u.window.questions.size(), 2u);
  EXPECT_EQ(u.window.questions[1].prompt, "Winrar Non esiste .Cliccare su SI per installarlo ");
  EXPECT_EQ(u.window.questions[1].title, "");  // the application title
  EXPECT_FALSE(u.window.questions[1].no_default);
  EXPECT_TRUE(u.window.busy_changes.empty());
  EXPECT_EQ(u.window.pointers.back(), A);
}

TEST(Aggiorna, RefusedLoginAndMissingDownloadFolder) {
  Update u;
  ServerSettings settings = u.server.settings();
  settings.password = "not-the-password";
  RemoteUpdate wrong(u.window, u.platform, u.ftp, u.modu1, u.closing, settings);
  wrong.Aggiorna();
  EXPECT_EQ(
      u.window.log.text(),
      LogOf(Join({kRarOk,
                  {"Collegamento al sito ZEFIRANO",
                   "Impossibile connettersi al server " + u.server.host() + ". Riprovare più tardi",
                   "Motivo: risposta del server: 530 Authentication failed."},
                  ClosingLines()})));
  EXPECT_EQ(u.window.log.text().find("not-the-password"), std::string::npos);
  EXPECT_EQ(u.window.busy_changes, (std::vector<bool>{true, false}));

  Update v;
  fs::remove_all(v.server.home() / TestFtpServer::kSite / "download");
  v.window.boxes[0] = 1;
  v.remote.Aggiorna();
  EXPECT_EQ(v.window.log.text(), LogOf(Join({kRarOk,
                                             kConnected,
                                             {"La Directory 'download' non esiste sul server ",
                                              "Motivo: risposta del server: 550 No such file or "
                                              "directory."},
                                             ClosingLines()})));
  EXPECT_TRUE(v.window.boxes_read.empty());
  EXPECT_TRUE(v.ftp.Disconnect().ok());  // the run left its connection open
}

TEST(Aggiorna, FailedDownloadEndsTheRunAfterEarlierSlotsAreDone) {
  Update u;
  FakeStarter starter(u.prefix);
  u.server.Put("Drubel2.rar", "drubel2");
  u.server.Put("vemo.rar", "vemo");  // dunmar.rar is missing
  for (int slot : {1, 5, 9}) u.window.boxes[static_cast<size_t>(slot)] = 1;
  u.remote.Aggiorna();
  EXPECT_EQ(
      u.window.log.text(),
      LogOf(Join(
          {kRarOk,
           kConnected,
           {"Inizio download programma ", "Il programma è stato scaricato ",
            "Inizio download programma ", "Impossibile scaricare il programma. Riprovare più tardi",
            "Motivo: dunmar.rar: risposta del server: 550 /" + std::string(TestFtpServer::kSite) +
                "/download/dunmar.rar is not retrievable."},
           ClosingLines()})));
  EXPECT_EQ(u.window.boxes_read, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(starter.Calls(1),
            (std::vector<std::string>{"start /wait /max d:\\drubel\\aggiorna.bat"}));
  EXPECT_EQ(ReadFile(u.D("drubel/Drubel2.rar")), "drubel2");
  EXPECT_FALSE(fs::exists(u.D("vemo/vemo.rar")));
  EXPECT_EQ(u.window.pointers, (std::vector<Pointer>{H, H, H, H, A}));  // no step 9
  EXPECT_TRUE(u.ftp.Disconnect().ok());                                 // no disconnect by the run
}

TEST(Aggiorna, StalledTransferEndsInTheFailureLineWithinTheLimit) {
  TestFtpServer::Faults faults;
  faults.stalled = {"vemo.rar"};
  Update u(faults);
  FakeStarter starter(u.prefix);
  u.server.Put("vemo.rar", std::string(1 << 20, 'v'));
  u.prefix.Put('d', "vemo/vemo.rar", "earlier");
  u.window.boxes[9] = 1;
  auto start = std::chrono::steady_clock::now();
  u.remote.Aggiorna();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
  EXPECT_EQ(u.window.lines.at(u.window.lines.size() - 7),
            "Impossibile scaricare il programma. Riprovare più tardi");
  EXPECT_EQ(u.window.lines.at(u.window.lines.size() - 6),
            "Motivo: vemo.rar: nessun dato dal server per 2 s");
  EXPECT_GT(u.window.keep_alive_calls, 10);
  EXPECT_EQ(ReadFile(u.D("vemo/vemo.rar")), "earlier");
  // Half the file waits beside it for the next run; the window showed how
  // far it got, and nothing once the transfer ended.
  EXPECT_EQ(std::distance(fs::directory_iterator(u.D("vemo")), fs::directory_iterator()), 2);
  ASSERT_GE(u.window.progress.size(), 2u);
  EXPECT_EQ(u.window.progress[u.window.progress.size() - 2], "50% - 512 KB di 1,0 MB");
  EXPECT_EQ(u.window.progress.back(), "");
  EXPECT_TRUE(starter.Calls(0).empty());
}

TEST(Aggiorna, ScriptThatCannotBeWrittenOrStartedEndsTheRun) {
  Update u;
  FakeStarter starter(u.prefix);
  fs::remove_all(u.D("programmi"));  // nothing creates d:\programmi\varnok
  u.server.Put("varnok.rar", "v");
  u.server.Put("Drubel2.rar", "d");
  u.window.boxes[0] = u.window.boxes[1] = 1;
  u.remote.Aggiorna();
  const std::string script = "d:\\programmi\\varnok\\aggiorna.bat";
  EXPECT_EQ(u.window.log.text(),
            LogOf(Join({kRarOk,
                        kConnected,
                        {"Inizio download programma ", "Il programma è stato scaricato ",
                         "Impossibile scrivere lo script " + WriteFailure(*u.files, script)},
                        ClosingLines()})));
  EXPECT_FALSE(fs::exists(u.D("drubel/Drubel2.rar")));  // later slots not attempted

  Update v;
  NoStarter no_starter;
  v.server.Put("dunmar.rar", "d");
  v.server.Put("vemo.rar", "v");
  v.window.boxes[5] = v.window.boxes[9] = 1;
  v.remote.Aggiorna();
  EXPECT_EQ(v.window.log.text(),
            LogOf(Join({kRarOk,
                        kConnected,
                        {"Inizio download programma ",
                         "Il programma  d:\\dunmar\\dunmar.rar   è stato scaricato ",
                         "Impossibile avviare lo script " +
                             StartFailure(*v.launcher, "d:\\dunmar\\aggiorna.bat")},
                        ClosingLines()})));
  EXPECT_FALSE(fs::exists(v.D("vemo/vemo.rar")));
}

// Links planted on the shared drive lead nowhere: the run names the link,
// takes the way out of a failed write, and nothing outside the drive changes.
TEST(Aggiorna, PlantedLinksAreNotWrittenThrough) {
  // Wine makes no links; the Windows layer's own test plants one from outside.
  if (testing::OnWindows()) GTEST_SKIP() << "a Windows test cannot plant a link";
  const std::string refusal =
      ": è un collegamento a un altro percorso; Avendro non scrive attraverso i collegamenti";
  auto outside = [](Update& bench) {
    const fs::path folder = bench.prefix.root() / "outside";
    fs::create_directories(folder);
    std::ofstream(folder / "secret") << "root only";
    return folder;
  };
  Update u;
  FakeStarter starter(u.prefix);
  const fs::path elsewhere = outside(u);
  fs::remove(u.D("dunmar"));
  fs::create_directory_symlink(elsewhere, u.D("dunmar"));  // a program folder
  u.server.Put("dunmar.rar", "dunmar");
  u.window.boxes[5] = 1;
  u.remote.Aggiorna();
  EXPECT_EQ(u.window.log.text(),
            LogOf(Join({kRarOk,
                        kConnected,
                        {"Inizio download programma ",
                         "Impossibile scaricare il programma. Riprovare più tardi",
                         "Motivo: d:\\dunmar" + refusal},
                        ClosingLines()})));

  Update v;
  const fs::path secret = outside(v) / "secret";
  fs::create_symlink(secret, v.D("drubel/aggiorna.bat"));  // the script
  v.server.Put("Drubel2.rar", "drubel2");
  v.window.boxes[1] = 1;
  v.remote.Aggiorna();
  EXPECT_EQ(v.window.log.text(),
            LogOf(Join({kRarOk,
                        kConnected,
                        {"Inizio download programma ", "Il programma è stato scaricato ",
                         "Impossibile scrivere lo script d:\\drubel\\aggiorna.bat" + refusal},
                        ClosingLines()})));
  EXPECT_TRUE(starter.Calls(0).empty());
  EXPECT_EQ(ReadFile(secret), "root only");
  EXPECT_EQ(ReadFile(elsewhere / "secret"), "root only");
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

TEST(Aggiorna, SharedScriptIsRewrittenOnlyAfterTheEarlierOneEnded) {
  Update u;
  FakeStarter starter(u.prefix);
  starter.Hold(0.7);
  for (const char* name : {"dunmar.rar", "Pellwick.rar", "Rostiva.rar"}) u.server.Put(name, name);
  for (int slot : {5, 6, 7}) u.window.boxes[static_cast<size_t>(slot)] = 1;
  auto start = std::chrono::steady_clock::now();
  u.remote.Aggiorna();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
  EXPECT_GT(u.window.keep_alive_calls, 10);

  const std::string bat = "d:\\dunmar\\aggiorna.bat";
  const std::string run = "start /wait /max " + bat;
  EXPECT_EQ(starter.Lines(3),
            (std::vector<std::string>{run, "END " + bat, run, "END " + bat, run, "END " + bat}));
  EXPECT_EQ(ReadFile(u.D("dunmar/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\dunmar\\Rostiva.rar \r\n");
  const std::string dl = "Inizio download programma ";
  const std::string wait = "Attesa della fine dello script " + bat + " avviato prima";
  EXPECT_EQ(u.window.log.text(),
            LogOf(Join({kRarOk,
                        kConnected,
                        {dl, "Il programma  d:\\dunmar\\dunmar.rar   è stato scaricato ", dl,
                         "Il programma  d:\\dunmar\\Pellwick.rar   è stato scaricato ", wait, dl,
                         "Il programma  d:\\dunmar\\Rostiva.rar   è stato scaricato ", wait},
                        ClosingLines()})));
}

TEST(Aggiorna, ScriptStillRunningAfterTheLimitEndsTheRun) {
  Update u;
  FakeStarter starter(u.prefix);
  starter.Hold(3);
  u.remote.SetScriptWaitLimit(1s);
  for (const char* name : {"Drubel2.rar", "fr.rar"}) u.server.Put(name, name);
  u.window.boxes[1] = u.window.boxes[2] = 1;
  u.remote.Aggiorna();
  EXPECT_EQ(u.window.lines.at(u.window.lines.size() - 7),
            "Attesa della fine dello script d:\\drubel\\aggiorna.bat avviato prima");
  EXPECT_EQ(u.window.lines.at(u.window.lines.size() - 6),
            "Lo script d:\\drubel\\aggiorna.bat avviato prima è ancora in esecuzione dopo 1 "
            "secondi: impossibile riscriverlo");
  EXPECT_EQ(ReadFile(u.D("drubel/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\drubel\\Drubel2.rar\r\n");
  EXPECT_EQ(starter.Lines(1), (std::vector<std::string>{"start /wait /max d:\\drubel\\aggiorna.bat",
                                                        "END d:\\drubel\\aggiorna.bat"}));
}

// The next Avendro on the drive, which knows nothing of the first one's
// runs, waits too for a script that the first one left running.
TEST(Aggiorna, AScriptLeftRunningIsWaitedForByTheNextAvendro) {
  Update u;
  FakeStarter starter(u.prefix);
  starter.Hold(1.5);
  for (const char* name : {"Drubel2.rar", "fr.rar"}) u.server.Put(name, name);
  u.window.boxes[1] = 1;
  u.remote.Aggiorna();
  std::unique_ptr<Launcher> launcher = testing::SystemLauncher();
  Platform platform{*u.files, u.processes, *launcher, u.details};
  RemoteUpdate next(u.window, platform, u.ftp, u.modu1, u.closing, u.server.settings());
  u.window.boxes = {};
  u.window.boxes[2] = 1;
  u.window.answers = {true};
  next.Aggiorna();
  const std::string bat = "d:\\drubel\\aggiorna.bat";
  EXPECT_EQ(starter.Lines(2), (std::vector<std::string>{"start /wait /max " + bat, "END " + bat,
                                                        "start /wait /max " + bat, "END " + bat}));
}

// Closing the window ends the wait for an earlier script at once, and the
// next script is never started.
TEST(Aggiorna, ClosingTheWindowEndsTheWaitForAScript) {
  Update u;
  FakeStarter starter(u.prefix);
  starter.Hold(4);
  for (const char* name : {"Drubel2.rar", "fr.rar"}) u.server.Put(name, name);
  u.window.boxes[1] = u.window.boxes[2] = 1;
  u.window.on_keep_alive = [&u] {
    if (u.window.lines.back().rfind("Attesa della fine", 0) == 0) u.closing.Cancel();
  };
  u.remote.Aggiorna();
  // The run has not waited for the end of the first script.
  for (const std::string& line : starter.Lines(0)) {
    EXPECT_EQ(line.rfind("END", 0), std::string::npos);
  }
  EXPECT_EQ(
      u.window.lines.at(u.window.lines.size() - 6),
      "Attesa dello script d:\\drubel\\aggiorna.bat interrotta: la finestra si sta chiudendo");
  EXPECT_EQ(starter.Calls(1),
            std::vector<std::string>{"start /wait /max d:\\drubel\\aggiorna.bat"});
}

// The RAR tool is missing and the operator accepts its installation.
struct Bootstrap : Update {
  explicit Bootstrap() {
    fs::remove(D("drubel/rar.exe"));
    window.answers = {true, true};
    server.Put("utility/wrar361it.exe", "rar installer");
  }
};

// The update server as the command line's nights meet it: files by name,
// each with its time, and what was fetched of them.
struct FakeServer : Transport {
  std::map<std::string, std::pair<std::string, int64_t>> files;
  std::vector<std::string> fetched, stored;
  bool refuse_login = false;

  Status Connect() override {
    return refuse_login ? Status::Error("530 Login incorrect") : Status::Ok();
  }
  Status ChangeFolder(const std::string&) override { return Status::Ok(); }
  Status Describe(const std::string& remote, RemoteFile* file) override {
    auto it = files.find(remote);
    if (it == files.end()) return Status::Error("550 " + remote + ": no such file");
    *file = {static_cast<int64_t>(it->second.first.size()), it->second.second};
    return Status::Ok();
  }
  FetchEnd Fetch(const std::string& remote, uint64_t offset, int64_t, FetchSink& sink,
                 std::string* reason) override {
    auto it = files.find(remote);
    if (it == files.end()) return *reason = "550", FetchEnd::kNotFound;
    fetched.push_back(remote);
    const std::string rest = it->second.first.substr(offset);
    return sink.Take(rest.data(), rest.size()) ? FetchEnd::kDone : FetchEnd::kRefused;
  }
  Status Store(const std::string& remote, const std::string& bytes) override {
    stored.push_back(remote + "\n" + bytes);
    return Status::Ok();
  }
  Status Disconnect() override { return Status::Ok(); }
};

// Night after night on one drive: the arguments, what the server holds
// then, and what the night must come to.
TEST(CommandLine, OnlyWhatIsNewAndHonestExitCodes) {
  testing::TempPrefix prefix;
  prefix.Put('d', "drubel/rar.exe");
  prefix.Put('d', "dunmar/dunmar.exe");
  prefix.Put('d', "programmi/varnok/varnok.exe");
  prefix.Put('d', "programmi/varnok/tamrel.exe");
  FakeStarter starter(prefix);
  std::unique_ptr<FileSystem> files = testing::SystemFileSystem(prefix);
  struct : testing::UnusedProcesses {
    Status List(std::vector<ProcessEntry>* none) override { return none->clear(), Status::Ok(); }
  } processes;
  std::unique_ptr<Launcher> launcher = testing::SystemLauncher();
  testing::NoDetails details;
  Platform platform{*files, processes, *launcher, details};
  FakeServer server;
  ServerSettings settings;
  settings.report_folder = "rapporti";
  struct Night {
    std::vector<std::string> args;
    int64_t dunmar_time;  // 0: dunmar.rar is not on the server
    int script_code;
    int exit_code;
    std::vector<std::string> fetched;
  };
  const std::vector<Night> nights = {
      {{"--aggiorna", "dunmar", "--unita", "d:"}, 100, 0, 0, {"dunmar.rar"}},
      {{"--aggiorna", "dunmar", "--negozio", "Bar Rossi"}, 100, 0, 0, {}},
      {{"--controlla", "dunmar"}, 100, 0, 0, {}},
      {{"--controlla"}, 200, 0, 4, {}},
      // A failed script leaves the record alone: the next night tries again.
      {{"--aggiorna", "dunmar"}, 200, 3, 1, {"dunmar.rar"}},
      {{"--aggiorna", "dunmar"}, 200, 0, 0, {"dunmar.rar"}},
      {{"--aggiorna", "dunmar", "--forza"}, 200, 0, 0, {"dunmar.rar"}},
      {{"--aggiorna", "dunmar", "zal"}, 200, 0, 1, {}},  // zal is not installed
      {{"--aggiorna", "zal"}, 200, 0, 1, {}},
      {{"--aggiorna", "dunmar", "--forza"}, 0, 0, 1, {}},
      // Every failed script counts, also the one whose shared file a later
      // program of the run rewrote.
      {{"--aggiorna", "varnok", "tamrel"}, 200, 5, 1, {"varnok.rar", "tamrel.rar"}},
      {{"--aggiorna", "dunmar", "--controlla"}, 200, 0, kExitUsage, {}},
      {{"--aggiorna", "nessuno"}, 200, 0, kExitUsage, {}},
  };
  server.files["varnok.rar"] = {"v", 50};
  server.files["tamrel.rar"] = {"t", 50};
  for (const Night& night : nights) {
    SCOPED_TRACE(LogOf(night.args));
    server.files.erase("dunmar.rar");
    if (night.dunmar_time > 0) server.files["dunmar.rar"] = {"d", night.dunmar_time};
    server.fetched.clear();
    starter.ExitWith(night.script_code);
    const CommandLineRequest request = ParseCommandLine(night.args);
    if (!request.error.empty()) {
      EXPECT_EQ(night.exit_code, kExitUsage) << request.error;
      continue;
    }
    UpdateServer ftp(*files, server);
    Session session(platform, ftp, 'd', "prova", settings);
    EXPECT_EQ(RunUpdateRequest(session, request), night.exit_code);
    EXPECT_EQ(server.fetched, night.fetched);
    // Each failed script is named in the night's report.
    const std::string report = server.stored.empty() ? "" : server.stored.back();
    size_t failed = 0;
    for (size_t at = 0; (at = report.find("non riuscito: lo script", at)) != std::string::npos;
         ++at)
      ++failed;
    EXPECT_EQ(failed, night.script_code != 0 ? night.fetched.size() : 0u);
  }
  const std::string log = ReadFile(prefix.Drive('d') / "drubel/avendro.log");
  EXPECT_NE(log.find(" - Nessun aggiornamento per Dunmar-Gestione Supermercati: l'archivio sul "
                     "server è quello già installato ("),
            std::string::npos);
  EXPECT_EQ(ReadFile(prefix.Drive('d') / "drubel/avendro-installati.txt"),
            "dunmar.rar server 1 200\r\n");
  // Each night's report reaches the server whole, named after the shop.
  ASSERT_FALSE(server.stored.empty());
  EXPECT_TRUE(server.stored[1].starts_with("Bar_Rossi.txt\nnegozio: Bar Rossi\r\n"));
  EXPECT_NE(server.stored.back().find("programma: varnok non riuscito: lo script"),
            std::string::npos);
  // A failed download's reason is the one its lines gave ("Motivo: …").
  EXPECT_NE(server.stored[9].find("programma: dunmar non riuscito: "), std::string::npos);
  EXPECT_EQ(server.stored[9].find("programma: dunmar non riuscito: \r"), std::string::npos);
}

TEST(Bootstrap, AcceptedInstallerIsDownloadedAndStartedThenTheRunConnectsAgain) {
  Bootstrap b;
  FakeStarter starter(b.prefix);
  b.server.Put("utility/wrar361it.exe", starter.Installer());
  b.prefix.Put('d', "drubel/wrar361it.exe", "an older installer");
  b.server.Put("vemo.rar", "vemo");
  b.window.boxes[9] = 1;
  b.remote.Aggiorna();
  EXPECT_EQ(b.window.log.text(),
            LogOf(Join({{"Verifica esistenza Winrar", "Controllo Winrar sul Disco...NON ESISTE"},
                        kConnected,
                        {"Inizio download programma ", "Il programma è stato scaricato ",
                         "Il programma è stato installato con successo "},
                        kConnected,
                        {"Inizio download programma ",
                         "Il programma  d:\\vemo\\vemo.rar   è stato scaricato "},
                        ClosingLines()})));
  EXPECT_EQ(ReadFile(b.D("drubel/wrar361it.exe")), starter.Installer());
  EXPECT_EQ(b.server.Count("logged in"), 2);
  EXPECT_EQ(Sorted(starter.Calls(2)), Sorted({"start /wait /min d:\\drubel\\wrar361it.exe",
                                              "start /wait /max d:\\vemo\\aggiorna.bat"}));
  // Bootstrap: H H; the run: H (step 1), then H, H, H, A, A.
  EXPECT_EQ(b.window.pointers, (std::vector<Pointer>{H, H, H, H, H, H, A, A}));
}

TEST(Bootstrap, EachFailureIsLoggedAndTheRunGoesOn) {
  const std::vector<std::string> opening = {"Verifica esistenza Winrar",
                                            "Controllo Winrar sul Disco...NON ESISTE"};
  const std::vector<std::string> rest = Join({kConnected, ClosingLines()});
  {
    Bootstrap b;  // no utility folder on the server
    fs::remove_all(b.server.home() / TestFtpServer::kSite / "download" / "utility");
    b.remote.Aggiorna();
    EXPECT_EQ(b.window.log.text(),
              LogOf(Join({opening,
                          kConnected,
                          {"La Directory 'download/utility' non esiste sul server ",
                           "Motivo: risposta del server: 550 No such file or directory."},
                          rest})));
  }
  {
    Bootstrap b;  // the installer is missing on the server
    fs::remove(b.server.home() / TestFtpServer::kSite / "download" / "utility" / "wrar361it.exe");
    b.remote.Aggiorna();
    EXPECT_EQ(b.window.log.text(),
              LogOf(Join({opening,
                          kConnected,
                          {"Inizio download programma ",
                           "Impossibile scaricare il programma. Riprovare più tardi",
                           "Motivo: wrar361it.exe: risposta del server: 550 /" +
                               std::string(TestFtpServer::kSite) +
                               "/download/utility/wrar361it.exe is not retrievable."},
                          rest})));
  }
  {
    // The installer cannot be started: no wine (POSIX), no program in the
    // downloaded file (Windows).
    Bootstrap b;
    NoStarter no_starter;
    b.remote.Aggiorna();
    EXPECT_EQ(b.window.log.text(),
              LogOf(Join({opening,
                          kConnected,
                          {"Inizio download programma ", "Il programma è stato scaricato ",
                           "Impossibile avviare il programma di installazione " +
                               StartFailure(*b.launcher, "d:\\drubel\\wrar361it.exe")},
                          rest})));
  }
  {
    Bootstrap b;  // login refused: for the bootstrap and for the run
    ServerSettings settings = b.server.settings();
    settings.password = "nope";
    RemoteUpdate wrong(b.window, b.platform, b.ftp, b.modu1, b.closing, settings);
    wrong.Aggiorna();
    const std::string refused =
        "Impossibile connettersi al server " + b.server.host() + ". Riprovare più tardi";
    const std::string why = "Motivo: risposta del server: 530 Authentication failed.";
    EXPECT_EQ(b.window.log.text(), LogOf(Join({opening,
                                               {"Collegamento al sito ZEFIRANO", refused, why,
                                                "Collegamento al sito ZEFIRANO", refused, why},
                                               ClosingLines()})));
  }
}

}  // namespace
}  // namespace avendro
