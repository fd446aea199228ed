#include "platform/drive_map.h"
#include "platform/file_details_posix.h"
#include "platform/file_system_posix.h"
#include "platform/launcher_linux.h"
#include "platform/processes_linux.h"
#include "platform/services.h"

namespace avendro {
namespace {

class PosixServices : public PlatformServices {
 public:
  explicit PosixServices(DriveMap drives) : files_(std::move(drives)), details_(files_) {}
  Platform& platform() override { return platform_; }

 private:
  PosixFileSystem files_;
  LinuxProcessTable processes_;
  LinuxLauncher launcher_;
  PosixFileDetails details_;
  Platform platform_{files_, processes_, launcher_, details_};
};

}  // namespace

// Linux's launcher guards no folder: the work folder plays no part.
Status MakePlatformServices(std::string_view /*work_folder*/,
                            std::unique_ptr<PlatformServices>* out) {
  DriveMap drives;
  Status status = DriveMap::Load(DriveMap::DefaultPrefix(), &drives);
  if (!status.ok()) return status;
  *out = std::make_unique<PosixServices>(std::move(drives));
  return Status::Ok();
}

}  // namespace avendro
