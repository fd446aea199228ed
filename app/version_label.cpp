#include "app/version_label.h"

namespace avendro {

std::string VersionLabel(FileDetailsSource& /*details*/) { return ""; }

}  // namespace avendro
