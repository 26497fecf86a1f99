// A socket BIO whose sends never raise SIGPIPE, so that a TLS session driven from a host thread
// needs no signal-mask calls around each read or write.
#pragma once

#include "crypto/OpenSSLTypes.h"

namespace Vorezi {

// A BIO over the socket, which it does not close; null when this OpenSSL cannot make BIO
// methods (before 1.1.0) or is out of memory.
BIO *NewQuietSocketBio(int fdSocket);

// False where sessions run over OpenSSL's own socket BIO: a send there may raise SIGPIPE.
bool QuietSocketBioAvailable();

}  // namespace Vorezi
