#include "TestHttpServer.h"

#include <QTcpSocket>

#include <memory>

TestHttpServer::TestHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto pending = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, pending] {
                QByteArray& buffer = *pending;
                buffer += socket->readAll();
                const qsizetype end = buffer.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QList<QByteArray> lines = buffer.left(end).split('\n');
                buffer.remove(0, end + 4);
                Request request;
                const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
                request.method = first.value(0);
                request.path = first.value(1);
                request.version = first.value(2);
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const qsizetype colon = lines[i].indexOf(':');
                    if (colon > 0)
                        request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                               lines[i].mid(colon + 1).trimmed());
                }
                requests.append(request);
                const QByteArray reply = answer ? answer(request) : QByteArray();
                if (!reply.isEmpty()) {
                    socket->write(reply);
                    socket->disconnectFromHost();
                }
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QByteArray TestHttpServer::response(int status, const QByteArray& body,
                                    const QList<QByteArray>& extraHeaders)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " X\r\n";
    for (const QByteArray& header : extraHeaders)
        out += header + "\r\n";
    out += "Content-Type: text/xml\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return out;
}
