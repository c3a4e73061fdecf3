#include "common/analysis/Q5xReader.h"

#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Prompt.h"

#include <QFile>
#include <QXmlStreamReader>

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

// What the parser keeps of the element open at each level.
enum class Role { Other, Root, Ins, Data, Name, Filter, Acquisition, D, H, P, Measure };

class DocumentParser {
public:
    DocumentParser(QXmlStreamReader& xml, TQ5xDocument& document, TQ5xError& error)
        : xml_(xml), doc_(document), error_(error)
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
                roles_.pop_back();
                names_.pop_back();
                break;
            case QXmlStreamReader::Characters:
                Characters();
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

private:
    bool Fail(const std::string& reason)
    {
        error_.Line = xml_.lineNumber();
        error_.Element = names_.empty() ? std::string() : names_.back();
        error_.Reason = reason;
        return false;
    }

    Role Parent() const { return roles_.empty() ? Role::Other : roles_.back(); }

    bool Start()
    {
        const QString qname = xml_.name().toString();
        const std::string name = QStringToAnsi(qname);
        if (roles_.size() >= static_cast<size_t>(kQ5xMaxDepth)) {
            names_.push_back(name);
            return Fail("elements are nested more than " + std::to_string(kQ5xMaxDepth) + " levels deep");
        }
        const long long line = xml_.lineNumber();
        Role role = Role::Other;
        switch (Parent()) {
        case Role::Other:
            if (roles_.empty()) role = Role::Root;
            break;
        case Role::Root:
            if (name == "ins" && !doc_.HasIns) {
                doc_.HasIns = true;
                role = Role::Ins;
            } else if (name == "data" && !doc_.HasData) {
                doc_.HasData = true;
                role = Role::Data;
            }
            break;
        case Role::Ins:
            if (name == "n") {
                doc_.InstrumentId.clear();
                role = Role::Name;
            } else if (name == "f") {
                TQ5xFilterElement f;
                f.Id = Attribute("id");
                f.Line = line;
                doc_.Filters.push_back(std::move(f));
                role = Role::Filter;
            }
            break;
        case Role::Data: {
            TQ5xAcquisition a;
            a.Name = name;
            a.Line = line;
            doc_.Acquisitions.push_back(std::move(a));
            role = Role::Acquisition;
            break;
        }
        case Role::Acquisition: {
            TQ5xAcquisition& a = doc_.Acquisitions.back();
            a.HasChildNodes = true;
            // The first of each of "d", "h" and "p" counts.
            if (name == "d" && !seenD_) {
                seenD_ = true;
                a.DLine = line;
                role = Role::D;
            } else if (name == "h" && !seenH_) {
                seenH_ = true;
                role = Role::H;
            } else if (name == "p" && !a.HasP) {
                a.HasP = true;
                a.PLine = line;
                role = Role::P;
            } else if (name == "m") {
                TQ5xMeasure m;
                m.Id = Attribute("id");
                m.T = Attribute("t");
                m.HasF = xml_.attributes().hasAttribute(QStringLiteral("f"));
                m.F = Attribute("f");
                m.Line = line;
                a.Measures.push_back(std::move(m));
                role = Role::Measure;
            }
            break;
        }
        case Role::Measure:
            doc_.Acquisitions.back().Measures.back().HasChildNodes = true;
            break;
        default:
            break;
        }
        if (role == Role::Acquisition) seenD_ = seenH_ = false;
        roles_.push_back(role);
        names_.push_back(name);
        return true;
    }

    std::string Attribute(const char* name) const
    {
        return QStringToAnsi(xml_.attributes().value(QLatin1String(name)).toString());
    }

    void Characters()
    {
        // Text of white space alone is not a node, as for a parser that does not keep it.
        if (xml_.isWhitespace() && !xml_.isCDATA()) return;
        const std::string text = QStringToAnsi(xml_.text().toString());
        switch (Parent()) {
        case Role::Name: doc_.InstrumentId += text; break;
        case Role::Filter: doc_.Filters.back().Text += text; break;
        case Role::Acquisition: doc_.Acquisitions.back().HasChildNodes = true; break;
        case Role::D: doc_.Acquisitions.back().D += text; break;
        case Role::H: doc_.Acquisitions.back().H += text; break;
        case Role::P: doc_.Acquisitions.back().P += text; break;
        case Role::Measure: {
            TQ5xMeasure& m = doc_.Acquisitions.back().Measures.back();
            m.Text += text;
            m.HasChildNodes = true;
            break;
        }
        default: break;
        }
    }

