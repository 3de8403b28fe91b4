// SPDX-License-Identifier: GPL-3.0-or-later
// The images page of the main window: the command states, Rename, Delete, the preview and
// the two multipage exports.
#include "ui/Tfrm_Main.h"

#include "app/Dialogs.h"
#include "app/Error.h"
#include "app/ErrorReport.h"
#include "i18n/TCustomLangTable.h"
#include "output/ImageFiles.h"
#include "output/MultipageExport.h"
#include "output/RenameNoReplace.h"
#include "ui/BackgroundWork.h"
#include "ui/ImagesPane.h"
#include "ui/PrintLayout.h"
#include "ui_Tfrm_Main.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressDialog>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

QString entryCopyPath(const QListWidgetItem* entry)
{
    return entry ? entry->data(CopyPathRole).toString() : QString();
}

namespace {
// In-place caption editing: the typed text goes through the window's handler, which decides
// what the caption becomes; the list never takes the text on its own.
class CaptionEditDelegate : public QStyledItemDelegate
{
public:
    CaptionEditDelegate(QListWidget* list, std::function<void(QListWidgetItem*, QString&)> edited)
        : QStyledItemDelegate(list), m_list(list), m_edited(std::move(edited))
    {
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        // A message box over the editor takes its focus, which commits once more: the
        // first commit is the one the user made.
        if (m_committing)
            return;
        auto* line = qobject_cast<QLineEdit*>(editor);
        QListWidgetItem* item = m_list->item(index.row());
        if (!line || !item)
            return;
        QScopedValueRollback busy(m_committing, true);
        QString text = line->text();
        m_edited(item, text);
        item->setText(text);
    }

private:
    QListWidget* m_list;
    std::function<void(QListWidgetItem*, QString&)> m_edited;
    mutable bool m_committing = false;
};

class DoubleClickFilter : public QObject
{
public:
    DoubleClickFilter(QObject* parent, std::function<void()> onDoubleClick)
        : QObject(parent), m_onDoubleClick(std::move(onDoubleClick))
    {
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick) {
            m_onDoubleClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onDoubleClick;
};

const MultipageCommand kPdfCommand{"Save multipage PDF", "PDF files (*.pdf)", "pdf", "IDS_60"};
const MultipageCommand kTiffCommand{"Save multipage TIFF", "TIFF files (*.tiff)", "tiff", "IDS_1"};
} // namespace

void Tfrm_Main::setUpImagesPane()
{
    Ui::Tfrm_Main& u = *m_ui;
    for (QAction* a : {u.Preview, Preview2})
        connect(a, &QAction::triggered, this, guard(&Tfrm_Main::PreviewExecute));
    for (QAction* a : {u.Rename, Rename2})
        connect(a, &QAction::triggered, this, guard(&Tfrm_Main::RenameExecute));
    for (QAction* a : {u.Delete, Delete2})
        connect(a, &QAction::triggered, this, guard(&Tfrm_Main::DeleteExecute));
    connect(u.SavetosinglePDF, &QAction::triggered, this,
            guard(&Tfrm_Main::SavetosinglePDFExecute));
    connect(u.Savetotiff, &QAction::triggered, this, guard(&Tfrm_Main::SavetotiffExecute));
    connect(PopupActionBar1, &QMenu::aboutToShow, this, guard(&Tfrm_Main::PopupActionBarPopup));

    // One notification per item that enters or leaves the selection; leaving first, as a
    // click on another item takes the old one out before it puts the new one in.
    connect(u.lv_Images->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                if (m_removingEntry)
                    return;
                for (const QModelIndex& i : deselected.indexes())
                    lv_ImagesSelectItem(m_ui->lv_Images->item(i.row()), false);
                for (const QModelIndex& i : selected.indexes())
                    lv_ImagesSelectItem(m_ui->lv_Images->item(i.row()), true);
            });
    // Every entry's caption can be edited in place, however it was appended.
    connect(u.lv_Images->model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row)
                    if (QListWidgetItem* item = m_ui->lv_Images->item(row))
                        item->setFlags(item->flags() | Qt::ItemIsEditable);
            });
    u.lv_Images->setItemDelegate(
        new CaptionEditDelegate(u.lv_Images, [this](QListWidgetItem* item, QString& text) {
            guarded([&] { lv_ImagesEdited(item, text); });
        }));
    u.lv_Images->viewport()->installEventFilter(
        new DoubleClickFilter(u.lv_Images, guard(&Tfrm_Main::lv_ImagesDblClick)));
}

