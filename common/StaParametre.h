#pragma once
// Station parameters: the bit fields of the 256-byte parameter block, described per instrument by
// "<identifier>.PAR" files, decoded into a list the editor, the parameter dump and the plug-ins read.
// The plug-ins read these objects in place, so the field order of each class is fixed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Results of TStaParametre::SetValueText.
enum TParamSetResult : int32_t {
  PARAM_SET_OK = 0,
  PARAM_SET_INVALID = 106,
  PARAM_SET_TOO_LOW = 107,
  PARAM_SET_TOO_HIGH = 108,
};

// Display kinds of a parameter.
enum TParamDisplay : uint8_t {
  PARAM_YESNO = 0,
  PARAM_DECIMAL = 1,
  PARAM_SIGNED = 2,
  PARAM_HEX = 3,
};

// One "P" line of a PAR file: where a parameter lies in the block and how it converts.
class TParFileLine {
public:
  std::string Name;
  std::string NameID;
  int32_t Extra = 0;  // integer carried in the description
  int32_t BytePos = 0;
  int32_t BitCount = 0;
  int32_t Shift = 0;
  int32_t Min = 0;  // raw
  int32_t Max = 0;  // raw
  int32_t Offset = 0;
  int32_t Multiplier = 1;
  int32_t Divisor = 1;
  int32_t Precision = 0;
  char Kind = 'D';
  double MinValue = 0.0;  // physical
  double MaxValue = 0.0;  // physical

  void SetMin(int32_t raw);
  void SetMax(int32_t raw);
  // Physical value of a raw field value.
  double RawToValue(double raw) const;
  // Physical value of the field in a block given as hex text; false when the field lies outside it
  // (the value is then absent).
  bool DecodeValue(const std::string& block, double& value) const;
  double DecodeValue(const std::string& block) const;
  // Writes a physical value into a hex buffer (digits OR-ed into those already there; NUL places
  // are set). Nothing is written when the field lies outside the buffer.
  void EncodeValue(std::string& buffer, double value) const;
};

// A PAR file as read.
struct TParFile {
  enum : uint8_t { STATE_READ = 0, STATE_MISSING = 1, STATE_BAD_FIELD_COUNT = 2, STATE_BAD_NUMBER = 3 };

  std::string Title;
  std::string Text;
  uint8_t State = STATE_MISSING;
  std::vector<std::unique_ptr<TParFileLine>> Lines;

  // Reads a PAR file; the state tells how it went. Lines with a wrong field count or numbers that do
  // not convert are skipped (the state records the first fault).
  bool LoadFromFile(const std::string& path);
  void LoadFromText(const std::string& text);
};

// One decoded parameter.
struct TStaParametre {
  TParFileLine* Desc = nullptr;  // not owned
  double Value = 0.0;
  std::string Name;
  std::string Code;
  std::string DescText;
  double Min = 0.0;
  double Max = 0.0;
  int32_t Precision = 0;
  uint8_t DisplayKind = PARAM_DECIMAL;
  uint8_t System = 0;

  std::string GetValueText() const;
  // 0, or 106 (not a value), 107 (below the minimum), 108 (above the maximum).
  int32_t SetValueText(const std::string& text);
  void StoreInBlock(std::string& buffer) const;
};

class TParamsList {
public:
  std::vector<std::unique_ptr<TStaParametre>> Items;
  // Keeps the descriptions the parameters point to alive as long as the list.
  std::shared_ptr<TParFile> ParFile;

  int Count() const { return static_cast<int>(Items.size()); }
  TStaParametre* operator[](int i) const { return Items[static_cast<size_t>(i)].get(); }

  TStaParametre* FindByNameID(const std::string& code) const;
};

class QString;

// Decodes a parameter block with the station's PAR file.
class TDecodDorax {
public:
  std::string ParFileName;
  std::string Detail;
  uint8_t ErrorKind = 0;

  enum : uint8_t { ERR_NONE = 0, ERR_BLOCK = 1, ERR_NO_PAR = 2, ERR_BAD_PAR = 3 };

  // A new list (the caller frees it), or null with ErrorKind set. The PAR file is looked up in the
  // parameter directory: "<identifier>.PAR", else the target "ParCorSP.dat" gives for that name.
  TParamsList* Decode(const std::string& paramBloc, const std::string& instrumentId,
                      const std::string& parDirectory);
  // The same in the parameter directory of the settings object (the installed data folder before
  // it exists).
  TParamsList* Decode(const std::string& paramBloc, const std::string& instrumentId);
  std::string ErrorString() const;
  // ErrorString as shown to the user: Detail is a file name, not Windows-1252.
  QString ErrorText() const;
};

// The text length of a parameter block buffer (256 bytes as hex).
constexpr size_t PARAM_BLOCK_HEX_LENGTH = 512;
