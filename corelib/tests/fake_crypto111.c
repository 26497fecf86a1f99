/* A stand-in crypto library of the 1.1.1 generation for the version rules: it exports only
 * OpenSSL_version, whose text the test sets. */
static char g_szVersion[64] = "OpenSSL 1.1.1w  11 Sep 2023";

__attribute__((visibility("default"))) const char *OpenSSL_version(int iType) {
    (void)iType;
    return g_szVersion;
}

__attribute__((visibility("default"))) void fake_crypto_set_version(const char *pVersion) {
    unsigned i = 0;
    for (; pVersion[i] && i + 1 < sizeof(g_szVersion); i++)
        g_szVersion[i] = pVersion[i];
    g_szVersion[i] = '\0';
}
