#include "common/Q5File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/FileUtils.h"
#include "common/Prompt.h"

#include "common/Instrument.h"
#include "common/ScnType.h"

namespace {

// Header date at `offset`: year - 1900, month, day, hour, minute, second. 0 when absent or impossible.
double HeaderDate(const uint8_t* p, bool* secondsKnown)
{
    if (p[1] < 1 || p[1] > 12)
        return 0;
    int second = p[5];
    if (secondsKnown != nullptr) {
        *secondsKnown = second < 60;
        if (second >= 60)
            second = 0;
    }
    double value = 0;
    if (!TryEncodeDateTime(1900 + p[0], p[1], p[2], p[3], p[4], second, 0, value))
        return 0;
    return value;
}

void PutHeaderDate(uint8_t* p, double value, bool secondsKnown)
{
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    p[0] = static_cast<uint8_t>(y - 1900);
    p[1] = static_cast<uint8_t>(mo);
    p[2] = static_cast<uint8_t>(d);
    p[3] = static_cast<uint8_t>(h);
    p[4] = static_cast<uint8_t>(mi);
    p[5] = secondsKnown ? static_cast<uint8_t>(s) : 0xFF;
}

// Erased memory (0xFF) or zeros only.
bool IsBlank(const uint8_t* bytes, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        if (bytes[i] != 0xFF && bytes[i] != 0x00)
            return false;
    return true;
}

bool DateSet(double value)
{
    return std::isfinite(value) && std::floor(value) > 1;
}

// Reads a whole file into a fresh buffer. False when it cannot be opened or read.
bool ReadWholeFile(const std::string& name, std::unique_ptr<uint8_t[]>& data, int32_t& length)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 && st.st_size < INT32_MAX;
    if (ok) {
        const size_t size = static_cast<size_t>(st.st_size);
        std::unique_ptr<uint8_t[]> buf(new uint8_t[size == 0 ? 1 : size]);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd, buf.get() + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        // A file that shrank while being read keeps what was there.
        data = std::move(buf);
        length = static_cast<int32_t>(done);
    }
    ::close(fd);
    return ok;
}

}   // namespace

TQ5File::TQ5File() = default;

TQ5File::TQ5File(const std::string& fileName) : FileName(fileName)
{
    if (!FileExists(fileName))
        return;
    if (!ReadWholeFile(fileName, Image, ImageLength)) {
        Image.reset();
        ImageLength = 0;
        ShowWarning("Unable to open the file! This file is probably used by another application.");
        return;
    }
    Parse();
    if (gInstrumentList != nullptr)
        AttachInstrument(gInstrumentList->FindByID(InstrumentId));
}

TQ5File::~TQ5File()
{
    Clear();
}

void TQ5File::SetParamBloc(const std::string& value)
{
    FParamBloc = value;
    if (FParamBloc.size() < 2)
        return;
    // A block as the instrument sends it carries an 11-character prefix.
    if (FParamBloc[0] == 'S' && FParamBloc.size() > 11)
        FParamBloc.erase(0, 11);
    InstrumentType = HexToByte(FParamBloc);
    InstrumentId.clear();
    if (FParamBloc.size() >= 272) {
        std::string id;
        for (size_t i = 0; i < 8; ++i)
            id += static_cast<char>(HexToByte(FParamBloc.substr(256 + 2 * i, 2)));
        if (id.compare(0, 2, "SP") == 0)
            InstrumentId = id.substr(0, id.find('\0'));
    }
    if (InstrumentId.empty())
        InstrumentId = "SP" + ByteToHex(InstrumentType) + "0000";
}

bool TQ5File::LoadFromBytes(const uint8_t* data, size_t size)
{
    Clear();
    if (size > static_cast<size_t>(INT32_MAX))
        size = INT32_MAX;
    Image.reset(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0)
        std::copy(data, data + size, Image.get());
    ImageLength = static_cast<int32_t>(size);
    return Parse();
}

