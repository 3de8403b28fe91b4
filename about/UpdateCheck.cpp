#include "about/UpdateCheck.h"

#include "about/FileVersion.h"
#include "about/UpdateDocument.h"
#include "about/VersionNumbers.h"
#include "app/Dialogs.h"
#include "app/Error.h"
#include "app/SettingsStore.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

UpdateCheck::UpdateCheck(TextLookup text)
    : m_text(std::move(text)), m_open([](const QUrl& url) { QDesktopServices::openUrl(url); })
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
    if (!m_network) {
        m_network = std::make_unique<QNetworkAccessManager>();
        m_network->setProxy(QNetworkProxy::NoProxy);
    }
    QNetworkRequest request(documentUrl());
    request.setRawHeader("Accept", "text/html, */*");
    request.setRawHeader("User-Agent", "Mozilla/3.0 (compatible; Quillora)");
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(15);

    std::unique_ptr<QNetworkReply> reply(m_network->get(request));
    // The network thread reads ahead only as far as this buffer: without it, a fast server
    // fills memory with its body faster than the check can count it and give up.
    reply->setReadBufferSize(kReadBufferSize);
    bool failed = false;
    qint64 received = 0;
    QByteArray chunk;
    auto store = [&] {
        while (!failed && reply->bytesAvailable() > 0) {
            // One byte past the limit is enough to know the document is too large.
            chunk = reply->read(std::min<qint64>(kReadBufferSize, kMaxDocumentSize + 1 - received));
            received += chunk.size();
            if (received > kMaxDocumentSize || file.write(chunk) != chunk.size()) {
                failed = true;
                reply->abort();   // closes the connection: nothing more is sent for us
            }
        }
    };
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        failed = true;
        reply->abort();
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (!failed)
            store();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(m_timeout);
    // The window keeps painting while we wait, but takes no input: the check is one
    // blocking step for the user, and no second click can start beside it.
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    store();
    reply->disconnect(&loop);
    if (failed || reply->error() != QNetworkReply::NoError)
        return false;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status <= 299;
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
