#pragma once
// The viewer window: a ".q5x" file as a tree of its acquisitions, a table and a chart of the
// infrared and mirror counts, black-body and head temperatures and head humidity, per filter and
// mirror position, with zoom, removal of acquisitions by zone and export of the table as text.
#include "common/analysis/RadioDataSet.h"

#include <QDialog>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QCheckBox;
class QFileDialog;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenuBar;
class QAction;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;
class QToolButton;
class QTreeView;
class TChart;

namespace radio {
class TErreurFrm;
}

class TExtraGraph_Box;

namespace merrow {

class TMerrowTable;
class TMerrowTree;

// What the window takes from the host.
struct TMerrowOptions {
    bool ConfirmWrite = true;             // ask before replacing a file
    std::string ListSeparator = ",";      // of the host's measurement-type list
    std::string FileVersion;              // of the plug-in file, for the about box
};

class TMerrowFrm : public QDialog {
    Q_OBJECT
public:
    // Runs the open loop; Loaded() tells whether a file was loaded (else the window is not shown).
    TMerrowFrm(radio::TRadData& data, radio::TErreurFrm& errors, TMerrowOptions options, QWidget* parent = nullptr);
    ~TMerrowFrm() override;

    bool Loaded() const { return FLoaded; }
    const std::string& FileName() const { return FFileName; }
    int SerieKind() const { return FSerieKind; }
    bool ZoneTool() const { return FZoneTool; }
    // The grid as text: row 0 the headers.
    std::vector<std::vector<std::string>> Cells() const;
    int FixedCols() const;

    // Handlers, named after their controls.
    void Ouvrir1Click();
    void Apropos1Click();
    void RadioButton4Click();
    void RadioButton5Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Button1Click();
    void Button2Click();
    void GfxChartMouseDown(Qt::MouseButton button, int x, int y);
    void GfxChartMouseMove(int x, int y);
    void GfxChartMouseUp(Qt::MouseButton button, int x, int y);

    // Controls.
    QMenuBar* MainMenu1 = nullptr;
    QAction* Ouvrir1 = nullptr;       // Files / Open
    QAction* Export1 = nullptr;       // Files / Export (no action)
    QAction* Apropos1 = nullptr;      // Help / About
    QTabWidget* PageControl1 = nullptr;
    QTreeView* TreeView1 = nullptr;
    QTableView* StringGrid1 = nullptr;
    TChart* GfxChart = nullptr;
    QToolButton* SpeedButton1 = nullptr;   // zone tool
    QToolButton* SpeedButton2 = nullptr;   // zoom tool
    QRadioButton* RadioButton4 = nullptr;  // "Point"
    QRadioButton* RadioButton5 = nullptr;  // "Curve"
    QPushButton* Button2 = nullptr;        // "Unzoom"
    QListWidget* CLBFiltre = nullptr;
    QListWidget* CLBPosition = nullptr;
    QPushButton* Button1 = nullptr;        // "Export to ASCII"
    QCheckBox* CBIr = nullptr;
    QCheckBox* CBMir = nullptr;
    QCheckBox* CBBlack = nullptr;
    QCheckBox* CBHead = nullptr;
    QCheckBox* CBHum = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

private:
    void CreateControls();
    bool OpenLoop();
    bool LoadFile(const std::string& path);
    void Prepare();
    void FillTableAndChart();
    // The checked positions, and the place of each in the position list.
    std::map<int, int> CheckedPositions() const;
    std::set<const radio::TFilter*> CheckedFilters() const;
    void RemoveZone(double x1, double y1, double x2, double y2);
    void FreeZoneBox();
    bool WriteExport(const std::string& path);

    radio::TRadData& FData;
    radio::TErreurFrm& FErrors;
    TMerrowOptions FOptions;
    std::string FFileName;
    bool FLoaded = false;
    int FSerieKind = 0;   // 0 points, 1 curves
    bool FZoneTool = false;
    bool FDragging = false;
    int FPressX = 0, FPressY = 0;
    std::unique_ptr<TExtraGraph_Box> FBox;   // the zone being drawn
    bool FFilling = false;   // list changes while the window fills them are not clicks
    TMerrowTable* FTable = nullptr;   // the grid's model
    TMerrowTree* FTree = nullptr;     // the tree's model
};

}  // namespace merrow
