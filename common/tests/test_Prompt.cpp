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

TEST(Prompt, FileNamesInMessagesStayIntact)
{
  // The fixed texts are Windows-1252 ("\xE9" is "é"); the name is UTF-8 as the file system has it.
  const std::string name = "/d/Données/x.SUN";
  {
    ScopedPromptScript script;
    ShowWarning(TextWithFileName("Fichier ", name, " \xE9" "crit"));
    EXPECT_TRUE(AskYesNo(TextWithFileName("", name, " already exists.")));
    ShowInfo("caf\xE9");
    ASSERT_EQ(script.Asked().size(), 3u);
    EXPECT_EQ(script.Asked()[0].shown, "Fichier /d/Données/x.SUN écrit");
    EXPECT_EQ(script.Asked()[0].text, "Fichier /d/Donn\xE9" "es/x.SUN \xE9" "crit");
    EXPECT_EQ(script.Asked()[1].shown, "/d/Données/x.SUN already exists.");
    EXPECT_EQ(script.Asked()[2].shown, "café");
    EXPECT_EQ(script.Asked()[2].text, "caf\xE9");
  }
  testing::internal::CaptureStderr();
  ShowWarning(TextWithFileName("Unable to save the file ", name));
  ShowInfo("caf\xE9");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning: Unable to save the file /d/Données/x.SUN\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Information: café\n"), std::string::npos) << err;
}
