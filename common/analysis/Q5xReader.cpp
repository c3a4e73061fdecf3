#include "common/analysis/Q5xReader.h"

#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Prompt.h"

#include <QCoreApplication>
#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace radio {

namespace {

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string TrimXmlSpace(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && IsXmlSpace(text[first])) ++first;
    while (last > first && IsXmlSpace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What the parser says of bytes its decoder cannot read.
const char* const kBadEncoding = "Encountered incorrectly encoded content.";

// Appends text in the program's 8-bit code page; plain ASCII, nearly all of a file, directly.
void AppendAnsi(std::string& out, QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            out += QStringToAnsi(text.toString());
            return;
        }
    out.reserve(out.size() + static_cast<size_t>(text.size()));
    for (QChar c : text) out.push_back(static_cast<char>(c.unicode()));
}

// What the parser keeps of the element open at each level.
enum class Role { Other, Root, Ins, Data, Name, Filter, Acquisition, D, H, P, Measure };

class DocumentParser {
public:
    DocumentParser(QXmlStreamReader& xml, TQ5xHeader& header, const TQ5xAcquisitionObserver& onAcquisition,
                   TQ5xError& error)
        : xml_(xml), header_(header), onAcquisition_(onAcquisition), error_(error)
    {
    }

    bool Run()
    {
        while (!xml_.atEnd()) {
            switch (xml_.readNext()) {
            case QXmlStreamReader::StartElement:
                if (!Start()) return false;
                break;
            case QXmlStreamReader::EndElement:
                End();
                break;
            case QXmlStreamReader::Characters:
                Characters();
                break;
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                EndOfText();
                break;
            case QXmlStreamReader::EntityReference:
                return Fail("the entity \"" + xml_.name().toString().toStdString() + "\" is not defined");
            default:
                break;
            }
        }
        if (xml_.hasError()) return Fail(xml_.errorString().toStdString());
        return true;
    }

    // True when the parse stopped on bytes the decoder could not read: the parser then stands
    // anywhere before them.
    bool EncodingError() const
    {
        return xml_.error() == QXmlStreamReader::NotWellFormedError &&
               xml_.errorString() == QCoreApplication::translate("QXmlStream", kBadEncoding);
    }

private:
    bool Fail(const std::string& reason)
    {
        error_.Line = xml_.lineNumber();
        error_.Element = CurrentName();
        error_.Reason = reason;
        return false;
    }

    Role Parent() const { return roles_.empty() ? Role::Other : roles_.back(); }

    TQ5xMeasure& CurrentMeasure() { return acquisition_.Measures.back(); }

