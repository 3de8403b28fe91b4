// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QTcpServer>

#include <atomic>
#include <functional>
#include <thread>

// A small HTTP/1.1 server on 127.0.0.1 for the update check. It runs on the test's own
// thread: the check's local event loop serves it. Each request is recorded and answered by
// `answer` (a complete raw response, or nothing to leave the client waiting for ever).
class TestHttpServer : public QObject
{
public:
    struct Request
    {
        QByteArray method, path, version;
        QMap<QByteArray, QByteArray> headers; // names in lower case
    };

    TestHttpServer();
    quint16 port() const { return m_server.serverPort(); }

    std::function<QByteArray(const Request&)> answer;
    QList<Request> requests;

    static QByteArray response(int status, const QByteArray& body,
                               const QList<QByteArray>& extraHeaders = {});

private:
    QTcpServer m_server;
};

// A server on 127.0.0.1 that answers on a thread of its own with blocking writes, as fast as
// the client takes the bytes (or as slowly as told): the servers a client must not let run
// away with its memory. Every request on every connection gets the same kind of answer.
class StreamingHttpServer
{
public:
    enum Kind {
        Huge,          // a Content-Length of 1 GiB, the bytes following
        Chunked,       // a chunked body of 1 GiB
        Slow,          // a small document, one byte every 20 ms
        RedirectLoop,  // a redirect to the same address, for ever
    };
    explicit StreamingHttpServer(Kind kind);
    ~StreamingHttpServer();
    StreamingHttpServer(const StreamingHttpServer&) = delete;
    StreamingHttpServer& operator=(const StreamingHttpServer&) = delete;

    quint16 port() const { return m_port; }
    // Body bytes the client took before it closed the connection, over all connections.
    qint64 bodyBytesSent() const { return m_sent; }
    int connections() const { return m_connections; }

private:
    void serve();
    void answer(int socket);
    bool sendAll(int socket, const char* data, qint64 size);

    Kind m_kind;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<qint64> m_sent{0};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
