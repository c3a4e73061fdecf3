#include "common/Prompt.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace {

ScopedPromptScript* gScript = nullptr;
bool gOffscreenChosen = false;

bool IsSet(const char* name)
{
  const char* value = std::getenv(name);
  return value && *value;
}

QtMessageHandler gQtHandler = nullptr;

// Without a display the offscreen platform warns of what it lacks (a runtime folder, window size hints)
// on standard error, where a scheduled run's log must keep only what the program has to say.
void DropOffscreenNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
      message.startsWith(QLatin1String("This plugin does not support")))
    return;
  if (gQtHandler) gQtHandler(type, context, message);
  else std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// Windows-1252 in 0x80-0x9F; 0 marks the five unassigned bytes, shown as their Latin-1 code.
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsMessage(PromptKind kind)
{
  return kind == PromptKind::Warning || kind == PromptKind::Info;
}

const char* KindTitle(PromptKind kind)
{
  switch (kind) {
    case PromptKind::Warning: return "Warning";
    case PromptKind::Info: return "Information";
    default: return "Confirm";
  }
}

const char* AnswerName(int answer)
{
  switch (answer) {
    case PromptYes: return "Yes";
    case PromptNo: return "No";
    case PromptCancel: return "Cancel";
    default: return "OK";
  }
}

int ShowOnScreen(PromptKind kind, const QString& text, int defaultAnswer)
{
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromLatin1(KindTitle(kind)));
  box.setText(text);
  QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
  switch (kind) {
    case PromptKind::Warning:
      box.setIcon(QMessageBox::Warning);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case PromptKind::Info:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case PromptKind::YesNo:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      defaultButton = defaultAnswer == PromptNo ? QMessageBox::No : QMessageBox::Yes;
      break;
    case PromptKind::YesNoCancel:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      defaultButton = defaultAnswer == PromptNo       ? QMessageBox::No
                      : defaultAnswer == PromptCancel ? QMessageBox::Cancel
                                                      : QMessageBox::Yes;
      break;
  }
  box.setDefaultButton(defaultButton);
  if (kind == PromptKind::YesNoCancel) box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Yes: return PromptYes;
    case QMessageBox::No: return PromptNo;
    case QMessageBox::Cancel: return PromptCancel;
    default: return IsMessage(kind) ? PromptOk : defaultAnswer == PromptNo ? PromptNo : PromptCancel;
  }
}

}  // namespace

int RunPrompt(PromptKind kind, const QString& text, int defaultAnswer)
{
  if (gScript) {
    // Messages take no queued answer: the queue holds the answers to questions only.
    int answer = IsMessage(kind) ? PromptOk : defaultAnswer;
    if (!IsMessage(kind) && !gScript->answers_.empty()) {
      answer = gScript->answers_.front();
      gScript->answers_.pop_front();
    }
    if (gScript->record_)
      gScript->asked_.push_back(PromptRecord{kind, QStringToAnsi(text), text.toUtf8().toStdString(), answer});
    return answer;
  }
  if (PromptHasScreen()) return ShowOnScreen(kind, text, defaultAnswer);
  // Standard error takes UTF-8, as the terminal reads it.
  const QByteArray utf8 = text.toUtf8();
  if (IsMessage(kind)) {
    std::fprintf(stderr, "%s: %s\n", KindTitle(kind), utf8.constData());
  } else {
    std::fprintf(stderr, "%s: %s [%s]\n", KindTitle(kind), utf8.constData(), AnswerName(defaultAnswer));
  }
  std::fflush(stderr);
  return defaultAnswer;
}

bool PromptHasScreen()
{
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

bool ChooseOffscreenWithoutDisplay()
{
  if (IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return false;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  gOffscreenChosen = true;
  gQtHandler = qInstallMessageHandler(DropOffscreenNotices);
  return true;
}

bool OffscreenChosenForNoDisplay()
{
  return gOffscreenChosen;
}

void ShowWarning(const QString& text)
{
  RunPrompt(PromptKind::Warning, text, PromptOk);
}

void ShowInfo(const QString& text)
{
  RunPrompt(PromptKind::Info, text, PromptOk);
}

bool AskYesNo(const QString& text, bool defaultYes)
{
  return RunPrompt(PromptKind::YesNo, text, defaultYes ? PromptYes : PromptNo) == PromptYes;
}

void ShowWarning(const std::string& text) { ShowWarning(AnsiToQString(text)); }
void ShowInfo(const std::string& text) { ShowInfo(AnsiToQString(text)); }
bool AskYesNo(const std::string& text, bool defaultYes) { return AskYesNo(AnsiToQString(text), defaultYes); }

int AskYesNoCancel(const std::string& text, int defaultAnswer)
{
  if (defaultAnswer != PromptYes && defaultAnswer != PromptNo) defaultAnswer = PromptCancel;
  return RunPrompt(PromptKind::YesNoCancel, AnsiToQString(text), defaultAnswer);
}

QString TextWithFileName(const std::string& before, const std::string& name, const std::string& after)
{
  return AnsiToQString(before) + FileNameToQString(name) + AnsiToQString(after);
}

ScopedPromptScript::ScopedPromptScript(std::deque<int> answers, bool record)
    : answers_(std::move(answers)), record_(record), outer_(gScript)
{
  gScript = this;
}

ScopedPromptScript::~ScopedPromptScript()
{
  gScript = outer_;
}

std::vector<std::string> ScopedPromptScript::Texts() const
{
  std::vector<std::string> texts;
  for (const auto& r : asked_) texts.push_back(r.text);
  return texts;
}

QString FileNameToQString(const std::string& name)
{
  return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

std::string QStringToFileName(const QString& name)
{
  return QFile::encodeName(name).toStdString();
}

QString AnsiToQString(const std::string& bytes)
{
  QString result;
  result.reserve(static_cast<qsizetype>(bytes.size()));
  for (unsigned char c : bytes) {
    char16_t u = c;
    if (c >= 0x80 && c < 0xA0 && kCp1252High[c - 0x80]) u = kCp1252High[c - 0x80];
    result.append(QChar(u));
  }
  return result;
}

std::string QStringToAnsi(const QString& text)
{
  std::string result;
  result.reserve(static_cast<size_t>(text.size()));
  for (QChar qc : text) {
    char16_t u = qc.unicode();
    if (u < 0x80 || (u >= 0xA0 && u < 0x100) || (u >= 0x80 && u < 0xA0 && !kCp1252High[u - 0x80])) {
      result.push_back(static_cast<char>(u));
      continue;
    }
    char out = '?';
    for (int i = 0; i < 32; ++i) {
      if (kCp1252High[i] == u) {
        out = static_cast<char>(0x80 + i);
        break;
      }
    }
    result.push_back(out);
  }
  return result;
}
