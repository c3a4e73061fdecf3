#include "common/analysis/RadioAboutBox.h"

#include "common/Prompt.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace radio {

TAboutBox::TAboutBox(const std::string& productLine, const std::string& versionLabel,
                     const std::string& fileVersion, QWidget* parent)
    : QDialog(parent), FFileVersion(fileVersion)
{
    setObjectName("AboutBox");
    setWindowTitle("About");
    auto* layout = new QVBoxLayout(this);
    ProductName = new QLabel(AnsiToQString(productLine), this);
    ProductName->setObjectName("ProductName");
    QFont big = ProductName->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    ProductName->setFont(big);
    Version = new QLabel(AnsiToQString(versionLabel), this);
    Version->setObjectName("Version");
    Version->installEventFilter(this);
    Comments = new QLabel("ZELTWin Plug-Ins", this);
    Comments->setObjectName("Comments");
    layout->addWidget(ProductName);
    layout->addWidget(Version);
    layout->addWidget(Comments);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setDefault(true);
    buttons->addWidget(OKButton);
    layout->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::VersionClick() { ShowInfo("Build " + FFileVersion); }

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Version && event->type() == QEvent::MouseButtonRelease) {
        VersionClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace radio
