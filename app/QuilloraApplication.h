// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

// The application object: a failure escaping an event handler is shown by the general
// error report instead of ending the program, and the event loop goes on.
class QuilloraApplication : public QApplication
{
    Q_OBJECT
public:
    QuilloraApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
