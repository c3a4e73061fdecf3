#pragma once
// The small windows of the plug-ins: site properties, calibration date, filter edition, the
// coordinates window, and the message boxes they use.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class TBgrData;

void ShowWarningBox(const std::string& text);
void ShowInformationBox(const std::string& text);
bool AskConfirmation(const std::string& text);  // true on Yes
// A real number text with either decimal mark ("The latitude" + " isn't a correct real number!").
bool ValidateRealText(const QString& text, double& value);

class TSitePropsFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TSitePropsFrm(TBgrData& data, QWidget* parent = nullptr);
  void OKBtnClick();

  QLineEdit* SiteNameEdit;
  QLineEdit* LatEdit;
  QLineEdit* LonEdit;
  QLineEdit* AltEdit;

 private:
  TBgrData& data_;
};

class TChoixDateFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TChoixDateFrm(QWidget* parent = nullptr);
  // The chosen date (a date-time value, UTC) on OK, 0 otherwise; the picker starts at now.
  double Execute();

  QDateTimeEdit* DateTimePicker1;
};

class TFilterEditFrm : public QDialog {
  Q_OBJECT
 public:
  TFilterEditFrm(TBgrData& data, bool expertMode, QWidget* parent = nullptr);
  // Shows the filter at position p (from 1); positions past the filters are ignored.
  void ShowFilter(int position);
  // What a click on the colour shape does after the colour dialog's OK.
  void SetColor(unsigned bgr);
  int Current() const { return current_; }

  std::vector<QLabel*> Shapes, Labels;  // one per filter, at least nine
  QLabel* NbFiltersLbl;
  QLineEdit* FilterNumEdit;
  QLineEdit* WaveLengthEdit;
  QLabel* PolarizedFilterLbl;
  QLabel* ColorShape;
  QLabel* ColorLbl;
  QCheckBox* FilterVisibleChkBx;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TBgrData& data_;
  int current_ = 1;
};

class TViewCoordFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TViewCoordFrm(QWidget* parent = nullptr);
  void SetValues(const QString& x, const QString& y);
  std::function<void()> OnHide;

  QLabel* XValLbl;
  QLabel* YValLbl;

 protected:
  void hideEvent(QHideEvent* event) override;
};

// The about box of an analysis plug-in: its product line and the version of the plug-in file, whose
// build a click on the version label shows.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  TAboutBox(const std::string& productLine, int major, int minor, int release, QWidget* parent = nullptr);
  QLabel* Version;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string build_;
};

// "1.02c" for version 1.2 release 3; "2.0" for 2.0 release 0.
std::string VersionText(int major, int minor, int release);

// Windows-1252 bytes of the data model as a QString and back.
QString ToQ(const std::string& bytes);
std::string FromQ(const QString& text);
// 0x00BBGGRR to a colour and back.
QColor BgrToColor(unsigned bgr);
unsigned ColorToBgr(const QColor& color);