bool TQ5File::Parse()
{
    Events.Clear();
    UnfinishedRecordAt = -1;
    const uint8_t* img = Image.get();
    const int32_t n = img != nullptr ? ImageLength : 0;
    if (n < Q5ParamBlockSize) {
        TooShort = 1;
        return false;
    }
    TooShort = 0;
    SetParamBloc(BytesToHex(img, Q5ParamBlockSize));
    bool known = false;
    InstrumentClock = HeaderDate(img + 144, &known);
    SecondsKnown = InstrumentClock != 0 && known ? 1 : 0;
    PcUtc = HeaderDate(img + 150, nullptr);

    // Each record is checked and typed as its event would be, from its bytes; its object is made when
    // first asked for.
    TRecordCheck check;
    int32_t p = Q5ParamBlockSize;
    while (p < n) {
        if (p + 1 >= n || (img[p + 1] != 0 && p + img[p + 1] > n)) {
            // The rest of the image is left: said when it holds more than erased memory.
            if (!IsBlank(img + p, n - p))
                UnfinishedRecordAt = p;
            break;
        }
        const int32_t len = img[p + 1];
        if (len == 0) {
            ++p;
            continue;
        }
        if (img[p + len - 1] != len) {
            ++p;
            continue;
        }
        const size_t size = static_cast<size_t>(len);
        CheckRecordBytes(img + p, size, check);
        if (!check.Empty)
            Events.AddRecord(p, check,
                             check.Valid && gListScn != nullptr ? gListScn->FindTypeIndex(img + p, size, InstrumentId) : -1);
        p += len;
    }
    return true;
}

int TQ5File::DataSize() const
{
    return static_cast<int>(std::min<long long>(Events.HexSize(), INT32_MAX - 1024));
}

int TQ5File::NbEvt() const
{
    return Events.ValidCount();
}

bool TQ5File::Rebuild()
{
    if (FParamBloc.empty())
        return false;
    const int32_t length = DataSize() / 2 + Q5ParamBlockSize;
    std::unique_ptr<uint8_t[]> img(new uint8_t[static_cast<size_t>(length)]);
    std::fill(img.get(), img.get() + length, 0xFF);
    std::fill(img.get(), img.get() + Q5ParamBlockSize, 0);
    const size_t paramBytes = std::min<size_t>(FParamBloc.size() / 2, Q5ParamBlockSize);
    for (size_t i = 0; i < paramBytes; ++i)
        img[i] = HexToByte(FParamBloc.substr(2 * i, 2));
    if (DateSet(InstrumentClock))
        PutHeaderDate(img.get() + 144, InstrumentClock, SecondsKnown != 0);
    if (DateSet(PcUtc))
        PutHeaderDate(img.get() + 150, PcUtc, true);
    // Records of the old image are copied as bytes and keep their place in the new one.
    std::vector<int32_t> offsets(static_cast<size_t>(Events.Count()), -1);
    int32_t p = Q5ParamBlockSize;
    std::string hex;
    for (int e = 0; e < Events.Count(); ++e) {
        offsets[static_cast<size_t>(e)] = p;
        if (!Events.HasObject(e)) {
            const std::string& record = Events.RecordHex(e, hex);
            const int32_t len = std::min<int32_t>(static_cast<int32_t>(record.size() / 2), length - p);
            for (int32_t i = 0; i < len; ++i)
                img[p + i] = static_cast<uint8_t>(HexCharToNibble(record[2 * i]) << 4 | HexCharToNibble(record[2 * i + 1]));
            p += len;
            continue;
        }
        const std::string& record = Events[e]->Evt();
        for (size_t i = 0; i + 1 < record.size() && p < length; i += 2)
            img[p++] = static_cast<uint8_t>(HexCharToNibble(record[i]) << 4 | HexCharToNibble(record[i + 1]));
    }
    Image = std::move(img);
    ImageLength = length;
    UnfinishedRecordAt = -1;   // the new image holds whole records only
    Events.MoveRecords(offsets);
    return true;
}

bool TQ5File::SaveToFile(const std::string& name)
{
    FileName = name;
    if (!Image)
        return false;
    const std::string dir = ExtractFileDir(name);
    if (!dir.empty() && !DirectoryExists(dir) && !ForceDirectories(dir))
        return false;
    return WriteFileAtomically(name, Image.get(), static_cast<size_t>(ImageLength));
}

void TQ5File::Assign(TQ5File* other)
{
    Clear();
    if (other == nullptr || other == this)
        return;
    other->Rebuild();
    SetParamBloc(other->FParamBloc);
    FileName = other->FileName;
    if (other->Image) {
        ImageLength = other->ImageLength;
        Image.reset(new uint8_t[static_cast<size_t>(ImageLength == 0 ? 1 : ImageLength)]);
        std::copy(other->Image.get(), other->Image.get() + ImageLength, Image.get());
    }
    Parse();
    if (gInstrumentList != nullptr)
        AttachInstrument(gInstrumentList->FindByID(InstrumentId));
}

