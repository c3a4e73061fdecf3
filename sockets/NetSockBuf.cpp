#include "sockets/NetSockBuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int size)
{
    SetBufSize(size);
}

void TBuffer::SetBufSize(int size)
{
    if (size <= 0)
        size = 1514;
    if (size == BufSize())
        return;
    std::vector<char> block(static_cast<size_t>(size));
    const int keep = std::min(FWrCount, size);
    if (keep > 0)
        std::memcpy(block.data(), FBuf.data(), static_cast<size_t>(keep));
    FBuf.swap(block);
    FWrCount = keep;
    FRdCount = std::min(FRdCount, FWrCount);
}

int TBuffer::Write(const void* data, int len)
{
    const int n = std::max(0, std::min(len, BufSize() - FWrCount));
    if (n > 0) {
        std::memcpy(FBuf.data() + FWrCount, data, static_cast<size_t>(n));
        FWrCount += n;
    }
    return n;
}

int TBuffer::Read(void* dest, int len)
{
    const int n = std::max(0, std::min(len, GetBufUsed()));
    if (n > 0) {
        std::memcpy(dest, FBuf.data() + FRdCount, static_cast<size_t>(n));
        FRdCount += n;
    }
    ResetWhenDrained();
    return n;
}

const char* TBuffer::Peek(int& len) const
{
    len = GetBufUsed();
    return len > 0 ? FBuf.data() + FRdCount : nullptr;
}

int TBuffer::Remove(int len)
{
    const int n = std::max(0, std::min(len, GetBufUsed()));
    FRdCount += n;
    ResetWhenDrained();
    return n;
}

void TBuffer::ResetWhenDrained()
{
    if (FRdCount >= FWrCount)
        FRdCount = FWrCount = 0;
}
