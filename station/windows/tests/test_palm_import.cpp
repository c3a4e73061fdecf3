#include "common/IniFile.h"
#include "common/Prompt.h"
#include "common/Zelt.h"
#include "common/Q5File.h"
#include "station/link/ComPort.h"
#include "common/tests/support/Q5Images.h"
#include "station/windows/PalmImport.h"
#include "station/windows/PalmImportFrm.h"
#include "station/windows/tests/TestApp.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include "common/tests/support/TestWait.h"

using q5test::Bytes;

namespace {

std::string Repeat(const std::string& pair, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i) s += pair;
    return s;
}

// A record file: the parameter block, then `dataBlocks` blocks of data, then the given erased and
// trailing data blocks (so that reading too far would show).
Bytes RecordFile(uint8_t type, int dataBlocks, int erasedBlocks, int trailingBlocks)
{
    Bytes file = q5test::MakeParamBlock(type, "SP" + std::to_string(type) + "0001");
    for (int b = 0; b < dataBlocks; ++b)
        for (int i = 0; i < PalmBlockSize; ++i) file.push_back(uint8_t((b * 31 + i) % 250));
    file.insert(file.end(), size_t(erasedBlocks * PalmBlockSize), 0xFF);
    file.insert(file.end(), size_t(trailingBlocks * PalmBlockSize), 0x11);
    return file;
}

TEST(PalmProtocol, CommandsCountAndBlocks)
{
    EXPECT_EQ(PalmRecordCountCommand(), "RC");
    EXPECT_EQ(PalmBlockCommand(0, 0), "GR00000000");
    EXPECT_EQ(PalmBlockCommand(0x1a, 0x7f), "GR001a007f");
    EXPECT_EQ(PalmParseRecordCount("12"), 12);
    EXPECT_EQ(PalmParseRecordCount(""), 0);
    EXPECT_EQ(PalmParseRecordCount("1x"), 0);
    EXPECT_EQ(PalmParseRecordCount("-3"), 0);
    EXPECT_EQ(PalmParseRecordCount("65535"), 65535);
    EXPECT_EQ(PalmParseRecordCount("70000"), PalmMaxRecords);
    EXPECT_EQ(PalmParseRecordCount("99999999999999999999999"), PalmMaxRecords);

    uint8_t out[PalmBlockSize];
    std::fill(out, out + PalmBlockSize, 0x55);
    EXPECT_FALSE(PalmDecodeBlock(Repeat("AB", 255), out));
    EXPECT_FALSE(PalmDecodeBlock(Repeat("AB", 256) + "0", out));
    EXPECT_FALSE(PalmDecodeBlock(Repeat("AB", 255) + "G1", out));
    EXPECT_EQ(out[0], 0x55);  // untouched by a refused reply
    ASSERT_TRUE(PalmDecodeBlock("0aF1" + Repeat("00", 254), out));
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0xF1);
}

TEST(PalmProtocol, RecordReaderStopsAfterTwoErasedBlocksOrTheLast)
{
    TPalmRecordReader reader;
    EXPECT_EQ(reader.StoreBlock(Repeat("01", 256)), TPalmRecordReader::More);  // parameter block
    EXPECT_EQ(reader.StoreBlock(Repeat("FF", 256)), TPalmRecordReader::More);  // one erased block
    EXPECT_EQ(reader.StoreBlock(Repeat("02", 256)), TPalmRecordReader::More);
    EXPECT_EQ(reader.EmptyCount(), 0);
    EXPECT_EQ(reader.StoreBlock(Repeat("FF", 255) + "FE"), TPalmRecordReader::More);
    EXPECT_EQ(reader.StoreBlock(Repeat("FF", 256)), TPalmRecordReader::More);
    EXPECT_EQ(reader.StoreBlock(Repeat("FF", 255)), TPalmRecordReader::BadBlock);
    EXPECT_EQ(reader.NextBlock(), 5);
    EXPECT_EQ(reader.StoreBlock(Repeat("ff", 256)), TPalmRecordReader::Complete);
    EXPECT_EQ(reader.File().ImageLength, PalmImageSize);
    EXPECT_EQ(reader.File().Image[2 * 256 + 7], 0x02);
    EXPECT_EQ(reader.File().Image[3 * 256 + 255], 0xFE);

    TPalmRecordReader full;
    for (int b = 0; b < PalmBlockCount - 1; ++b) ASSERT_EQ(full.StoreBlock(Repeat("33", 256)), TPalmRecordReader::More);
    EXPECT_EQ(full.StoreBlock(Repeat("44", 256)), TPalmRecordReader::Complete);
    EXPECT_EQ(full.File().Image[PalmImageSize - 1], 0x44);
}

