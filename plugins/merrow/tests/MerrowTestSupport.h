#pragma once
// Drives the modal dialogs of a viewer run the way a user would: each step waits for the modal
// window it expects (an open or save dialog, or a window by object name), acts on it, and the next
// step waits for the next one.
#include <QObject>
#include <QSet>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>

class QWidget;

class TModalDriver : public QObject {
    Q_OBJECT
public:
    TModalDriver();
    ~TModalDriver() override;

    // The next file dialog gets this file and is accepted.
    void ChooseFile(const std::string& path);
    // The next file dialog is cancelled.
    void CancelFileDialog();
    // The next modal window named `objectName`: `act` runs on it, then it is closed.
    void OnWindow(const std::string& objectName, std::function<void(QWidget*)> act);

    bool Done() const { return steps_.empty(); }
    int Handled() const { return handled_; }

private:
    struct Step {
        std::string objectName;   // empty: a file dialog
        std::function<void(QWidget*)> act;
    };
    void Tick();

    QTimer timer_;
    std::deque<Step> steps_;
    int handled_ = 0;
    QSet<QWidget*> actedOn_;   // windows an action is still working on
};

// The test program's application. The mouse device is made first, so that the application does not
// free it at exit after the device list it belongs to is gone.
void MerrowTestApplication();

// Reads a whole file (bytes).
std::string ReadBytes(const std::string& path);
std::string SampleFile(const std::string& name);   // data/q5x/<name> of the source tree
std::string GoldenFile(const std::string& name);   // the tests' golden/<name>
