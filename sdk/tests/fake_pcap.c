/* A capture library that lacks pcap_next_ex, for the binding's completeness check. */
const char *pcap_lib_version(void) { return "fake pcap"; }
void *pcap_open_live(const char *d, int s, int p, int t, char *e) { (void)d, (void)s, (void)p, (void)t, (void)e; return 0; }
int pcap_compile(void *h, void *p, const char *f, int o, unsigned m) { (void)h, (void)p, (void)f, (void)o, (void)m; return -1; }
int pcap_setfilter(void *h, void *p) { (void)h, (void)p; return -1; }
int pcap_sendpacket(void *h, const unsigned char *d, int n) { (void)h, (void)d, (void)n; return -1; }
void pcap_close(void *h) { (void)h; }
void pcap_freecode(void *p) { (void)p; }
