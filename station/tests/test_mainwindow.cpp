// The main window offscreen: opening, listing, sorting, deleting and saving a data file, the commands
// refused during a transmission, the close query, the command-line options, the options dialog's
// checks, help pages and the settings round trip.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QTabBar>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QItemSelectionModel>
#include <QTableView>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/tests/support/TestWait.h"
#include "common/IniFile.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/Zelt.h"
#include "common/Evenement.h"
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/WindowTestDriver.h"
#include "station/ConfFrm.h"
#include "common/chart/HtmlHelp.h"
#include "station/StationSettings.h"
#include "station/ZELTFrm.h"
#include "station/windows/ScnInfoFrm.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimProcess.h"
#include "station/link/Transmission.h"
#include <QImage>
#include <QPlainTextEdit>

namespace fs = std::filesystem;

namespace {

QApplication* App()
{
    static QApplication* app = &window_test::TestApplication("station_window_tests");
    return app;
}

zsim::Image Image(int count)
{
    zsim::Image image;
    image.param = zsim::MakeParamBlock(0x14, "SP140042");
    for (int i = 0; i < count; ++i)
        image.records.push_back(zsim::MakeRecord(0x20, {2026, 3, 1 + i, 10, 0, 0}, {uint8_t(i), 1, 2}));
    return image;
}

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ini = (home.Root() / "zelt.ini").string();
        ScopedTestHome::Write(ini, "[General]\r\nShowScnError=1\r\nConfirmWrite=1\r\n");
        Make({});
    }
    void Make(std::vector<std::string> args)
    {
        frm.reset();
        zelt.reset();
        std::vector<std::string> all{"zelt", "-CONFIG=" + ini};
        zelt = std::make_unique<TZELT>(all);
        args.insert(args.begin(), "-CONFIG=" + ini);
        frm = std::make_unique<TZELTFrm>(*zelt, args);
    }
    std::string WriteData(const std::string& name, const zsim::Image& image)
    {
        const std::string path = (home.Root() / name).string();
        EXPECT_TRUE(zsim::WriteFile(path, zsim::BuildDataFile(image)));
        return path;
    }
    int Rows() { return frm->ScnListView->model()->rowCount(); }
    QVariant Cell(int row, int column, int role = Qt::DisplayRole)
    {
        return frm->ScnListView->model()->index(row, column).data(role);
    }
    void Select(int row)
    {
        frm->ScnListView->selectionModel()->select(frm->ScnListView->model()->index(row, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // A copy of the sample download: decodable parameters and measurements.
    std::string Sample()
    {
        const fs::path to = home.Root() / "sample.Q5";
        fs::copy_file(fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5", to,
                      fs::copy_options::overwrite_existing);
        return to.string();
    }

    ScopedTestHome home;
    std::string ini;
    std::unique_ptr<TZELT> zelt;
    std::unique_ptr<TZELTFrm> frm;
};

}  // namespace

TEST_F(Window, OpenListDeleteAndSave)
{
    const std::string path = WriteData("day.Q5", Image(4));
    frm->OpenFile(path);
    ASSERT_NE(frm->Q5File(), nullptr);
    EXPECT_EQ(Rows(), 4);
    EXPECT_EQ(frm->DataLbl->text(), "4 scenarios");
    EXPECT_EQ(frm->windowTitle(), "ZELT Win - day.Q5");
    EXPECT_EQ(Cell(0, 2).toString(), "15");

    // Without a selection the deletion is refused.
    {
        ScopedPromptScript script;
        frm->DeleteMnuClick();
        ASSERT_EQ(script.Asked().size(), 1u);
        EXPECT_EQ(script.Asked()[0].text, "Select first one or several measurements in the list");
    }
    Select(1);
    Select(3);
    frm->DeleteMnuClick();
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(frm->Core().Modified);

    // "No" to the replace question writes nothing and keeps the data modified.
    {
        ScopedPromptScript script({PromptNo});
        EXPECT_FALSE(frm->SaveMnuClick());
    }
    EXPECT_EQ(TQ5File(path).Events.Count(), 4);
    EXPECT_TRUE(frm->Core().Modified);
    {
        ScopedPromptScript script({PromptYes});
        EXPECT_TRUE(frm->SaveMnuClick());
    }
    EXPECT_FALSE(frm->Core().Modified);
    TQ5File saved(path);
    ASSERT_EQ(saved.Events.Count(), 2);
    EXPECT_EQ(saved.Events[0]->Evt(), zsim::ToHex(Image(4).records[0]));
    EXPECT_EQ(saved.Events[1]->Evt(), zsim::ToHex(Image(4).records[2]));
}

TEST_F(Window, FailedSaveIsShownAndKeepsTheData)
{
    frm->OpenFile(WriteData("a.Q5", Image(2)));
    Select(0);
    frm->DeleteMnuClick();
    ScopedPromptScript script({PromptYes});
    // A folder that cannot exist: its parent is a file.
    ScopedTestHome::Write(home.Root() / "ro", "not a folder");
    EXPECT_FALSE(frm->SaveAs((home.Root() / "ro" / "b.Q5").string()));
    EXPECT_TRUE(frm->Core().Modified);
    bool shown = false;
    for (const auto& r : script.Asked()) shown |= r.text.rfind("Unable to save the file", 0) == 0;
    EXPECT_TRUE(shown);
    // Closing with "Yes" to saving does not close when the save fails.
    QCloseEvent close;
    ScopedPromptScript answers({PromptYes});
    frm->SetQ5FileName((home.Root() / "ro" / "c.Q5").string());
    QApplication::sendEvent(frm.get(), &close);
    EXPECT_FALSE(close.isAccepted());
}

TEST_F(Window, CommandsThatChangeTheFileAreRefusedDuringATransmission)
{
    frm->OpenFile(WriteData("a.Q5", Image(3)));
    // The instrument's first frame opens the connection.
    const std::string frame =
        zsim::ReplyFrame("SSIM1000000" + zsim::ToHex(zsim::MakeParamBlock(0x14, "SP140042"))) + "\r";
    frm->Core().InstallDefaultHandler();
    frm->Core().RS232ReceiveData(&frm->Core(), frame.data(), int(frame.size()));
    ASSERT_TRUE(frm->Core().Connected());
    TQ5File* during = frm->Q5File();
    ScopedPromptScript script({PromptYes, PromptYes, PromptYes});
    frm->OpenFile(WriteData("b.Q5", Image(1)));
    EXPECT_EQ(frm->Q5File(), during);
    EXPECT_FALSE(frm->SaveAs((home.Root() / "c.Q5").string()));
    EXPECT_FALSE(fs::exists(home.Root() / "c.Q5"));
    ASSERT_GE(script.Asked().size(), 2u);
    EXPECT_EQ(script.Asked()[0].text, "This command is not available during a transmission.");
    // Closing asks to stop and never closes.
    QCloseEvent close;
    QApplication::sendEvent(frm.get(), &close);
    EXPECT_FALSE(close.isAccepted());
}

TEST_F(Window, ListTextIsShortenedAndSortedByDate)
{
    EXPECT_EQ(TZELTFrm::ShortDataText(std::string(255, 'a')).size(), 255u);
    std::string text;
    for (int i = 0; i < 300; ++i) text += char('A' + i % 26);
    const std::string s = TZELTFrm::ShortDataText(text);
    EXPECT_EQ(s.size(), 239u);
    EXPECT_EQ(s.substr(0, 95), text.substr(0, 95));
    EXPECT_EQ(s.substr(95, 3), "...");
    EXPECT_EQ(s.substr(98), text.substr(159));

    frm->OpenFile(WriteData("a.Q5", Image(3)));
    frm->SortByColumn(1);
    EXPECT_EQ(Cell(0, 0, Qt::UserRole).toInt(), 2);  // newest first
    frm->SortByColumn(1);
    EXPECT_EQ(Cell(0, 0, Qt::UserRole).toInt(), 0);
    frm->SortByColumn(1);
    EXPECT_EQ(Cell(0, 0, Qt::UserRole).toInt(), 2);
}

TEST_F(Window, CommandLineOptions)
{
    Make({"-debug", "-com=com3", "/data/x.Q5"});
    EXPECT_TRUE(frm->ModeExpert());
    EXPECT_EQ(frm->Settings().PortNum, "com3");
    EXPECT_EQ(frm->Settings().TypeCom, TypeComSerial);
    EXPECT_TRUE(frm->Settings().AutoConnect);
    EXPECT_EQ(frm->StartFileName(), "/data/x.Q5");
    EXPECT_NE(frm->windowTitle().indexOf(" [D "), -1);

    Make({"-DEBUGX", "-USB2", "-IP=host:23", "-RUN=aot"});
    EXPECT_FALSE(frm->ModeExpert());
    EXPECT_EQ(frm->Settings().TypeCom, TypeComIp);
    EXPECT_EQ(frm->Settings().RemoteIP, "host:23");
    EXPECT_EQ(frm->PlugInName(), "aot");

    // A start-up file that does not exist is reported and the program goes on.
    Make({(home.Root() / "missing.Q5").string()});
    ScopedPromptScript script;
    frm->Start();
    ASSERT_EQ(script.Asked().size(), 1u);
    EXPECT_EQ(script.Asked()[0].text, (home.Root() / "missing.Q5").string() + "\nUnable to load the file.");

    // The name is shown as the file system has it, not read as Windows-1252.
    const std::string accented = (home.Root() / "Données" / "missing.Q5").string();
    Make({accented});
    ScopedPromptScript again;
    frm->Start();
    ASSERT_EQ(again.Asked().size(), 1u);
    EXPECT_EQ(again.Asked()[0].shown, accented + "\nUnable to load the file.");
}

TEST_F(Window, ParameterDumpOfAnUnnamedFileIsRefused)
{
    frm->OpenFile(WriteData("a.Q5", Image(1)));
    frm->SetQ5FileName("");
    ScopedPromptScript script;
    frm->WriteParamBtnClick();
    ASSERT_EQ(script.Asked().size(), 1u);
    EXPECT_EQ(script.Asked()[0].text, "The Q5 file doesn't have a name");
}

TEST_F(Window, OptionsDialogChecks)
{
    TConfFrm dialog(*frm, *zelt);
    dialog.Optimize->setChecked(true);
    dialog.AutoRecord->setChecked(false);
    dialog.Pages->setCurrentWidget(dialog.DataPage);
    {
        ScopedPromptScript script({PromptCancel});
        EXPECT_FALSE(dialog.OkBtnClick());
        EXPECT_EQ(dialog.Pages->currentWidget(), dialog.CommPage);
    }
    dialog.AutoRecord->setChecked(true);
    dialog.Period->setCurrentIndex(5);
    dialog.BaseName->clear();
    {
        ScopedPromptScript script;
        EXPECT_FALSE(dialog.OkBtnClick());
        EXPECT_EQ(dialog.Pages->currentWidget(), dialog.DataPage);
        ASSERT_EQ(script.Asked().size(), 1u);
        EXPECT_EQ(script.Asked()[0].text, "You must give a base name if you choose to build files with an infinite period");
    }
    // Separators: the tab character for the list separator, shown in the sample.
    dialog.SeparatorKind->setCurrentIndex(0);
    dialog.SeparatorRadioClicked(4);
    EXPECT_EQ(dialog.SampleText().count('\t'), 5);
    dialog.BaseName->setText("st");
    {
        ScopedPromptScript script({PromptYes});
        EXPECT_TRUE(dialog.OkBtnClick());
    }
    EXPECT_EQ(frm->Settings().SepList, "\t");
    EXPECT_TRUE(frm->SaveSettings());
    TIniFile stored(ini);
    EXPECT_EQ(stored.ReadString("General", "SepList", ""), "\t");
    EXPECT_EQ(stored.ReadString("General", "ASCIIPeriod", ""), "5");
    // Help of the current page.
    dialog.Pages->setCurrentWidget(dialog.CommPage);
    EXPECT_EQ(dialog.HelpContext(), 103);
}

TEST_F(Window, HelpPagesByContextNumber)
{
    THTMLHelp help((fs::path(ZELT_TEST_DATA_DIR) / "help" / "index.html").string());
    EXPECT_EQ(help.TopicPage(103), "options-communication.html");
    EXPECT_EQ(help.ShowTopic(103), 1);
    ASSERT_NE(help.Viewer(), nullptr);
    EXPECT_TRUE(help.Viewer()->source().toString().endsWith("options-communication.html"));
    EXPECT_NE(help.Viewer()->toPlainText().indexOf("Communication type"), -1);
    THTMLHelp missing((home.Root() / "none.html").string());
    ScopedPromptScript script;
    EXPECT_FALSE(missing.ShowHelp());
    EXPECT_EQ(script.Asked().at(0).text, "Unable to find the help file!\n" + (home.Root() / "none.html").string());
}

TEST(StationSettings, ReadKeyByKeyWithDefaults)
{
    std::map<std::string, std::string> store{{"Speed", "7"}, {"TypeCom", "two"}, {"AutoRecord", "1"},
                                             {"MODEMNbRings", "4"}, {"SepList", ""}, {"StopAfter2FF", "maybe"}};
    TSettingsSection sec;
    sec.Get = [&](const std::string& k, std::string& v) {
        auto it = store.find(k);
        if (it == store.end()) return false;
        v = it->second;
        return true;
    };
    sec.Set = [&](const std::string& k, const std::string& v) {
        store[k] = v;
        return true;
    };
    TStationSettings s;
    LoadStationSettings(s, sec);
    EXPECT_EQ(s.Speed, 9600);
    EXPECT_EQ(s.TypeCom, TypeComSerial);  // a bad value keeps its default ...
    EXPECT_TRUE(s.AutoRecord);            // ... and the others still load
    EXPECT_EQ(s.MODEMNbRings, 4);
    EXPECT_EQ(s.SepList, ",");
    EXPECT_TRUE(s.StopAfter2FF);
    ASSERT_TRUE(SaveStationSettings(s, sec));
    EXPECT_EQ(store["Speed"], "9600");
    TStationSettings again;
    again.AutoRecord = false;
    LoadStationSettings(again, sec);
    EXPECT_TRUE(again.AutoRecord);
    EXPECT_EQ(again.TypeCom, TypeComSerial);
}

TEST_F(Window, ShowsADownloadFromTheSimulator)
{
    zsim::SimProcess sim;
    ASSERT_TRUE(sim.Start(zsim::SimProcess::DefaultProgram(),
                          {"--pty", "--link", (home.Root() / "tty").string(), "--clock-offset", "-40"},
                          (home.Root() / "report.txt").string()));
    TStationSettings& s = frm->Settings();
    s.PortNum = (home.Root() / "tty").string();
    s.AutoRecord = true;
    s.AutoRecordPath = (home.Root() / "rec").string() + "/";
    s.CreateASCIIFiles = true;
    frm->Core().ConfigureMedia();
    frm->resize(900, 640);
    frm->show();
    frm->ConnecterMnuClick();
    WaitUntil([&] { return frm->Core().Transmissions().Count() > 0; });
    ASSERT_EQ(frm->Core().Transmissions().Count(), 1) << frm->Memo->toPlainText().toStdString();
    QApplication::processEvents();
    EXPECT_EQ(Rows(), 12);
    EXPECT_EQ(frm->DataLbl->text(), "12 scenarios");
    EXPECT_TRUE(frm->ConnectionPanel->isVisible());
    EXPECT_NE(frm->Memo->toPlainText().indexOf("Smart correction intrument time of 40"), -1);
    EXPECT_TRUE(frm->windowTitle().startsWith("ZELT Win - "));
    EXPECT_TRUE(frm->ConnectAct->isEnabled());
    EXPECT_FALSE(frm->StopAct->isEnabled());
    const QImage shot = frm->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // Kept beside the test programs for the README.
    if (const char* bin = std::getenv("ZELT_BIN_DIR")) shot.save(QString(bin) + "/station-main-window.png");
    frm->ConnecterMnuClick();
}

TEST_F(Window, DetailWindowNeverKeepsADeletedEvent)
{
    frm->OpenFile(WriteData("a.Q5", Image(3)));
    Select(1);
    frm->DetailMnuClick();
    auto* detail = frm->findChild<TScnInfoFrm*>();
    ASSERT_NE(detail, nullptr);
    EXPECT_FALSE(detail->isHidden());
    frm->DeleteMnuClick();  // the event shown is freed: the window lets go of it first
    EXPECT_EQ(Rows(), 2);
    Select(0);
    frm->DetailMnuClick();
    EXPECT_EQ(frm->findChildren<TScnInfoFrm*>().size(), 1);
}

TEST_F(Window, OptionsHelpButtonShowsThePageOfTheTab)
{
    frm->show();
    QTextBrowser* shownDuring = nullptr;
    QTimer::singleShot(0, frm.get(), [&] {
        auto* dialog = frm->findChild<TConfFrm*>();
        ASSERT_NE(dialog, nullptr);
        dialog->Pages->setCurrentWidget(dialog->CommPage);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
        QApplication::processEvents();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QTextBrowser*>(w); b && b->isVisible()) shownDuring = b;
        dialog->reject();
    });
    frm->ConfigBtnClick();
    ASSERT_NE(shownDuring, nullptr);
    // The help window stays after the dialog is gone, on the communication page.
    QApplication::processEvents();
    bool stillShown = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QTextBrowser*>(w); b && b->isVisible()) {
            stillShown = true;
            EXPECT_TRUE(b->source().toString().endsWith("options-communication.html"));
        }
    EXPECT_TRUE(stillShown);
}

