// SPDX-License-Identifier: GPL-3.0-or-later
// The images page's commands beyond the five of the pane: turning the selected pages, and
// putting the entries in another order by dragging them or with Ctrl+Left / Ctrl+Right.
#include "ui/Tfrm_Main.h"

#include "app/Dialogs.h"
#include "i18n/OwnTexts.h"
#include "i18n/TCustomLangTable.h"
#include "output/PageTurn.h"
#include "scanner/Thumbnail.h"
#include "ui/Artwork.h"
#include "ui/BackgroundWork.h"
#include "ui/ImageList.h"
#include "ui/ImagesPane.h"
#include "ui_Tfrm_Main.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QToolButton>

#include <system_error>
#include <thread>

namespace {

// Drags entries of the list to another place and moves them there, and hands Ctrl+Left /
// Ctrl+Right to the window. The list's own dragging is left off: in icon mode it only shifts
// the icons on the screen and leaves the entries' order as it was, and with it on, clicks on
// selected entries would change their meaning.
class ReorderFilter : public QObject
{
public:
    ReorderFilter(QListWidget* list, std::function<void(QPoint)> dropped,
                  std::function<void(int)> stepped)
        : QObject(list), m_list(list), m_dropped(std::move(dropped)), m_stepped(std::move(stepped))
    {
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
        list->viewport()->setAcceptDrops(true);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            m_pressedAt = press->position().toPoint();
            m_pressed = press->button() == Qt::LeftButton ? m_list->indexAt(m_pressedAt)
                                                          : QModelIndex();
            return false;   // the list selects as it always does
        }
        case QEvent::MouseButtonRelease:
            m_pressed = QPersistentModelIndex();
            return false;
        case QEvent::MouseMove: {
            auto* move = static_cast<QMouseEvent*>(event);
            if (!m_pressed.isValid() || !(move->buttons() & Qt::LeftButton)
                || !m_list->selectionModel()->isSelected(m_pressed)
                || (move->position().toPoint() - m_pressedAt).manhattanLength()
                       < QApplication::startDragDistance())
                return false;
            startDrag();
            return true;
        }
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!draggedFromList(drag->mimeData()))
                return false;
            drag->setDropAction(Qt::MoveAction);
            drag->accept();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (!draggedFromList(drop->mimeData()))
                return false;
            m_dropped(drop->position().toPoint());
            drop->setDropAction(Qt::MoveAction);
            drop->accept();
            return true;
        }
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (watched != m_list || key->modifiers() != Qt::ControlModifier
                || (key->key() != Qt::Key_Left && key->key() != Qt::Key_Right))
                return false;
            m_stepped(key->key() == Qt::Key_Left ? -1 : 1);
            return true;
        }
        default:
            return false;
        }
    }

private:
    void startDrag()
    {
        const QPixmap picture = m_list->itemFromIndex(m_pressed)->icon().pixmap(50, 38);
        m_pressed = QPersistentModelIndex();
        auto* drag = new QDrag(m_list);
        auto* data = new QMimeData;
        data->setData(QStringLiteral("application/x-quillora-pane-entries"), QByteArray());
        drag->setMimeData(data);
        drag->setPixmap(picture);
        drag->setHotSpot(QPoint(picture.width() / 2, picture.height() / 2));
        drag->exec(Qt::MoveAction);
        drag->deleteLater();
        // The button came up inside the drag: the list ends its press away from any entry,
        // so that it neither selects nor starts editing.
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-10, -10),
                            m_list->viewport()->mapToGlobal(QPointF(-10, -10)), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(m_list->viewport(), &release);
    }

    // Drags are made as children of the list; within the program a drop hands on the drag's
    // very data. Drags from elsewhere are refused.
    bool draggedFromList(const QMimeData* data) const
    {
        for (const QDrag* drag : m_list->findChildren<QDrag*>(Qt::FindDirectChildrenOnly))
            if (data && drag->mimeData() == data)
                return true;
        return false;
    }

    QListWidget* m_list;
    std::function<void(QPoint)> m_dropped;
    std::function<void(int)> m_stepped;
    QPersistentModelIndex m_pressed;   // the entry a drag would start from
    QPoint m_pressedAt;
};

// The row in front of which a drop at `point` (viewport coordinates) puts the entries: the
// first entry after the point in reading order, row by row of the grid.
int rowAt(const QListWidget* list, QPoint point)
{
    for (int row = 0; row < list->count(); ++row) {
        const QRect r = list->visualItemRect(list->item(row));
        if (point.y() < r.top() || (point.y() <= r.bottom() && point.x() < r.center().x()))
            return row;
    }
    return list->count();
}

struct TurnJob
{
    QListWidgetItem* entry = nullptr;
    QString caption;
    QString file;
    QString copy;
    bool turned = false;
    QString reason;
    QImage thumbnail;
};