QListWidgetItem* Tfrm_Main::selectedEntry() const
{
    const QListWidget* list = m_ui->lv_Images;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->isSelected())
            return list->item(row);
    return nullptr;
}

int Tfrm_Main::selectionCount() const
{
    return int(m_ui->lv_Images->selectedItems().size());
}

QString Tfrm_Main::entryFilePath(const QListWidgetItem* entry) const
{
    // The folder text as typed: the file is looked for where the field says now.
    return m_ui->edt_Path->text() + QDir::separator() + entry->text();
}

void Tfrm_Main::setSingleImageCommandsEnabled(bool enabled)
{
    for (QAction* a : {m_ui->Preview, m_ui->Rename, m_ui->Delete, Preview2, Rename2, Delete2})
        a->setEnabled(enabled);
}

void Tfrm_Main::setMultipageCommandsEnabled(bool enabled)
{
    for (QAction* a : {m_ui->SavetosinglePDF, m_ui->Savetotiff, SavetosinglePDF1, SavetoTIFF1})
        a->setEnabled(enabled);
}

void Tfrm_Main::disableImageCommands()
{
    setSingleImageCommandsEnabled(false);
    setMultipageCommandsEnabled(false);
}

void Tfrm_Main::lv_ImagesSelectItem(QListWidgetItem*, bool selected)
{
    if (!selected) {
        disableImageCommands();
        return;
    }
    setSingleImageCommandsEnabled(true);
    if (selectionCount() >= 2)
        setMultipageCommandsEnabled(true);
}

void Tfrm_Main::PopupActionBarPopup()
{
    setMultipageCommandsEnabled(false);
    const int count = selectionCount();
    setSingleImageCommandsEnabled(count > 0);
    if (count >= 2)
        setMultipageCommandsEnabled(true);
}

void Tfrm_Main::RenameExecute()
{
    QListWidgetItem* entry = selectedEntry();
    if (!entry)
        return;
    // From the first rename on, Enter belongs to the caption editor, not to "Scan again".
    m_ui->btn_Next->setDefault(false);
    m_ui->btn_Next->setAutoDefault(false);
    m_ui->lv_Images->editItem(entry);
}

void Tfrm_Main::lv_ImagesEdited(QListWidgetItem* item, QString& text)
{
    const QString caption = item->text();
    if (text == caption)
        return;
    if (renameInFolder(m_ui->edt_Path->text(), caption, text))
        return;
    Dialogs::current().message(Dialogs::Warning, LangTable1->GetTextOrDefault("IDS_49"),
                               LangTable1->GetTextOrDefault("IDS_48"), Dialogs::Ok);
    text = caption;
}

void Tfrm_Main::DeleteExecute()
{
    if (selectionCount() == 0)
        return;
    if (Dialogs::current().message(Dialogs::Warning, LangTable1->GetTextOrDefault("IDS_57"),
                                   LangTable1->GetTextOrDefault("IDS_56"),
                                   Dialogs::Yes | Dialogs::No, Dialogs::Yes)
        != Dialogs::Yes)
        return;
    QListWidgetItem* entry = selectedEntry();
    if (!entry || !QFile::remove(entryFilePath(entry)))
        return;
    // The entry leaves the list, not the selection: the commands keep their states.
    QScopedValueRollback removing(m_removingEntry, true);
    delete entry;
}

