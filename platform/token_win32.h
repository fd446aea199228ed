#pragma once

#include "platform/status.h"

namespace avendro {

// Whether this program runs with an elevated token ("Esegui come
// amministratore", or a standard user's UAC prompt answered Yes). Read once.
bool RunningElevated();

// Enables SeDebugPrivilege in this program's token, as Task Manager does,
// so that an administrator may stop the processes of other users. Only an
// elevated token holds the privilege; elsewhere it fails, harmlessly.
Status EnableDebugPrivilege();

}  // namespace avendro
