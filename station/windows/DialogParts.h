// Pieces shared by the tool dialogs.
#pragma once

#include <QDialog>
#include <functional>

class QAbstractItemView;
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

// Sizes the columns of every list of a window to their titles and contents (never narrower than
// they are) and the window so that its controls, tabs and columns show whole, within the screen.
// A window calls it once built, before its saved placement is applied; it never shrinks a window.
// A list whose columns share its width by percentages says so in its "columnShares" property (a
// list of ints); its columns are left to the window and only the width they need is asked for.
void FitWindowToContents(QWidget* window);
// The width a column needs for its title and its widest cell.
int ColumnContentsWidth(QAbstractItemView* view, int column);
