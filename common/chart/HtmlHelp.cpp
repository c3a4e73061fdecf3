#include "common/chart/HtmlHelp.h"

#include <QTextBrowser>
#include <QUrl>

#include <fstream>

#include "common/FileUtils.h"
#include "common/Prompt.h"

THTMLHelp::THTMLHelp(const std::string& helpFile) : FHelpFile(helpFile) {}

THTMLHelp::~THTMLHelp() { delete FViewer; }

bool THTMLHelp::CheckHelpFile()
{
    if (FileExists(FHelpFile)) return true;
    ShowWarning(TextWithFileName("Unable to find the help file!\n", FHelpFile));
    return false;
}

std::string THTMLHelp::TopicPage(int context) const
{
    std::ifstream in(ExtractFileDir(FHelpFile) + "/map.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#') continue;
        try {
            if (std::stoi(line.substr(0, eq)) == context) return line.substr(eq + 1);
        } catch (const std::exception&) {
            continue;  // a line that is not "number=page"
        }
    }
    return {};
}

bool THTMLHelp::Show(const std::string& page)
{
    if (!FViewer) {
        FViewer = new QTextBrowser();
        FViewer->setWindowTitle(QStringLiteral("ZELT Win - Help"));
        FViewer->setOpenExternalLinks(true);
        FViewer->resize(640, 520);
    }
    FViewer->setSource(QUrl::fromLocalFile(QString::fromStdString(page)));
    FViewer->show();
    FViewer->raise();
    return true;
}

bool THTMLHelp::ShowHelp()
{
    if (!CheckHelpFile()) return false;
    return Show(FHelpFile);
}

int THTMLHelp::ShowTopic(int context)
{
    if (!CheckHelpFile()) return 0;
    const std::string page = TopicPage(context);
    const std::string path = ExtractFileDir(FHelpFile) + "/" + page;
    return Show(!page.empty() && FileExists(path) ? path : FHelpFile) ? 1 : 0;
}
