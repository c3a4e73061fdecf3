#include "plugins/merrow/tests/MerrowTestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPointingDevice>
#include "common/tests/support/WindowTestDriver.h"
#include "station/windows/tests/TestApp.h"

#include <gtest/gtest.h>
#include <QWidget>

#include <cstdlib>
#include <fstream>
#include <sstream>

TModalDriver::TModalDriver()
{
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &TModalDriver::Tick);
    timer_.start();
}

TModalDriver::~TModalDriver() = default;

void TModalDriver::ChooseFile(const std::string& path)
{
    steps_.push_back({"", [path](QWidget* w) { window_test::AnswerFileDialog(*w, path); }});
}

void TModalDriver::CancelFileDialog()
{
    steps_.push_back({"", [](QWidget* w) { static_cast<QDialog*>(w)->reject(); }});
}

void TModalDriver::OnWindow(const std::string& objectName, std::function<void(QWidget*)> act)
{
    steps_.push_back({objectName, [act](QWidget* w) {
                          if (act) act(w);
                          w->close();
                      }});
}

void TModalDriver::Tick()
{
    if (steps_.empty()) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || actedOn_.contains(modal)) return;
    const Step& step = steps_.front();
    const bool wanted = step.objectName.empty() ? qobject_cast<QFileDialog*>(modal) != nullptr
                                                : modal->objectName().toStdString() == step.objectName;
    if (!wanted) {
        // A message of the file dialog itself would stop the run: say what it was and close it.
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ADD_FAILURE() << "unexpected message: " << box->text().toStdString();
            box->close();
        }
        return;
    }
    const Step current = step;
    steps_.pop_front();
    ++handled_;
    // Acted on after this tick returns: a timer does not fire again while its own slot runs, and
    // the action may open the next modal window.
    // The action may run the event loop while it waits (a file dialog lists its folder, a window
    // opens the next dialog): the window it acts on is not taken for a later step meanwhile.
    QPointer<QWidget> target(modal);
    actedOn_.insert(modal);
    QTimer::singleShot(0, this, [this, current, target] {
        if (target) current.act(target);
        actedOn_.remove(target.data());
    });
}

void MerrowTestApplication()
{
    static const QPointingDevice* device = QPointingDevice::primaryPointingDevice();
    (void)device;
    TestApplication();
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string SampleFile(const std::string& name)
{
    const char* dir = std::getenv("ZELT_SOURCE_DIR");
    return std::string(dir ? dir : ".") + "/data/q5x/" + name;
}

std::string GoldenFile(const std::string& name) { return std::string(ZELT_MERROW_GOLDEN_DIR) + "/" + name; }
