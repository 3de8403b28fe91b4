// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestHttpServer.h"

#include <QTcpSocket>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

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

StreamingHttpServer::StreamingHttpServer(Kind kind) : m_kind(kind)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

StreamingHttpServer::~StreamingHttpServer()
{
    m_stopping = true;
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

void StreamingHttpServer::serve()
{
    while (!m_stopping) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        ++m_connections;
        answer(socket);
        ::close(socket);
    }
}

bool StreamingHttpServer::sendAll(int socket, const char* data, qint64 size)
{
    while (size > 0 && !m_stopping) {
        const ssize_t n = ::send(socket, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;   // the client closed the connection
        data += n;
        size -= n;
    }
    return size == 0;
}

void StreamingHttpServer::answer(int socket)
{
    // The request is read up to the end of its headers.
    QByteArray request;
    char buffer[4096];
    while (request.indexOf("\r\n\r\n") < 0) {
        pollfd readable{socket, POLLIN, 0};
        if (m_stopping || ::poll(&readable, 1, 100) < 0)
            return;
        if (!(readable.revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, n);
    }
    constexpr qint64 kGiB = qint64(1) << 30;
    const QByteArray piece(64 * 1024, 'x');
    switch (m_kind) {
    case RedirectLoop: {
        // One connection at a time is served: each redirect ends its own.
        const QByteArray moved = "HTTP/1.1 302 Found\r\nLocation: /download/quillora/quillora.xml\r\n"
                                 "Content-Length: 0\r\nConnection: close\r\n\r\n";
        sendAll(socket, moved.constData(), moved.size());
        return;
    }
    case Huge:
    case Chunked: {
        const bool chunked = m_kind == Chunked;
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                                + (chunked ? QByteArray("Transfer-Encoding: chunked")
                                           : "Content-Length: " + QByteArray::number(kGiB))
                                + "\r\n\r\n";
        const QByteArray each =
            chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n" : piece;
        if (!sendAll(socket, head.constData(), head.size()))
            return;
        for (qint64 left = kGiB; left > 0; left -= piece.size()) {
            if (!sendAll(socket, each.constData(), each.size()))
                return;
            m_sent += piece.size();
        }
        if (chunked)
            sendAll(socket, "0\r\n\r\n", 5);
        return;
    }
    case Slow: {
        const QByteArray body = "<?xml version=\"1.0\"?><Update><Program_Info><Program_Version>2.0"
                                "</Program_Version></Program_Info></Update>";
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "
                                + QByteArray::number(body.size()) + "\r\n\r\n";
        if (!sendAll(socket, head.constData(), head.size()))
            return;
        for (char c : body) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!sendAll(socket, &c, 1))
                return;
            ++m_sent;
        }
        return;
    }
    }
}