TEST_F(Window, DetailIsAWindowOfItsOwnWithTheDecodedValues)
{
    frm->resize(900, 640);
    frm->show();
    frm->OpenFile(Sample());
    Select(1);
    frm->DetailMnuClick();
    auto* detail = frm->findChild<TScnInfoFrm*>();
    ASSERT_NE(detail, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(detail->isWindow());
    EXPECT_TRUE(detail->isVisible());
    EXPECT_GE(detail->width(), 300);
    EXPECT_GE(detail->height(), 200);
    TEvenement* shown = frm->Q5File()->Events[1];
    EXPECT_EQ(detail->Evt(), shown);
    EXPECT_EQ(detail->windowTitle(), AnsiToQString(shown->DescString()));
    ASSERT_GT(detail->MesListView->count(), 0);
    // Every value line is wide enough to be read whole.
    for (int i = 0; i < detail->MesListView->count(); ++i) {
        const QString text = detail->MesListView->item(i)->text();
        EXPECT_LE(detail->MesListView->fontMetrics().horizontalAdvance(text) + 40, detail->MesListView->viewport()->width())
            << text.toStdString();
    }
}

namespace {

// The main window with the parameter decoding of each plug-in run watched.
class WatchedFrm : public TZELTFrm {
public:
    using TZELTFrm::TZELTFrm;
    void* DecodeStationParams() override
    {
        void* p = TZELTFrm::DecodeStationParams();
        decoded.push_back(p);
        return p;
    }
    void FreeStationParams(void* p) override
    {
        freed.push_back(p);
        TZELTFrm::FreeStationParams(p);
    }
    std::vector<void*> decoded, freed;
};

}  // namespace

TEST_F(Window, PlugInRunsFreeTheDecodedParametersWhateverTheResult)
{
    ScopedTestHome::Write(ini, "[General]\r\nShowScnError=1\r\nPlugInsDirectory=" + std::string(ZELT_TEST_PLUGIN_DIR) + "\r\n");
    frm.reset();
    zelt = std::make_unique<TZELT>(std::vector<std::string>{"zelt", "-CONFIG=" + ini});
    auto watched = std::make_unique<WatchedFrm>(*zelt, std::vector<std::string>{"-CONFIG=" + ini});
    watched->show();
    watched->OpenFile(Sample());
    const int events = watched->Q5File()->Events.Count();
    ScopedPromptScript script;  // the throwing plug-in's warning
    QMenu* processing = watched->ProcessingMenu();
    int runs = 0;
    for (const char* caption : {"Test plain", "Test plain", "Test throwing", "Test refusing"})
        for (QAction* a : processing->actions())
            if (a->text() == caption) {
                a->trigger();  // the plain plug-in's run reloads the data file
                ++runs;
            }
    ASSERT_EQ(runs, 4);
    ASSERT_EQ(watched->decoded.size(), 4u);
    EXPECT_NE(watched->decoded[0], nullptr);
    EXPECT_EQ(watched->freed, watched->decoded);
    EXPECT_EQ(watched->Q5File()->Events.Count(), events);
}

TEST_F(Window, CommunicationLogKeepsItsLastFiftyTextLines)
{
    frm->resize(700, 500);
    frm->show();
    frm->ConnectionPanel->show();
    QApplication::processEvents();
    std::string words;
    for (int i = 0; i < 40; ++i) words += " received";
    for (int i = 1; i <= 301; ++i) frm->Core().LogInfoToDialog("line " + std::to_string(i) + words);
    QApplication::processEvents();
    EXPECT_EQ(frm->Memo->blockCount(), 50);
    EXPECT_TRUE(frm->Memo->document()->firstBlock().text().startsWith("line 252 ")) << frm->Memo->document()->firstBlock().text().toStdString();
    EXPECT_TRUE(frm->Memo->document()->lastBlock().text().startsWith("line 301 "));
}

TEST_F(Window, ToolBarButtonsKeepTheirIconsWithoutTextLabels)
{
    frm->show();
    QApplication::processEvents();
    std::vector<QAction*> actions = frm->UpperButtons;
    actions.push_back(frm->ConnectAct);
    actions.push_back(frm->StopAct);
    std::vector<int> withText;
    for (QAction* a : actions) {
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
        withText.push_back(frm->UpperToolBar->widgetForAction(a)->sizeHint().width());
    }
    // "Text labels" off, from the tool bar's pop-up menu.
    frm->TextLabelsAct->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(frm->ShowToolBarCaption());
    for (size_t i = 0; i < actions.size(); ++i) {
        auto* b = qobject_cast<QToolButton*>(frm->UpperToolBar->widgetForAction(actions[i]));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_LT(b->sizeHint().width(), withText[i]) << actions[i]->text().toStdString();
    }
    frm->TextLabelsAct->trigger();
    EXPECT_TRUE(frm->ShowToolBarCaption());
}

namespace {

QAction* MenuAction(QMainWindow* window, const QString& text)
{
    for (QMenu* menu : window->menuBar()->findChildren<QMenu*>())
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
    return nullptr;
}

// Runs a command that opens a modal window; `look` sees the window shown, which is then closed.
void WithModal(const std::function<void()>& open, const std::function<void(QWidget*)>& look)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        seen = true;
        QApplication::processEvents();
        look(w);
        if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
        else w->close();
    });
    open();
    EXPECT_TRUE(seen);
}