    bool Start()
    {
        const QStringView name = xml_.name();
        if (roles_.size() >= static_cast<size_t>(kQ5xMaxDepth)) {
            roles_.push_back(Role::Other);
            PushName(name);
            return Fail("elements are nested more than " + std::to_string(kQ5xMaxDepth) + " levels deep");
        }
        const long long line = xml_.lineNumber();
        Role role = Role::Other;
        switch (Parent()) {
        case Role::Other:
            if (roles_.empty()) role = Role::Root;
            break;
        case Role::Root:
            if (name == u"ins" && !header_.HasIns) {
                header_.HasIns = true;
                role = Role::Ins;
            } else if (name == u"data" && !header_.HasData) {
                header_.HasData = true;
                role = Role::Data;
            }
            break;
        case Role::Ins:
            if (name == u"n") {
                header_.InstrumentId.clear();
                role = Role::Name;
            } else if (name == u"f") {
                TQ5xFilterElement f;
                f.Id = Attribute("id");
                f.Line = line;
                header_.Filters.push_back(std::move(f));
                role = Role::Filter;
            }
            break;
        case Role::Data:
            // The measures' vector keeps its room from one acquisition to the next.
            acquisition_.Name.clear();
            AppendAnsi(acquisition_.Name, name);
            acquisition_.HasChildNodes = false;
            acquisition_.D.clear();
            acquisition_.H.clear();
            acquisition_.P.clear();
            acquisition_.HasP = false;
            acquisition_.Line = line;
            acquisition_.DLine = acquisition_.PLine = 0;
            acquisition_.Measures.clear();
            seenD_ = seenH_ = false;
            role = Role::Acquisition;
            break;
        case Role::Acquisition:
            acquisition_.HasChildNodes = true;
            // The first of each of "d", "h" and "p" counts.
            if (name == u"d" && !seenD_) {
                seenD_ = true;
                acquisition_.DLine = line;
                role = Role::D;
            } else if (name == u"h" && !seenH_) {
                seenH_ = true;
                role = Role::H;
            } else if (name == u"p" && !acquisition_.HasP) {
                acquisition_.HasP = true;
                acquisition_.PLine = line;
                role = Role::P;
            } else if (name == u"m") {
                TQ5xMeasure& m = acquisition_.Measures.emplace_back();
                const QXmlStreamAttributes attributes = xml_.attributes();
                m.Id = Attribute(attributes, QLatin1String("id"));
                m.T = Attribute(attributes, QLatin1String("t"));
                m.HasF = attributes.hasAttribute(QLatin1String("f"));
                m.F = Attribute(attributes, QLatin1String("f"));
                m.Line = line;
                textClosed_ = false;
                role = Role::Measure;
            }
            break;
        case Role::Measure:
            CurrentMeasure().HasChildNodes = true;
            EndOfText();
            break;
        default:
            break;
        }
        roles_.push_back(role);
        PushName(name);
        return true;
    }

    void End()
    {
        if (roles_.back() == Role::Acquisition && onAcquisition_) onAcquisition_(acquisition_);
        roles_.pop_back();
        if (Parent() == Role::Measure) EndOfText();
    }

    // The names of the open elements, for the messages; their strings are kept for the next ones.
    void PushName(QStringView name)
    {
        if (names_.size() < roles_.size()) names_.resize(roles_.size());
        std::string& slot = names_[roles_.size() - 1];
        slot.clear();
        AppendAnsi(slot, name);
    }
    std::string CurrentName() const { return roles_.empty() ? std::string() : names_[roles_.size() - 1]; }

    // A measure's text ends at the first element, comment or instruction that follows it.
    void EndOfText()
    {
        if (Parent() == Role::Measure && !CurrentMeasure().Text.empty()) textClosed_ = true;
    }

    static std::string Attribute(const QXmlStreamAttributes& attributes, QLatin1String name)
    {
        std::string value;
        AppendAnsi(value, attributes.value(name));
        return value;
    }
    std::string Attribute(const char* name) const { return Attribute(xml_.attributes(), QLatin1String(name)); }

    void Characters()
    {
        // Text of white space alone is not a node, as for a parser that does not keep it.
        if (xml_.isWhitespace() && !xml_.isCDATA()) return;
        const QStringView text = xml_.text();
        switch (Parent()) {
        case Role::Name: AppendAnsi(header_.InstrumentId, text); break;
        case Role::Filter: AppendAnsi(header_.Filters.back().Text, text); break;
        case Role::Acquisition: acquisition_.HasChildNodes = true; break;
        case Role::D: AppendAnsi(acquisition_.D, text); break;
        case Role::H: AppendAnsi(acquisition_.H, text); break;
        case Role::P: AppendAnsi(acquisition_.P, text); break;
        case Role::Measure: {
            TQ5xMeasure& m = CurrentMeasure();
            if (!textClosed_) AppendAnsi(m.Text, text);
            m.HasChildNodes = true;
            break;
        }
        default: break;
        }
    }

