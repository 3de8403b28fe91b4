// SPDX-License-Identifier: GPL-3.0-or-later
// The scanner page of the main window (the list of sources, the remembered scanner) and the
// two scan jobs as the window runs them: its controls in, its images pane out.
#include "ui/Tfrm_Main.h"

#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "i18n/TCustomLangTable.h"
#include "output/FileNaming.h"
#include "scanner/ScanJob.h"
#include "scanner/ScannerLibrary.h"
#include "ui/ImageList.h"
#include "ui/ImagesPane.h"
#include "ui_Tfrm_Main.h"

#include <QApplication>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMouseEvent>
#include <QTimer>

#include <cstdio>

namespace {

const QString kSource = QStringLiteral("Source");

// A click anywhere in the scanner list, on an item or on its empty area, and a double
// click. A press on the empty area takes the selection away, as a list of icons does.
class DeviceListMouse : public QObject
{
public:
    DeviceListMouse(QListWidget* list, std::function<void()> click,
                    std::function<void()> doubleClick)
        : QObject(list), m_list(list), m_click(std::move(click)),
          m_doubleClick(std::move(doubleClick))
    {
        list->viewport()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (!m_list->itemAt(mouse->position().toPoint()))
                m_list->clearSelection();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            m_click();
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            m_doubleClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QListWidget* m_list;
    std::function<void()> m_click;
    std::function<void()> m_doubleClick;
};

// Appends the sources the library lists (from where an earlier call stopped) and selects
// the remembered one; a scanner that answers late does not take the selection from one
// the user has chosen meanwhile.
void addListedScanners(ScannerLibrary& library, QListWidget& list, const QIcon& icon)
{
    const QString remembered = SettingsStore().readString(kSource);
    const bool late = list.count() > 0;
    char name[ScannerLibrary::SourceNameSize] = {};
    while (library.NextSourceName(name) != 0) {
        auto* item = new QListWidgetItem(icon, QString::fromUtf8(name), &list);
        // Exact comparison: a name differing in case is another scanner.
        if (item->text() == remembered && (!late || list.selectedItems().isEmpty()))
            list.setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    }
}

void showNoScanners(TCustomLangTable& table)
{
    Dialogs::current().message(Dialogs::Information, table.GetTextOrDefault("IDS_9"),
                               table.GetTextOrDefault("IDS_8"), Dialogs::Ok);
}


} // namespace

void Tfrm_Main::setUpScannerPage()
{
    QListWidget* list = m_ui->lv_Devices;
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One notification per item that enters or leaves the selection, leaving first.
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                guarded([&] {
                    for (const QModelIndex& i : deselected.indexes())
                        lv_DevicesSelectItem(m_ui->lv_Devices->item(i.row()), false);
                    for (const QModelIndex& i : selected.indexes())
                        lv_DevicesSelectItem(m_ui->lv_Devices->item(i.row()), true);
                });
            });
    new DeviceListMouse(list, guard(&Tfrm_Main::lv_DevicesClick),
                        guard(&Tfrm_Main::lv_DevicesDblClick));
    connect(m_ui->chb_Remember, &QCheckBox::toggled, this, guard(&Tfrm_Main::chb_RememberClick));
}

void Tfrm_Main::FillScannerList()
{
    m_ui->lv_Devices->clear();
    ScannerLibrary& library = ScannerLibrary::instance();
    if (library.BeginSourceList() == 0) {
        showNoScanners(*LangTable1);
        return;
    }
    addListedScanners(library, *m_ui->lv_Devices, IL->icon(0));
    if (library.sourceListComplete())
        return;
    // Network scanners answer later, or never: the window does not wait for them.
    library.whenSourceListComplete(this, [this] {
        guarded([this] {
            addListedScanners(ScannerLibrary::instance(), *m_ui->lv_Devices, IL->icon(0));
            // Only now is it known that there is no scanner at all; told while someone
            // can see the window.
            if (m_ui->lv_Devices->count() == 0 && isVisible())
                showNoScanners(*LangTable1);
        });
    });
}

