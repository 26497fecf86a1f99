/* A stand-in zlib for the version gate: only zlibVersion, whose text the test sets. */
static char g_szVersion[64] = "1.2.13";

__attribute__((visibility("default"))) const char *zlibVersion(void) {
    return g_szVersion;
}

__attribute__((visibility("default"))) void fake_zlib_set_version(const char *pVersion) {
    unsigned i = 0;
    for (; pVersion[i] && i + 1 < sizeof(g_szVersion); i++)
        g_szVersion[i] = pVersion[i];
    g_szVersion[i] = '\0';
}
