// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;

namespace Ui {
class Tfrm_fmtSettings;
}

// The JPEG quality and TIFF compression of scanned pages, stored when the user saves.
// Created once; between showings it keeps what it showed, so a value missing from the
// store comes back as the user last left it.
class Tfrm_fmtSettings : public QDialog
{
    Q_OBJECT
public:
    explicit Tfrm_fmtSettings(QWidget* parent = nullptr);
    ~Tfrm_fmtSettings() override;

    Ui::Tfrm_fmtSettings* ui() const { return m_ui.get(); }

    // The TIFF compression chosen in the radio group: 0 to 5, -1 when none is.
    int tiffIndex() const;
    // Kept within -1 to 5; -1 clears the group.
    void setTiffIndex(int index);

    // Searchable PDF files, on a tab of their own behind JPEG and TIFF: on or off, and the
    // recognition language (the interface's until one is stored).
    QCheckBox* chb_SearchablePDF;
    QLabel* lbl_OCRLanguage;
    QComboBox* cmb_OCRLanguage;
    QLabel* lbl_OCRData;   // says so when the chosen language's data is not installed

public slots:
    void FormShow();
    void TrackBar1Change();
    void Button2Click();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setUpRecognitionTab();
    void applyRecognitionTexts();
    void followRecognitionData();

    std::unique_ptr<Ui::Tfrm_fmtSettings> m_ui;
    QButtonGroup* m_tiffChoices;
    bool m_searchableWanted = false;   // what the user asked for, whether or not the data is there
};
