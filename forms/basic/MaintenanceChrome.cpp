#include "MaintenanceChrome.h"

#include "RowHeader.h"

#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace zq::forms {

const int ReadOnlyRgb[3] = {166, 202, 240};

namespace {

struct ButtonLook
{
    const char *name;
    const char *caption;
    QStyle::StandardPixmap icon;
};

const ButtonLook kLooks[] = {
    {"btnAdd", "Add", QStyle::SP_FileIcon},
    {"btnSearch", "Search", QStyle::SP_FileDialogContentsView},
    {"btnEdit", "Edit", QStyle::SP_FileDialogDetailedView},
    {"btnDelete", "Delete", QStyle::SP_TrashIcon},
    {"btnOk", "OK", QStyle::SP_DialogApplyButton},
    {"btnCancel", "Cancel", QStyle::SP_DialogCancelButton},
    {"btnFirst", "First", QStyle::SP_MediaSkipBackward},
    {"btnPrev", "Prev", QStyle::SP_MediaSeekBackward},
    {"btnNext", "Next", QStyle::SP_MediaSeekForward},
    {"btnLast", "Last", QStyle::SP_MediaSkipForward},
    {"btnRefresh", "Refresh", QStyle::SP_BrowserReload},
    {"btnOutput", "Print", QStyle::SP_FileDialogListView},
    {"btnExit", "Exit", QStyle::SP_DialogCloseButton},
    {"btnLabelPic", "Label Picture", QStyle::SP_DirOpenIcon},
    {"btnTreeView", "Tree", QStyle::SP_DirIcon},
};

// The style's icons, read once per style: each icon is a set of image files, which every
// window would otherwise decode again for its tool bar.
QIcon standardIcon(QStyle *style, QStyle::StandardPixmap pixmap)
{
    static QPointer<QStyle> cachedStyle;
    static QHash<int, QIcon> icons;
    if (cachedStyle != style) {
        icons.clear();
        cachedStyle = style;
    }
    auto it = icons.find(int(pixmap));
    if (it == icons.end())
        it = icons.insert(int(pixmap), style->standardIcon(pixmap));
    return *it;
}

const ButtonLook *lookOf(const QString &name)
{
    for (const ButtonLook &l : kLooks)
        if (name == QLatin1String(l.name))
            return &l;
    return nullptr;
}

} // namespace

void setEditWritable(QLineEdit *edit, bool writable)
{
    edit->setReadOnly(!writable);
    QPalette p = QApplication::palette(edit);
    if (!writable)
        p.setColor(QPalette::Base, QColor(ReadOnlyRgb[0], ReadOnlyRgb[1], ReadOnlyRgb[2]));
    edit->setPalette(p);
}

void MaintenanceChrome::connectCommand(const QString &command,
                                       QObject *context,
                                       const std::function<void()> &handler) const
{
    if (QToolButton *b = button(QStringLiteral("btn") + command))
        QObject::connect(b, &QToolButton::clicked, context, [handler] { handler(); });
    if (QAction *a = menuItem(QStringLiteral("mnu") + command))
        QObject::connect(a, &QAction::triggered, context, [handler] { handler(); });
}

void MaintenanceChrome::applyRights(int rights) const
{
    static const char *const commands[] = {
        "Add", "Search", "Edit", "Delete", "Ok", "Cancel", "Output"};
    for (int bit = 0; bit < 7; ++bit) {
        const bool on = (rights & (1 << bit)) != 0;
        const QString name = QString::fromLatin1(commands[bit]);
        if (QToolButton *b = button(QStringLiteral("btn") + name))
            b->setEnabled(on);
        if (QAction *a = menuItem(QStringLiteral("mnu") + name))
            a->setEnabled(on);
    }
}

void MaintenanceChrome::setButtonVisible(const QString &name, bool visible)
{
    if (QAction *a = buttonActions.value(name))
        a->setVisible(visible);
}

