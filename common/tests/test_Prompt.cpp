#include "common/Prompt.h"

#include <QApplication>
#include <QString>
#include <gtest/gtest.h>

TEST(Prompt, ScriptedAnswersAreTakenInOrderAndRecorded)
{
  ScopedPromptScript script({PromptNo, PromptCancel, PromptYes});
  ShowWarning("Choose a correct communication port!");
  EXPECT_FALSE(AskYesNo("Overwrite?"));
  EXPECT_EQ(AskYesNoCancel("Save?"), PromptCancel);
  ShowInfo("Done");
  EXPECT_TRUE(AskYesNo("Again?", false));
  // Queue empty: a question gets its default answer.
  EXPECT_FALSE(AskYesNo("Default no?", false));
  EXPECT_EQ(AskYesNoCancel("Default?"), PromptYes);
  EXPECT_EQ(AskYesNoCancel("Default no?", PromptNo), PromptNo);

  ASSERT_EQ(script.Asked().size(), 8u);
  EXPECT_EQ(script.Asked()[0].kind, PromptKind::Warning);
  EXPECT_EQ(script.Asked()[0].answer, PromptOk);
  EXPECT_EQ(script.Asked()[3].kind, PromptKind::Info);
  EXPECT_EQ(script.Texts()[2], "Save?");
  EXPECT_EQ(script.Remaining(), 0u);
}

TEST(Prompt, NestedScriptAnswersThenHandsBack)
{
  ScopedPromptScript outer({PromptNo});
  {
    ScopedPromptScript inner({PromptYes});
    EXPECT_TRUE(AskYesNo("inner"));
    EXPECT_EQ(inner.Texts(), std::vector<std::string>{"inner"});
  }
  EXPECT_FALSE(AskYesNo("outer"));
  EXPECT_EQ(outer.Texts(), std::vector<std::string>{"outer"});
}

TEST(Prompt, WithoutScreenTextGoesToStandardErrorWithDefaultAnswer)
{
  // No application object at all (a batch run before any window exists).
  EXPECT_FALSE(PromptHasScreen());
  testing::internal::CaptureStderr();
  ShowWarning("Bad alternate config file /x");
  EXPECT_FALSE(AskYesNo("Replace it?", false));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning: Bad alternate config file /x"), std::string::npos);
  EXPECT_NE(err.find("Replace it? [No]"), std::string::npos);

  // A QApplication on the offscreen platform has no screen either.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  EXPECT_FALSE(PromptHasScreen());
  testing::internal::CaptureStderr();
  EXPECT_EQ(AskYesNoCancel("Save the file?", PromptCancel), PromptCancel);
  EXPECT_TRUE(AskYesNo("Go on?"));
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Confirm: Save the file? [Cancel]"), std::string::npos);
  EXPECT_NE(err.find("Confirm: Go on? [Yes]"), std::string::npos);
}

TEST(Prompt, Windows1252Conversion)
{
  std::string bytes("\xB0" "C \x80 \x93q\x94 \x81", 10);
  QString text = AnsiToQString(bytes);
  EXPECT_EQ(text, QString::fromUtf8("°C € “q” \u0081"));
  EXPECT_EQ(QStringToAnsi(text), bytes);
  EXPECT_EQ(QStringToAnsi(QString::fromUtf8("漢")), "?");
}