// The handheld simulator on its own pseudo-terminal.
class Handheld {
public:
    explicit Handheld(const QStringList& args)
    {
        QString dir = qEnvironmentVariable("ZELT_BIN_DIR");
        if (dir.isEmpty()) dir = QCoreApplication::applicationDirPath();
        process.start(dir + "/zelt-handheld", args);
        if (!process.waitForStarted(kTestDeadlineMs)) return;
        WaitUntilReading(process, [&] { return process.canReadLine() || process.state() == QProcess::NotRunning; });
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (line.startsWith("PTY ")) pty = line.mid(4);
    }
    ~Handheld()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(kTestDeadlineMs)) process.kill();
        process.waitForFinished(kTestDeadlineMs);
    }
    QProcess process;
    QString pty;
};


class PalmImportDialog : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }

    std::unique_ptr<Handheld> Start(const std::vector<Bytes>& records, QStringList faults = {})
    {
        QStringList args;
        for (size_t i = 0; i < records.size(); ++i) {
            const std::string path = dir.File("rec" + std::to_string(i) + ".bin");
            q5test::WriteFile(path, records[i]);
            args << "--q5" << QString::fromStdString(path);
        }
        auto h = std::make_unique<Handheld>(args + faults);
        EXPECT_FALSE(h->pty.isEmpty()) << "zelt-handheld did not start";
        return h;
    }

    std::unique_ptr<TPalmImportFrm> Dialog(const Handheld& h)
    {
        auto frm = std::make_unique<TPalmImportFrm>(nullptr, true, [this](const std::string& line) {
            errors.push_back(line);
        });
        frm->AskSaveName = [this](const std::string& folder, const std::string& proposed) {
            asked.push_back(proposed);
            folders.push_back(folder);
            if (answers.empty()) return std::string();
            std::string a = answers.front();
            answers.erase(answers.begin());
            return a;
        };
        frm->CommPortCmbBx->setEditText(h.pty);
        return frm;
    }

    // Connects and waits for the record list (or the end of the connection).
    static void Connect(TPalmImportFrm& frm)
    {
        frm.PalmConnectBtnClick();
        EXPECT_TRUE(WaitUntil([&] {
            return frm.CurrentPhase() == TPalmImportFrm::PhaseWaiting || !frm.Connected();
        }));
    }

    q5test::TempDir dir;
    std::vector<std::string> errors, asked, folders, answers;
};

TEST_F(PalmImportDialog, NoRecordWarnsAndDisconnects)
{
    auto h = Start({});
    auto frm = Dialog(*h);
    EXPECT_EQ(frm->StatusLbl->text(), "Not connected!");
    EXPECT_EQ(frm->CommPortCmbBx->count() >= 16, true);
    EXPECT_EQ(frm->CommPortCmbBx->itemText(15), "COM16");
    ScopedPromptScript script;
    frm->PalmConnectBtnClick();
    EXPECT_TRUE(frm->Connected());
    EXPECT_EQ(frm->PalmConnectBtn->text(), "Deconnection");
    ASSERT_TRUE(WaitUntil([&] { return !script.Texts().empty(); }));
    EXPECT_EQ(script.Texts(), std::vector<std::string>{"No record available in the connected Palm!"});
    EXPECT_FALSE(frm->Connected());
    EXPECT_FALSE(frm->PalmCom->Connected());
    EXPECT_EQ(frm->StatusLbl->text(), "Not connected!");
    EXPECT_EQ(frm->PalmConnectBtn->text(), "Connection");
    EXPECT_EQ(frm->DataListView->topLevelItemCount(), 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(PalmImportDialog, SettingsAndStationColumns)
{
    // Settings in an alternate ini file of the temporary folder, with a PAR file naming the station.
    const std::string par = dir.File("par");
    std::filesystem::create_directories(par);
    q5test::WriteText(par + "/SP0A0001.PAR",
                      "0 test parameters\nT test\n"
                      "P Station  NNUM 0 20 8 0 0 255 0 1 1 0 D\n"
                      "P Country  NCOU 0 21 8 0 0 255 0 1 1 0 D\n"
                      "P District NDIS 0 22 8 0 0 255 0 1 1 0 D\n");
    const std::string ini = dir.File("zelt.ini");
    q5test::WriteText(ini, "[General]\nPARDirectory=" + par + "\nDefaultPalmCom=2\nDefaultPalmOutDir=" +
                               dir.File("first") + "\n");
    Bytes record = RecordFile(0x0A, 1, 2, 0);
    Bytes param = q5test::MakeParamBlock(0x0A, "SP0A0001");
    param[20] = 42;
    param[21] = 7;
    param[22] = 3;
    std::copy(param.begin(), param.end(), record.begin());
    auto h = Start({record});
    {
        ScopedPromptScript quiet;
        TZELT zelt({"zelt", "-CONFIG:" + ini});
        auto frm = std::make_unique<TPalmImportFrm>(&zelt, false, nullptr);
        EXPECT_EQ(frm->CommPortCmbBx->currentText(), "COM3");
        EXPECT_FALSE(frm->DebugMemo->isVisibleTo(frm.get()));
        frm->AskSaveName = [this](const std::string& folder, const std::string& proposed) {
            asked.push_back(proposed);
            folders.push_back(folder);
            return dir.File("second/x.q5");
        };
        frm->CommPortCmbBx->setEditText(h->pty);
        Connect(*frm);
        ASSERT_EQ(frm->DataListView->topLevelItemCount(), 1);
        QTreeWidgetItem* row = frm->DataListView->topLevelItem(0);
        EXPECT_EQ(row->text(0), "42");
        EXPECT_EQ(row->text(1), "7");
        EXPECT_EQ(row->text(2), "3");
        row->setSelected(true);
        frm->SaveBtnClick();
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir.File("second/x.q5")); }));
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0], "P42_" + QDate::currentDate().toString("ddMM").toStdString() + ".q5");
        EXPECT_EQ(folders[0], dir.File("first"));
    }
    TIniFile saved{std::filesystem::path(ini)};
    EXPECT_EQ(saved.ReadInteger("General", "DefaultPalmCom", -1), 2);
    EXPECT_EQ(saved.ReadString("General", "DefaultPalmOutDir", ""), dir.File("second/"));
}

