#include <gtest/gtest.h>

#include "catalogue/catalogue.h"

namespace avendro {
namespace {

TEST(Catalogue, TrailingBlanksAreKeptWhereTheTableHasThem) {
  for (int slot = 0; slot < kProductCount; ++slot) {
    std::string_view local = Row(slot).updateLocalPath;
    EXPECT_EQ(local.back() == ' ', slot >= 4) << "slot " << slot;
    EXPECT_EQ(local.substr(0, 2), ":\\") << "slot " << slot;
    EXPECT_FALSE(Row(slot).caption.empty());
    EXPECT_FALSE(Row(slot).diskMessage.empty());
  }
  EXPECT_EQ(Row(6).caption, "Pellwick-Gestione Pizzeria ");
  EXPECT_EQ(Row(13).updateLocalPath, ":\\MORVA\\morva.rar ");
  EXPECT_EQ(Row(14).diskMessage, "Controllo Ordini- FENU sul Disco...OK");
  EXPECT_EQ(Row(2).caption, "Contabilità Generale");
}

TEST(Catalogue, OnlySlotsZeroAndFourInstall) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    bool installs = slot == 0 || slot == 4;
    EXPECT_EQ(!Row(slot).installArchive.empty(), installs) << "slot " << slot;
  }
  EXPECT_EQ(Row(0).installLocalPath, ":\\drubel\\varnok_inst.rar");
  EXPECT_EQ(Row(4).installArchive, "tamrel_inst.rar");
  EXPECT_THROW(Row(20), std::out_of_range);
}

TEST(Catalogue, NomiProgrammiHasTwentyOneEntries) {
  NomiProgrammi names = FillNomiProgrammi();
  const char* expected[] = {"varnok.exe",
                            "Drubel2.exe",
                            "fr.exe",
                            "drubel.exe",
                            "tamrel.exe",
                            "dunmar.exe",
                            "pellwick.exe",
                            "rostiva.exe",
                            "zandrotti.exe",
                            "vemo.exe",
                            "tervessa.exe",
                            "olbi.exe",
                            "Zal.exe",
                            "morva.exe",
                            "fenu.exe",
                            "diverlo.exe",
                            "",
                            "",
                            "",
                            "vendix.exe",
                            ""};
  ASSERT_EQ(names.size(), 21u);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], expected[i]) << i;
}

TEST(Catalogue, PathsTakeTheDriveLetterInFront) {
  EXPECT_EQ(OnDrive('c', Row(4).updateLocalPath), "c:\\drubel\\tamrel.rar ");
  EXPECT_EQ(OnDrive('D', ":\\drubel\\rar.exe"), "D:\\drubel\\rar.exe");
}

}  // namespace
}  // namespace avendro
