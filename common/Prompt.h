#pragma once
// Message boxes of the station program and its plug-ins. Behind them sits one user-prompt service:
// Qt message boxes where a screen exists; with no screen the text goes to standard error and the
// default answer is returned; tests install scripted answers.
#include <deque>
#include <string>
#include <vector>

enum PromptAnswer { PromptYes = 6, PromptNo = 7, PromptCancel = 2, PromptOk = 1 };

void ShowWarning(const std::string& text);
void ShowInfo(const std::string& text);
// True for Yes. `defaultYes` is the focused button and the answer given when there is no screen.
bool AskYesNo(const std::string& text, bool defaultYes = true);
// Returns one of the PromptAnswer values (the modal result). `defaultAnswer` is the focused button
// and the answer given when there is no screen.
int AskYesNoCancel(const std::string& text, int defaultAnswer = PromptYes);

// Messages that quote file or folder names take the text as a QString (see TextWithFileName): the fixed
// text stays Windows-1252 while the names, file-system bytes, reach the user intact.
class QString;
void ShowWarning(const QString& text);
void ShowInfo(const QString& text);
bool AskYesNo(const QString& text, bool defaultYes = true);
// A literal would match both forms: it is a Windows-1252 text.
inline void ShowWarning(const char* text) { ShowWarning(std::string(text)); }
inline void ShowInfo(const char* text) { ShowInfo(std::string(text)); }
inline bool AskYesNo(const char* text, bool defaultYes = true) { return AskYesNo(std::string(text), defaultYes); }
// `before` + `name` + `after`, the two texts read as Windows-1252 and the name as a file name.
QString TextWithFileName(const std::string& before, const std::string& name, const std::string& after = {});

enum class PromptKind { Warning, Info, YesNo, YesNoCancel };

// One question as the service received it.
struct PromptRecord {
  PromptKind kind;
  std::string text;   // Windows-1252 (a name that has no Windows-1252 form shows '?' here)
  std::string shown;  // the text as the user sees it, UTF-8
  int answer;  // what the caller got back
};

// True when prompts go to message boxes on a screen (a QApplication on a platform other than
// "offscreen" or "minimal"), false when they go to standard error.
bool PromptHasScreen();

// Call before the QApplication is made. With neither an X nor a Wayland display and no platform named
// by the user (cron, a remote shell) the window system would abort the program at start: the
// offscreen platform is chosen instead. Returns true when it was chosen here.
bool ChooseOffscreenWithoutDisplay();
// True once ChooseOffscreenWithoutDisplay() has chosen the offscreen platform in this process: nobody
// can see a window, not even a test driving it, so nothing may wait for one.
bool OffscreenChosenForNoDisplay();

// Scripted answers for tests: while one of these exists, prompts show nothing and are recorded.
// Each question takes the next queued answer (its default answer when the queue is empty); messages
// take none and answer PromptOk. Scripts nest; the innermost one answers.
class ScopedPromptScript {
 public:
  // With `record` false nothing is kept (long runs that only want silence, such as fuzzers).
  explicit ScopedPromptScript(std::deque<int> answers = {}, bool record = true);
  ~ScopedPromptScript();
  ScopedPromptScript(const ScopedPromptScript&) = delete;
  ScopedPromptScript& operator=(const ScopedPromptScript&) = delete;

  void Queue(int answer) { answers_.push_back(answer); }
  const std::vector<PromptRecord>& Asked() const { return asked_; }
  // Texts asked, in order.
  std::vector<std::string> Texts() const;
  size_t Remaining() const { return answers_.size(); }

 private:
  friend int RunPrompt(PromptKind kind, const QString& text, int defaultAnswer);
  std::deque<int> answers_;
  std::vector<PromptRecord> asked_;
  bool record_;
  ScopedPromptScript* outer_;
};

// Text in the data model is Windows-1252 bytes; these convert for Qt widgets.
QString AnsiToQString(const std::string& bytes);
std::string QStringToAnsi(const QString& text);
// File and folder names are kept as the file system has them (UTF-8 here): never Windows-1252.
QString FileNameToQString(const std::string& name);
std::string QStringToFileName(const QString& name);
