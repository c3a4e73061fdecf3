#include "common/Utils.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "common/DataPaths.h"
#include "common/FileUtils.h"

namespace fs = std::filesystem;

namespace {

bool IsTrimmed(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive order of the sorted string lists.
bool LessNoCase(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char x = LowerAscii(a[i]), y = LowerAscii(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

unsigned EntryAttributes(const fs::directory_entry& entry)
{
    std::error_code ec;
    unsigned attr = 0;
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] == '.')
        attr |= faHidden;
    if (entry.is_symlink(ec))
        attr |= faSymLink;
    if (entry.is_directory(ec))
        attr |= faDirectory;
    else if (entry.is_regular_file(ec))
        attr |= faArchive;
    else
        attr |= faSysFile;
    const auto perms = entry.status(ec).permissions();
    if (!ec && (perms & fs::perms::owner_write) == fs::perms::none)
        attr |= faReadOnly;
    return attr;
}

void FindFilesIn(const fs::path& folder, const std::string& prefix, const std::string& mask, unsigned attributes,
                 bool recurse, int depth, std::vector<std::string>& out)
{
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return;
    std::vector<fs::path> subFolders;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        const unsigned attr = EntryAttributes(entry);
        if (MatchesMask(name, mask) && (attributes == 0 || (attr & attributes) != 0))
            out.push_back(prefix + name);
        // Links to folders are not followed: they could lead back up the tree.
        if (recurse && (attr & faDirectory) && !(attr & faSymLink))
            subFolders.push_back(entry.path());
    }
    if (depth >= 64)
        return;
    for (const fs::path& sub : subFolders)
        FindFilesIn(sub, prefix + sub.filename().string() + "/", mask, attributes, recurse, depth + 1, out);
}

// "ttyUSB10" -> ("/dev/ttyUSB", 10): ports sort by name, then by number.
bool PortLess(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s, std::string& head, long& num) {
        size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9')
            --i;
        head = s.substr(0, i);
        num = i < s.size() && s.size() - i < 9 ? std::stol(s.substr(i)) : -1;
    };
    std::string ha, hb;
    long na = 0, nb = 0;
    split(a, ha, na);
    split(b, hb, nb);
    if (ha != hb)
        return ha < hb;
    if (na != nb)
        return na < nb;
    return a < b;
}

bool WriteIfChanged(const fs::path& path, const std::string& content, bool& changed)
{
    std::string old;
    if (ReadFileBytes(path, old) && old == content)
        return true;
    changed = true;
    return ForceDirectories(path.parent_path()) && WriteFileAtomically(path, content);
}

}   // namespace

std::vector<std::string> SplitString(const std::string& text, char separator, bool collapse, bool trim)
{
    std::vector<std::string> fields;
    std::string field;
    bool lastWasSeparator = false;
    auto add = [&](const std::string& f) { fields.push_back(trim ? Trim(f) : f); };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == separator) {
            if (!collapse || (!lastWasSeparator && i > 0))
                add(field);
            field.clear();
            lastWasSeparator = true;
        } else {
            field += c;
            lastWasSeparator = false;
        }
    }
    if (!field.empty())
        add(field);
    return fields;
}

std::string Trim(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && IsTrimmed(text[b]))
        ++b;
    while (e > b && IsTrimmed(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

std::string UpperCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string RemoveChars(const std::string& text, const std::string& chars)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (chars.find(c) == std::string::npos)
            out += c;
    return out;
}

void ReplaceChar(std::string& text, char from, char to)
{
    if (from == to)
        return;
    std::replace(text.begin(), text.end(), from, to);
}

double StrToFloatAnySep(const std::string& text)
{
    std::string s = text;
    const char sep = DecimalSeparator();
    if (sep != '.')
        ReplaceChar(s, '.', sep);
    else
        ReplaceChar(s, ',', '.');
    return StrToFloat(Trim(s));
}

char NibbleToHexChar(int nibble)
{
    static const char digits[] = "0123456789ABCDEF";
    return digits[nibble & 0x0F];
}

int HexCharToNibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void ByteToHex(uint8_t value, char* out)
{
    out[0] = NibbleToHexChar(value >> 4);
    out[1] = NibbleToHexChar(value);
}

std::string ByteToHex(uint8_t value)
{
    char buf[2];
    ByteToHex(value, buf);
    return std::string(buf, 2);
}

void BytesToHexInto(const uint8_t* bytes, size_t count, std::string& out)
{
    // Every record is turned into hex when read and when exported: two characters a byte from one table.
    static constexpr auto kPairs = [] {
        constexpr char digits[] = "0123456789ABCDEF";
        std::array<char, 512> table{};
        for (size_t b = 0; b < 256; ++b) {
            table[2 * b] = digits[b >> 4];
            table[2 * b + 1] = digits[b & 0x0F];
        }
        return table;
    }();
    out.resize(count * 2);
    char* o = out.data();
    for (size_t i = 0; i < count; ++i)
        std::memcpy(o + 2 * i, kPairs.data() + 2 * bytes[i], 2);
}

std::string BytesToHex(const uint8_t* bytes, size_t count)
{
    std::string out;
    BytesToHexInto(bytes, count, out);
    return out;
}

uint8_t HexToByte(const std::string& text)
{
    if (text.size() < 2)
        return 0;
    return static_cast<uint8_t>(HexCharToNibble(text[0]) << 4 | HexCharToNibble(text[1]));
}

uint16_t HexToWord(const std::string& text)
{
    return static_cast<uint16_t>(HexToInt(text.c_str(), 4));
}

uint32_t HexToInt(const char* text, int count)
{
    uint32_t v = 0;
    if (text == nullptr)
        return 0;
    for (int i = 0; i < count && i < 8 && text[i] != '\0'; ++i)
        v = v << 4 | static_cast<uint32_t>(HexCharToNibble(text[i]));
    return v;
}

std::string BytesToPrintable(const uint8_t* bytes, size_t count, bool allHex)
{
    std::string out;
    bool inHex = false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (allHex || b < 0x20 || b >= 0x7F || b == '|') {
            out += '|';
            out += ByteToHex(b);
            inHex = true;
        } else {
            if (inHex)
                out += '|';
            inHex = false;
            out += static_cast<char>(b);
            if (b == '%')
                out += '%';
        }
    }
    if (inHex)
        out += '|';
    return out;
}

