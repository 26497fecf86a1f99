/* find_devices: starts discovery, waits a few seconds, lists the devices found and stops.
 *
 *   find_devices [SECONDS]      (default 5)
 */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <zeva/ZevaSdk.h>

#define MAX_DEVICES 1024

struct device_table {
    pthread_mutex_t lock;
    int count;
    ZEVA_DEVICE_INFO devices[MAX_DEVICES];
};

/* Runs on the SDK's threads with its device list locked: copy and return, call no export that
 * takes the interface lock. iResult says why: ZEVA_DEVICE_ONLINE (new or back online),
 * ZEVA_DEVICE_CHANGED or ZEVA_DEVICE_OFFLINE (a record of only the MAC and the serial numbers). */
static void on_device(ZEVA_DEVICE_INFO *dev, void *user) {
    struct device_table *table = user;
    pthread_mutex_lock(&table->lock);
    int i = 0;
    while (i < table->count && strncmp(table->devices[i].szMAC, dev->szMAC, sizeof dev->szMAC) != 0)
        i++;
    if (i < table->count && dev->iResult == ZEVA_DEVICE_OFFLINE) {
        table->devices[i].iResult = ZEVA_DEVICE_OFFLINE; /* keeps the address it had */
    } else if (i < MAX_DEVICES) {
        table->devices[i] = *dev;
        if (i == table->count)
            table->count++;
    }
    pthread_mutex_unlock(&table->lock);
}

int main(int argc, char **argv) {
    static struct device_table table = {.lock = PTHREAD_MUTEX_INITIALIZER};
    unsigned seconds = argc > 1 ? (unsigned)atoi(argv[1]) : 5;

    /* Sends one inquiry at once, then one every 60 s (ZEVA_SetAutoRequestInterval). */
    if (!ZEVA_Start_V40(on_device, NULL, &table)) {
        fprintf(stderr, "ZEVA_Start_V40 failed: error %u\n", (unsigned)ZEVA_GetLastError());
        return 1;
    }
    sleep(seconds);

    pthread_mutex_lock(&table.lock);
    for (int i = 0; i < table.count; i++) {
        const ZEVA_DEVICE_INFO *d = &table.devices[i];
        /* A text that fills its field has no terminator: bound every one by its field. */
        printf("%-17.20s  %-15.16s  %-24.48s  %s\n", d->szMAC, d->szIPv4Address, d->szSerialNO,
               d->iResult == ZEVA_DEVICE_OFFLINE ? "offline" : "online");
    }
    printf("%d devices\n", table.count);
    pthread_mutex_unlock(&table.lock);

    ZEVA_Stop();
    return 0;
}