void MaintenanceChrome::build(QWidget *window,
                              const QStringList &toolButtons,
                              const QStringList &menuCommands)
{
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    mnuMain = new QMenuBar(window);
    mnuMain->setObjectName(QStringLiteral("mnuMain"));
    mnuMain->setNativeMenuBar(false);
    auto addItem = [&](QMenu *menu, const QString &command, const QString &caption) {
        if (!menuCommands.contains(command))
            return;
        QAction *a = menu->addAction(caption);
        a->setObjectName(QStringLiteral("mnu") + command);
        menuItems.insert(a->objectName(), a);
    };
    QMenu *data = mnuMain->addMenu(QStringLiteral("&Data"));
    data->setObjectName(QStringLiteral("mnuData"));
    addItem(data, QStringLiteral("Add"), QStringLiteral("&Add"));
    addItem(data, QStringLiteral("Search"), QStringLiteral("&Search"));
    addItem(data, QStringLiteral("Edit"), QStringLiteral("&Edit"));
    addItem(data, QStringLiteral("Delete"), QStringLiteral("&Delete"));
    addItem(data, QStringLiteral("Output"), QStringLiteral("&Print"));
    data->addSeparator();
    addItem(data, QStringLiteral("First"), QStringLiteral("&First"));
    addItem(data, QStringLiteral("Prev"), QStringLiteral("&Prev"));
    addItem(data, QStringLiteral("Next"), QStringLiteral("&Next"));
    addItem(data, QStringLiteral("Last"), QStringLiteral("&Last"));
    QMenu *function = mnuMain->addMenu(QStringLiteral("&Function"));
    function->setObjectName(QStringLiteral("mnuFunction"));
    addItem(function, QStringLiteral("Ok"), QStringLiteral("&OK"));
    addItem(function, QStringLiteral("Cancel"), QStringLiteral("&Cancel"));
    QAction *exit = mnuMain->addAction(QStringLiteral("&Exit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    menuItems.insert(exit->objectName(), exit);
    layout->addWidget(mnuMain);

    tbEdit = new QToolBar(window);
    tbEdit->setObjectName(QStringLiteral("tbEdit"));
    tbEdit->setMovable(false);
    tbEdit->setIconSize(QSize(22, 22));
    for (const QString &name : toolButtons) {
        if (name == QLatin1String("|")) {
            tbEdit->addSeparator();
            continue;
        }
        auto *b = new QToolButton(tbEdit);
        b->setObjectName(name);
        b->setAutoRaise(true);
        b->setToolButtonStyle(compact ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
        const ButtonLook *look = lookOf(name);
        b->setText(look ? QString::fromLatin1(look->caption) : name.mid(3));
        b->setToolTip(b->text());
        if (look)
            b->setIcon(standardIcon(window->style(), look->icon));
        // Square buttons; the wide ones (a caption of several words) grow with their text.
        if (compact)
            b->setFixedSize(34, 34);
        else
            b->setMinimumSize(50, 52);
        buttonActions.insert(name, tbEdit->addWidget(b));
        buttons.insert(name, b);
    }
    layout->addWidget(tbEdit);

    pcData = new QTabWidget(window);
    pcData->setObjectName(QStringLiteral("pcData"));
    tsData = new QWidget(pcData);
    tsData->setObjectName(QStringLiteral("tsData"));
    tsView = new QWidget(pcData);
    tsView->setObjectName(QStringLiteral("tsView"));
    pcData->addTab(tsData, QStringLiteral("Data"));
    pcData->addTab(tsView, QStringLiteral("View"));
    auto *viewLayout = new QVBoxLayout(tsView);
    viewLayout->setContentsMargins(4, 4, 4, 4);
    dgView = new QTableView(tsView);
    dgView->setObjectName(QStringLiteral("dgView"));
    dgView->setFocusPolicy(Qt::ClickFocus);
    dgView->setSelectionBehavior(QAbstractItemView::SelectRows);
    dgView->setSelectionMode(QAbstractItemView::SingleSelection);
    dgView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dgView->setAlternatingRowColors(true);
    dgView->setVerticalHeader(new RowHeader(dgView));
    dgView->verticalHeader()->setDefaultSectionSize(22);
    dgView->horizontalHeader()->setSectionsClickable(true);
    dgView->horizontalHeader()->setHighlightSections(false);
    dgView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    viewLayout->addWidget(dgView);
    layout->addWidget(pcData, 1);

    sbMain = new QStatusBar(window);
    sbMain->setObjectName(QStringLiteral("sbMain"));
    sbMain->setSizeGripEnabled(false);
    panel0 = new QLabel(sbMain);
    panel0->setObjectName(QStringLiteral("sbPanel0"));
    panel0->setFixedWidth(100);
    panel0->setAlignment(Qt::AlignCenter);
    panel0->setFrameShape(QFrame::StyledPanel);
    panel1 = new QLabel(sbMain);
    panel1->setObjectName(QStringLiteral("sbPanel1"));
    panel1->setFrameShape(QFrame::StyledPanel);
    sbMain->addWidget(panel0);
    sbMain->addWidget(panel1, 1);
    layout->addWidget(sbMain);
}

} // namespace zq::forms