std::string IncludeTrailingBackslash(const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return path;
    return path + '/';
}

bool MatchesMask(const std::string& name, const std::string& mask)
{
    return MatchesFileMask(name, mask);
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& mask, unsigned attributes,
                                   bool recurse)
{
    std::vector<std::string> out;
    if (folder.empty())
        return out;
    FindFilesIn(fs::path(folder), "", mask, attributes, recurse, 0, out);
    std::sort(out.begin(), out.end(), LessNoCase);
    return out;
}

bool AppendToLogFile(const std::string& path, const std::string& line, bool withTimestamp, long long offset)
{
    std::string text = Trim(line);
    if (withTimestamp)
        text = FormatDateTime("dd/mm/yyyy,hh:nn:ss.z", NowLocal()) + "," + text;
    text += "\r\n";
    int fd = -1;
    for (int attempt = 0; attempt < 15; ++attempt) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        ::close(fd);
        fd = -1;
        Delay(20, false);
    }
    if (fd < 0)
        return false;
    bool ok = true;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    off_t pos = size + static_cast<off_t>(offset > 0 ? 0 : offset);
    if (size < 0 || ::lseek(fd, pos < 0 ? 0 : pos, SEEK_SET) < 0)
        ok = false;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ::flock(fd, LOCK_UN);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

bool OpenFileWithShell(const std::string& path)
{
    if (!FileExists(path))
        return false;
    const QString name = QString::fromLocal8Bit(path.c_str());
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(name)))
        return true;
    // No desktop handler: a plain text editor, as the station's files are text.
    for (const char* editor : {"xdg-open", "gedit", "mousepad", "kate"})
        if (QProcess::startDetached(QString::fromLatin1(editor), {name}))
            return true;
    return false;
}

namespace {

// A program path as one argument of a desktop entry's Exec key: quoted, with the characters that the
// quoting and the key's string escapes reserve escaped ('%' doubled). Empty for a path that no entry
// can hold (a line break).
std::string DesktopExecArgument(const std::string& path)
{
    std::string arg = "\"";
    for (const char c : path) {
        switch (c) {
        case '\n': case '\r': return {};
        case '\\': arg += "\\\\\\\\"; break;
        case '"': case '`': case '$': arg += "\\\\"; arg += c; break;
        case '%': arg += "%%"; break;
        default: arg += c;
        }
    }
    return arg + "\"";
}

// A value of a desktop entry's string key (a path), with its escapes.
std::string DesktopStringValue(const std::string& text)
{
    std::string value;
    for (const char c : text) {
        if (c == '\\') value += "\\\\";
        else if (c == '\n') value += "\\n";
        else if (c == '\r') value += "\\r";
        else if (c == '\t') value += "\\t";
        else value += c;
    }
    if (!value.empty() && value[0] == ' ') value.replace(0, 1, "\\s");
    return value;
}

std::string XmlText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

}  // namespace