TEST_F(PalmImportDialog, PortThatCannotBeOpenedWarns)
{
    auto frm = std::make_unique<TPalmImportFrm>(nullptr, false, nullptr);
    frm->CommPortCmbBx->setEditText(QString::fromStdString(dir.File("no-such-tty")));
    ScopedPromptScript script;
    frm->PalmConnectBtnClick();
    ASSERT_EQ(script.Texts().size(), 1u);
    EXPECT_NE(script.Texts()[0].find("no-such-tty"), std::string::npos);
    EXPECT_FALSE(frm->Connected());
    EXPECT_EQ(frm->StatusLbl->text(), "Not connected!");
}

TEST_F(PalmImportDialog, RecordIsSavedAfterTwoErasedBlocks)
{
    const Bytes record = RecordFile(3, 5, 2, 1);
    auto h = Start({record});
    auto frm = Dialog(*h);
    Connect(*frm);
    ASSERT_EQ(frm->CurrentPhase(), TPalmImportFrm::PhaseWaiting);
    EXPECT_EQ(frm->StatusLbl->text(), "Waiting...");
    ASSERT_EQ(frm->DataListView->topLevelItemCount(), 1);
    EXPECT_TRUE(frm->SaveBtn->isEnabled());
    EXPECT_FALSE(frm->DataListView->topLevelItem(0)->text(3).isEmpty());

    const std::string target = dir.File("out/first.q5");
    answers = {target};
    frm->DataListView->topLevelItem(0)->setSelected(true);
    frm->SaveBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return frm->CurrentPhase() == TPalmImportFrm::PhaseWaiting || !frm->Connected(); }));
    ASSERT_EQ(asked.size(), 1u);
    const std::string proposed = "P" + frm->DataListView->topLevelItem(0)->text(0).toStdString() + "_" +
                                 QDate::currentDate().toString("ddMM").toStdString() + ".q5";
    EXPECT_EQ(asked[0], proposed);
    EXPECT_TRUE(errors.empty());
    const Bytes saved = q5test::ReadFile(target);
    ASSERT_EQ(saved.size(), size_t(PalmImageSize));
    // Blocks 0-7 as the handheld holds them, everything after stays erased (block 8 is never read).
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + 8 * PalmBlockSize, saved.begin()));
    EXPECT_TRUE(std::all_of(saved.begin() + 8 * PalmBlockSize, saved.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_FALSE(frm->DataListView->topLevelItem(0)->isSelected());
    EXPECT_EQ(frm->OutputDir(), dir.File("out/"));
}

TEST_F(PalmImportDialog, SelectedRowsSavedInTurnUntilCancelled)
{
    auto h = Start({RecordFile(1, 2, 2, 0), RecordFile(2, 3, 2, 0), RecordFile(3, 1, 2, 0)});
    auto frm = Dialog(*h);
    Connect(*frm);
    ASSERT_EQ(frm->DataListView->topLevelItemCount(), 3);
    for (int i = 0; i < 3; ++i) frm->DataListView->topLevelItem(i)->setSelected(true);

    answers = {dir.File("a.q5"), ""};
    frm->SaveBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return asked.size() == 2 && frm->CurrentPhase() == TPalmImportFrm::PhaseWaiting; }));
    EXPECT_TRUE(std::filesystem::exists(dir.File("a.q5")));
    EXPECT_FALSE(frm->DataListView->topLevelItem(0)->isSelected());
    EXPECT_TRUE(frm->DataListView->topLevelItem(1)->isSelected());
    EXPECT_TRUE(frm->DataListView->topLevelItem(2)->isSelected());
    EXPECT_EQ(folders[1], dir.Path() + "/");

    answers = {dir.File("b.q5"), dir.File("c.q5")};
    frm->SaveBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return asked.size() == 4 && frm->CurrentPhase() == TPalmImportFrm::PhaseWaiting; }));
    EXPECT_EQ(q5test::ReadFile(dir.File("b.q5"))[0], 2);
    EXPECT_EQ(q5test::ReadFile(dir.File("c.q5"))[0], 3);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(frm->DataListView->topLevelItem(i)->isSelected());
    EXPECT_TRUE(frm->Connected());
    EXPECT_TRUE(errors.empty());
}