    QXmlStreamReader& xml_;
    TQ5xHeader& header_;
    const TQ5xAcquisitionObserver& onAcquisition_;
    TQ5xError& error_;
    TQ5xAcquisition acquisition_;   // the one being read
    std::vector<Role> roles_;
    std::vector<std::string> names_;
    bool seenD_ = false, seenH_ = false;
    bool textClosed_ = false;       // the current measure's first text has ended
};

// Whether a document that begins with these bytes is UTF-8: no byte-order mark of UTF-16 or UTF-32,
// no zero byte ahead (UTF-16 without a mark), and an XML declaration, if any, naming UTF-8 or
// nothing.
bool IsUtf8Document(const QByteArray& start)
{
    if (start.startsWith("\xEF\xBB\xBF")) return true;
    if (start.startsWith("\xFE\xFF") || start.startsWith("\xFF\xFE") || start.left(4).contains('\0')) return false;
    if (!start.startsWith("<?xml")) return true;
    const qsizetype end = start.indexOf("?>");
    const QByteArray declaration = start.left(end < 0 ? start.size() : end);
    const qsizetype at = declaration.indexOf("encoding");
    if (at < 0) return true;
    qsizetype quote = at;
    while (quote < declaration.size() && declaration[quote] != '"' && declaration[quote] != '\'') ++quote;
    if (quote >= declaration.size()) return false;
    const qsizetype close = declaration.indexOf(declaration[quote], quote + 1);
    if (close < 0) return false;
    const QByteArray name = declaration.mid(quote + 1, close - quote - 1).trimmed().toUpper();
    return name == "UTF-8" || name == "UTF8";
}

// Length of the well-formed UTF-8 sequence at `p` (before `end`), or 0 when it is not one.
size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;   // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c == 0xE0) length = 3, low = 0xA0;
    else if (c == 0xED) length = 3, high = 0x9F;   // no surrogates
    else if (c >= 0xE1 && c <= 0xEF) length = 3;
    else if (c == 0xF0) length = 4, low = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) length = 4;
    else if (c == 0xF4) length = 4, high = 0x8F;   // up to U+10FFFF
    else return 0;
    if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

// The bytes of a UTF-8 document up to the first that is not UTF-8, where it ends: the parser then
// stops exactly there, where the decoder, which reads ahead of it, would stop it anywhere before.
// Documents in other encodings pass whole.
class Utf8Gate : public QIODevice {
public:
    Utf8Gate(QIODevice& source, bool check) : source_(source), check_(check)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return ended_ && next_ == ready_.size(); }
    qint64 bytesAvailable() const override { return ready_.size() - next_; }
    // Where the first byte that is not UTF-8 lies in the source, or -1.
    qint64 BadByte() const { return bad_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        while (next_ == ready_.size() && !ended_) Fill();
        const qint64 n = std::min(maxSize, static_cast<qint64>(ready_.size() - next_));
        std::memcpy(data, ready_.constData() + next_, static_cast<size_t>(n));
        next_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void Fill()
    {
        const QByteArray chunk = source_.read(1 << 16);
        ready_ = held_ + chunk;
        next_ = 0;
        const bool last = chunk.isEmpty() || source_.atEnd();
        held_.clear();
        if (ready_.isEmpty() || !check_) {
            ended_ = ready_.isEmpty();
            return;
        }
        const auto* begin = reinterpret_cast<const unsigned char*>(ready_.constData());
        const auto* end = begin + ready_.size();
        const auto* p = begin;
        while (p < end) {
            const size_t length = Utf8SequenceLength(p, end);
            if (length == 0) {
                // A sequence cut by the end of what was read waits for the rest.
                if (!last && end - p < 4) {
                    held_ = QByteArray(reinterpret_cast<const char*>(p), end - p);
                } else {
                    bad_ = offset_ + (p - begin);
                    ended_ = true;
                }
                break;
            }
            p += length;
        }
        ready_.truncate(p - begin);
        offset_ += ready_.size();
    }

    QIODevice& source_;
    const bool check_;
    QByteArray ready_, held_;   // bytes to hand over; the start of a sequence to complete
    qint64 next_ = 0;           // in ready_
    qint64 offset_ = 0;         // of the bytes handed over or ready, in the source
    qint64 bad_ = -1;
    bool ended_ = false;
};

