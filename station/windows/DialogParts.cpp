#include "station/windows/DialogParts.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <QGroupBox>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

QGroupBox* ProgressGroup(QWidget* parent, const QString& title, QProgressBar*& bar)
{
    auto* group = new QGroupBox(title, parent);
    bar = new QProgressBar(group);
    (new QVBoxLayout(group))->addWidget(bar);
    return group;
}

QHBoxLayout* OkCancelRow(QDialog* dialog)
{
    auto* ok = new QPushButton("OK", dialog);
    auto* cancel = new QPushButton("Cancel", dialog);
    ok->setObjectName("OKBtn");
    cancel->setObjectName("CancelBtn");
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}

QHBoxLayout* HelpOkCancelRow(QDialog* dialog, int helpContext, const std::function<void(int)>* onHelp)
{
    QHBoxLayout* row = OkCancelRow(dialog);
    auto* help = new QPushButton("&Help", dialog);
    row->insertWidget(0, help);
    QObject::connect(help, &QPushButton::clicked, dialog, [onHelp, helpContext] {
        if (onHelp && *onHelp) (*onHelp)(helpContext);
    });
    return row;
}

QLineEdit* NamedEdit(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QCheckBox* NamedCheck(const char* name, const char* caption, QWidget* parent)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

namespace {

QHeaderView* ColumnHeader(QAbstractItemView* view)
{
    if (auto* tree = qobject_cast<QTreeView*>(view)) return tree->header();
    if (auto* table = qobject_cast<QTableView*>(view)) return table->horizontalHeader();
    return nullptr;
}

// The width of the list's columns (or of its one column of items) with frame and scroll bar.
int WantedListWidth(QAbstractItemView* view)
{
    QHeaderView* header = ColumnHeader(view);
    int columns = 0;
    if (!header) {
        columns = view->sizeHintForColumn(0) + 8;
    } else {
        const QVariantList shares = view->property("columnShares").toList();
        for (int c = 0; c < header->count(); ++c) {
            if (header->isSectionHidden(c)) continue;
            const int need = ColumnContentsWidth(view, c);
            if (!shares.isEmpty()) {
                const int share = c < shares.size() ? shares[c].toInt() : 0;
                if (share > 0) columns = std::max(columns, need * 100 / share);
                continue;
            }
            const bool stretched = header->stretchLastSection() && c == header->count() - 1;
            if (!stretched && header->sectionSize(c) < need) header->resizeSection(c, need);
            columns += stretched ? need : header->sectionSize(c);
        }
        if (auto* table = qobject_cast<QTableView*>(view); table && !table->verticalHeader()->isHidden())
            columns += table->verticalHeader()->sizeHint().width();
    }
    return columns + 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width();
}

// Room for the rows (at most a dozen) under the column titles.
int WantedListHeight(QAbstractItemView* view)
{
    const int rows = std::min(view->model() ? view->model()->rowCount() : 0, 12);
    const int rowHeight = rows > 0 ? std::max(view->sizeHintForRow(0), view->fontMetrics().height())
                                   : view->fontMetrics().height();
    QHeaderView* header = ColumnHeader(view);
    const int titles = header && !header->isHidden() ? header->sizeHint().height() : 0;
    return std::max(rows, 4) * rowHeight + titles + 2 * view->frameWidth() +
           view->horizontalScrollBar()->sizeHint().height();
}

}  // namespace

int ColumnContentsWidth(QAbstractItemView* view, int column)
{
    QHeaderView* header = ColumnHeader(view);
    const int title = header && !header->isHidden() ? header->sectionSizeHint(column) : 0;
    return std::max(title, view->sizeHintForColumn(column));
}

void FitWindowToContents(QWidget* window)
{
    if (QLayout* layout = window->layout()) layout->activate();
    int wider = 0, taller = 0;
    for (QAbstractItemView* view : window->findChildren<QAbstractItemView*>()) {
        if (!view->isVisibleTo(window) || view->window() != window) continue;
        wider = std::max(wider, WantedListWidth(view) - view->sizeHint().width());
        taller = std::max(taller, WantedListHeight(view) - view->sizeHint().height());
    }
    for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
        if (!tabs->isVisibleTo(window)) continue;
        // Every tab title in view: the tab widget's own hint stops at a few tabs.
        const int titles = tabs->tabBar()->sizeHint().width() + 2 * tabs->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 4;
        wider = std::max(wider, titles - tabs->sizeHint().width());
    }
    QSize size = window->sizeHint() + QSize(std::max(wider, 0), std::max(taller, 0));
    if (window->testAttribute(Qt::WA_Resized)) size = size.expandedTo(window->size());
    if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() * 9 / 10;
        size = size.boundedTo(room.expandedTo(window->size()));
    }
    window->resize(size);
}
