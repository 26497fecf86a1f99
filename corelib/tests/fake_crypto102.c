/* A stand-in crypto library of the 1.0.2 generation: the version text and the locking set-up
 * that library needs, keeping the callbacks it is given. */
typedef void (*locking_cb)(int, int, const char *, int);
typedef unsigned long (*id_cb)(void);

static locking_cb g_fnLocking;
static id_cb g_fnId;

__attribute__((visibility("default"))) const char *SSLeay_version(int iType) {
    (void)iType;
    return "OpenSSL 1.0.2u  20 Dec 2019";
}

__attribute__((visibility("default"))) int CRYPTO_num_locks(void) {
    return 4;
}

__attribute__((visibility("default"))) void CRYPTO_set_locking_callback(locking_cb fn) {
    g_fnLocking = fn;
}

__attribute__((visibility("default"))) void CRYPTO_set_id_callback(id_cb fn) {
    g_fnId = fn;
}

__attribute__((visibility("default"))) locking_cb fake_crypto_locking_callback(void) {
    return g_fnLocking;
}
