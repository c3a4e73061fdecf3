// Pieces shared by the tool dialogs.
#pragma once

#include <QDialog>
#include <functional>

class QGroupBox;
class QHBoxLayout;
class QProgressBar;

// A group box titled `title` holding one progress bar, returned through `bar`.
QGroupBox* ProgressGroup(QWidget* parent, const QString& title, QProgressBar*& bar);

// The bottom row "&Help" ... "OK" "Cancel": OK calls the dialog's accept(), Cancel reject(), Help calls
// onHelp (when set at click time) with the dialog's help context.
QHBoxLayout* HelpOkCancelRow(QDialog* dialog, int helpContext, const std::function<void(int)>* onHelp);