// The line (1-based, XML line ends) of the byte at `offset` of the device.
long long LineAt(QIODevice& device, qint64 offset)
{
    if (!device.seek(0)) return 0;
    long long line = 1;
    bool afterCr = false;
    for (qint64 done = 0; done < offset;) {
        const QByteArray chunk = device.read(std::min<qint64>(1 << 16, offset - done));
        if (chunk.isEmpty()) break;
        for (const char c : chunk) {
            if (c == '\r' || (c == '\n' && !afterCr)) ++line;
            afterCr = c == '\r';
        }
        done += chunk.size();
    }
    return line;
}

// Digits of a fixed-position field: blanks around allowed, an optional sign, at least one digit.
bool FieldInteger(const std::string& text, size_t from, size_t count, int& value)
{
    if (from >= text.size()) return false;
    int32_t v = 0;
    if (!Q5xInteger(text.substr(from, count), v)) return false;
    value = v;
    return true;
}

}  // namespace

QString TQ5xError::MessageText() const
{
    return TextWithFileName("", File, Message().substr(File.size()));
}

std::string TQ5xError::Message() const
{
    std::string text = File;
    if (Line > 0) text += (text.empty() ? "line " : ", line ") + std::to_string(Line);
    if (!Element.empty()) text += (text.empty() ? "element " : ", element ") + Element;
    if (!Reason.empty()) text += (text.empty() ? "" : ": ") + Reason;
    return text;
}

bool ReadQ5x(QIODevice& device, TQ5xHeader& header, const TQ5xAcquisitionObserver& onAcquisition,
             TQ5xError& error)
{
    header = TQ5xHeader();
    if (!device.seek(0)) {
        error.Reason = "the file cannot be read from its start";
        return false;
    }
    Utf8Gate gate(device, IsUtf8Document(device.peek(1024)));
    QXmlStreamReader xml(&gate);
    DocumentParser parser(xml, header, onAcquisition, error);
    if (parser.Run()) return true;
    if (gate.BadByte() >= 0 && xml.error() == QXmlStreamReader::PrematureEndOfDocumentError) {
        // The document reads well up to a byte that is not UTF-8.
        error.Line = LineAt(device, gate.BadByte());
        error.Element.clear();
        error.Reason = kBadEncoding;
    } else if (parser.EncodingError()) {
        // Another encoding whose decoder found a fault: where it lies is not known.
        error.Line = 0;
        error.Element.clear();
    }
    return false;
}

double Q5xNumber(const std::string& raw, double defaultValue, bool dotOnly)
{
    const std::string text = TrimXmlSpace(raw);
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    std::string normal(text, 0, i);
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) normal += text[i];
    if (i < text.size() && (text[i] == '.' || (!dotOnly && text[i] == ','))) {
        normal += '.';
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits) normal += text[i];
    }
    if (digits == 0) return defaultValue;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        normal += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
        size_t expDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++expDigits) normal += text[i];
        if (expDigits == 0) return defaultValue;
    }
    if (i != text.size()) return defaultValue;
    // strtod in the C locale, which this program never changes: '.' is its decimal mark.
    errno = 0;
    const double value = std::strtod(normal.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(value)) return defaultValue;
    return std::isfinite(value) ? value : defaultValue;
}

bool Q5xInteger(const std::string& raw, int32_t& value)
{
    const std::string text = TrimXmlSpace(raw);
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool Q5xDateTime(const std::string& d, const std::string& h, double& value)
{
    const std::string text = TrimXmlSpace(d) + " " + TrimXmlSpace(h);
    int year, month, day, hour, minute, second;
    if (!FieldInteger(text, 0, 4, year) || !FieldInteger(text, 5, 2, month) || !FieldInteger(text, 8, 2, day) ||
        !FieldInteger(text, 11, 2, hour) || !FieldInteger(text, 14, 2, minute) ||
        !FieldInteger(text, 17, 2, second))
        return false;
    return TryEncodeDateTime(year, month, day, hour, minute, second, 0, value);
}

std::string Q5xDateTimeText(double value)
{
    int hour, minute, second, msec;
    DecodeTime(value, hour, minute, second, msec);
    if (hour == 0 && minute == 0 && second == 0 && msec == 0) return FormatDateTime("dd/mm/yyyy", value);
    return FormatDateTime("dd/mm/yyyy hh:nn:ss", value);
}

std::string ShortestRealText(double value)
{
    if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::string text = buffer;
    // "%G" writes "1E+15"; the class library writes "1E15".
    const size_t e = text.find('E');
    if (e != std::string::npos) {
        std::string exponent = text.substr(e + 1);
        bool negative = false;
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
            negative = exponent[0] == '-';
            exponent.erase(0, 1);
        }
        while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
        text = text.substr(0, e) + "E" + (negative ? "-" : "") + exponent;
    }
    if (text == "-0") text = "0";
    ReplaceChar(text, '.', DecimalSeparator());
    return text;
}