void Tfrm_Main::lv_DevicesSelectItem(QListWidgetItem* item, bool selected)
{
    const bool any = !m_ui->lv_Devices->selectedItems().isEmpty();
    m_ui->btn_Next->setEnabled(any);
    m_ui->chb_Remember->setEnabled(any);
    // Choosing another scanner forgets the remembered one: clearing the box deletes it.
    if (selected && item)
        m_ui->chb_Remember->setChecked(item->text() == SettingsStore().readString(kSource));
}

void Tfrm_Main::lv_DevicesClick()
{
    const bool any = !m_ui->lv_Devices->selectedItems().isEmpty();
    m_ui->chb_Remember->setEnabled(any);
    m_ui->btn_Next->setEnabled(any);
}

void Tfrm_Main::lv_DevicesDblClick()
{
    if (m_ui->lv_Devices->selectedItems().isEmpty())
        return;
    // What Next does, whatever its enabled state.
    if (metaObject()->indexOfSlot("btn_NextClick()") >= 0)
        QMetaObject::invokeMethod(this, "btn_NextClick", Qt::DirectConnection);
    else
        m_ui->PageControl->setCurrentWidget(m_ui->TabSheet3);
}

void Tfrm_Main::chb_RememberClick()
{
    if (m_ui->chb_Remember->isChecked()) {
        const QList<QListWidgetItem*> selected = m_ui->lv_Devices->selectedItems();
        if (!selected.isEmpty())
            SettingsStore().writeString(kSource, selected.first()->text());
    } else {
        SettingsStore store;
        if (store.valueExists(kSource))
            store.deleteValue(kSource);
    }
}

QString Tfrm_Main::FormatExtension() const
{
    return ::FormatExtension(m_ui->cb_Format->currentText());
}

QString Tfrm_Main::DateTimeSuffix() const
{
    return ::DateTimeSuffix(namingNow(), QLocale::system());
}

QString Tfrm_Main::NextFreeSuffix(const QString& suffix) const
{
    return ::NextFreeSuffix(suffix, namingInputs());
}


NamingInputs Tfrm_Main::namingInputs() const
{
    // Read at every candidate: the controls as they are at that moment.
    return {[this] { return m_ui->edt_Path->text(); },
            [this] { return m_ui->edt_FileName->text(); }, [this] { return FormatExtension(); }};
}

void Tfrm_Main::RunScanJob()
{
    disableImageCommands();
    const QList<QListWidgetItem*> devices = m_ui->lv_Devices->selectedItems();
    if (devices.isEmpty())
        return; // the wizard reaches the images page only with a scanner chosen

    ScanJobSettings settings;
    settings.sourceName = devices.first()->text();
    settings.hideUi = m_ui->chb_UI->isChecked();
    settings.useFeeder = m_ui->chb_ADF->isChecked();
    settings.pixelType = m_ui->cmb_Mode->currentIndex();
    settings.resolutionText = [this] { return m_ui->cmb_Resolution->currentText(); };
    settings.sequenceMode = m_ui->RadioButton1->isChecked();
    settings.startText = [this] { return m_ui->edt_Start->text(); };
    settings.naming = namingInputs();
    settings.parent = QApplication::activeWindow() ? QApplication::activeWindow() : this;

    ScanJobPane pane;
    pane.copyInUse = [this](const QString& path) {
        for (int i = 0; i < m_ui->lv_Images->count(); ++i)
            if (entryCopyPath(m_ui->lv_Images->item(i)) == path)
                return true;
        return false;
    };
    pane.addPage = [this](const ScannedPage& page) {
        const int index = il_Files->add(QPixmap::fromImage(page.thumbnail));
        auto* entry = new QListWidgetItem(il_Files->icon(index), page.caption, m_ui->lv_Images);
        entry->setFlags(entry->flags() | Qt::ItemIsEditable);
        entry->setData(CopyPathRole, page.copyPath);
        entry->setData(ThumbnailIndexRole, index);
        // Each page shows up as it is taken, while the scanner works on the next.
        m_ui->lv_Images->scrollToItem(entry);
    };
    // The counter takes up a number typed into the box and writes the next one back with
    // the locale's thousands separator.
    pane.raiseCounter = [this] { m_ui->UpDown1->step(1); };

    runScanJob(ScannerLibrary::instance(), settings, pane, LangTable1->GetTextOrDefault("IDS_46"));
}

