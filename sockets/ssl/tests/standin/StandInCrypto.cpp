// A stand-in for the crypto library that answers the version query and exports nothing else:
// the shape of a library that loads but lacks the entry points the TLS layer binds.
extern "C" __attribute__((visibility("default"))) unsigned long OpenSSL_version_num(void) {
  return 0x30000020UL;
}