namespace {

// Turns acquisitions into series as they are read, up to the first that cannot be read; the series
// join the data set only once the whole file has read.
class AcquisitionImport {
public:
    explicit AcquisitionImport(TQ5xVariant variant) : variant_(variant) {}

    void Add(const TQ5xAcquisition& a)
    {
        if (!failure_.Reason.empty() || !a.HasChildNodes) return;
        auto serie = std::make_unique<TCNSerie>();
        if (Convert(a, *serie)) series_.push_back(std::move(serie));
    }

    std::vector<std::unique_ptr<TCNSerie>>& Series() { return series_; }
    // The first acquisition that could not be read (an empty reason when all could).
    const TQ5xError& Failure() const { return failure_; }

private:
    bool Fail(long long line, const std::string& element, const std::string& reason)
    {
        failure_.Line = line;
        failure_.Element = element;
        failure_.Reason = reason;
        return false;
    }

    bool Convert(const TQ5xAcquisition& a, TCNSerie& serie)
    {
        double when = 0;
        if (!Q5xDateTime(a.D, a.H, when))
            return Fail(a.DLine ? a.DLine : a.Line, a.DLine ? "d" : a.Name,
                        "the date \"" + TrimXmlSpace(a.D) + " " + TrimXmlSpace(a.H) + "\" is not a valid date");
        // The first measure of the kind whose value is given wins.
        auto measure = [&a](const char* id) {
            for (const TQ5xMeasure& m : a.Measures) {
                if (m.Id != id) continue;
                const double v = Q5xNumber(m.Text, kMissing);
                if (v != kMissing) return v;
            }
            return kMissing;
        };
        int32_t position = 0;
        if (a.HasP && !Q5xInteger(a.P, position))
            return Fail(a.PLine, "p", "the position \"" + a.P + "\" is not an integer");

        serie.Position = position;
        serie.HeadTemp = static_cast<float>(measure("EL_TEMPHEAD"));
        serie.BlackTemp = static_cast<float>(measure("EL_TEMPBLACK"));
        if (variant_ == TQ5xVariant::Viewer) serie.Humidity = static_cast<float>(measure("EL_HUM"));
        serie.DateTime = when;

        IndexMirrors(a);
        for (const TQ5xMeasure& m : a.Measures) {
            if (m.Id != "EL_RAD" || m.T != "IR") continue;
            int32_t number = 0;
            if (!Q5xInteger(m.F, number))
                return Fail(m.Line, "m", "the filter number \"" + m.F + "\" is not an integer");
            double mirror = kMissing;
            if (const TQ5xMeasure* r = FirstMirror(std::to_string(number))) {
                int32_t v = 0;
                if (!Q5xInteger(r->Text, v))
                    return Fail(r->Line, "m", "the mirror count \"" + r->Text + "\" is not an integer");
                mirror = v;
            }
            if (!m.HasChildNodes) continue;
            const double count = Q5xNumber(m.Text, kMissing);
            if (static_cast<float>(count) == static_cast<float>(kMissing)) continue;
            auto* cn = new TCN;
            cn->Serie = &serie;
            cn->FilterNumber = number;
            cn->Count = count;
            cn->MirrorCount = mirror;
            serie.Add(cn);
        }
        return true;
    }

