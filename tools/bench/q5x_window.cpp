// The viewer as the station runs it, for the ".q5x" benchmark: merrow.so loaded from the plug-ins
// folder by the station's plug-in host, its open dialog answered with FILE by typing the name, the
// window waited for until it is drawn; with --changes, each view change made through the window's
// controls and timed until the window is drawn again. Then the window is closed and the run ends.
//   zelt-q5x-window FILE [--changes] [--deadline SECONDS]
// Prints "open SECONDS" and "change NAME SECONDS" lines (from the dialog's answer, in this process).
#include "common/ScnType.h"
#include "station/plugins/PlugInsList.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// The host side without a data file, as for a plug-in run from the "Processing" menu.
class BenchHost : public TPlugInHostWindow {
public:
    QWidget* HostForm() override { return &form; }
    QMenu* ProcessingMenu() override { return &processing; }
    QAction* ProcessingButton() override { return &button; }
    bool TransferInProgress() override { return false; }
    void* DecodeStationParams() override { return nullptr; }
    void FreeStationParams(void*) override {}
    void ReloadCurrentDataFile() override {}

    QWidget form;
    QMenu processing;
    QAction button;
};

// The window drawn as the user would see it once the events of the change are handled.
void Settle(QWidget& window)
{
    QApplication::processEvents();
    window.repaint();
    QApplication::processEvents();
}

template <class T>
T& Control(QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(name);
    if (!control) {
        std::fprintf(stderr, "zelt-q5x-window: no control %s\n", name);
        std::exit(4);
    }
    return *control;
}

void SetChecked(QListWidget& list, const QString& text, bool on)
{
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->text() == text) list.item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// Each change as a user makes it, in this order.
std::vector<std::pair<const char*, std::function<void(QWidget&)>>> Changes()
{
    auto click = [](const char* name) { return [name](QWidget& w) { Control<QAbstractButton>(w, name).click(); }; };
    auto tab = [](int index) { return [index](QWidget& w) { Control<QTabWidget>(w, "PageControl1").setCurrentIndex(index); }; };
    return {
        {"IR off", click("CBIr")},
        {"IR on", click("CBIr")},
        {"position 1 on", [](QWidget& w) { SetChecked(Control<QListWidget>(w, "CLBPosition"), "1", true); }},
        {"curves", click("RadioButton5")},
        {"points", click("RadioButton4")},
        {"filter 1 off", [](QWidget& w) { SetChecked(Control<QListWidget>(w, "CLBFiltre"), "1", false); }},
        {"table tab", tab(1)},
        {"table end", [](QWidget& w) { Control<QAbstractItemView>(w, "StringGrid1").scrollToBottom(); }},
        {"tree tab", tab(0)},
        {"tree end", [](QWidget& w) { Control<QAbstractItemView>(w, "TreeView1").scrollToBottom(); }},
        {"graphic tab", tab(2)},
    };
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zelt-q5x-window FILE [--changes] [--deadline SECONDS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    bool changes = false;
    int deadline = 900;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--changes") changes = true;
        else if (option == "--deadline" && i + 1 < argc) deadline = std::atoi(argv[++i]);
    }
    QApplication app(argc, argv);
    BenchHost host;
    TPlugInsList list(host, std::string(ZELT_BENCH_BIN_DIR) + "/PlugIns");
    TListScn scnList;
    void* dataFile = nullptr;
    list.FillContext(false, nullptr, &dataFile, &scnList, nullptr, true);

    // Ends the run by SIGALRM when it takes longer than this, even in the middle of a long computation.
    alarm(static_cast<unsigned>(deadline));
    QElapsedTimer clock;
    bool answered = false, shown = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (answered) {   // the file did not load: the dialog came again
                std::fprintf(stderr, "zelt-q5x-window: the file did not load\n");
                std::_Exit(1);
            }
            answered = true;
            // The name typed into the dialog's name box, then "Open".
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!name) std::_Exit(4);
            name->setText(file);
            clock.start();
            QTimer::singleShot(0, dialog, &QDialog::accept);
            return;
        }
        if (shown || modal->objectName() != "MerrowFrm") return;
        shown = true;
        poll.stop();
        QWidget& window = *modal;
        Settle(window);
        std::printf("open %.3f\n", clock.elapsed() / 1000.0);
        if (changes)
            for (const auto& [what, change] : Changes()) {
                QElapsedTimer t;
                t.start();
                change(window);
                Settle(window);
                std::printf("change %s %.3f\n", what, t.elapsed() / 1000.0);
            }
        std::fflush(stdout);
        window.close();
    });
    poll.start();

    TPlugIns* merrow = nullptr;
    for (auto& p : list.Items())
        if (p->Caption == "Q5x Viewer") merrow = p.get();
    if (!merrow) {
        std::fprintf(stderr, "zelt-q5x-window: no Q5x Viewer plug-in in %s/PlugIns\n", ZELT_BENCH_BIN_DIR);
        return 1;
    }
    list.RunPlugIn(*merrow);
    return shown ? 0 : 1;
}