// The window is at least as large as its controls ask (within the screen), every tab title is in
// view and every column of its lists is as wide as its title and widest cell.
void ExpectShowsContents(QWidget* w)
{
    const std::string name = w->objectName().toStdString() + " \"" + w->windowTitle().toStdString() + "\"";
    const QSize room = w->screen()->availableGeometry().size() * 9 / 10;
    const QSize hint = w->sizeHint().boundedTo(room);
    EXPECT_GE(w->width(), hint.width()) << name;
    EXPECT_GE(w->height(), hint.height()) << name;
    for (QTabWidget* tabs : w->findChildren<QTabWidget*>()) {
        QTabBar* bar = tabs->tabBar();
        EXPECT_LE(bar->tabRect(bar->count() - 1).right(), bar->width()) << name;
    }
    for (QTreeView* view : w->findChildren<QTreeView*>()) {
        if (!view->isVisible() || view->window() != w || view->header()->isHidden()) continue;
        QHeaderView* header = view->header();
        for (int c = 0; c < header->count(); ++c) {
            // A stretched last column takes what is left: at the screen's limit it may be cut.
            const bool stretched = header->stretchLastSection() && c == header->count() - 1;
            if (stretched && w->width() >= room.width()) continue;
            const int need = std::max(header->sectionSizeHint(c), static_cast<QAbstractItemView*>(view)->sizeHintForColumn(c));
            EXPECT_GE(header->sectionSize(c), need) << name << " column " << c << " "
                                                    << view->model()->headerData(c, Qt::Horizontal).toString().toStdString();
        }
    }
}

}  // namespace

