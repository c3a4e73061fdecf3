#pragma once
// The dialog "Cálculo de AOD": manual entry of a run or a parameter file, and "Calcular".

#include "morvane/core/RunParams.h"

#include <QDialog>
#include <QMessageBox>

#include <functional>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

namespace morvane {

class MorvaneDialog : public QDialog {
  Q_OBJECT
public:
  explicit MorvaneDialog(bool graph, QWidget *parent = nullptr);

  // Stand-ins for the message boxes and the open-file dialog (tests set them).
  std::function<void(QMessageBox::Icon, const QString &title, const QString &text)> messageHook;
  std::function<QString()> openFileHook;

  // Control by its id (object name "id<number>").
  template <class T> T *control(int id) const { return findChild<T *>(QStringLiteral("id%1").arg(id)); }

  // Parameters of the last run.
  const RunParams &params() const { return params_; }
  int mode() const { return mode_; }

public slots:
  void Apply();           // "Calcular"
  void IntroManual();     // "Manual"
  void IntroFile();       // "Fichero"
  void Instrument1();     // model with 8 wavelengths
  void Instrument2();     // model with 10 wavelengths
  void OzoneValue();      // "Valor"
  void OzoneFile();       // "Fichero"
  void No2Value();        // "Valor"
  void No2File();         // "Fichero"
  void No2MidLatitude();  // "Valores Latitudes Medias"
  void AddAlpha();        // "Añadir" of the alpha combinations
  void ClearAlpha();      // "Borrar" of the alpha combinations
  void AddDataFile();     // "Añadir" of the data files
  void RemoveDataFile();  // "Borrar" of the data files

  // The alpha dialog's "Insertar" with the given positions checked.
  void InsertAlpha(const std::vector<int> &checkedPositions);

private:
  void Message(QMessageBox::Icon icon, const QString &title, const QString &text);
  QString OpenFile();
  void SetManualEnabled(bool on);
  QPushButton *Browse(int id, QLineEdit *target);

  bool graph_;
  int mode_ = 1;
  RunParams params_;
  std::vector<std::vector<int>> combinations_; // the dialog's alpha list
  std::vector<std::string> dataFiles_;         // the dialog's file list
  std::vector<QCheckBox *> wavelengthBoxes_;
  int modelWavelengths_[2] = {8, 10};
  std::vector<QWidget *> manualControls_;
};

} // namespace morvane