// Turns one page: its copy and its file together, or neither of them. The two are worked
// on side by side; the file waits for the copy only when it needs the copy's pixels.
void turnPage(TurnJob& job, int quarterTurns)
{
    PageTurn copy;
    PageTurn file;
    bool copied = false;
    QString copyReason;
    const auto turnCopy = [&] { copied = copy.prepare(job.copy, quarterTurns, {}, &copyReason); };
    std::thread copying;
    try {
        copying = std::thread(turnCopy);
    } catch (const std::system_error&) {
        turnCopy();
    }
    const auto copyDone = [&]() -> const QImage* {
        if (copying.joinable())
            copying.join();
        return copied ? &copy.image() : nullptr;
    };
    const bool prepared = file.prepare(job.file, quarterTurns, copyDone, &job.reason);
    copyDone();
    if (prepared && !copied)
        job.reason = copyReason;
    job.turned = prepared && copied && file.commit(&job.reason) && copy.commit(&job.reason);
    if (!job.turned)
        return;
    const QImage& page = copy.image();
    job.thumbnail = page.isNull() ? MakeThumbnail(job.copy, 0, 0)
                                  : makeThumbnail(page, page.width(), page.height());
}

} // namespace

void Tfrm_Main::setUpPageCommands()
{
    auto command = [this](const char* name, Artwork::Command icon, void (Tfrm_Main::*handler)()) {
        auto* a = new QAction(IL_menu->icon(icon), QString(), this);
        a->setObjectName(QString::fromLatin1(name));
        a->setEnabled(false);
        connect(a, &QAction::triggered, this, guard(handler));
        return a;
    };
    RotateLeft = command("RotateLeft", Artwork::RotateLeft, &Tfrm_Main::RotateLeftExecute);
    RotateRight = command("RotateRight", Artwork::RotateRight, &Tfrm_Main::RotateRightExecute);
    RotateHalf = command("RotateHalf", Artwork::RotateHalf, &Tfrm_Main::RotateHalfExecute);

    // Behind the five commands of the bar, one button opening the three: the bar has no
    // room for more captions.
    auto* turns = new QMenu(this);
    turns->setObjectName(QStringLiteral("RotateMenu"));
    turns->addActions({RotateLeft, RotateRight, RotateHalf});
    RotateButton = new QToolButton(m_ui->ActionMainMenuBar1);
    RotateButton->setObjectName(QStringLiteral("RotateButton"));
    RotateButton->setIcon(IL_menu->icon(Artwork::RotateRight));
    RotateButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    RotateButton->setPopupMode(QToolButton::InstantPopup);
    RotateButton->setAutoRaise(true);
    RotateButton->setMenu(turns);
    RotateButton->setEnabled(false);
    m_ui->ActionMainMenuBar1->addSeparator()->setObjectName(QStringLiteral("N4"));
    m_ui->ActionMainMenuBar1->addWidget(RotateButton)->setObjectName(QStringLiteral("RotateButtonAction"));

    // The context menu's entries stand for the actions, like the export entries.
    N3 = PopupActionBar1->addSeparator();
    N3->setObjectName(QStringLiteral("N3"));
    auto entry = [this](const char* name, QAction* action) {
        QAction* e = PopupActionBar1->addAction(action->icon(), action->text());
        e->setObjectName(QString::fromLatin1(name));
        e->setEnabled(false);
        connect(action, &QAction::changed, e, [e, action] {
            e->setText(action->text());
            e->setEnabled(action->isEnabled());
        });
        connect(e, &QAction::triggered, action, &QAction::trigger);
        return e;
    };
    RotateLeft1 = entry("RotateLeft1", RotateLeft);
    RotateRight1 = entry("RotateRight1", RotateRight);
    RotateHalf1 = entry("RotateHalf1", RotateHalf);
    applyPageCommandTexts();

    // Enabled whenever an entry is selected, whatever the five commands do.
    QListWidget* list = m_ui->lv_Images;
    // (Through the button: the list empties when the window goes, after the bar is gone.)
    const auto update = [this] { updatePageCommands(); };
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, RotateButton, update);
    connect(list->model(), &QAbstractItemModel::rowsRemoved, RotateButton, update);
    connect(list->model(), &QAbstractItemModel::modelReset, RotateButton, update);
    connect(PopupActionBar1, &QMenu::aboutToShow, RotateButton, update);

    new ReorderFilter(
        list, [this](QPoint at) { moveSelectedEntriesTo(rowAt(m_ui->lv_Images, at)); },
        [this](int step) { moveSelectedEntries(step); });
}

