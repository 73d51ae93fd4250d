#include "serial/setup/ComSetup.h"

namespace tavex {

// Placeholder until the dialog lands.
void RegisterComSetupDialog() {}

}  // namespace tavex
