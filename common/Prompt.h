#pragma once
// Message boxes of the station program and its plug-ins. Behind them sits one user-prompt service:
// Qt message boxes where a screen exists; with no screen the text goes to standard error and the
// default answer is returned; tests install scripted answers.
#include <string>

void ShowWarning(const std::string& text);
void ShowInfo(const std::string& text);
bool AskYesNo(const std::string& text);
// Returns one of the PromptAnswer values below (the modal result).
int AskYesNoCancel(const std::string& text);

enum PromptAnswer { PromptYes = 6, PromptNo = 7, PromptCancel = 2, PromptOk = 1 };
