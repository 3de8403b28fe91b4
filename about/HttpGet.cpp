// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/HttpGet.h"

#include <QEventLoop>
#include <QIODevice>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

namespace {

// Limits on what a response may make us hold: a head line (the status line, a header field or
// a chunk's size line), and the fields of a head or of a chunked body's trailer.
constexpr qsizetype kMaxLineLength = 8 * 1024;
constexpr int kMaxFields = 100;
// The socket holds at most this much; so does the block we read it into.
constexpr qint64 kSocketBufferSize = 64 * 1024;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool allOf(QByteArrayView text, bool (*test)(char))
{
    return std::all_of(text.begin(), text.end(), test);
}

struct ResponseHead
{
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> fields; // names in lower case

    QList<QByteArray> values(QByteArrayView name) const
    {
        QList<QByteArray> out;
        for (const auto& [n, v] : fields)
            if (n == name)
                out.append(v);
        return out;
    }
};

// Reads one response as it arrives: the head (after any interim 1xx responses), then the body
// framed by chunked coding, by Content-Length, or by the end of the connection.
class ResponseReader
{
public:
    enum class Outcome { Pending, Complete, Stopped, Broken };

    // Told the head as soon as it is whole; false means the body is not wanted.
    std::function<bool(const ResponseHead&)> onHead;
    // Given the body's bytes as they come; false ends the response as broken.
    std::function<bool(QByteArrayView)> onBody;

    Outcome outcome() const { return m_outcome; }

    void feed(QByteArrayView data)
    {
        while (m_outcome == Outcome::Pending && !data.isEmpty()) {
            if (m_state == State::Data)
                takeData(data);
            else if (std::optional<QByteArray> line = takeLine(data))
                handleLine(*line);
        }
    }

    // The server closed the connection: only a body that runs to the close is whole now.
    void closed()
    {
        if (m_outcome != Outcome::Pending)
            return;
        m_outcome = m_state == State::Data && m_left < 0 ? Outcome::Complete : Outcome::Broken;
    }

private:
    enum class State { StatusLine, Fields, Data, ChunkSize, ChunkEnd, Trailer };

    void fail() { m_outcome = Outcome::Broken; }

