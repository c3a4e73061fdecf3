#pragma once
// Graceful close in the background: sends the bytes a closed component still had queued, shuts the
// sending direction down, reads and drops what the peer still sends until it closes too, then closes the
// descriptor. Nothing blocks the caller; a peer that never finishes is reset after the time given.
#include <deque>
#include <memory>

#include "sockets/NetSockBuf.h"

using TSendChunks = std::deque<std::unique_ptr<TBuffer>>;

class TNetSocketCloser {
public:
    static void Start(int fd, TSendChunks pending, int timeoutSeconds);
    // Descriptors still closing (tests).
    static int Count();
};
