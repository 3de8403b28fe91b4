#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QTcpServer>

#include <functional>

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