    // The mirror counts of the acquisition by their "f" text, in file order within each text: every
    // infrared count finds its mirror count by a search, not by a walk through the measures.
    void IndexMirrors(const TQ5xAcquisition& a)
    {
        mirrors_.clear();
        for (const TQ5xMeasure& r : a.Measures)
            if (r.HasF && r.Id == "EL_RAD" && r.T == "MIR") mirrors_.push_back(&r);
        std::stable_sort(mirrors_.begin(), mirrors_.end(),
                         [](const TQ5xMeasure* x, const TQ5xMeasure* y) { return x->F < y->F; });
    }

    const TQ5xMeasure* FirstMirror(const std::string& numberText) const
    {
        const auto at = std::lower_bound(mirrors_.begin(), mirrors_.end(), numberText,
                                         [](const TQ5xMeasure* r, const std::string& f) { return r->F < f; });
        return at != mirrors_.end() && (*at)->F == numberText ? *at : nullptr;
    }

    TQ5xVariant variant_;
    std::vector<std::unique_ptr<TCNSerie>> series_;
    std::vector<const TQ5xMeasure*> mirrors_;
    TQ5xError failure_;
};

}  // namespace

TImportDataXml::TImportDataXml(const std::string& fileName, TRadData& data, TQ5xVariant variant,
                               const TQ5xAcquisitionObserver& observer)
{
    Error.File = fileName;
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        Status = StatusUnreadable;
        Error.Reason = "the file cannot be opened (" + file.errorString().toStdString() + ")";
        return;
    }
    Read(file, data, variant, observer);
}

TImportDataXml::TImportDataXml(QIODevice& device, const std::string& fileName, TRadData& data,
                               TQ5xVariant variant, const TQ5xAcquisitionObserver& observer)
{
    Error.File = fileName;
    Read(device, data, variant, observer);
}

bool TImportDataXml::Fail(long long line, const std::string& element, const std::string& reason)
{
    Status = StatusUnreadable;
    Error.Line = line;
    Error.Element = element;
    Error.Reason = reason;
    return false;
}

void TImportDataXml::Read(QIODevice& device, TRadData& data, TQ5xVariant variant,
                          const TQ5xAcquisitionObserver& observer)
{
    AcquisitionImport acquisitions(variant);
    TQ5xHeader header;
    const bool read = ReadQ5x(
        device, header,
        [&](const TQ5xAcquisition& a) {
            if (observer) observer(a);
            acquisitions.Add(a);
        },
        Error);
    if (!read) {
        Status = StatusUnreadable;
        return;
    }
    // The whole file has read: the data set is filled in the order of the format's rules.
    Status = StatusOk;
    if (!header.HasIns) {
        Status = StatusNoInstrument;
        return;
    }
    data.InstrumentId = header.InstrumentId;
    int taken = 0;
    for (const TQ5xFilterElement& element : header.Filters) {
        if (taken >= kMaxFilters) break;
        int32_t id = 0;
        if (!Q5xInteger(element.Id, id)) {
            Fail(element.Line, "f", "the filter number \"" + element.Id + "\" is not an integer");
            return;
        }
        // The definition is built from its values: id, wavelength, group "IR", position id.
        TFilterDef def;
        def.Number = id;
        def.Position = id;
        def.Group = "IR";
        def.Wavelength = variant == TQ5xVariant::Viewer ? Q5xNumber(element.Text, 0.1, true)
                                                        : Q5xNumber(element.Text, 0.0);
        data.FilterList.Add(new TFilter(def, FilterColor(taken)));
        ++taken;
    }
    if (taken == 0) {
        Status = variant == TQ5xVariant::Viewer ? StatusNoFilters : StatusNoInstrument;
        return;
    }
    for (std::unique_ptr<TCNSerie>& serie : acquisitions.Series()) {
        for (TCN* cn : *serie) cn->Filter = data.FindFilter(cn->FilterNumber);
        data.SerieList.Add(serie.release());
    }
    const TQ5xError& failure = acquisitions.Failure();
    if (!failure.Reason.empty()) {
        Fail(failure.Line, failure.Element, failure.Reason);
        return;
    }
    if (data.GetNbTotalCN() == 0) Status = StatusNoCounts;
}

}  // namespace radio
