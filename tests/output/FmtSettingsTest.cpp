// SPDX-License-Identifier: GPL-3.0-or-later
#include "IsolatedTest.h"
#include "ScriptedDialogs.h"

#include "app/SettingsStore.h"
#include "output/MultipageExport.h"
#include "output/Tfrm_fmtSettings.h"
#include "ui_Tfrm_fmtSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QRadioButton>

#include <memory>

namespace {

// The radio group's checked caption, or the empty text when none is checked.
QString checkedChoice(const Tfrm_fmtSettings& window)
{
    for (QRadioButton* b : window.ui()->RadioGroup1->findChildren<QRadioButton*>())
        if (b->isChecked())
            return b->text();
    return {};
}

} // namespace

class FmtSettingsTest : public IsolatedTest
{
protected:
    // Shows the window modally as its button does; act plays the user's part.
    void showAndDo(const std::function<void()>& act)
    {
        dialogs.modalHandlers.push_back([act](QObject*) {
            act();
            return 0;
        });
        dialogs.execModal(window.get());
    }
    bool storedAny() const
    {
        SettingsStore store;
        return store.valueExists("JPEGCompression") || store.valueExists("TIFFCompression");
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_fmtSettings> window = std::make_unique<Tfrm_fmtSettings>();
    Ui::Tfrm_fmtSettings* ui = window->ui();
};

TEST_F(FmtSettingsTest, NothingStoredShowsDefaultsAndSaveStoresThem)
{
    showAndDo([&] {
        EXPECT_EQ(ui->TrackBar1->value(), 75);
        EXPECT_EQ(ui->Label1->text(), "75");
        EXPECT_EQ(checkedChoice(*window), "No compression");
        EXPECT_EQ(ui->PageControl1->currentWidget(), ui->TabSheet1);
        ui->Button2->click();
    });
    EXPECT_FALSE(window->isVisible());
    SettingsStore store;
    EXPECT_EQ(store.readInteger("JPEGCompression"), 75);
    EXPECT_EQ(store.readInteger("TIFFCompression"), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

// Stored values outside the controls' ranges are shown, and saved, within them.
TEST_F(FmtSettingsTest, StoredValuesAreKeptInRange)
{
    const struct
    {
        int quality, compression;
        int shownQuality;
        const char* shownChoice;
        int savedCompression;
    } rows[] = {
        {0, 9, 1, "JPEG-in-TIFF", 5},
        {150, -4, 100, "", -1},
        {40, 4, 40, "LZW", 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.quality);
        {
            SettingsStore store;
            store.writeInteger("JPEGCompression", row.quality);
            store.writeInteger("TIFFCompression", row.compression);
        }
        showAndDo([&] {
            EXPECT_EQ(ui->TrackBar1->value(), row.shownQuality);
            EXPECT_EQ(ui->Label1->text(), QString::number(row.shownQuality));
            EXPECT_EQ(checkedChoice(*window), row.shownChoice);
            ui->Button2->click();
        });
        SettingsStore store;
        EXPECT_EQ(store.readInteger("JPEGCompression"), row.shownQuality);
        EXPECT_EQ(store.readInteger("TIFFCompression"), row.savedCompression);
    }
}

TEST_F(FmtSettingsTest, CancelStoresNothingAndTheWindowKeepsItsState)
{
    showAndDo([&] {
        ui->TrackBar1->setValue(30);
        EXPECT_EQ(ui->Label1->text(), "30");
        window->setTiffIndex(2);
        ui->Button1->click();
    });
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(storedAny());

    showAndDo([&] {
        EXPECT_EQ(ui->TrackBar1->value(), 30);
        EXPECT_EQ(ui->Label1->text(), "30");
        EXPECT_EQ(checkedChoice(*window), "CCITT Group 3 fax encoding");
        ui->Button1->click();
    });
    EXPECT_FALSE(storedAny());
}

TEST_F(FmtSettingsTest, WrongTypeIsReported)
{
    SettingsStore().writeString("JPEGCompression", QStringLiteral("best"));
    showAndDo([&] { ui->Button1->click(); });
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, "Invalid data type for 'JPEGCompression'");
    EXPECT_EQ(ui->TrackBar1->value(), 75);
}

// Searchable PDF files have a tab behind the window's two, which stay as they are: with
// nothing stored the option is off and the interface's language is chosen; Save stores the
// choice, Cancel nothing.
TEST_F(FmtSettingsTest, SearchablePdfTabStoresItsChoice)
{
    EXPECT_EQ(window->size(), QSize(434, 278));
    ASSERT_EQ(ui->PageControl1->count(), 3);
    EXPECT_EQ(ui->PageControl1->widget(0), ui->TabSheet1);
    EXPECT_EQ(ui->PageControl1->widget(1), ui->TabSheet2);
    EXPECT_EQ(ui->PageControl1->tabText(2), "PDF");
    showAndDo([&] {
        EXPECT_EQ(ui->PageControl1->currentWidget(), ui->TabSheet1);
        EXPECT_FALSE(window->chb_SearchablePDF->isChecked());
        EXPECT_TRUE(window->chb_SearchablePDF->isEnabled());
        EXPECT_EQ(window->chb_SearchablePDF->text(), "Searchable PDF (text recognition)");
        EXPECT_EQ(window->cmb_OCRLanguage->currentText(), "English");
        window->chb_SearchablePDF->click();
        window->cmb_OCRLanguage->setCurrentIndex(2);
        ui->Button1->click();
    });
    EXPECT_FALSE(SettingsStore().valueExists("SearchablePDF"));
    EXPECT_TRUE(storedRecognitionLanguage().isEmpty());

    showAndDo([&] {
        EXPECT_EQ(window->cmb_OCRLanguage->currentText(), "English");
        window->cmb_OCRLanguage->setCurrentIndex(1);
        if (!window->chb_SearchablePDF->isChecked())
            window->chb_SearchablePDF->click();
        ui->Button2->click();
    });
    EXPECT_TRUE(SettingsStore().readBool("SearchablePDF"));
    EXPECT_EQ(SettingsStore().readString("OCRLanguage"), "rus");
    EXPECT_EQ(storedRecognitionLanguage(), "rus");
    showAndDo([&] {
        EXPECT_TRUE(window->chb_SearchablePDF->isChecked());
        EXPECT_EQ(window->cmb_OCRLanguage->currentText(), "Russian");
        ui->Button1->click();
    });
}

// Without the language's data the option says so, is off and stays off when saved.
TEST_F(FmtSettingsTest, SearchablePdfWithoutDataIsOff)
{
    {
        SettingsStore store;
        store.writeBool("SearchablePDF", true);
        store.writeString("OCRLanguage", "deu");
    }
    qputenv("TESSDATA_PREFIX", QFile::encodeName(root()));
    EXPECT_TRUE(storedRecognitionLanguage().isEmpty());
    showAndDo([&] {
        EXPECT_FALSE(window->chb_SearchablePDF->isEnabled());
        EXPECT_FALSE(window->chb_SearchablePDF->isChecked());
        EXPECT_EQ(window->lbl_OCRData->text(), "The text recognition data for German is not installed.");
        ui->Button2->click();
    });
    EXPECT_FALSE(SettingsStore().readBool("SearchablePDF"));
}
