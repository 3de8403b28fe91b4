// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/QuilloraApplication.h"

#include "app/ErrorReport.h"

QuilloraApplication::QuilloraApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool QuilloraApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The rest of the failed handler is skipped; the event counts as not handled.
        reportCurrentFailure();
        return false;
    }
}
