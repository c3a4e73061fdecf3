#pragma once
// One chunk of a socket's send queue. Not circular: bytes taken free no room until the chunk is drained,
// when both positions return to 0.
#include <vector>

class TBuffer {
public:
    explicit TBuffer(int size);
    // A size of 0 or less means 1514; bytes already written are kept.
    void SetBufSize(int size);
    int BufSize() const { return static_cast<int>(FBuf.size()); }
    // Appends up to the free room; returns the bytes copied.
    int Write(const void* data, int len);
    // Takes up to len bytes from the front; returns the bytes copied.
    int Read(void* dest, int len);
    // First untaken byte and their count (nullptr, 0 when empty).
    const char* Peek(int& len) const;
    // Drops up to len bytes from the front; returns the bytes dropped.
    int Remove(int len);
    int GetBufUsed() const { return FWrCount - FRdCount; }

private:
    void ResetWhenDrained();
    std::vector<char> FBuf;
    int FWrCount = 0;
    int FRdCount = 0;
};