void Tfrm_Main::lv_ImagesDblClick()
{
    if (selectionCount() >= 1)
        m_ui->Preview->trigger();
}

void Tfrm_Main::PreviewExecute()
{
    const QListWidgetItem* entry = selectedEntry();
    if (!entry)
        return;
    // The temporary copy, not the output file: every format previews alike, and a renamed
    // or deleted output file still previews. Only its header is read here; the pixels are
    // read when the page is drawn, at the size they take on the printer, so a page of any
    // resolution previews and prints.
    const QString copy = entryCopyPath(entry);
    QString reason;
    const QSize pictureSize = imageFileSize(copy, &reason);
    if (pictureSize.isEmpty())
        throw QuilloraError(QStringLiteral("Cannot open file \"%1\". %2")
                                .arg(QDir::toNativeSeparators(copy), reason));

    Dialogs::PreviewRequest request;
    request.title = QStringLiteral("Image Preview");
    request.printTitle = QStringLiteral("Output Options");
    request.statusTitle = QStringLiteral("Image Status");
    request.generatingText = QStringLiteral("Generating page %p");
    request.printingText = QStringLiteral("Printing page %p");
    request.documentName = QStringLiteral("Quillora Report");
    // The preview and each print draw the page anew; the last size fetched is kept.
    struct Fetched
    {
        QSize bound;
        QImage picture;
    };
    auto fetched = std::make_shared<Fetched>();
    request.render = [copy, pictureSize, fetched](QPainter& painter, const QRectF&, int) {
        renderPrintLayout(painter, pictureSize, [&](const QSize& bound) {
            if (fetched->picture.isNull() || fetched->bound != bound) {
                fetched->picture = QImage();   // the old one goes before the new one is read
                fetched->picture = loadImageFileFitted(copy, bound, nullptr);
                fetched->bound = bound;
            }
            return fetched->picture;
        });
    };
    Dialogs::current().preview(request);
}

void Tfrm_Main::SavetosinglePDFExecute()
{
    saveSelectedPages(kPdfCommand);
}

void Tfrm_Main::SavetotiffExecute()
{
    saveSelectedPages(kTiffCommand);
}

void Tfrm_Main::saveSelectedPages(const MultipageCommand& command)
{
    const QString target = Dialogs::current().saveFileName(
        QString::fromLatin1(command.dialogTitle), dialogStartFolder(),
        QString::fromLatin1(command.filter), QString::fromLatin1(command.defaultSuffix));
    if (target.isEmpty())
        return;

    // List order, not the order in which the pages were selected.
    QStringList pages;
    for (int row = 0; row < m_ui->lv_Images->count(); ++row)
        if (m_ui->lv_Images->item(row)->isSelected())
            pages << entryCopyPath(m_ui->lv_Images->item(row));

    QProgressDialog progress(QFileInfo(target).fileName(), QStringLiteral("Cancel"), 0,
                             int(pages.size()), this);
    progress.setObjectName(QStringLiteral("ExportProgress"));
    progress.setWindowTitle(LangTable1->GetTextOrDefault("IDS_61"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    // Beside the GUI thread: recognising the text of searchable pages takes seconds a page.
    const ImageWriteOptions options = storedWriteOptions();
    MultipageExportResult result;
    runBeside(progress, [&](const std::function<bool(int)>& step) {
        result = exportMultipage(pages, target, options, step);
    });
    if (result.cancelled)
        return;
    if (!result.ok)
        throw QuilloraError(QStringLiteral("Cannot save \"%1\": %2")
                                .arg(QDir::toNativeSeparators(target), result.error));
    Dialogs::current().message(Dialogs::Information, LangTable1->GetTextOrDefault("IDS_61"),
                               LangTable1->GetTextOrDefault(command.successKey), Dialogs::Ok);
}
