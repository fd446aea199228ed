#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "platform/file_details_posix.h"
#include "platform/file_system_posix.h"
#include "shell/dettagli_file.h"
#include "shell/version_label.h"
#include "tests/test_support.h"

namespace avendro {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

// Sets the modification time of a file to a local date and time.
void SetModified(const fs::path& path, int year, int month, int day, int hour, int minute) {
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = 41;
  local.tm_isdst = -1;
  struct timespec times[2] = {{0, UTIME_OMIT}, {mktime(&local), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

struct Details {
  explicit Details(const TempPrefix& t) : files(t.Drives()), source(files) {}
  Status Get(const std::string& folder, const std::string& name) {
    return DettagliFile(source, folder, name, &result);
  }
  std::string At(size_t position) const {
    const std::string* value = result.At(position);
    return value != nullptr ? *value : "<none>";
  }
  PosixFileSystem files;
  PosixFileDetails source;
  Dettagli result;
};

TEST(FileDetails, AFileAsAFileManagerShowsIt) {
  TempPrefix t;
  fs::path setup = t.Put('c', "Drubel/SeTuP.ExE", std::string(1536, 'x'));
  SetModified(setup, 2026, 3, 14, 9, 26);
  Details d(t);
  ASSERT_TRUE(d.Get("C:\\drubel\\", "setup.exe").ok());
  ASSERT_GE(d.result.size(), 4u);
  EXPECT_EQ(d.result.entries()[0], DetailColumn("Nome", "SeTuP.ExE"));
  EXPECT_EQ(d.result.entries()[1], DetailColumn("Dimensione", "1,50 KB"));
  EXPECT_EQ(d.result.entries()[2], DetailColumn("Tipo elemento", "Applicazione"));
  EXPECT_EQ(d.result.entries()[3], DetailColumn("Ultima modifica", "14/03/2026 09:26"));
  ASSERT_NE(d.result.Find("ULTIMA modifica"), nullptr);
  EXPECT_EQ(*d.result.Find("ULTIMA modifica"), "14/03/2026 09:26");
  ASSERT_NE(d.result.Find("attributi"), nullptr);
  EXPECT_EQ(*d.result.Find("attributi"), "A");
  EXPECT_NE(d.result.Find("Proprietario"), nullptr);
  EXPECT_NE(d.result.Find("Data creazione"), nullptr);  // empty where unknown
  EXPECT_EQ(d.At(0), "<none>");
  EXPECT_EQ(d.At(d.result.size() + 1), "<none>");
}

TEST(FileDetails, SizesTypesAndFolders) {
  TempPrefix t;
  t.Put('d', "x/empty.txt", "");
  t.Put('d', "x/small.bat", std::string(1023, 'x'));
  t.Put('d', "x/archivio.rar", std::string(15 * 1024 + 1000, 'x'));
  t.Put('d', "x/LEGGIMI", std::string(153 * 1024 + 1023, 'x'));
  t.Put('d', "x/big.dat", std::string(2 * 1024 * 1024 + 600 * 1024, 'x'));
  t.Put('d', "x/sub/inside");
  fs::permissions(t.Drive('d') / "x" / "LEGGIMI",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  Details d(t);
  auto row = [&](const std::string& name) {
    EXPECT_TRUE(d.Get("d:\\x", name).ok()) << name;
    return d.At(2) + " | " + d.At(3) + " | " + *d.result.Find("Attributi");
  };
  EXPECT_EQ(row("empty.txt"), "0 byte | Documento di testo | A");
  EXPECT_EQ(row("small.bat"), "1023 byte | File batch Windows | A");
  EXPECT_EQ(row("archivio.rar"), "15,9 KB | File RAR | A");
  EXPECT_EQ(row("leggimi"), "153 KB | File | RA");
  EXPECT_EQ(row("big.dat"), "2,58 MB | File DAT | A");
  EXPECT_EQ(row("SUB"), " | Cartella di file | D");
}

TEST(FileDetails, NameMatchedWithoutRegardToCaseFirstInNameOrder) {
  TempPrefix t;
  t.Put('c', "drubel/setup.exe", "lower");
  t.Put('c', "drubel/Setup.exe", "mixed");
  Details d(t);
  ASSERT_TRUE(d.Get("c:\\DRUBEL\\", "SETUP.EXE").ok());
  EXPECT_EQ(d.At(1), "Setup.exe");  // "S" sorts before "s"
}

TEST(FileDetails, MissingFileIsEmptyButMissingFolderIsAnError) {
  TempPrefix t;
  t.Put('c', "drubel/setup.ex");
  t.Put('c', "file", "not a folder");
  Details d(t);
  ASSERT_TRUE(d.Get("C:\\drubel\\", "setup.exe").ok());
  EXPECT_TRUE(d.result.empty());
  EXPECT_EQ(d.result.At(4), nullptr);

  t.Put('c', "drubel/setup.exe");
  ASSERT_TRUE(d.Get("C:\\drubel\\", "setup.exe").ok());
  Status s = d.Get("C:\\nessuna\\", "setup.exe");
  EXPECT_EQ(s.message(), "C:\\nessuna\\: No such file or directory");
  EXPECT_TRUE(d.result.empty());  // no partial or earlier result is left
  EXPECT_EQ(d.Get("C:\\file", "x").message(), "C:\\file: Not a directory");
  EXPECT_FALSE(d.Get("q:\\drubel\\", "setup.exe").ok());  // drive not mapped
}

// A folder whose columns are set by the test: header texts that a real file
// manager may show but this system's own never does.
class ScriptedSource : public FileDetailsSource {
 public:
  Status Query(const std::string&, const std::string&, std::vector<DetailColumn>* columns,
               bool* found) override {
    *columns = this->columns;
    *found = this->found;
    return Status::Ok();
  }
  std::vector<DetailColumn> columns;
  bool found = true;
};

TEST(DettagliFile, PositionsCountOnlyColumnsWithAHeader) {
  ScriptedSource source;
  source.columns = {{"Nome", "setup.exe"},
                    {"Dimensione", ""},
                    {"", "ignored"},
                    {"Tipo", "Applicazione"},
                    {"Data", "01/02/2025 10:00"}};
  Dettagli d;
  ASSERT_TRUE(DettagliFile(source, "C:\\drubel\\", "setup.exe", &d).ok());
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(*d.At(2), "");  // an empty value keeps its place
  EXPECT_EQ(*d.At(4), "01/02/2025 10:00");
  EXPECT_EQ(*d.Find("tipo"), "Applicazione");
  EXPECT_EQ(d.Find(""), nullptr);
}

TEST(DettagliFile, OnlyColumnsUpTo35AreReported) {
  ScriptedSource source;
  for (int column = 0; column <= 45; ++column) {
    source.columns.emplace_back("C" + std::to_string(column), std::to_string(column));
  }
  source.columns[38].first = "c0";  // a repeat beyond column 35 does not count
  Dettagli d;
  ASSERT_TRUE(DettagliFile(source, "C:\\drubel\\", "setup.exe", &d).ok());
  ASSERT_EQ(d.size(), 36u);
  EXPECT_EQ(*d.At(36), "35");
  EXPECT_EQ(d.Find("C36"), nullptr);
}

TEST(DettagliFile, ARepeatedHeaderIsAnErrorOnlyWhenTheFileIsThere) {
  ScriptedSource source;
  source.columns = {{"Nome", "setup.exe"}, {"Dimensione", "1 KB"}, {"NOME", "x"}};
  Dettagli d;
  Status s = DettagliFile(source, "C:\\drubel\\", "setup.exe", &d);
  EXPECT_EQ(s.message(), "C:\\drubel\\setup.exe: colonna \"NOME\" ripetuta");
  EXPECT_TRUE(d.empty());

  source.found = false;
  EXPECT_TRUE(DettagliFile(source, "C:\\drubel\\", "setup.exe", &d).ok());
  EXPECT_TRUE(d.empty());
}

TEST(VersionLabel, DateOfSetupOnDriveC) {
  TempPrefix t;
  PosixFileSystem files(t.Drives());
  PosixFileDetails details(files);
  EXPECT_EQ(VersionLabel(details), "");  // no C:\drubel at all

  fs::path on_d = t.Put('d', "drubel/setup.exe");  // the work drive does not count
  SetModified(on_d, 2025, 1, 2, 3, 4);
  t.Put('c', "drubel/setup.ex_");
  EXPECT_EQ(VersionLabel(details), "");

  fs::path setup = t.Put('c', "drubel/SETUP.EXE", "installer");
  SetModified(setup, 2026, 11, 30, 17, 5);
  EXPECT_EQ(VersionLabel(details), "R. 1.0.1 del 30/11/2026 17:05");
}

TEST(VersionLabel, EmptyWhenFewerThanFourDetails) {
  ScriptedSource source;
  source.columns = {{"Nome", "setup.exe"}, {"", "x"}, {"Dimensione", "1 KB"}, {"Tipo", "File"}};
  EXPECT_EQ(VersionLabel(source), "");
}

}  // namespace
}  // namespace avendro
