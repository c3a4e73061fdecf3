#include "morvane/app/MorvaneDialog.h"

#include "morvane/app/GraphProgram.h"
#include "morvane/core/FortranIO.h"
#include "morvane/core/RunDriver.h"
#include "morvane/core/Tables.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>
#include <iostream>
#include <limits>

namespace morvane {

namespace {

template <class T> T *Named(T *w, int id) {
  w->setObjectName(QStringLiteral("id%1").arg(id));
  return w;
}

// The model's name and wavelength count from the instrument table, else the defaults.
std::pair<QString, int> Model(int code, const char *fallback, int wavelengths) {
  try {
    const InstrumentDesc d = ReadInstrument(TablePath("instruments.dat"), code);
    return {d.name.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(d.name), d.nwl};
  } catch (const Failure &) {
  }
  return {QString::fromUtf8(fallback), wavelengths};
}

bool ReadNumber(const QLineEdit *edit, float &value) {
  double v = 0;
  if (!ParseFortranReal(edit->text().trimmed().toStdString(), v) || !(std::fabs(v) <= std::numeric_limits<float>::max()))
    return false;
  value = static_cast<float>(v);
  return true;
}

} // namespace

MorvaneDialog::MorvaneDialog(bool graph, QWidget *parent) : QDialog(parent), graph_(graph) {
  setObjectName("id101");
  setWindowTitle(QString::fromUtf8("Cálculo de AOD"));
  auto *top = new QVBoxLayout(this);

  // Input mode.
  auto *intro = Named(new QGroupBox(QString::fromUtf8("Introducción de datos")), 1007);
  auto *introLayout = new QHBoxLayout(intro);
  auto *manual = Named(new QRadioButton("Manual"), 1008);
  auto *fromFile = Named(new QRadioButton("Fichero"), 1009);
  auto *paramEdit = Named(new QLineEdit, 1010);
  introLayout->addWidget(manual);
  introLayout->addWidget(fromFile);
  introLayout->addWidget(paramEdit, 1);
  introLayout->addWidget(Browse(1011, paramEdit));
  top->addWidget(intro);

  // Instrument and calibration.
  auto *instruments = Named(new QGroupBox("Instrumentos"), 1012);
  auto *instLayout = new QGridLayout(instruments);
  const auto model1 = Model(1, "8 longitudes de onda", 8), model2 = Model(2, "10 longitudes de onda", 10);
  modelWavelengths_[0] = model1.second;
  modelWavelengths_[1] = model2.second;
  auto *inst1 = Named(new QRadioButton(model1.first), 1013);
  auto *inst2 = Named(new QRadioButton(model2.first), 1014);
  auto *calEdit = Named(new QLineEdit, 1015);
  instLayout->addWidget(inst1, 0, 0);
  instLayout->addWidget(inst2, 0, 1);
  instLayout->addWidget(Named(new QLabel("Fichero de Calibrado"), 1025), 1, 0);
  instLayout->addWidget(calEdit, 1, 1);
  auto *calBrowse = Browse(1016, calEdit);
  instLayout->addWidget(calBrowse, 1, 2);
  top->addWidget(instruments);

  // Location.
  auto *location = Named(new QGroupBox(QString::fromUtf8("Localización")), 1017);
  auto *locLayout = new QHBoxLayout(location);
  auto *latEdit = Named(new QLineEdit("37.18"), 1022);
  auto *lonEdit = Named(new QLineEdit("-3.6"), 1023);
  auto *altEdit = Named(new QLineEdit("680.0"), 1024);
  locLayout->addWidget(new QLabel("Latitud"));
  locLayout->addWidget(latEdit);
  locLayout->addWidget(new QLabel("Longitud"));
  locLayout->addWidget(lonEdit);
  locLayout->addWidget(new QLabel("Altura"));
  locLayout->addWidget(altEdit);
  top->addWidget(location);

  // Ozone.
  auto *ozone = Named(new QGroupBox("Ozono"), 1026);
  auto *ozLayout = new QHBoxLayout(ozone);
  auto *ozValue = Named(new QRadioButton("Valor"), 1027);
  auto *ozFile = Named(new QRadioButton("Fichero"), 1028);
  auto *ozValueEdit = Named(new QLineEdit("300"), 1030);
  auto *ozFileEdit = Named(new QLineEdit, 1018);
  ozLayout->addWidget(ozValue);
  ozLayout->addWidget(ozValueEdit);
  ozLayout->addWidget(ozFile);
  ozLayout->addWidget(ozFileEdit, 1);
  auto *ozBrowse = Browse(1029, ozFileEdit);
  ozLayout->addWidget(ozBrowse);
  top->addWidget(ozone);

  // NO2.
  auto *no2 = Named(new QGroupBox("NO2"), 1031);
  auto *no2Layout = new QHBoxLayout(no2);
  auto *no2Value = Named(new QRadioButton("Valor"), 1032);
  auto *no2File = Named(new QRadioButton("Fichero"), 1033);
  auto *no2Mid = Named(new QRadioButton("Valores Latitudes Medias"), 1037);
  auto *no2ValueEdit = Named(new QLineEdit("0"), 1036);
  auto *no2FileEdit = Named(new QLineEdit, 1034);
  no2Layout->addWidget(no2Value);
  no2Layout->addWidget(no2ValueEdit);
  no2Layout->addWidget(no2File);
  no2Layout->addWidget(no2FileEdit, 1);
  auto *no2Browse = Browse(1035, no2FileEdit);
  no2Layout->addWidget(no2Browse);
  no2Layout->addWidget(no2Mid);
  top->addWidget(no2);

  // Processing: wavelengths, alpha combinations, data files, output, screening.
  auto *proc = Named(new QGroupBox("Procesamiento"), 1038);
  auto *procLayout = new QGridLayout(proc);
  procLayout->addWidget(Named(new QLabel("Longitudes de onda a procesar"), 1039), 0, 0, 1, 4);
  auto *boxes = new QHBoxLayout;
  const int boxIds[10] = {1066, 1067, 1068, 1069, 1070, 1071, 1072, 1073, 1074, 1096};
  for (int i = 0; i < 10; ++i) {
    auto *b = Named(new QCheckBox(QString::number(i + 1)), boxIds[i]);
    wavelengthBoxes_.push_back(b);
    boxes->addWidget(b);
  }
  procLayout->addLayout(boxes, 1, 0, 1, 4);
  procLayout->addWidget(Named(new QLabel(QString::fromUtf8("Cálculo de Alfa")), 1061), 2, 0);
  auto *alphaAdd = Named(new QPushButton(QString::fromUtf8("Añadir")), 1049);
  auto *alphaClear = Named(new QPushButton("Borrar"), 1060);
  auto *alphaList = Named(new QListWidget, 1051);
  procLayout->addWidget(alphaAdd, 3, 0);
  procLayout->addWidget(alphaClear, 4, 0);
  procLayout->addWidget(alphaList, 2, 1, 3, 1);
  procLayout->addWidget(Named(new QLabel("Lista de Ficheros"), 1055), 2, 2);
  auto *files = Named(new QListWidget, 1056);
  auto *filesAdd = Named(new QPushButton(QString::fromUtf8("Añadir")), 1058);
  auto *filesRemove = Named(new QPushButton("Borrar"), 1059);
  procLayout->addWidget(files, 2, 3, 3, 1);
  procLayout->addWidget(filesAdd, 3, 2);
  procLayout->addWidget(filesRemove, 4, 2);
  auto *outLayout = new QHBoxLayout;
  auto *outEdit = Named(new QLineEdit, 1050);
  outLayout->addWidget(Named(new QLabel("Fichero de salida"), 1063));
  outLayout->addWidget(outEdit, 1);
  auto *outBrowse = Browse(1052, outEdit);
  outLayout->addWidget(outBrowse);
  outLayout->addWidget(Named(new QLabel(".tao"), 1092));
  procLayout->addLayout(outLayout, 5, 0, 1, 4);
  auto *cloud = Named(new QCheckBox("Filtrado de nubes"), 1064);
  procLayout->addWidget(cloud, 6, 0, 1, 4);
  top->addWidget(proc);

  auto *buttons = new QHBoxLayout;
  auto *apply = Named(new QPushButton("Calcular"), 30002);
  auto *leave = Named(new QPushButton("Salir"), 30001);
  apply->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(apply);
  buttons->addWidget(leave);
  top->addLayout(buttons);

  manualControls_ = {instruments, location, ozone, no2, proc};

  connect(apply, &QPushButton::clicked, this, &MorvaneDialog::Apply);
  connect(leave, &QPushButton::clicked, this, &QDialog::reject);
  connect(manual, &QRadioButton::clicked, this, &MorvaneDialog::IntroManual);
  connect(fromFile, &QRadioButton::clicked, this, &MorvaneDialog::IntroFile);
  connect(inst1, &QRadioButton::clicked, this, &MorvaneDialog::Instrument1);
  connect(inst2, &QRadioButton::clicked, this, &MorvaneDialog::Instrument2);
  connect(ozValue, &QRadioButton::clicked, this, &MorvaneDialog::OzoneValue);
  connect(ozFile, &QRadioButton::clicked, this, &MorvaneDialog::OzoneFile);
  connect(no2Value, &QRadioButton::clicked, this, &MorvaneDialog::No2Value);
  connect(no2File, &QRadioButton::clicked, this, &MorvaneDialog::No2File);
  connect(no2Mid, &QRadioButton::clicked, this, &MorvaneDialog::No2MidLatitude);
  connect(alphaAdd, &QPushButton::clicked, this, &MorvaneDialog::AddAlpha);
  connect(alphaClear, &QPushButton::clicked, this, &MorvaneDialog::ClearAlpha);
  connect(filesAdd, &QPushButton::clicked, this, &MorvaneDialog::AddDataFile);
  connect(filesRemove, &QPushButton::clicked, this, &MorvaneDialog::RemoveDataFile);

  // Start-up choices: manual entry, first model, ozone and NO2 values.
  inst1->setChecked(true);
  ozValue->setChecked(true);
  no2Value->setChecked(true);
  manual->setChecked(true);
  IntroManual();
}

QPushButton *MorvaneDialog::Browse(int id, QLineEdit *target) {
  auto *b = Named(new QPushButton("..."), id);
  connect(b, &QPushButton::clicked, this, [this, target] {
    const QString name = OpenFile();
    if (!name.isEmpty())
      target->setText(name);
  });
  return b;
}

void MorvaneDialog::Message(QMessageBox::Icon icon, const QString &title, const QString &text) {
  if (messageHook) {
    messageHook(icon, title, text);
    return;
  }
  QMessageBox box(icon, title, text, QMessageBox::Ok, this);
  box.exec();
}

QString MorvaneDialog::OpenFile() {
  if (openFileHook)
    return openFileHook();
  return QFileDialog::getOpenFileName(this, "Abrir Fichero", QString(), "Todos los archivos (*.*)");
}

void MorvaneDialog::SetManualEnabled(bool on) {
  for (QWidget *w : manualControls_)
    w->setEnabled(on);
  control<QLineEdit>(1010)->setEnabled(!on);
  control<QPushButton>(1011)->setEnabled(!on);
}

void MorvaneDialog::IntroManual() {
  mode_ = 1;
  SetManualEnabled(true);
  if (control<QRadioButton>(1028)->isChecked())
    OzoneFile();
  else
    OzoneValue();
  if (control<QRadioButton>(1033)->isChecked())
    No2File();
  else if (control<QRadioButton>(1037)->isChecked())
    No2MidLatitude();
  else
    No2Value();
  if (control<QRadioButton>(1014)->isChecked())
    Instrument2();
  else
    Instrument1();
}

void MorvaneDialog::IntroFile() {
  mode_ = 2;
  SetManualEnabled(false);
}

void MorvaneDialog::Instrument1() {
  // The first model's wavelengths enabled and checked, the others off.
  for (int i = 0; i < 10; ++i) {
    wavelengthBoxes_[static_cast<size_t>(i)]->setEnabled(i < modelWavelengths_[0]);
    wavelengthBoxes_[static_cast<size_t>(i)]->setChecked(i < modelWavelengths_[0]);
  }
}

void MorvaneDialog::Instrument2() {
  for (int i = 0; i < 10; ++i) {
    wavelengthBoxes_[static_cast<size_t>(i)]->setEnabled(i < modelWavelengths_[1]);
    wavelengthBoxes_[static_cast<size_t>(i)]->setChecked(false);
  }
}

void MorvaneDialog::OzoneValue() {
  control<QLineEdit>(1030)->setEnabled(true);
  control<QLineEdit>(1018)->setEnabled(false);
  control<QPushButton>(1029)->setEnabled(false);
}

void MorvaneDialog::OzoneFile() {
  control<QLineEdit>(1030)->setEnabled(false);
  control<QLineEdit>(1018)->setEnabled(true);
  control<QPushButton>(1029)->setEnabled(true);
}

void MorvaneDialog::No2Value() {
  control<QLineEdit>(1036)->setEnabled(true);
  control<QLineEdit>(1034)->setEnabled(false);
  control<QPushButton>(1035)->setEnabled(false);
}

void MorvaneDialog::No2File() {
  control<QLineEdit>(1036)->setEnabled(false);
  control<QLineEdit>(1034)->setEnabled(true);
  control<QPushButton>(1035)->setEnabled(true);
}

void MorvaneDialog::No2MidLatitude() {
  control<QLineEdit>(1036)->setEnabled(false);
  control<QLineEdit>(1034)->setEnabled(false);
  control<QPushButton>(1035)->setEnabled(false);
}

void MorvaneDialog::AddAlpha() {
  QDialog alpha(this);
  alpha.setObjectName("id104");
  alpha.setWindowTitle(QString::fromUtf8("Cálculo de Alfa"));
  auto *layout = new QVBoxLayout(&alpha);
  layout->addWidget(
      Named(new QLabel("Marca las longitudes de onda a utilizar en la regresion y pulsa INSERTAR"), 1086));
  auto *row = new QHBoxLayout;
  const int ids[10] = {1075, 1076, 1077, 1078, 1079, 1080, 1081, 1082, 1083, 1097};
  std::vector<QCheckBox *> boxes;
  for (int i = 0; i < 10; ++i) {
    auto *b = Named(new QCheckBox(QString::number(i + 1)), ids[i]);
    b->setEnabled(wavelengthBoxes_[static_cast<size_t>(i)]->isEnabled());
    boxes.push_back(b);
    row->addWidget(b);
  }
  layout->addLayout(row);
  auto *insert = Named(new QPushButton("Insertar"), 1084);
  auto *leave = Named(new QPushButton("Salir"), 1085);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(insert);
  buttons->addWidget(leave);
  layout->addLayout(buttons);
  connect(insert, &QPushButton::clicked, &alpha, [this, boxes] {
    std::vector<int> checked;
    for (size_t i = 0; i < boxes.size(); ++i)
      if (boxes[i]->isChecked() && boxes[i]->isEnabled())
        checked.push_back(static_cast<int>(i) + 1);
    InsertAlpha(checked);
  });
  connect(leave, &QPushButton::clicked, &alpha, &QDialog::reject);
  alpha.exec();
}

void MorvaneDialog::InsertAlpha(const std::vector<int> &checked) {
  auto *list = control<QListWidget>(1051);
  if (list->count() + 1 > 9) {
    Message(QMessageBox::Warning, QString(), QString::fromUtf8("Cálculo no incluido. Solo se admiten 9 cálculos de alfa"));
    return;
  }
  QString text;
  for (int p : checked)
    text += QStringLiteral(" %1").arg(p);
  if (text.size() < 4) {
    Message(QMessageBox::Warning, QString(), QString::fromUtf8("Combinación de longitudes de onda no aceptadas"));
    return;
  }
  list->addItem(text);
  combinations_.push_back(checked);
}

void MorvaneDialog::ClearAlpha() {
  control<QListWidget>(1051)->clear();
  combinations_.clear();
}

void MorvaneDialog::AddDataFile() {
  auto *list = control<QListWidget>(1056);
  if (list->count() >= kMaxDataFiles) {
    Message(QMessageBox::Warning, QString(), QString::fromUtf8("Sólo se admiten 31 ficheros"));
    return;
  }
  const QString name = OpenFile();
  if (name.isEmpty())
    return;
  list->addItem(name);
  dataFiles_.push_back(name.toStdString());
}

void MorvaneDialog::RemoveDataFile() {
  auto *list = control<QListWidget>(1056);
  const int row = list->currentRow();
  if (row < 0)
    return;
  delete list->takeItem(row);
  dataFiles_.erase(dataFiles_.begin() + row);
}

void MorvaneDialog::Apply() {
  RunResult result;
  if (mode_ == 2) {
    const QString name = control<QLineEdit>(1010)->text().trimmed();
    if (name.isEmpty() || !QFileInfo(name).isReadable() || !QFileInfo(name).isFile()) {
      result.status = -1;
      result.message = "Nombre de Fichero incorrecto";
    } else {
      result = ProcesoCalculo(params_, InputMode::ParameterFile, name.toStdString(), std::cerr);
    }
  } else {
    // A manual run takes every parameter from the dialog, whatever an earlier run left.
    params_ = RunParams();
    params_.instrumentCode = control<QRadioButton>(1014)->isChecked() ? 2 : 1;
    params_.ozoneMode = control<QRadioButton>(1028)->isChecked() ? -1 : 0;
    params_.no2Mode = control<QRadioButton>(1033)->isChecked() ? -1 : control<QRadioButton>(1037)->isChecked() ? -2 : 0;
    params_.combinations = combinations_;
    params_.dataFiles = dataFiles_;
    struct Field {
      int id;
      float *target;
      const char *error;
      float min, max;
    };
    constexpr float kAny = std::numeric_limits<float>::max();
    const Field fields[] = {{1022, &params_.latitude, "ERROR: Latitud erronea ", -kMaxLatitude, kMaxLatitude},
                            {1023, &params_.longitude, "ERROR: Longitud erronea ", -kMaxLongitude, kMaxLongitude},
                            {1024, &params_.altitude, "ERROR: Altura erronea ", kMinAltitude, kMaxAltitude},
                            {1030, &params_.ozone, "ERROR: Contenido de ozono erroneo ", -kAny, kAny},
                            {1036, &params_.no2, "ERROR: Contenido de NO2 erroneo ", -kAny, kAny}};
    for (const Field &f : fields)
      if (!ReadNumber(control<QLineEdit>(f.id), *f.target) || !(*f.target >= f.min && *f.target <= f.max)) {
        result.status = -1;
        result.message = f.error;
        break;
      }
    if (result.status == 0) {
      params_.cloudScreening = control<QCheckBox>(1064)->isChecked();
      bool any = false;
      for (size_t i = 0; i < 10; ++i) {
        params_.useWavelength[i] = wavelengthBoxes_[i]->isChecked() && wavelengthBoxes_[i]->isEnabled();
        any = any || params_.useWavelength[i];
      }
      if (!any) {
        result.status = -1;
        result.message = "ERROR: No se ha marcado ninguna longitud de onda para calcular ";
      }
    }
    if (result.status == 0) {
      std::string out = control<QLineEdit>(1050)->text().trimmed().toStdString();
      if (out.size() < 4 || out.compare(out.size() - 4, 4, ".tao") != 0)
        out += (!out.empty() && out.back() == '.') ? "tao" : ".tao";
      params_.outputFile = out;
      params_.ozoneFile = control<QLineEdit>(1018)->text().trimmed().toStdString();
      params_.no2File = control<QLineEdit>(1034)->text().trimmed().toStdString();
      params_.calibrationFile = control<QLineEdit>(1015)->text().trimmed().toStdString();
      result = ProcesoCalculo(params_, InputMode::Manual, std::string(), std::cerr);
    }
  }
  if (result.status != 0) {
    Message(QMessageBox::Critical, QString(), QString::fromStdString(result.message));
    return;
  }
  Message(QMessageBox::Information, " ", QString::fromStdString(result.message));
  if (graph_)
    StartGraphProgram();
}

} // namespace morvane
