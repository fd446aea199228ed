#include <gtest/gtest.h>

#include <filesystem>

#include "tests/update_fixture.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::FakeStarter;
using testing::LogOf;
using testing::ReadFile;
using testing::RunBench;

constexpr Pointer H = Pointer::kHourglass;
constexpr Pointer A = Pointer::kArrow;

const std::vector<std::string> kOpening = {
    "Verifica esistenza Winrar", "Controllo Winrar sul Disco...OK", "Collegamento al sito ZEFIRANO",
    "Collegamento riuscito"};

struct Install : RunBench {
  Install() {
    prefix.Put('d', "drubel/rar.exe");
    window.answers = {true};
    server.Put("varnok_inst.rar", "varnok installer");
    server.Put("tamrel_inst.rar", "tamrel installer");
  }
};

TEST(Installa, SlotZeroAlone) {
  Install i;
  FakeStarter starter(i.prefix);
  i.prefix.Put('d', "drubel/aggiorna.bat", std::string(300, 'x'));
  i.window.boxes[0] = 1;
  i.window.boxes[1] = 1;  // other slots are ignored
  i.remote.Installa();
  std::vector<std::string> log = kOpening;
  log.insert(log.end(), {"Inizio download programma ", "Il programma è stato scaricato "});
  EXPECT_EQ(i.window.log.text(), LogOf(log));
  EXPECT_EQ(i.window.boxes_read, (std::vector<int>{0, 4}));
  EXPECT_EQ(ReadFile(i.D("drubel/varnok_inst.rar")), "varnok installer");
  EXPECT_EQ(ReadFile(i.D("drubel/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\drubel\\varnok_inst.rar\r\nsetup.exe\r\n");
  EXPECT_EQ(starter.Calls(1),
            (std::vector<std::string>{"start /wait /max d:\\drubel\\aggiorna.bat"}));
  EXPECT_EQ(i.window.questions.at(0).title, "Aggiornamento software");
  EXPECT_TRUE(i.window.questions.at(0).no_default);
  EXPECT_EQ(i.window.pointers, (std::vector<Pointer>{H, H, H, H, A}));
  EXPECT_EQ(i.window.busy_changes, (std::vector<bool>{true, false}));
  EXPECT_TRUE(i.ftp.Disconnect().ok());  // the installation leaves its connection open
}

TEST(Installa, BothSlotsRewriteTheOneScript) {
  Install i;
  FakeStarter starter(i.prefix);
  i.window.boxes[0] = i.window.boxes[4] = 1;
  i.remote.Installa();
  EXPECT_EQ(testing::WithoutScriptWaits(i.window.lines).size(), kOpening.size() + 4);
  EXPECT_EQ(ReadFile(i.D("drubel/tamrel_inst.rar")), "tamrel installer");
  EXPECT_EQ(ReadFile(i.D("drubel/aggiorna.bat")),
            "cd d:\\drubel\r\nd:\\drubel\\rar e -o+ d:\\drubel\\tamrel_inst.rar\r\nsetup.exe\r\n");
  EXPECT_EQ(starter.Calls(2).size(), 2u);
}

TEST(Installa, FailedDownloadOfSlotZeroEndsBeforeSlotFour) {
  Install i;
  fs::remove(i.server.home() / testing::TestFtpServer::kSite / "download" / "varnok_inst.rar");
  i.window.boxes[0] = i.window.boxes[4] = 1;
  i.remote.Installa();
  std::vector<std::string> log = kOpening;
  log.insert(log.end(), {"Inizio download programma ",
                         "Impossibile scaricare il programma. Riprovare più tardi",
                         "Motivo: varnok_inst.rar: risposta del server: 550 /" +
                             std::string(testing::TestFtpServer::kSite) +
                             "/download/varnok_inst.rar is not retrievable."});
  EXPECT_EQ(i.window.log.text(), LogOf(log));
  EXPECT_FALSE(fs::exists(i.D("drubel/tamrel_inst.rar")));
}

TEST(Installa, NothingToInstallOrDeclined) {
  Install i;
  i.window.boxes[5] = 1;
  i.remote.Installa();
  EXPECT_EQ(i.window.log.text(), LogOf(kOpening));

  Install no;
  no.window.answers = {false};
  no.remote.Installa();
  EXPECT_EQ(no.window.log.text(), "");
  EXPECT_TRUE(no.window.busy_changes.empty());

  Install missing;  // RAR tool missing, its installation declined
  fs::remove(missing.D("drubel/rar.exe"));
  missing.window.answers = {true, false};
  missing.remote.Installa();
  EXPECT_EQ(missing.window.log.text(),
            LogOf({"Verifica esistenza Winrar", "Controllo Winrar sul Disco...NON ESISTE"}));
  EXPECT_TRUE(missing.window.busy_changes.empty());
}

}  // namespace
}  // namespace avendro
