#pragma once
// The about box (version, build number, expert-mode toggle by a double-click on the icon) and the
// splash window shown while the program starts.
#include <QDialog>
#include <QTimer>
#include <QWidget>

class QLabel;
class TZELTFrm;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(TZELTFrm& main);
    QLabel* VersionLbl = nullptr;
    QLabel* ExpertLbl = nullptr;
    QLabel* Icon = nullptr;
    void ShowBuild();        // the version label or "+" clicked
    void ToggleExpertMode(); // the icon double-clicked

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TZELTFrm& FMain;
};

class TSplashScreenFrm : public QWidget {
    Q_OBJECT
public:
    TSplashScreenFrm();
    // Set to null when the splash closes, so that it is never closed twice.
    static TSplashScreenFrm* Current;

protected:
    void closeEvent(class QCloseEvent* event) override;

private:
    QTimer FFade;
    int FOpacity = 255;
};
