// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

class TLangTable;
class UpdateCheck;

namespace Ui {
class Tfrm_About;
}

// The About window: logo, name, version and copyright notice, the update check's button
// and OK. It has no title bar; only OK closes it.
class Tfrm_About : public QDialog
{
    Q_OBJECT
public:
    explicit Tfrm_About(QWidget* parent = nullptr);
    ~Tfrm_About() override;

    Ui::Tfrm_About* ui() const { return m_ui.get(); }
    // This window's translation table and messages.
    TLangTable* LangTable1;

    // The update check behind btn_Update; it lives as long as the window (cookies too).
    UpdateCheck& updateCheck() const { return *m_updateCheck; }

public slots:
    void btn_OKClick();
    // Sets the version label: "IDS_0" and the version of the program's own file.
    void FormShow();
    void btn_UpdateClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::Tfrm_About> m_ui;
    std::unique_ptr<UpdateCheck> m_updateCheck;
};
