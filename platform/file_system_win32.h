#pragma once

#include "platform/file_system.h"

namespace avendro {

// FileSystem over the Win32 file calls. Paths go to the system as they are,
// so Windows applies its own rules to them; NativePath changes nothing.
class Win32FileSystem : public FileSystem {
 public:
  Status CurrentDrive(std::string_view work_folder, char* letter) override;
  Status NativePath(const std::string& path, std::string* native) override;
  Status FindEntry(const std::string& path, int mask, std::string* name) override;
  Status CreateFolder(const std::string& path) override;
  Status BeginReplacement(const std::string& path, std::unique_ptr<ReplacementFile>* file) override;
  Status OpenPartial(const std::string& path, const std::string& target,
                     std::unique_ptr<PartialFile>* file) override;
  Status ReadSmallFile(const std::string& path, size_t limit, std::string* bytes) override;
  Status RemoveAbandonedReplacements(const std::string& folder) override;
  Status ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) override;
  Status RemoveFile(const std::string& path) override;
  Status LockDrive(char letter, std::string_view work_folder,
                   std::unique_ptr<DriveLock>* lock) override;
  Status OpenSharedLog(const std::string& path, const std::string& target,
                       std::unique_ptr<PartialFile>* file) override;
  Status MachineDataFolder(std::string* folder) override;

 private:
  Status OpenPartialFile(const std::string& path, const std::string& target, unsigned long share,
                         std::unique_ptr<PartialFile>* file);
};

}  // namespace avendro
