/* The public header as a C99 program sees it: it compiles with -std=c99 -pedantic-errors, the
 * records keep their sizes and the named values serve where a host uses them. */
#include <stdio.h>

#include "zeva/ZevaSdk.h"

static const char *ErrorName(DWORD error) {
    switch (error) {
    case ZEVA_NOERROR: return "none";
    case ZEVA_ERR_DEVICE_TIMEOUT: return "time-out";
    case ZEVA_ERR_CORE_PARAM: return "core";
    default: return "other";
    }
}

int main(void) {
    ZEVA_START_PARAM param = {0, 0, 0};
    static ZEVA_DEVICE_INFO dev;
    static ZEVA_RESET_PARAM reset;
    DWORD command = ZEVA_GET_DEVICE_CODE;
    int32_t rule = ZEVA_FILTER_ONLY_OEM;
    (void)param;
    if (sizeof(ZEVA_DEVICE_INFO) != 1016 || sizeof(ZEVA_SUBNET_DEVICE_INFO) != 1368 ||
        sizeof(ZEVA_START_PARAM) != 3 * sizeof(void *)) {
        puts("record sizes differ");
        return 1;
    }
    dev.iResult = ZEVA_DEVICE_OFFLINE;
    reset.byResetType = ZEVA_RESET_BY_PHONE_CODE;
    if (ErrorName(2011) != ErrorName(ZEVA_ERR_DEVICE_TIMEOUT) || ErrorName(17)[0] != 'c' || command != 1 ||
        rule != -3 || dev.iResult != 3 || reset.byResetType != 7) {
        puts("named values differ");
        return 1;
    }
    return 0;
}
