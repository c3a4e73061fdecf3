#pragma once
// The station program's help: HTML pages in the installed data folder ("help/index.html" is the
// summary) with a map from context numbers to pages ("help/map.txt", lines "number=page"), shown in
// a help window of the program.
#include <string>

class QTextBrowser;

class THTMLHelp {
public:
    // helpFile: the summary page; the map and the other pages lie beside it.
    explicit THTMLHelp(const std::string& helpFile);
    ~THTMLHelp();
    THTMLHelp(const THTMLHelp&) = delete;
    THTMLHelp& operator=(const THTMLHelp&) = delete;

    bool ShowHelp();
    // 1 when a page was shown, 0 otherwise. A number without a page shows the summary.
    int ShowTopic(int context);
    // False, with a warning naming the path, when the summary page is missing.
    bool CheckHelpFile();
    // The page of a context number ("" when the map has none).
    std::string TopicPage(int context) const;
    const std::string& HelpFile() const { return FHelpFile; }
    // The window that shows the pages (created on first use).
    QTextBrowser* Viewer() const { return FViewer; }

private:
    bool Show(const std::string& page);
    std::string FHelpFile;
    QTextBrowser* FViewer = nullptr;
};