TEST_F(PalmImportDialog, FailedSaveWarnsAndKeepsTheRowSelected)
{
    auto h = Start({RecordFile(1, 1, 2, 0)});
    auto frm = Dialog(*h);
    Connect(*frm);
    q5test::WriteText(dir.File("plain"), "x");
    answers = {dir.File("plain/inside.q5")};  // a folder that is a file
    frm->DataListView->topLevelItem(0)->setSelected(true);
    ScopedPromptScript script;
    frm->SaveBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return !script.Texts().empty(); }));
    EXPECT_NE(script.Texts()[0].find("inside.q5"), std::string::npos);
    EXPECT_EQ(frm->CurrentPhase(), TPalmImportFrm::PhaseWaiting);
    EXPECT_TRUE(frm->DataListView->topLevelItem(0)->isSelected());
    EXPECT_EQ(asked.size(), 1u);  // no second dialog for the same row
}

TEST_F(PalmImportDialog, WrongChecksumEndsTheConnection)
{
    auto h = Start({RecordFile(1, 5, 2, 0)}, {"--bad-checksum", "GR00000003"});
    auto frm = Dialog(*h);
    Connect(*frm);
    answers = {dir.File("bad.q5")};
    frm->DataListView->topLevelItem(0)->setSelected(true);
    frm->SaveBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return !frm->Connected(); }));
    EXPECT_EQ(errors, std::vector<std::string>{"Communication problem with the Palm (Error code : -1)"});
    EXPECT_EQ(frm->StatusLbl->text(), "Not connected!");
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.q5")));
    EXPECT_EQ(frm->DataListView->topLevelItemCount(), 0);
}

TEST_F(PalmImportDialog, ShortBlockSavesNothing)
{
    auto h = Start({RecordFile(1, 5, 2, 0)}, {"--short-block", "GR00000002"});
    auto frm = Dialog(*h);
    Connect(*frm);
    answers = {dir.File("short.q5")};
    frm->DataListView->topLevelItem(0)->setSelected(true);
    frm->SaveBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return !frm->Connected(); }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Communication problem with the Palm (Error code : -3)");
    EXPECT_FALSE(std::filesystem::exists(dir.File("short.q5")));
}

TEST_F(PalmImportDialog, ShortHeaderIsALinkError)
{
    auto h = Start({RecordFile(1, 1, 2, 0), RecordFile(2, 1, 2, 0)}, {"--short-block", "GR00010000"});
    auto frm = Dialog(*h);
    Connect(*frm);
    EXPECT_FALSE(frm->Connected());
    EXPECT_EQ(errors, std::vector<std::string>{"Communication problem with the Palm (Error code : -3)"});
}

TEST_F(PalmImportDialog, SilentHandheldTimesOut)
{
    auto h = Start({RecordFile(1, 1, 2, 0)}, {"--silent", "RC"});
    auto frm = Dialog(*h);
    frm->PalmConnectBtnClick();
    ASSERT_TRUE(WaitUntil([&] { return !frm->Connected(); }));
    EXPECT_EQ(errors, std::vector<std::string>{"Communication problem with the Palm (Error code : -2)"});
}

}  // namespace
