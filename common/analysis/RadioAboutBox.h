#pragma once
// The about box of the radiometer plug-ins: product line, a fixed version label and the version of
// the plug-in's own file, which a click on the version label shows.
#include <QDialog>

#include <string>

class QLabel;
class QPushButton;

namespace radio {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    // productLine "Q5x Viewer" or "Radiometer"; versionLabel "Version 1.1" or "Version 1.4";
    // fileVersion the four numbers of the plug-in file's version joined by "." (may be empty).
    TAboutBox(const std::string& productLine, const std::string& versionLabel, const std::string& fileVersion,
              QWidget* parent = nullptr);

    const std::string& FileVersion() const { return FFileVersion; }
    void VersionClick();   // information "Build " + the file's version

    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Comments = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string FFileVersion;
};

}  // namespace radio
