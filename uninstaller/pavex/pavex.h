#pragma once
// Pavex, the widget library of the uninstaller: resources, dialogs, title frame and buttons.
#include "pavex/buttons.h"
#include "pavex/dialogs.h"
#include "pavex/resource.h"
#include "pavex/title.h"
