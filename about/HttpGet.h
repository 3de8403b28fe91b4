// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

#include <chrono>

class QIODevice;
class QNetworkCookieJar;

// One HTTP/1.1 GET over plain http, following redirects, run in a local event loop of the
// calling thread that takes no user input. It holds no more of the reply than a socket buffer and
// one line of its head at a time: what the server sends beyond that waits in the kernel, whose TCP
// window then holds the server back, however slowly the caller's thread gets to run.
struct HttpGet
{
    QUrl url;
    // Sent on every request after "Host", in this order.
    QList<QPair<QByteArray, QByteArray>> headers;
    int maxRedirects = 15;
    // A body longer than this is a failure; the connection is closed as soon as it shows.
    qint64 maxBodySize = 1 << 20;
    // For the whole exchange, redirects included.
    std::chrono::milliseconds timeout{30000};
    // Cookies the server sets are kept here and sent back where they apply; none when null.
    QNetworkCookieJar* cookies = nullptr;

    // Writes the final response's body into `body`. True only when that response has a status
    // from 200 to 299 and its body arrived whole. Whatever was written before a failure stays.
    bool fetch(QIODevice& body) const;
};
