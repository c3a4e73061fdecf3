#include "station/AboutBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "common/Prompt.h"
#include "common/ScnType.h"
#include "common/Utils.h"
#include "station/ZELTFrm.h"
#include "station/windows/DialogParts.h"

TAboutBox::TAboutBox(TZELTFrm& main) : QDialog(&main), FMain(main)
{
    setWindowTitle("About");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout();
    Icon = new QLabel(this);
    Icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
    Icon->installEventFilter(this);
    top->addWidget(Icon);
    auto* texts = new QVBoxLayout();
    texts->addWidget(new QLabel("<b>ZELT Win</b>", this));
    texts->addWidget(new QLabel("Station software of the automatic sun photometers", this));
    VersionLbl = new QLabel("Version " + QString::fromStdString(GetProductVersionString(std::string(), nullptr)), this);
    VersionLbl->installEventFilter(this);
    texts->addWidget(VersionLbl);
    ExpertLbl = new QLabel("(Expert mode)", this);
    ExpertLbl->setVisible(main.ModeExpert());
    texts->addWidget(ExpertLbl);
    top->addLayout(texts);
    layout->addLayout(top);
    auto* buttons = new QHBoxLayout();
    auto* plus = new QPushButton("+", this);
    plus->setFixedWidth(28);
    connect(plus, &QPushButton::clicked, this, [this] { ShowBuild(); });
    auto* ok = new QPushButton("OK", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(plus);
    buttons->addStretch();
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    FitWindowToContents(this);
}

void TAboutBox::ShowBuild()
{
    const int types = gListScn ? static_cast<int>(gListScn->Items.size()) : 0;
    ShowInfo("Executable Build Number : " + FMain.GetBuildText() + "\nNumber of decoded scenarios : " +
             std::to_string(types));
}

void TAboutBox::ToggleExpertMode()
{
    FMain.SetModeExpert(!FMain.ModeExpert());
    ExpertLbl->setVisible(FMain.ModeExpert());
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == VersionLbl && event->type() == QEvent::MouseButtonRelease) {
        ShowBuild();
        return true;
    }
    if (watched == Icon && event->type() == QEvent::MouseButtonDblClick) {
        ToggleExpertMode();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

TSplashScreenFrm* TSplashScreenFrm::Current = nullptr;

TSplashScreenFrm::TSplashScreenFrm() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    Current = this;
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel("<h2>ZELT Win</h2>", this);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* label = new QLabel("Software init...", this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(320, 140);
    FitWindowToContents(this);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    setWindowOpacity(1.0);
    FFade.setInterval(20);
    connect(&FFade, &QTimer::timeout, this, [this] {
        if (FOpacity > 9) {
            FOpacity -= 5;
            setWindowOpacity(FOpacity / 255.0);
        } else {
            FFade.stop();
            close();
        }
    });
    FFade.start();
}

void TSplashScreenFrm::closeEvent(QCloseEvent* event)
{
    if (Current == this) Current = nullptr;
    QWidget::closeEvent(event);
}
