// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class QFile;
class QNetworkCookieJar;

// The check behind "Check for updates": fetches the update document from the update host,
// compares its version with the program's own and tells the user. One instance lives as
// long as the About window, so cookies the server sets last for the whole run.
class UpdateCheck
{
public:
    // Looks up a message of the About window ("IDS_4", "IDS_5", "IDS_6", "IDS_9") in the
    // active language at the moment it is needed.
    using TextLookup = std::function<QString(const QString& key)>;
    // Opens an address in the user's web browser.
    using UrlOpener = std::function<void(const QUrl& url)>;

    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};
    static constexpr qint64 kMaxDocumentSize = 1 << 20;

    explicit UpdateCheck(TextLookup text);
    ~UpdateCheck();
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    void setUrlOpener(UrlOpener opener) { m_open = std::move(opener); }
    // The whole request, redirects included, must finish within this time.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // Runs the check. Failing to create the download file throws QuilloraError for the
    // general error report; every later failure ends the check without a word.
    void run();

    // Where the update document is stored: TEMP (or the platform's temporary folder) and
    // "quillora.xml".
    static QString documentPath();
    // The address of the update document on the host of the "UpdateHost" setting.
    static QUrl documentUrl();

private:
    bool download(QFile& file);
    void compareAndTell(const QString& path);

    TextLookup m_text;
    UrlOpener m_open;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    std::unique_ptr<QNetworkCookieJar> m_cookies;
};
