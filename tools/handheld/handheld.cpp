// zelt-handheld: stands for a handheld computer that holds instrument memories copied in the field.
// Opens a pseudo-terminal, prints "PTY <slave path>" and answers the framed commands
//   STX "RC" ETX cc             -> the record count in decimal
//   STX "GR" rrrr bbbb ETX cc   -> block bbbb of record rrrr as 512 upper-case hex digits
// with each frame followed by the XOR of its bytes as two upper-case hex digits.
// Each --q5 FILE is one record; blocks past the end of a file read as erased memory (0xFF).
// Faults, each for the reply to one exact command text (repeatable):
//   --bad-checksum CMD   the reply carries a wrong checksum
//   --short-block CMD    the block reply lacks its last two hex digits
//   --silent CMD         no reply at all
//   --count TEXT         reply to "RC" with TEXT instead of the number of files
// Ends when standard input closes or on a signal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr size_t BlockSize = 256;

std::string XorHex(const std::string& text)
{
    unsigned char x = 0;
    for (char c : text) x ^= static_cast<unsigned char>(c);
    char out[3];
    std::snprintf(out, sizeof out, "%02X", x);
    return out;
}

struct Options {
    std::vector<std::vector<unsigned char>> records;
    std::set<std::string> badChecksum, shortBlock, silent;
    bool countGiven = false;
    std::string count;
};

[[noreturn]] void Usage(const char* why)
{
    std::fprintf(stderr, "zelt-handheld: %s\nusage: zelt-handheld [--q5 FILE]... [--bad-checksum CMD] "
                         "[--short-block CMD] [--silent CMD] [--count TEXT]\n", why);
    std::exit(2);
}

Options ParseArgs(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
        const std::string v = argv[++i];
        if (a == "--q5") {
            std::ifstream in(v, std::ios::binary);
            if (!in) Usage(("cannot read " + v).c_str());
            o.records.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } else if (a == "--bad-checksum") {
            o.badChecksum.insert(v);
        } else if (a == "--short-block") {
            o.shortBlock.insert(v);
        } else if (a == "--silent") {
            o.silent.insert(v);
        } else if (a == "--count") {
            o.countGiven = true;
            o.count = v;
        } else {
            Usage(("unknown option " + a).c_str());
        }
    }
    return o;
}

// The reply text to a command, or false when the command is not understood (no reply).
bool Answer(const Options& o, const std::string& cmd, std::string& reply)
{
    if (cmd == "RC") {
        reply = o.countGiven ? o.count : std::to_string(o.records.size());
        return true;
    }
    if (cmd.size() != 10 || cmd.compare(0, 2, "GR") != 0) return false;
    char* end = nullptr;
    const std::string rec = cmd.substr(2, 4), blk = cmd.substr(6, 4);
    const unsigned long r = std::strtoul(rec.c_str(), &end, 16);
    if (*end) return false;
    const unsigned long b = std::strtoul(blk.c_str(), &end, 16);
    if (*end) return false;
    static const std::vector<unsigned char> none;
    const std::vector<unsigned char>& data = r < o.records.size() ? o.records[r] : none;
    reply.clear();
    for (size_t i = 0; i < BlockSize; ++i) {
        const size_t at = b * BlockSize + i;
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", at < data.size() ? data[at] : 0xFF);
        reply += hex;
    }
    if (o.shortBlock.count(cmd)) reply.resize(reply.size() - 2);
    return true;
}

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const Options opts = ParseArgs(argc, argv);
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("zelt-handheld: openpty");
        return 1;
    }
    // Raw bytes both ways: no echo, no line editing, no translation.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    // The slave stays open here so that the master never reads end-of-file between two users.
    std::printf("PTY %s\n", name);
    std::fflush(stdout);

    std::string frame;
    bool inFrame = false, inChecksum = false;
    std::string checksum;
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char sink[64];
            if (read(STDIN_FILENO, sink, sizeof sink) <= 0) break;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        char buf[512];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) continue;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            if (c == STX) {
                inFrame = true;
                inChecksum = false;
                frame.clear();
            } else if (!inFrame) {
                continue;
            } else if (c == ETX && !inChecksum) {
                inChecksum = true;
                checksum.clear();
            } else if (inChecksum) {
                checksum += c;
                if (checksum.size() < 2) continue;
                inFrame = inChecksum = false;
                const std::string cmd = frame;
                if (checksum != XorHex(STX + cmd + ETX)) {
                    std::fprintf(stderr, "zelt-handheld: bad checksum on %s\n", cmd.c_str());
                    continue;
                }
                std::string reply;
                if (opts.silent.count(cmd) || !Answer(opts, cmd, reply)) {
                    std::fprintf(stderr, "zelt-handheld: no reply to %s\n", cmd.c_str());
                    continue;
                }
                std::string out = STX + reply + ETX;
                std::string sum = XorHex(out);
                if (opts.badChecksum.count(cmd)) sum = sum == "00" ? "01" : "00";
                WriteAll(master, out + sum);
            } else {
                frame += c;
            }
        }
    }
    close(slave);
    close(master);
    return 0;
}
