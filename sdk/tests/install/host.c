/* A host built against the installed SDK: it links libZEVA.so and asks for the version. */
#include <stdio.h>

#include <zeva/ZevaSdk.h>

int main(void) {
    printf("%08x\n", ZEVA_GetVersion());
    return ZEVA_GetLastError() == 0 ? 0 : 1;
}
