// Baseline of the data-file benchmarks: reads a file whole and writes every byte as decimal text, 28
// values a line, through a 1 MB output buffer. What any program that reads the file and writes text
// of about its size must spend, written as tightly as plain C allows (one read, digits stored straight
// into a char buffer, one write per megabyte): the data-file figures are given as multiples of it.
//   zelt-bench-baseline INPUT OUTPUT
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zelt-bench-baseline INPUT OUTPUT\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) return 1;
    std::fseek(in, 0, SEEK_END);
    const long size = std::ftell(in);
    std::fseek(in, 0, SEEK_SET);
    if (size < 0) return 1;
    unsigned char* bytes = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size) + 1));
    if (bytes == nullptr || std::fread(bytes, 1, static_cast<size_t>(size), in) != static_cast<size_t>(size))
        return 1;
    std::fclose(in);
    FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 1;
    constexpr size_t kBuffer = 1 << 20;
    static char buffer[kBuffer + 8];
    size_t used = 0;
    bool ok = true;
    for (long i = 0; i < size; ++i) {
        const unsigned v = bytes[i];
        char* p = buffer + used;
        if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
        *p++ = static_cast<char>('0' + v % 10);
        *p++ = (i % 28 == 27 || i + 1 == size) ? '\n' : ',';
        used = static_cast<size_t>(p - buffer);
        if (used >= kBuffer) {
            ok = std::fwrite(buffer, 1, used, out) == used && ok;
            used = 0;
        }
    }
    ok = std::fwrite(buffer, 1, used, out) == used && ok;
    std::free(bytes);
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
