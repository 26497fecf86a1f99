/* The public header as a C program sees it: it compiles as C11 and the records keep their sizes. */
#include <stdio.h>

#include "zeva/ZevaSdk.h"

int main(void) {
    ZEVA_START_PARAM param = {0, 0, 0};
    (void)param;
    if (sizeof(ZEVA_DEVICE_INFO) != 1016 || sizeof(ZEVA_SUBNET_DEVICE_INFO) != 1368 ||
        sizeof(ZEVA_START_PARAM) != 3 * sizeof(void *)) {
        puts("record sizes differ");
        return 1;
    }
    return 0;
}
