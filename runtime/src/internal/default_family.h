// The runtime's default address family (2, 23 or 101), which the family code 102 stands for.
// It follows the adapter list and keeps its last value across runtime stops.
#pragma once

namespace yar::internal {

int DefaultFamily();
void SetDefaultFamily(int family);

}  // namespace yar::internal
