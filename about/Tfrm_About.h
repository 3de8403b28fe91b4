#pragma once

#include <QDialog>

#include <memory>

class TLangTable;

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

public slots:
    void btn_OKClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::Tfrm_About> m_ui;
};
