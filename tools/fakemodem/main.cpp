// fakemodem: a Hayes modem on a pseudo-terminal.
//
// Prints "PTY <slave device>" on standard output, then answers AT commands written to that device:
// ATZ, AT&F, ATE0/ATE1, ATS0=n, ATA, ATO, ATH and any other AT command with "OK"; "+++" followed by the
// guard time of silence while online returns to command mode. Lines on standard input drive it:
//   ring                 send "RING" (and answer with "CONNECT 9600" once S0 rings came, S0 > 0)
//   connect | nocarrier  send "CONNECT 9600" (online) | "NO CARRIER" (back to command mode)
//   bytewise on|off      send replies one byte per write, 20 ms apart
//   mute on|off          answer nothing at all
//   send <text>          send the text (\r, \n, \xHH escapes)
//   quit                 end (so does the end of standard input)
// What it sees is reported on standard output: "CMD <line>", "ESCAPE", "CONNECTED", "HUNGUP",
// "DATA <hex>" for bytes received while online.
// Options: --guard <ms> (default 1000).
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int Master = -1;
bool Echo = true;
bool Online = false;   // data mode
bool Carrier = false;  // a call is up (also in command mode after "+++")
bool Bytewise = false;
bool Mute = false;
int AnswerRings = 0;
int RingCount = 0;
int GuardMs = 1000;
std::string Line;
int Plus = 0;
Clock::time_point LastByte = Clock::now();

void Say(const std::string& text)
{
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Put(const std::string& bytes)
{
    if (Bytewise) {
        for (char c : bytes) {
            while (write(Master, &c, 1) < 0 && (errno == EAGAIN || errno == EINTR)) usleep(1000);
            usleep(20000);
        }
        return;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (errno != EAGAIN && errno != EINTR)
            return;
        else
            usleep(1000);
    }
}

void Reply(const std::string& text)
{
    if (!Mute) Put("\r\n" + text + "\r\n");
}

void GoOnline()
{
    Online = true;
    Carrier = true;
    RingCount = 0;
    Reply("CONNECT 9600");
    Say("CONNECTED");
}

void Reset()
{
    Echo = true;
    AnswerRings = 0;
}

// Runs the commands of one "AT..." line; false when the line holds no AT command.
bool Command(std::string line)
{
    std::string upper;
    for (char c : line) upper += char(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.find("AT");
    if (at == std::string::npos) return false;
    Say("CMD " + line.substr(at));
    const std::string cmd = upper.substr(at + 2);
    bool online = false;
    for (size_t i = 0; i < cmd.size(); ++i) {
        const char c = cmd[i];
        auto number = [&](int def) {
            int v = 0;
            bool any = false;
            while (i + 1 < cmd.size() && std::isdigit(static_cast<unsigned char>(cmd[i + 1]))) {
                v = v * 10 + (cmd[++i] - '0');
                any = true;
            }
            return any ? v : def;
        };
        switch (c) {
        case 'Z': Reset(); number(0); break;
        case '&': if (i + 1 < cmd.size() && cmd[++i] == 'F') Reset(); number(0); break;
        case 'E': Echo = number(0) != 0; break;
        case 'S': {
            const int reg = number(0);
            if (i + 1 < cmd.size() && cmd[i + 1] == '=') {
                ++i;
                const int v = number(0);
                if (reg == 0) AnswerRings = v;
            }
            break;
        }
        case 'H':
            number(0);
            if (Carrier) Say("HUNGUP");
            Online = false;
            Carrier = false;
            break;
        case 'A': case 'O': online = true; break;
        default: number(0); break;
        }
    }
    if (online)
        GoOnline();
    else
        Reply("OK");
    return true;
}

void Received(const char* data, size_t n)
{
    const auto now = Clock::now();
    for (size_t k = 0; k < n; ++k) {
        const char c = data[k];
        if (Online) {
            // "+++" counts only after a guard time of silence and must be followed by another.
            const bool quietBefore = now - LastByte >= std::chrono::milliseconds(GuardMs);
            if (c == '+' && (Plus > 0 || quietBefore))
                ++Plus;
            else
                Plus = 0;
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
            Say(std::string("DATA ") + hex);
            continue;
        }
        if (Echo && !Mute) Put(std::string(1, c));
        if (c == '\r') {
            if (!Line.empty()) Command(Line);
            Line.clear();
        } else if (c != '\n') {
            Line += c;
        }
    }
    LastByte = now;
}

std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char e = s[++i];
            if (e == 'r') out += '\r';
            else if (e == 'n') out += '\n';
            else if (e == 'x' && i + 2 < s.size()) {
                out += char(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else out += e;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool Control(const std::string& line)
{
    if (line == "quit") return false;
    if (line == "ring") {
        Reply("RING");
        ++RingCount;
        if (!Online && AnswerRings > 0 && RingCount >= AnswerRings) GoOnline();
    } else if (line == "connect") {
        GoOnline();
    } else if (line == "nocarrier") {
        Online = false;
        Carrier = false;
        Reply("NO CARRIER");
    } else if (line.rfind("bytewise ", 0) == 0) {
        Bytewise = line.substr(9) == "on";
    } else if (line.rfind("mute ", 0) == 0) {
        Mute = line.substr(5) == "on";
    } else if (line.rfind("send ", 0) == 0) {
        Put(Unescape(line.substr(5)));
    }
    Say("DONE " + line);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--guard") == 0 && i + 1 < argc) GuardMs = std::atoi(argv[++i]);

    Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) {
        std::perror("fakemodem: no pseudo-terminal");
        return 1;
    }
    const std::string slave = ptsname(Master);
    // Keep the slave open ourselves so that the line does not hang up between users.
    const int keep = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    if (keep >= 0 && tcgetattr(keep, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(keep, TCSANOW, &tio);
    }
    fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
    Say("PTY " + slave);

    std::string input;
    for (;;) {
        pollfd fds[2] = {{Master, POLLIN, 0}, {0, POLLIN, 0}};
        const int r = poll(fds, 2, 10);
        if (r < 0 && errno != EINTR) break;
        // The guard time after "+++" is judged before the bytes that came since are looked at, as a
        // modem that timed their arrival would.
        if (Online && Plus == 3 && Clock::now() - LastByte >= std::chrono::milliseconds(GuardMs)) {
            Plus = 0;
            Online = false;
            Say("ESCAPE");
            Reply("OK");
        }
        if (fds[0].revents & POLLIN) {
            char buf[512];
            const ssize_t n = read(Master, buf, sizeof buf);
            if (n > 0) Received(buf, size_t(n));
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[512];
            const ssize_t n = read(0, buf, sizeof buf);
            if (n <= 0) break;
            input.append(buf, size_t(n));
            size_t nl;
            while ((nl = input.find('\n')) != std::string::npos) {
                std::string line = input.substr(0, nl);
                input.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!Control(line)) return 0;
            }
        }
    }
    if (keep >= 0) close(keep);
    return 0;
}
