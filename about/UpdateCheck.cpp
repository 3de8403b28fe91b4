// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/UpdateCheck.h"

#include "about/FileVersion.h"
#include "about/HttpGet.h"
#include "about/UpdateDocument.h"
#include "about/VersionNumbers.h"
#include "app/Dialogs.h"
#include "app/Error.h"
#include "app/SettingsStore.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QNetworkCookieJar>

UpdateCheck::UpdateCheck(TextLookup text)
    : m_text(std::move(text)), m_open([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      m_cookies(std::make_unique<QNetworkCookieJar>())
{
}

UpdateCheck::~UpdateCheck() = default;

QString UpdateCheck::documentPath()
{
    const QString temp = qEnvironmentVariable("TEMP");
    return QDir(temp.isEmpty() ? QDir::tempPath() : temp).filePath(QStringLiteral("quillora.xml"));
}

QUrl UpdateCheck::documentUrl()
{
    QString host = SettingsStore().readString(QStringLiteral("UpdateHost"));
    if (host.isEmpty())
        host = QStringLiteral(QUILLORA_DEFAULT_UPDATE_HOST);
    return QUrl(QStringLiteral("http://") + host + QStringLiteral("/download/quillora/quillora.xml"));
}

void UpdateCheck::run()
{
    const QString path = documentPath();
    // Created afresh: an old file (or a link planted under that name in a shared temporary
    // folder) is removed, never written through.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw QuilloraError(QStringLiteral("Cannot create file \"%1\". %2")
                                .arg(QDir::toNativeSeparators(path), file.errorString()));
    try {
        if (!download(file))
            return; // the file closes as it goes out of scope, with what was written
        file.close();
        compareAndTell(path);
    } catch (const std::exception&) {
        // The check keeps its failures to itself.
    }
}

bool UpdateCheck::download(QFile& file)
{
    HttpGet get;
    get.url = documentUrl();
    get.headers = {{"Accept", "text/html, */*"},
                   {"User-Agent", "Mozilla/3.0 (compatible; Quillora)"}};
    get.maxRedirects = 15;
    get.maxBodySize = kMaxDocumentSize;
    get.timeout = m_timeout;
    get.cookies = m_cookies.get();
    return get.fetch(file);
}

void UpdateCheck::compareAndTell(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxDocumentSize)
        return;
    const std::optional<QString> serverText = readProgramVersion(file.readAll());
    if (!serverText)
        return;
    const auto program = ParseVersionNumbers(ReadFileVersion(QCoreApplication::applicationFilePath()));
    const auto server = ParseVersionNumbers(*serverText);
    if (!program || !server)
        return;

    Dialogs& dialogs = Dialogs::current();
    if (versionKey(*program) < versionKey(*server)) {
        if (dialogs.message(Dialogs::Information, m_text(QStringLiteral("IDS_5")),
                            m_text(QStringLiteral("IDS_4")), Dialogs::Yes | Dialogs::No, Dialogs::Yes)
            == Dialogs::Yes)
            m_open(QUrl(m_text(QStringLiteral("IDS_9"))));
    } else {
        dialogs.message(Dialogs::Information, m_text(QStringLiteral("IDS_5")),
                        m_text(QStringLiteral("IDS_6")), Dialogs::Ok, Dialogs::Ok);
    }
}
