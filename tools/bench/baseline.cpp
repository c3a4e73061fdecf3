// Baseline of the data-file benchmarks: reads a file whole and writes every byte as decimal text, 28
// values a line, through a 1 MB output buffer. What any program that reads the file and writes text
// of about its size must spend: the data-file figures are given as multiples of it.
//   zelt-bench-baseline INPUT OUTPUT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zelt-bench-baseline INPUT OUTPUT\n");
        return 2;
    }
    const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (in < 0) return 1;
    std::vector<unsigned char> bytes;
    unsigned char chunk[1 << 16];
    for (ssize_t n; (n = ::read(in, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    ::close(in);
    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return 1;
    constexpr size_t kBuffer = 1 << 20;
    std::string buffer;
    buffer.reserve(kBuffer + 256);
    for (size_t i = 0; i < bytes.size(); ++i) {
        char digits[4];
        int n = 0;
        unsigned v = bytes[i];
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0) buffer += digits[--n];
        buffer += (i % 28 == 27 || i + 1 == bytes.size()) ? '\n' : ',';
        if (buffer.size() >= kBuffer) {
            if (!WriteAll(out, buffer.data(), buffer.size())) return 1;
            buffer.clear();
        }
    }
    const bool ok = WriteAll(out, buffer.data(), buffer.size());
    return ::close(out) == 0 && ok ? 0 : 1;
}