    // A whole line without its line break, or nothing while it is still arriving.
    std::optional<QByteArray> takeLine(QByteArrayView& data)
    {
        const qsizetype end = data.indexOf('\n');
        const QByteArrayView part = end < 0 ? data : data.first(end);
        if (m_line.size() + part.size() > kMaxLineLength) {
            fail();
            return std::nullopt;
        }
        m_line.append(part);
        data = end < 0 ? QByteArrayView() : data.sliced(end + 1);
        if (end < 0)
            return std::nullopt;
        QByteArray line = std::exchange(m_line, {});
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

    void handleLine(const QByteArray& line)
    {
        switch (m_state) {
        case State::StatusLine:
            return statusLine(line);
        case State::Fields:
            return line.isEmpty() ? headDone() : field(line);
        case State::ChunkSize:
            return chunkSize(line);
        case State::ChunkEnd:
            if (!line.isEmpty())
                return fail();
            m_state = State::ChunkSize;
            return;
        case State::Trailer:
            if (line.isEmpty())
                m_outcome = Outcome::Complete;
            else if (++m_trailerFields > kMaxFields)
                fail();
            return;
        case State::Data:
            return;
        }
    }

    void statusLine(const QByteArray& line)
    {
        // "HTTP/1.x 200 reason": the reason may be missing, the three digits may not.
        const bool shaped = line.size() >= 12 && line.startsWith("HTTP/1.") && isDigit(line[7]) &&
                            line[8] == ' ' && allOf(QByteArrayView(line).sliced(9, 3), isDigit) &&
                            (line.size() == 12 || line[12] == ' ');
        const int status = shaped ? line.mid(9, 3).toInt() : 0;
        if (status < 100)
            return fail();
        m_head = {status, {}};
        m_state = State::Fields;
    }

    void field(const QByteArray& line)
    {
        if (line.front() == ' ' || line.front() == '\t') {
            // A folded line continues the field before it.
            if (m_head.fields.isEmpty())
                return fail();
            m_head.fields.back().second += ' ' + line.trimmed();
            return;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon <= 0 || name.contains(' ') || name.contains('\t') ||
            m_head.fields.size() >= kMaxFields)
            return fail();
        m_head.fields.append({name.toLower(), line.mid(colon + 1).trimmed()});
    }

    void headDone()
    {
        if (m_head.status == 101)
            return fail(); // switching protocols was never asked for
        if (m_head.status < 200) {
            // An interim answer ("100 Continue"); the real one follows.
            m_state = State::StatusLine;
            return;
        }
        if (!onHead(m_head)) {
            m_outcome = Outcome::Stopped;
            return;
        }
        if (m_head.status == 204 || m_head.status == 304) {
            m_outcome = Outcome::Complete;
            return;
        }
        const QList<QByteArray> codings = m_head.values("transfer-encoding");
        if (!codings.isEmpty()) {
            // Chunked is the only coding we can take off; we ask for no other.
            if (codings.size() != 1 || codings.front().toLower() != "chunked")
                return fail();
            m_chunked = true;
            m_state = State::ChunkSize;
            return;
        }
        const QList<QByteArray> lengths = m_head.values("content-length");
        m_left = -1;
        for (const QByteArray& text : lengths) {
            const qint64 length = decimal(text);
            if (length < 0 || (m_left >= 0 && length != m_left))
                return fail();
            m_left = length;
        }
        m_state = State::Data;
        if (m_left == 0)
            m_outcome = Outcome::Complete;
    }

    void chunkSize(const QByteArray& line)
    {
        const qsizetype extension = line.indexOf(';');
        const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
        // Fifteen hexadecimal digits stay well inside 64 bits.
        if (digits.isEmpty() || digits.size() > 15 || !allOf(digits, isHexDigit))
            return fail();
        m_left = digits.toLongLong(nullptr, 16);
        m_state = m_left == 0 ? State::Trailer : State::Data;
    }

    void takeData(QByteArrayView& data)
    {
        const qsizetype size =
            m_left < 0 ? data.size() : qsizetype(std::min<qint64>(m_left, data.size()));
        if (!onBody(data.first(size)))
            return fail();
        data = data.sliced(size);
        if (m_left < 0)
            return;
        m_left -= size;
        if (m_left > 0)
            return;
        if (m_chunked)
            m_state = State::ChunkEnd;
        else
            m_outcome = Outcome::Complete;
    }

    static qint64 decimal(const QByteArray& text)
    {
        if (text.isEmpty() || text.size() > 18 || !allOf(text, isDigit))
            return -1;
        return text.toLongLong();
    }

    State m_state = State::StatusLine;
    Outcome m_outcome = Outcome::Pending;
    QByteArray m_line;
    ResponseHead m_head;
    qint64 m_left = -1; // bytes still to come in this body or chunk; -1 until the close
    bool m_chunked = false;
    int m_trailerFields = 0;
};

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QByteArray requestFor(const HttpGet& get, const QUrl& url)
{
    QByteArray target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty())
        target = "/";
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() >= 0 && url.port() != 80)
        host += ':' + QByteArray::number(url.port());

    QByteArray out = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& [name, value] : get.headers)
        out += name + ": " + value + "\r\n";
    if (get.cookies) {
        QList<QByteArray> pairs;
        for (const QNetworkCookie& cookie : get.cookies->cookiesForUrl(url))
            pairs.append(cookie.toRawForm(QNetworkCookie::NameAndValueOnly));
        if (!pairs.isEmpty())
            out += "Cookie: " + pairs.join("; ") + "\r\n";
    }
    // One request per connection: a connection left open would only be closed unused.
    return out + "Connection: close\r\n\r\n";
}

// One request and its response on a connection of its own.
class Exchange
{
public:
    enum class Result { Failed, Done, Redirect };

    Exchange(const HttpGet& get, QIODevice& body) : m_get(get), m_body(body) {}

