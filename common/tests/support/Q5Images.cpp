#include "common/tests/support/Q5Images.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/Evenement.h"
#include "common/Utils.h"

namespace q5test {

uint8_t Bcd(int value)
{
    return static_cast<uint8_t>((value / 10 % 10) << 4 | value % 10);
}

Bytes MakeRecordRawDate(uint8_t code, const Bytes& dateBytes, const Bytes& values)
{
    Bytes r{code, 0, 0, 0};
    r.insert(r.end(), dateBytes.begin(), dateBytes.end());
    r.insert(r.end(), values.begin(), values.end());
    r.push_back(0xFE);
    const auto length = static_cast<uint8_t>(r.size() + 1);
    r.push_back(length);
    r[1] = length;
    return r;
}

Bytes MakeRecord(uint8_t code, const RecordDate& d, const Bytes& values)
{
    return MakeRecordRawDate(code, {Bcd(d.year % 100), Bcd(d.month), Bcd(d.day), Bcd(d.hour), Bcd(d.minute), Bcd(d.second)},
                             values);
}

std::string Hex(const Bytes& bytes)
{
    return BytesToHex(bytes.data(), bytes.size());
}

std::string Frame(const std::string& recordHex)
{
    return TEvenement::BuildFrame(recordHex);
}

std::string Frame(const Bytes& record)
{
    return Frame(Hex(record));
}

namespace {
void PutDate(Bytes& block, size_t at, const HeaderDate& d)
{
    if (d.year == 0)
        return;
    block[at] = static_cast<uint8_t>(d.year - 1900);
    block[at + 1] = static_cast<uint8_t>(d.month);
    block[at + 2] = static_cast<uint8_t>(d.day);
    block[at + 3] = static_cast<uint8_t>(d.hour);
    block[at + 4] = static_cast<uint8_t>(d.minute);
    block[at + 5] = static_cast<uint8_t>(d.second);
}
}   // namespace

Bytes MakeParamBlock(uint8_t type, const std::string& identifier, const HeaderDate& clock, const HeaderDate& pcUtc)
{
    Bytes block(256, 0);
    block[0] = type;
    for (size_t i = 0; i < identifier.size() && i < 8; ++i)
        block[128 + i] = static_cast<uint8_t>(identifier[i]);
    PutDate(block, 144, clock);
    PutDate(block, 150, pcUtc);
    return block;
}

Bytes MakeImage(const Bytes& paramBlock, const std::vector<Bytes>& records, size_t erasedTail)
{
    Bytes image = paramBlock;
    for (const Bytes& r : records)
        image.insert(image.end(), r.begin(), r.end());
    image.insert(image.end(), erasedTail, 0xFF);
    return image;
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/zelt-test-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    FPath = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
}

}   // namespace q5test