bool RegisterFileAssociation(const std::string& type, const std::string& program, int /*iconIndex*/,
                             const std::string& description)
{
    // The desktop's association store: a MIME type for the extension and a desktop entry of the program
    // that opens it. Both are written again whenever they differ (the program moved, was installed).
    const std::string ext = !type.empty() && type[0] == '.' ? type.substr(1) : type;
    if (ext.empty())
        return false;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    fs::path base;
    if (xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else if (home != nullptr && home[0] != '\0')
        base = fs::path(home) / ".local" / "share";
    else
        return false;
    const std::string mime = "application/x-zelt-" + ext;
    bool changed = false;
    const std::string comment = description.empty() ? ext + " file" : description;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                      "  <mime-type type=\"" + mime + "\">\n"
                      "    <comment>" + XmlText(comment) + "</comment>\n"
                      "    <glob pattern=\"*." + XmlText(ext) + "\" case-sensitive=\"false\"/>\n"
                      "  </mime-type>\n</mime-info>\n";
    if (!WriteIfChanged(base / "mime" / "packages" / ("zelt-" + ext + ".xml"), xml, changed))
        return false;
    if (!program.empty()) {
        const std::string exec = DesktopExecArgument(program);
        if (exec.empty())
            return false;
        // The icon of the installed data folder (the Windows icon index has no meaning here).
        const fs::path icon = InstalledDataDir() / "zelt.svg";
        std::error_code ec;
        std::string name = fs::path(program).stem().string();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        std::string entry = "[Desktop Entry]\nType=Application\nName=" + name + "\nComment=Opens " + comment
                            + "s\nExec=" + exec + " %F\n";
        if (fs::is_regular_file(icon, ec))
            entry += "Icon=" + DesktopStringValue(icon.string()) + "\n";
        entry += "MimeType=" + mime + ";\nCategories=Science;\nTerminal=false\n";
        const fs::path applications = base / "applications";
        const std::string entryName = "zelt-" + ext + ".desktop";
        bool entryChanged = false;
        if (!WriteIfChanged(applications / entryName, entry, entryChanged))
            return false;
        // File managers find the programs of a type in the folder's cache, not in the entries: it is
        // made again when the entry changed or when it does not know the entry (written by an older run).
        std::string cache;
        if (entryChanged || !ReadFileBytes(applications / "mimeinfo.cache", cache) ||
            cache.find(entryName) == std::string::npos)
            QProcess::startDetached(QStringLiteral("update-desktop-database"),
                                    {QString::fromLocal8Bit(applications.string().c_str())});
    }
    if (changed) {
        // Tell the desktop that associations changed (tools may be absent: not an error).
        QProcess::startDetached(QStringLiteral("update-mime-database"),
                                {QString::fromLocal8Bit((base / "mime").string().c_str())});
    }
    return true;
}

int FillComPortList(std::vector<std::string>& list, const std::string& current, int extra)
{
    list.clear();
    std::error_code ec;
    for (fs::directory_iterator it("/sys/class/tty", ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path dev = it->path() / "device";
        if (!fs::exists(dev, ec))
            continue;
        // Legacy placeholders of the 8250 driver exist for every possible port, present or not.
        const fs::path driver = fs::read_symlink(dev / "driver", ec);
        if (!ec && driver.filename() == "serial8250")
            continue;
        ec.clear();
        list.push_back("/dev/" + it->path().filename().string());
    }
    auto listed = [&](const std::string& name) { return std::find(list.begin(), list.end(), name) != list.end(); };
    if (current.rfind("/dev/", 0) == 0 && current.size() > 5 && !listed(current))
        list.push_back(current);
    if (extra > 0) {
        const std::string name = "/dev/ttyS" + std::to_string(extra - 1);
        if (!listed(name))
            list.push_back(name);
    }
    std::sort(list.begin(), list.end(), PortLess);
    return static_cast<int>(list.size());
}

std::string GetProductVersionString(const std::string& /*file*/, int* build)
{
    const int major = ZELT_VERSION_MAJOR, minor = ZELT_VERSION_MINOR, release = ZELT_VERSION_PATCH;
    std::string text = std::to_string(major) + ".";
    if (minor == 0)
        text += "0";
    else {
        if (minor < 10)
            text += "0";
        text += std::to_string(minor);
    }
    if (release != 0)
        text += static_cast<char>('a' + (release - 1) % 26);
    if (build != nullptr)
        *build = 0;
    return text;
}

void EnableControls(QWidget* container, bool recurse, bool enabled)
{
    if (container == nullptr)
        return;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->setEnabled(enabled);
        if (recurse)
            EnableControls(child, true, enabled);
    }
}

void Delay(unsigned ms, bool pumpMessages)
{
    if (ms == 0)
        return;
    QElapsedTimer timer;
    timer.start();
    const bool pump = pumpMessages && QCoreApplication::instance() != nullptr;
    for (;;) {
        const qint64 left = static_cast<qint64>(ms) - timer.elapsed();
        if (left <= 0)
            break;
        if (pump)
            QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(left));
        QThread::msleep(1);
    }
}