    QXmlStreamReader& xml_;
    TQ5xDocument& doc_;
    TQ5xError& error_;
    std::vector<Role> roles_;
    std::vector<std::string> names_;
    bool seenD_ = false, seenH_ = false;
};

bool ParseDocument(QXmlStreamReader& xml, TQ5xDocument& document, TQ5xError& error)
{
    document = TQ5xDocument();
    DocumentParser parser(xml, document, error);
    return parser.Run();
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

bool ReadQ5xDocument(const std::string& bytes, TQ5xDocument& document, TQ5xError& error)
{
    QXmlStreamReader xml(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return ParseDocument(xml, document, error);
}

bool LoadQ5xDocument(const std::string& fileName, TQ5xDocument& document, TQ5xError& error)
{
    error = TQ5xError();
    error.File = fileName;
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        error.Reason = "the file cannot be opened (" + file.errorString().toStdString() + ")";
        return false;
    }
    QXmlStreamReader xml(&file);
    return ParseDocument(xml, document, error);
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

TImportDataXml::TImportDataXml(const std::string& fileName, TRadData& data, TQ5xVariant variant)
{
    TQ5xDocument document;
    if (!LoadQ5xDocument(fileName, document, Error)) {
        Status = StatusUnreadable;
        return;
    }
    Import(document, data, variant);
}

TImportDataXml::TImportDataXml(const TQ5xDocument& document, const std::string& fileName, TRadData& data,
                               TQ5xVariant variant)
{
    Error.File = fileName;
    Import(document, data, variant);
}

bool TImportDataXml::Fail(long long line, const std::string& element, const std::string& reason)
{
    Status = StatusUnreadable;
    Error.Line = line;
    Error.Element = element;
    Error.Reason = reason;
    return false;
}

void TImportDataXml::Import(const TQ5xDocument& document, TRadData& data, TQ5xVariant variant)
{
    Status = StatusOk;
    if (!document.HasIns) {
        Status = StatusNoInstrument;
        return;
    }
    data.InstrumentId = document.InstrumentId;
    int taken = 0;
    for (const TQ5xFilterElement& element : document.Filters) {
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
    for (const TQ5xAcquisition& acquisition : document.Acquisitions)
        if (!ImportAcquisition(acquisition, data, variant)) return;
    if (data.GetNbTotalCN() == 0) Status = StatusNoCounts;
}

bool TImportDataXml::ImportAcquisition(const TQ5xAcquisition& a, TRadData& data, TQ5xVariant variant)
{
    if (!a.HasChildNodes) return true;
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

    auto serie = std::make_unique<TCNSerie>();
    serie->Position = position;
    serie->HeadTemp = static_cast<float>(measure("EL_TEMPHEAD"));
    serie->BlackTemp = static_cast<float>(measure("EL_TEMPBLACK"));
    if (variant == TQ5xVariant::Viewer) serie->Humidity = static_cast<float>(measure("EL_HUM"));
    serie->DateTime = when;

    for (const TQ5xMeasure& m : a.Measures) {
        if (m.Id != "EL_RAD" || m.T != "IR") continue;
        int32_t number = 0;
        if (!Q5xInteger(m.F, number))
            return Fail(m.Line, "m", "the filter number \"" + m.F + "\" is not an integer");
        double mirror = kMissing;
        const std::string numberText = std::to_string(number);
        for (const TQ5xMeasure& r : a.Measures) {
            if (r.Id != "EL_RAD" || r.T != "MIR" || !r.HasF || r.F != numberText) continue;
            int32_t v = 0;
            if (!Q5xInteger(r.Text, v))
                return Fail(r.Line, "m", "the mirror count \"" + r.Text + "\" is not an integer");
            mirror = v;
            break;
        }
        if (!m.HasChildNodes) continue;
        const double count = Q5xNumber(m.Text, kMissing);
        if (static_cast<float>(count) == static_cast<float>(kMissing)) continue;
        auto* cn = new TCN;
        cn->Serie = serie.get();
        cn->Filter = data.FindFilter(number);
        cn->FilterNumber = number;
        cn->Count = count;
        cn->MirrorCount = mirror;
        serie->Add(cn);
    }
    data.SerieList.Add(serie.release());
    return true;
}

}  // namespace radio
