// Pieces shared by the tool dialogs.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QHBoxLayout;
class QProgressBar;

// A group box titled `title` holding one progress bar, returned through `bar`.
QGroupBox* ProgressGroup(QWidget* parent, const QString& title, QProgressBar*& bar);

// The bottom row "OK" "Cancel" on the right: OK calls the dialog's accept(), Cancel reject().
QHBoxLayout* OkCancelRow(QDialog* dialog);

// The bottom row "&Help" ... "OK" "Cancel": OK calls the dialog's accept(), Cancel reject(), Help calls
// onHelp (when set at click time) with the dialog's help context.
QHBoxLayout* HelpOkCancelRow(QDialog* dialog, int helpContext, const std::function<void(int)>* onHelp);

// A line edit or check box with its object name (the names the help pages and tests refer to).
QLineEdit* NamedEdit(const char* name, QWidget* parent);
QCheckBox* NamedCheck(const char* name, const char* caption, QWidget* parent);