    Result run(const QUrl& url, QEventLoop& loop, const bool& expired)
    {
        QTcpSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        // The cap that bounds us: once it is full the socket stops reading, the kernel's
        // buffer fills and the server's writes wait.
        socket.setReadBufferSize(kSocketBufferSize);
        ResponseReader reader;
        reader.onHead = [&](const ResponseHead& head) { return takeHead(head, url); };
        reader.onBody = [&](QByteArrayView data) { return takeBody(data); };

        bool over = false;
        auto end = [&] {
            over = true;
            loop.quit();
        };
        QByteArray block(kSocketBufferSize, Qt::Uninitialized);
        auto pump = [&] {
            while (reader.outcome() == ResponseReader::Outcome::Pending &&
                   socket.bytesAvailable() > 0) {
                const qint64 n = socket.read(block.data(), block.size());
                if (n <= 0)
                    break;
                reader.feed(QByteArrayView(block.constData(), n));
            }
            if (reader.outcome() != ResponseReader::Outcome::Pending)
                end();
        };
        QObject::connect(&socket, &QTcpSocket::connected, &socket,
                         [&] { socket.write(requestFor(m_get, url)); });
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, pump);
        // Reached on every way the connection ends: closed by the server, refused, unresolved.
        QObject::connect(&socket, &QAbstractSocket::stateChanged, &socket,
                         [&](QAbstractSocket::SocketState state) {
                             if (state != QAbstractSocket::UnconnectedState || over)
                                 return;
                             pump();
                             reader.closed();
                             end();
                         });
        socket.connectToHost(url.host(), quint16(url.port(80)));
        // Windows keep painting while we wait, but take no input: the fetch is one blocking
        // step for the user, and no second click can start another beside it.
        if (!over && !expired)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        QObject::disconnect(&socket, nullptr, nullptr, nullptr);
        socket.abort();

        if (expired || reader.outcome() == ResponseReader::Outcome::Broken ||
            reader.outcome() == ResponseReader::Outcome::Pending)
            return Result::Failed;
        if (reader.outcome() == ResponseReader::Outcome::Stopped)
            return Result::Redirect;
        return m_status >= 200 && m_status <= 299 ? Result::Done : Result::Failed;
    }

    QUrl next() const { return m_next; }

private:
    bool takeHead(const ResponseHead& head, const QUrl& url)
    {
        if (m_get.cookies) {
            QList<QNetworkCookie> cookies;
            for (const QByteArray& value : head.values("set-cookie"))
                cookies += QNetworkCookie::parseCookies(value);
            m_get.cookies->setCookiesFromUrl(cookies, url);
        }
        m_status = head.status;
        const QList<QByteArray> location = head.values("location");
        if (!isRedirect(head.status) || location.isEmpty())
            return true;
        m_next = url.resolved(QUrl::fromEncoded(location.front()));
        return false;
    }

    bool takeBody(QByteArrayView data)
    {
        // Only a successful answer's body is the document; an error page is not worth reading,
        // and a redirect's never gets here.
        if (m_status < 200 || m_status > 299 || m_written + data.size() > m_get.maxBodySize)
            return false;
        if (m_body.write(data.data(), data.size()) != data.size())
            return false;
        m_written += data.size();
        return true;
    }

    const HttpGet& m_get;
    QIODevice& m_body;
    qint64 m_written = 0;
    int m_status = 0;
    QUrl m_next;
};

} // namespace

bool HttpGet::fetch(QIODevice& body) const
{
    QEventLoop loop;
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        expired = true;
        loop.quit();
    });
    deadline.start(timeout);

    QUrl current = url;
    for (int redirects = 0;; ++redirects) {
        // Plain http only, so a redirect can never lead anywhere less safe than where we began.
        if (!current.isValid() || current.scheme() != u"http" || current.host().isEmpty())
            return false;
        Exchange exchange(*this, body);
        switch (exchange.run(current, loop, expired)) {
        case Exchange::Result::Done:
            return true;
        case Exchange::Result::Failed:
            return false;
        case Exchange::Result::Redirect:
            if (redirects == maxRedirects)
                return false;
            current = exchange.next();
            break;
        }
    }
}