void Tfrm_Main::applyPageCommandTexts()
{
    const std::pair<QAction*, const char*> texts[] = {
        {RotateLeft, "pages.rotateLeft"}, {RotateRight, "pages.rotateRight"}, {RotateHalf, "pages.rotateHalf"}};
    for (const auto& [action, key] : texts) {
        action->setText(ownText(key));
        action->setToolTip(ownText(key));
    }
    RotateButton->setText(ownText("pages.rotate"));
    RotateButton->setToolTip(ownText("pages.rotate"));
    RotateButton->menu()->setTitle(ownText("pages.rotate"));
}

void Tfrm_Main::updatePageCommands()
{
    const bool any = selectionCount() > 0;
    for (QAction* a : {RotateLeft, RotateRight, RotateHalf})
        a->setEnabled(any);
    RotateButton->setEnabled(any);
}

void Tfrm_Main::RotateLeftExecute() { turnSelectedPages(3); }
void Tfrm_Main::RotateRightExecute() { turnSelectedPages(1); }
void Tfrm_Main::RotateHalfExecute() { turnSelectedPages(2); }

void Tfrm_Main::turnSelectedPages(int quarterTurns)
{
    std::vector<TurnJob> jobs;
    for (int row = 0; row < m_ui->lv_Images->count(); ++row) {
        QListWidgetItem* item = m_ui->lv_Images->item(row);
        if (item->isSelected())
        {
            TurnJob job;
            job.entry = item;
            job.caption = item->text();
            job.file = entryFilePath(item);
            job.copy = entryCopyPath(item);
            jobs.push_back(job);
        }
    }
    if (jobs.empty())
        return;

    QProgressDialog progress(ownText("pages.turning"), ownText("pages.cancel"), 0, int(jobs.size()), this);
    progress.setObjectName(QStringLiteral("TurnProgress"));
    progress.setWindowTitle(LangTable1->GetTextOrDefault("IDS_61"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    // Pages already turned when Cancel is pressed stay turned; the rest are left alone.
    size_t reached = 0;
    runBeside(progress, [&](const std::function<bool(int)>& step) {
        for (; reached < jobs.size() && step(int(reached)); ++reached)
            turnPage(jobs[reached], quarterTurns);
    });

    QStringList failures;
    for (size_t i = 0; i < reached; ++i) {
        TurnJob& job = jobs[i];
        if (!job.turned) {
            failures << QStringLiteral("%1: %2").arg(job.caption, QDir::toNativeSeparators(job.reason));
            continue;
        }
        const QPixmap thumbnail = QPixmap::fromImage(job.thumbnail);
        const QVariant index = job.entry->data(ThumbnailIndexRole);
        if (index.isValid())
            il_Files->replace(index.toInt(), thumbnail);
        job.entry->setIcon(QIcon(thumbnail));
    }
    if (!failures.isEmpty())
        Dialogs::current().message(Dialogs::Warning, ownText("pages.turnFailedTitle"),
                                   ownText("pages.turnFailed") + QStringLiteral("\n\n")
                                       + failures.join(QLatin1Char('\n')),
                                   Dialogs::Ok);
}

void Tfrm_Main::moveSelectedEntries(int step)
{
    QList<QListWidgetItem*> order;
    for (int row = 0; row < m_ui->lv_Images->count(); ++row)
        order << m_ui->lv_Images->item(row);
    // Each selected entry passes the unselected one beside it; a selected group at the end
    // it moves towards stays where it is.
    const qsizetype n = order.size();
    for (qsizetype k = 1; k < n; ++k) {
        const qsizetype i = step < 0 ? k : n - 1 - k;
        const qsizetype j = step < 0 ? i - 1 : i + 1;
        if (order[i]->isSelected() && !order[j]->isSelected())
            order.swapItemsAt(i, j);
    }
    arrangeEntries(order);
}

void Tfrm_Main::moveSelectedEntriesTo(int row)
{
    QList<QListWidgetItem*> moving;
    QList<QListWidgetItem*> rest;
    QListWidgetItem* anchor = nullptr;
    for (int r = 0; r < m_ui->lv_Images->count(); ++r) {
        QListWidgetItem* item = m_ui->lv_Images->item(r);
        (item->isSelected() ? moving : rest) << item;
        if (!anchor && r >= row && !item->isSelected())
            anchor = item;
    }
    const qsizetype at = anchor ? rest.indexOf(anchor) : rest.size();
    QList<QListWidgetItem*> order = rest.mid(0, at) + moving + rest.mid(at);
    arrangeEntries(order);
}

void Tfrm_Main::arrangeEntries(const QList<QListWidgetItem*>& order)
{
    // Rows moved within the model keep their selection and current item: no entry leaves
    // or enters the selection, so the commands keep their states.
    QListWidget* list = m_ui->lv_Images;
    for (int i = 0; i < int(order.size()); ++i) {
        const int from = list->row(order[i]);
        if (from != i)
            list->model()->moveRow(QModelIndex(), from, QModelIndex(), i);
    }
    if (QListWidgetItem* current = list->currentItem())
        list->scrollToItem(current);
}
