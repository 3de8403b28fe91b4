// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once


#include <QDialog>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class ImageList;
class QAction;
class QComboBox;
class QMenu;
class QToolButton;
class QListWidgetItem;
class TLangDispatcher;
class TLangTable;
struct MultipageCommand;
struct NamingInputs;

namespace Ui {
class Tfrm_Main;
}

// The wizard window: title band, three pages (scanner, settings, scanned images) and the
// Back / Next / Close band. Controls carry the names the rest of the program knows them by;
// handlers keep the names of the events they answer.
class Tfrm_Main : public QWidget
{
    Q_OBJECT
public:
    explicit Tfrm_Main(QWidget* parent = nullptr);
    ~Tfrm_Main() override;

    Ui::Tfrm_Main* ui() const { return m_ui.get(); }
    // The "Path" read when the window was shown; the settings page starts from it.
    const QString& rememberedFolder() const { return m_rememberedFolder; }

    // The windows the About and format settings buttons open; created after this one.
    void setAboutWindow(QDialog* window) { m_about = window; }
    void setFormatSettingsWindow(QDialog* window) { m_formatSettings = window; }

    // A slot for a signal: runs the handler and shows a failure escaping it in the general
    // error report, so that no failure unwinds through the toolkit.
    std::function<void()> guard(void (Tfrm_Main::*handler)());

    // Components without a place on screen.
    ImageList* IL;       // 32 x 32 scanner picture of the scanner list
    ImageList* il_Files; // 100 x 75 thumbnails of the scanned pages
    ImageList* IL_menu;  // 16 x 16 command icons
    QMenu* PopupActionBar1;
    QAction* Preview2;
    QAction* N2;
    QAction* Rename2;
    QAction* Delete2;
    QAction* N1;
    QAction* SavetosinglePDF1;
    QAction* SavetoTIFF1;
    // Turning pages, in the command bar and the context menu (Tfrm_Main_Pages.cpp).
    QAction* RotateLeft;
    QAction* RotateRight;
    QAction* RotateHalf;
    QToolButton* RotateButton; // opens the three in the command bar
    QAction* N3;
    QAction* RotateLeft1;
    QAction* RotateRight1;
    QAction* RotateHalf1;
    // The program's language, and this window's translation table and messages.
    TLangDispatcher* LangDispatcher1;
    TLangTable* LangTable1;

public slots:
    void FormShow();
    void FormClose();
    void btn_CancelClick();
    void edt_PathChange();
    void chb_UIClick();
    void btn_fmtSettingsClick();
    void spd_AboutClick();

    // The images page (Tfrm_Main_Images.cpp).
    void PreviewExecute();
    void RenameExecute();
    void DeleteExecute();
    void SavetosinglePDFExecute();
    void SavetotiffExecute();
    void PopupActionBarPopup();
    void lv_ImagesDblClick();

    // Turning and reordering the pages of the pane (Tfrm_Main_Pages.cpp).
    void RotateLeftExecute();
    void RotateRightExecute();
    void RotateHalfExecute();

    // The scanner page and the scan jobs (scanner/Tfrm_Main_Scanning.cpp).
    void FillScannerList();
    void lv_DevicesClick();
    void lv_DevicesDblClick();
    void chb_RememberClick();
    void RunScanJob();

    // The page machine and the settings page's small handlers (Tfrm_Main_Wizard.cpp).
    void btn_NextClick();
    void btn_BackClick();
    void btn_FolderClick();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton1KeyUp();
    void RadioButton2KeyUp();

public:
    // An item entered (selected) or left the pane's selection.
    void lv_ImagesSelectItem(QListWidgetItem* item, bool selected);
    // A confirmed caption edit; text holds the typed caption and, on return, the caption.
    void lv_ImagesEdited(QListWidgetItem* item, QString& text);
    // All ten command switches of the images page off, as every scan job starts.
    void disableImageCommands();
    // The first selected entry in list order (null when none) and the number selected.
    QListWidgetItem* selectedEntry() const;
    int selectionCount() const;
    // Moves the selected entries one place towards the start (-1) or the end (+1) of the
    // list, or all of them together in front of the entry now at `row` (count(): to the end).
    void moveSelectedEntries(int step);
    void moveSelectedEntriesTo(int row);
    // An item of the scanner list entered or left the selection.
    void lv_DevicesSelectItem(QListWidgetItem* item, bool selected);
    // Output names from the settings page's controls as they are at the call.
    QString FormatExtension() const;
    QString DateTimeSuffix() const;
    QString NextFreeSuffix(const QString& suffix) const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setUpPictures();
    void setUpImagesPage();
    void setUpTabOrder();
    void setUpAccessibility();
    void showSequence();
    static void selectIndex(QComboBox* list, int index);
    void setUpImagesPane();
    QString entryFilePath(const QListWidgetItem* entry) const;
    void setSingleImageCommandsEnabled(bool enabled);
    void setMultipageCommandsEnabled(bool enabled);
    void saveSelectedPages(const MultipageCommand& command);
    void setUpPageCommands();
    void applyPageCommandTexts();
    void updatePageCommands();
    void turnSelectedPages(int quarterTurns);
    void arrangeEntries(const QList<QListWidgetItem*>& order);
    void setUpScannerPage();
    void setUpWizard();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void setPageTexts(const char* titleKey, const char* descriptionKey);
    bool checkDestinationFolder();
    QString dialogStartFolder() const;
    void applyTarnwickRelayRule();
    void updateStartNumberBox();
    NamingInputs namingInputs() const;

    std::unique_ptr<Ui::Tfrm_Main> m_ui;
    QString m_rememberedFolder;
    QPointer<QDialog> m_about;
    QPointer<QDialog> m_formatSettings;
    bool m_removingEntry = false;
};