void TQ5File::Clear()
{
    Image.reset();
    ImageLength = 0;
    Events.Clear();
    Instrument = nullptr;
    UnfinishedRecordAt = -1;
}

void TQ5File::SetDownloadTimes(bool secondsKnown, double instrumentClock)
{
    PcUtc = NowUTC();
    SecondsKnown = secondsKnown ? 1 : 0;
    InstrumentClock = instrumentClock;
}

bool TQ5File::AttachInstrument(TInstrument* instrument)
{
    if (instrument == nullptr)
        return false;
    Instrument = instrument;
    // Events not made yet resolve their filters when they are made.
    for (int i = 0; i < Events.Count(); ++i)
        if (Events.HasObject(i) && Events.Valid(i))
            Events[i]->ResolveFilters();
    return true;
}

void TQ5File::ApplyParameterTemplate(const std::string& templ)
{
    // Positions are 1-based; the template's last character, the type (1-2) and 81-84 are never applied.
    for (size_t i = 1; i < templ.size(); ++i) {
        if (i <= 2 || (i >= 81 && i <= 84))
            continue;
        const char c = templ[i - 1];
        if (c == 'X')
            continue;
        if (FParamBloc.size() >= i)
            FParamBloc[i - 1] = c;
    }
    Rebuild();
}

bool TQ5File::RemoveDuplicate()
{
    // Count the record texts of the valid events, then take the first event that has a later twin.
    std::unordered_map<std::string_view, int> seen;
    seen.reserve(static_cast<size_t>(Events.Count()));
    for (const TEvenement* event : Events)
        if (event->Valid)
            ++seen[std::string_view(event->Evt())];
    for (int i = 0; i < Events.Count(); ++i) {
        const TEvenement* first = Events[i];
        if (!first->Valid || seen[std::string_view(first->Evt())] < 2)
            continue;
        for (int j = i + 1; j < Events.Count(); ++j) {
            const TEvenement* later = Events[j];
            if (later->Valid && later->Evt() == first->Evt()) {
                Events.Delete(j);
                return j != i + 1;
            }
        }
    }
    return false;
}

void TQ5File::RemoveInvalidEvents()
{
    for (int i = Events.Count() - 1; i >= 0; --i)
        if (Events.Empty(i) || !Events.Valid(i))
            Events.Delete(i);
}

bool TQ5File::HasEventAt(const TEvenement* event) const
{
    if (event == nullptr || !event->Valid)
        return false;
    for (int i = 0; i < Events.Count(); ++i)
        if (Events.Valid(i) && Events.Date(i) == event->Date)
            return true;
    return false;
}

bool TQ5File::MergeWhere(TQ5File* other, double from, double to)
{
    if (other == nullptr || other == this)
        return true;
    // The dates this file holds, kept up to date as events move in (same answer as HasEventAt).
    std::unordered_set<double> dates;
    for (int i = 0; i < Events.Count(); ++i)
        if (Events.Valid(i))
            dates.insert(Events.Date(i));
    for (int i = 0; i < other->Events.Count();) {
        TEvenement* event = other->Events[i];
        const bool take = event->Valid && !event->Empty && event->Length > 0 && event->Finished
                          && event->Date >= from && event->Date <= to && dates.count(event->Date) == 0;
        if (!take) {
            ++i;
            continue;
        }
        other->Events.Extract(i);
        event->Q5File = this;
        Events.Add(event);
        dates.insert(event->Date);
    }
    return true;
}

bool TQ5File::MergeAll(TQ5File* other)
{
    return MergeWhere(other, -HUGE_VAL, HUGE_VAL);
}

bool TQ5File::MergeRange(TQ5File* other, double from, double to)
{
    // Up to the last second of the day `to`, half a millisecond of slack for the encoding.
    const double endOfDay = to + (86399.0 + 0.0005) / 86400.0;
    return MergeWhere(other, from, endOfDay);
}

std::string TQ5File::InstruName() const
{
    if (gInstrumentList != nullptr)
        return gInstrumentList->GetInstrumentName(InstrumentId);
    return "Inconnu (" + InstrumentId + ")";
}
