#include "platform/file_details_win32.h"
#include "platform/file_system_win32.h"
#include "platform/launcher_win32.h"
#include "platform/processes_win32.h"
#include "platform/services.h"

namespace avendro {
namespace {

class Win32Services : public PlatformServices {
 public:
  explicit Win32Services(std::string_view work_folder) : launcher_(work_folder) {}
  Platform& platform() override { return platform_; }

 private:
  Win32FileSystem files_;
  Win32ProcessTable processes_;
  Win32Launcher launcher_;
  Win32FileDetails details_;
  Platform platform_{files_, processes_, launcher_, details_};
};

}  // namespace

Status MakePlatformServices(std::string_view work_folder, std::unique_ptr<PlatformServices>* out) {
  *out = std::make_unique<Win32Services>(work_folder);
  return Status::Ok();
}

}  // namespace avendro
