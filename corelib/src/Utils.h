// Free utility functions of the core library: the logging assertion, address texts, paths,
// hex and random texts, and thread-pool shortcuts.
#pragma once

#include <cstddef>

#include "morva/MorvaTypes.h"

namespace Vorezi {

// Logs "Utils_Assert!" at level 1 and returns; never stops the program.
void Utils_Assert();

// Directory of the running executable with its trailing '/'.
int Utils_GetModuleDir(char *pBuf, int iSize);

}  // namespace Vorezi
