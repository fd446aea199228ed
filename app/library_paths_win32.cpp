#include "app/library_paths.h"

#include <windows.h>

#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace avendro {
namespace {

QString ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return QString();
  QString folder = QString::fromWCharArray(path, static_cast<int>(n));
  return folder.left(folder.lastIndexOf(QLatin1Char('\\')));
}

}  // namespace

void PinLibrarySearch() {
  // The program's folder, System32 and folders added on purpose; and out
  // of the older search, which LoadLibrary without flags still uses, the
  // current folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  SetDllDirectoryW(L"");
}

void PinQtLibraryPaths() {
  qunsetenv("QT_PLUGIN_PATH");
  qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
  const QString folder = ProgramFolder();
  if (!folder.isEmpty()) QCoreApplication::setLibraryPaths({folder});
}

}  // namespace avendro
