// The runtime's default address family (2, 23 or 101), which the family code 102 stands for.
// It follows the adapter list and keeps its last value across runtime stops.
#pragma once

#include "yar/yar_adapter.h"

namespace yar::internal {

int DefaultFamily();
void SetDefaultFamily(int family);

}  // namespace yar::internal

YAR_BEGIN_DECLS

// Builds the adapter list into the holder and, when that succeeds, refreshes the default family
// from it (an empty list leaves the family alone); returns the build result. The runtime start
// calls it at every start.
int UpdateDefaultFamily_Inter(YAR_ADAPTER_INFO_T **holder);

YAR_END_DECLS
