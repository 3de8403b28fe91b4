// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ErrorReport.h"

#include "app/Dialogs.h"
#include "app/Error.h"

#include <QCoreApplication>

#include <exception>

QString errorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

void reportError(const QString& message)
{
    Dialogs::current().message(Dialogs::Critical, QCoreApplication::applicationName(),
                               errorReportText(message), Dialogs::Ok);
}

void reportCurrentFailure()
{
    try {
        throw;
    } catch (const QuilloraError& e) {
        reportError(e.message());
    } catch (const std::exception& e) {
        reportError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        // A failure that carries no text is still reported, with an empty message.
        reportError(QString());
    }
}

bool guarded(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        reportCurrentFailure();
        return false;
    }
}
