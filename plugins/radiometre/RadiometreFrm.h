#pragma once
// The radiometer window: the infrared acquisitions of the host's data or of a ".q5x" file as a
// table or a chart of counts, radiance or brightness temperature, per filter and mirror position;
// zone removal on the chart, the calibration editor, the export of the table as delimited text.
#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "plugins/radiometre/RadData.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTabWidget;
class QToolButton;
class TChart;
class TExtraGraph_Box;
class THTMLHelp;
class TQ5File;
class TParamsList;

namespace radio {

class TErreurFrm;

// What the window reads from the host through the plug-in context.
struct TRadiometreHost {
    const TQ5File* const* CurrentDataFile = nullptr;  // the host's data-file variable (may hold null)
    const TParamsList* StationParams = nullptr;
    std::string ListSeparator = ",";
    bool ConfirmWrite = true;
    std::string PlugInFileName;
    const TQ5File* DataFile() const { return CurrentDataFile ? *CurrentDataFile : nullptr; }
};

enum ENumChartKind { ViewCN, ViewLumi, ViewTemp };

class TRadiometreFrm : public QDialog {
    Q_OBJECT
public:
    TRadiometreFrm(TRadiometreData& data, TErreurFrm& errors, const TRadiometreHost& host, QWidget* parent = nullptr);
    ~TRadiometreFrm() override;

    bool Loaded = false;
    ENumChartKind ChartKind = ViewCN;
    int SerieKind = 0;  // 0 points, 1 curves

    // The table as exported: one line per grid row, every cell followed by the list separator.
    std::vector<std::string> ExportLines();
    bool ExportTo(const std::string& path);
    // Removes the acquisitions that have a plotted point inside the zone (values, bounds included).
    void RemoveZone(double x1, double y1, double x2, double y2);
    void Refresh();
    void FillTable();
    void DrawChart();
    std::string ShownFileName() const { return FFileName; }

private:
    void BuildControls();
    int LoadData(const std::string& fileName);
    // True once a file loaded; `tried` is set once a chosen file was loaded, whether it failed or not.
    bool OpenLoop(bool* tried = nullptr);
    void PrepareWindow();
    void SetChartKind(ENumChartKind kind);
    void SetCalibrationButtons(bool warnWhenMissing);
    std::string StorePath() const;
    std::vector<TFilter*> CheckedFilters() const;
    bool PositionChecked(int position) const;
    bool ValueOf(const TCN& cn, double& y);
    double XOf(const TCNSerie& serie) const;
    void Ouvrir1Click();
    void ReOuvrirlefichierQ51Click();
    void Calibration1Click();
    void Index1Click();
    void Apropos1Click();
    void Button1Click();
    void GfxChartMouseDown(Qt::MouseButton button, int x, int y);
    void GfxChartMouseMove(int x, int y);
    void GfxChartMouseUp(Qt::MouseButton button, int x, int y);

    TRadiometreData& FData;
    TErreurFrm& FErrors;
    TRadiometreHost FHost;
    std::string FFileName;
    std::string FHelpFile;
    std::unique_ptr<THTMLHelp> FHtmlHelp;
    bool FZoneTool = false, FDragging = false;
    QPoint FPress;
    std::unique_ptr<TExtraGraph_Box> FBox;

    QAction *Ouvrir1, *ReOuvrirlefichierQ51, *Fermer1, *Calibration1, *Index1, *Apropos1;
    QListWidget *CLBPosition, *CLBFiltre;
    QRadioButton *RadioButton1, *RadioButton2, *RadioButton3, *RadioButton4, *RadioButton5;
    QCheckBox *CBBlack, *CBJulien;
    QPushButton *Button1, *Button2;
    QTabWidget* PageControl1;
    QWidget *TabSheet1, *TabSheet2;
    QTableWidget* StringGrid1;
    TChart* GfxChart;
    QToolButton *SpeedButton1, *SpeedButton2;
    QFileDialog *OpenDialog1, *SaveDialog1;
};

}  // namespace radio