TEST_F(Window, EveryWindowOpensAtASizeThatShowsItsContents)
{
    Make({"-debug"});
    frm->show();
    QApplication::processEvents();
    ExpectShowsContents(frm.get());
    frm->OpenFile(Sample());
    WithModal([&] { frm->ConfigBtnClick(); }, ExpectShowsContents);
    WithModal([&] { frm->ParamEditMnuClick(); }, [](QWidget* w) {
        ExpectShowsContents(w);
        // Names and values read whole, not cut to "Nam" and "Valu".
        auto* list = w->findChild<QTreeWidget*>("ParListView");
        ASSERT_NE(list, nullptr);
        ASSERT_GT(list->topLevelItemCount(), 0);
        EXPECT_GE(list->columnWidth(0), list->fontMetrics().horizontalAdvance("Name") + 10);
        EXPECT_GE(list->columnWidth(1), list->fontMetrics().horizontalAdvance("Value") + 10);
    });
    for (const char* command : {"Transmissions historic...", "Convert in ASCII...", "Merge the Q5 files...",
                                "Conversion tools...", "Information about the scenarios...", "Scripts edition..."}) {
        QAction* a = MenuAction(frm.get(), command);
        ASSERT_NE(a, nullptr) << command;
        if (std::string(command) == "Scripts edition..." && !frm->Scripts) continue;
        WithModal([&] { a->trigger(); }, ExpectShowsContents);
    }
    WithModal([&] { frm->AboutMnuClick(); }, ExpectShowsContents);
}

TEST_F(Window, SavedPlacementWinsOverTheFittedSize)
{
    frm->show();
    QApplication::processEvents();
    const QSize fitted = frm->size();
    frm->resize(fitted + QSize(120, 80));
    QApplication::processEvents();
    const QSize chosen = frm->size();
    frm->close();
    Make({});
    EXPECT_EQ(frm->size(), chosen);
}
