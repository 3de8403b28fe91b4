// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFlags>
#include <QString>

#include <functional>

class QObject;
class QPainter;
class QRectF;

// Everything the program asks or tells the user goes through this interface: message
// boxes, the save dialog, the folder picker, the print preview and running a window
// modally. The desktop uses real widgets, a command-line scan without a display writes
// to standard error, and tests script the answers.
class Dialogs
{
public:
    enum Icon { NoIcon, Information, Warning, Critical, Question };

    // Same values as QMessageBox::StandardButton, so the widget side can cast.
    enum Button {
        NoButton = 0x00000000,
        Ok = 0x00000400,
        Yes = 0x00004000,
        No = 0x00010000,
        Abort = 0x00040000,
        Retry = 0x00080000,
        Ignore = 0x00100000,
        Close = 0x00200000,
        Cancel = 0x00400000,
    };
    Q_DECLARE_FLAGS(Buttons, Button)

    // Draws one page of a printable document: the painter is on the printer's page,
    // pageRect is the printable page in device pixels.
    using PageRenderer = std::function<void(QPainter& painter, const QRectF& pageRect, int dpi)>;

    struct PreviewRequest
    {
        QString title;          // preview window title
        QString printTitle;     // print options dialog title
        QString statusTitle;    // progress window title while generating/printing
        QString generatingText; // status while the page is generated; %p is the page number
        QString printingText;   // status while the page is printed; %p is the page number
        QString documentName;   // the print job's name
        PageRenderer render;
    };

    virtual ~Dialogs() = default;

    // A message box; returns the button that closed it (defaultButton when nobody can answer).
    virtual Button message(Icon icon, const QString& title, const QString& text,
                           Buttons buttons = Ok, Button defaultButton = NoButton) = 0;

    // The save dialog; the empty text when cancelled. The dialog adds defaultSuffix to a
    // name without an extension and confirms overwriting an existing file.
    virtual QString saveFileName(const QString& title, const QString& directory,
                                 const QString& filter, const QString& defaultSuffix) = 0;

    // The folder picker; the empty text when cancelled.
    virtual QString existingDirectory(const QString& title, const QString& start) = 0;

    // The modal print preview with its print command.
    virtual void preview(const PreviewRequest& request) = 0;

    // Shows a window (a QDialog) modally and returns its result code.
    virtual int execModal(QObject* dialog) = 0;

    // The implementation in force; never null (a console one until a window system sets one).
    static Dialogs& current();
    // Installs d (not owned); nullptr goes back to the console implementation.
    static void setCurrent(Dialogs* d);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Dialogs::Buttons)

// Answers nothing and waits for nobody: each message goes to standard error with its
// title, and every question takes its default answer. Used where there is no display.
class ConsoleDialogs : public Dialogs
{
public:
    Button message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Button defaultButton) override;
    QString saveFileName(const QString&, const QString&, const QString&, const QString&) override
    {
        return {};
    }
    QString existingDirectory(const QString&, const QString&) override { return {}; }
    void preview(const PreviewRequest&) override {}
    int execModal(QObject*) override { return 0; }
};
