#pragma once

#include <QDialog>

#include <memory>

class QButtonGroup;

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

public slots:
    void FormShow();
    void TrackBar1Change();
    void Button2Click();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::Tfrm_fmtSettings> m_ui;
    QButtonGroup* m_tiffChoices;
};
