// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/UpdateCheck.h"
#include "app/Error.h"
#include "app/SettingsStore.h"
#include "IsolatedTest.h"
#include "PeakMemory.h"
#include "ScriptedDialogs.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QByteArray kDocumentPath = "/download/quillora/quillora.xml";

QByteArray document(const QByteArray& inside)
{
    return "<?xml version=\"1.0\"?>\n<Update>" + inside + "</Update>\n";
}

QByteArray withVersion(const QByteArray& version)
{
    return document("<Program_Info><Program_Version>" + version + "</Program_Version></Program_Info>");
}

// A newer version padded by a comment to exactly `size` bytes.
QByteArray paddedTo(qsizetype size)
{
    const QByteArray shell = withVersion("2.0") + "<!---->";
    return shell.left(shell.size() - 3) + QByteArray(size - shell.size(), 'x') + "-->";
}

QByteArray entityBomb()
{
    QByteArray dtd = "<!ENTITY e0 \"2.0.\">";
    for (int i = 1; i <= 7; ++i) {
        dtd += "<!ENTITY e" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k)
            dtd += "&e" + QByteArray::number(i - 1) + ";";
        dtd += "\">";
    }
    return "<?xml version=\"1.0\"?><!DOCTYPE Update [" + dtd
           + "]><Update><Program_Info><Program_Version>&e7;</Program_Version></Program_Info></Update>";
}

class UpdateCheckTest : public IsolatedTest
{
protected:
    void SetUp() override
    {
        IsolatedTest::SetUp();
        ASSERT_NE(server.port(), 0);
        SettingsStore().writeString(QStringLiteral("UpdateHost"),
                                    QStringLiteral("127.0.0.1:%1").arg(server.port()));
        check.setUrlOpener([this](const QUrl& url) { opened.append(url); });
    }

    // Serves `body` with `status` at the end of a chain of `redirects` redirects.
    void serve(int status, const QByteArray& body, int redirects = 0)
    {
        server.answer = [=](const TestHttpServer::Request& request) {
            const int step = request.path == kDocumentPath ? 0 : request.path.mid(3).toInt();
            if (step < redirects)
                return TestHttpServer::response(
                    302, "moved", {"Location: /r/" + QByteArray::number(step + 1)});
            return TestHttpServer::response(status, body);
        };
    }

    QByteArray downloaded() const
    {
        QFile file(tempDir() + QStringLiteral("/quillora.xml"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    TestHttpServer server;
    ScriptedDialogs dialogs;
    QList<QUrl> opened;
    // Each message reads as its key, so the test sees which one was looked up when.
    UpdateCheck check{[](const QString& key) { return key; }};
};

struct ServerCase
{
    const char* name;
    QByteArray body;
    const char* shown; // the message's key, or nullptr for a silent end
    int status = 200;
    int redirects = 0;
    bool neverAnswers = false;
};

void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

class ServerAnswer : public UpdateCheckTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerAnswer, DecidesWhatTheUserIsTold)
{
    const ServerCase& c = GetParam();
    QFile outside(tempDir() + QStringLiteral("/outside.txt"));
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly) && outside.write("2.0") == 3);
    outside.close();
    QByteArray body = c.body;
    body.replace("%OUTSIDE%", QFileInfo(outside).absoluteFilePath().toUtf8());
    if (c.neverAnswers) {
        check.setTimeout(300ms);
        server.answer = nullptr;
    } else {
        serve(c.status, body, c.redirects);
    }
    dialogs.answers = {Dialogs::No};

    check.run();

    ASSERT_FALSE(server.requests.isEmpty());
    if (!c.shown) {
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join(u'|').toStdString();
        return;
    }
    ASSERT_EQ(dialogs.messages.size(), 1);
    const ScriptedDialogs::Shown& shown = dialogs.messages.first();
    const bool newer = qstrcmp(c.shown, "IDS_4") == 0;
    EXPECT_EQ(shown.text, QLatin1String(c.shown));
    EXPECT_EQ(shown.title, u"IDS_5");
    EXPECT_EQ(shown.icon, Dialogs::Information);
    EXPECT_EQ(shown.buttons, newer ? (Dialogs::Yes | Dialogs::No) : Dialogs::Buttons(Dialogs::Ok));
    if (newer) {
        EXPECT_EQ(shown.defaultButton, Dialogs::Yes);
    }
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(downloaded(), body);
}

const ServerCase kServerCases[] = {
    {"Equal", withVersion("1.17.0.0"), "IDS_6"},
    {"NewerBuild", withVersion("1.17.0.1"), "IDS_4"},
    {"TwoNumbers", withVersion("1.18"), "IDS_4"},
    {"Words", withVersion("Release 1.20 build 7"), "IDS_4"},
    {"HundredSpills", withVersion("1.100.0.0"), "IDS_4"},
    {"Older", withVersion("1.9.9.9"), "IDS_6"},
    {"FifthNumberIgnored", withVersion("1.17.0.0.5"), "IDS_6"},
    {"Cdata", withVersion("<![CDATA[1.18]]>"), "IDS_4"},
    {"VersionMissing", document("<Program_Info><Version>2.0</Version></Program_Info>"), "IDS_6"},
    {"VersionEmpty", document("<Program_Info><Program_Version/></Program_Info>"), "IDS_6"},
    {"FirstInfoCounts",
     document("<Program_Info><Program_Version>1.0</Program_Version></Program_Info>"
              "<Program_Info><Program_Version>2.0</Program_Version></Program_Info>"),
     "IDS_6"},
    {"NoInfo", document("<Program_Version>2.0</Program_Version>"), nullptr},
    {"InfoNested", document("<Wrap><Program_Info><Program_Version>2.0</Program_Version></Program_Info></Wrap>"), nullptr},
    {"NameCaseDiffers", document("<program_info><Program_Version>2.0</Program_Version></program_info>"), nullptr},
    {"ElevenDigits", withVersion("12345678901.0"), nullptr},
    {"CommentBesideText", withVersion("2.0<!-- released -->"), nullptr},
    {"ChildElement", withVersion("<v>2.0</v>"), nullptr},
    {"Malformed", document("<Program_Info><Program_Version>2.0</Program_Info>"), nullptr},
    {"ExternalEntity",
     "<?xml version=\"1.0\"?><!DOCTYPE Update [<!ENTITY v SYSTEM \"file://%OUTSIDE%\">]>"
     "<Update><Program_Info><Program_Version>&v;</Program_Version></Program_Info></Update>",
     nullptr},
    {"EntityExpansionBounded", entityBomb(), nullptr},
    {"NotFound", withVersion("2.0"), nullptr, 404},
    {"FifteenRedirects", withVersion("2.0"), "IDS_4", 200, 15},
    {"SixteenRedirects", withVersion("2.0"), nullptr, 200, 16},
    {"NeverAnswers", {}, nullptr, 200, 0, true},
    {"OneMebibyte", paddedTo(1 << 20), "IDS_4"},
};

INSTANTIATE_TEST_SUITE_P(Table, ServerAnswer, ::testing::ValuesIn(kServerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// How a response is framed and where it leads, as servers write it and as they break it.
struct RawCase
{
    const char* name;
    QList<QByteArray> responses; // the n-th request gets the n-th, the last one repeating
    bool accepted;               // the document is taken (newer version shown) or not
    int requests = 1;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.name; }

class RawResponse : public UpdateCheckTest, public ::testing::WithParamInterface<RawCase> {};

TEST_P(RawResponse, IsReadOrRefused)
{
    const RawCase& c = GetParam();
    server.answer = [&](const TestHttpServer::Request&) {
        QByteArray raw = c.responses.value(server.requests.size() - 1, c.responses.back());
        return raw.replace("%PORT%", QByteArray::number(server.port()));
    };
    dialogs.answers = {Dialogs::No};

    check.run();

    EXPECT_EQ(server.requests.size(), c.requests);
    if (!c.accepted) {
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join(u'|').toStdString();
        return;
    }
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages.first().text, u"IDS_4");
    EXPECT_EQ(downloaded(), withVersion("2.0"));
}

QByteArray chunked(const QByteArray& body, const QByteArray& tail = "0\r\nExpires: never\r\n\r\n")
{
    const qsizetype half = body.size() / 2;
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
           + QByteArray::number(half, 16) + ";part=1\r\n" + body.left(half) + "\r\n"
           + QByteArray::number(body.size() - half, 16).toUpper() + " \r\n" + body.mid(half)
           + "\r\n" + tail;
}

QByteArray head(const QByteArray& fields)
{
    return "HTTP/1.1 200 OK\r\n" + fields + "\r\n";
}

const QByteArray kDoc = withVersion("2.0");
const QByteArray kLength = "Content-Length: " + QByteArray::number(kDoc.size()) + "\r\n";

QByteArray manyFields(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "X-Field-" + QByteArray::number(i) + ": " + QByteArray::number(i) + "\r\n";
    return out;
}

const RawCase kRawCases[] = {
    {"Chunked", {chunked(kDoc)}, true},
    {"ChunkedWithoutTrailer", {chunked(kDoc, "0\r\n\r\n")}, true},
    {"ToTheClose", {"HTTP/1.0 200 OK\r\n\r\n" + kDoc}, true},
    {"BareLineFeedsAndFolding",
     {"HTTP/1.1 200 OK\nX-Folded: one\n two\nContent-Length: " + QByteArray::number(kDoc.size())
      + "\n\n" + kDoc},
     true},
    {"InterimContinue",
     {"HTTP/1.1 100 Continue\r\n\r\n" + TestHttpServer::response(200, kDoc)},
     true},
    {"RepeatedEqualLengths", {head(kLength + kLength) + kDoc}, true},
    {"FieldsUpToTheLimit", {head(manyFields(99) + kLength) + kDoc}, true},
    {"AbsoluteRedirect",
     {"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:%PORT%/elsewhere.xml\r\n"
      "Transfer-Encoding: chunked\r\n\r\n",
      TestHttpServer::response(200, kDoc)},
     true, 2},
    {"LengthLongerThanBody", {head("Content-Length: 999\r\n") + kDoc}, false},
    {"ChunkedCutShort", {chunked(kDoc, "")}, false},
    {"ChunkSizeNotHex", {head("Transfer-Encoding: chunked\r\n") + "zz\r\n" + kDoc}, false},
    {"ChunkSizeTooLarge",
     {head("Transfer-Encoding: chunked\r\n") + "10000000000000000\r\n" + kDoc}, false},
    {"ChunkWithoutLineEnd",
     {head("Transfer-Encoding: chunked\r\n") + QByteArray::number(kDoc.size(), 16) + "\r\n" + kDoc
      + "X\r\n0\r\n\r\n"},
     false},
    {"LengthsDisagree", {head("Content-Length: 7\r\n" + kLength) + kDoc}, false},
    {"LengthNotANumber", {head("Content-Length: -5\r\n") + kDoc}, false},
    {"UnknownCoding", {head("Transfer-Encoding: gzip, chunked\r\n") + kDoc}, false},
    {"NotHttp", {"ICY 200 OK\r\n\r\n" + kDoc}, false},
    {"StatusOfFourDigits", {"HTTP/1.1 2000 OK\r\n" + kLength + "\r\n" + kDoc}, false},
    {"SwitchingProtocols",
     {"HTTP/1.1 101 Upgrade\r\n\r\n" + TestHttpServer::response(200, kDoc)},
     false},
    {"HeadLineTooLong", {head("X-Pad: " + QByteArray(9000, 'a') + "\r\n" + kLength) + kDoc}, false},
    {"TooManyFields", {head(manyFields(101) + kLength) + kDoc}, false},
    {"RedirectWithoutLocation", {TestHttpServer::response(302, kDoc)}, false},
    {"RedirectToHttps",
     {"HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:%PORT%/x.xml\r\nContent-Length: 0\r\n\r\n",
      TestHttpServer::response(200, kDoc)},
     false},
    {"ClosedInTheHead", {"HTTP/1.1 200 OK\r\nContent-Le"}, false},
};

INSTANTIATE_TEST_SUITE_P(Table, RawResponse, ::testing::ValuesIn(kRawCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateCheckTest, NoConnectionEndsTheCheckSilently)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    SettingsStore().writeString(QStringLiteral("UpdateHost"),
                                QStringLiteral("127.0.0.1:%1").arg(closedPort));
    check.run();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(downloaded(), "");
}

// A cookie set on the way, by a redirect, goes with the request it leads to.
TEST_F(UpdateCheckTest, CookieFromARedirectGoesWithTheNextRequest)
{
    server.answer = [&](const TestHttpServer::Request& request) {
        return request.path == kDocumentPath
                   ? TestHttpServer::response(302, "",
                                              {"Location: /next", "Set-Cookie: hop=2; Path=/"})
                   : TestHttpServer::response(200, withVersion("1.17"));
    };
    check.run();
    ASSERT_EQ(server.requests.size(), 2);
    EXPECT_FALSE(server.requests[0].headers.contains("cookie"));
    EXPECT_EQ(server.requests[1].headers.value("cookie"), "hop=2");
    EXPECT_EQ(dialogs.messages.size(), 1);
}

// Past the limit the download stops: nothing is shown, and the file holds no more than it.
TEST_F(UpdateCheckTest, DocumentOverOneMebibyteIsDropped)
{
    serve(200, paddedTo(2 << 20));
    check.run();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_LE(downloaded().size(), 1 << 20);
}

// Whatever a server sends, and however busy the machine, the check holds little of it: it
// reads the socket a buffer at a time, stops at the document limit and closes the
// connection. A client that reads ahead on a thread of its own once took a fast server's
// body into memory by the hundreds of megabytes whenever the GUI thread was slow to run.
TEST_F(UpdateCheckTest, MemoryStaysBoundedWhateverTheServerSends)
{
    struct Case { const char* name; StreamingHttpServer::Kind kind; };
    for (const Case c : {Case{"huge", StreamingHttpServer::Huge}, Case{"chunked", StreamingHttpServer::Chunked},
                         Case{"slow", StreamingHttpServer::Slow},
                         Case{"redirect loop", StreamingHttpServer::RedirectLoop}}) {
        SCOPED_TRACE(c.name);
        StreamingHttpServer streaming(c.kind);
        ASSERT_NE(streaming.port(), 0);
        SettingsStore().writeString(QStringLiteral("UpdateHost"),
                                    QStringLiteral("127.0.0.1:%1").arg(streaming.port()));
        check.setTimeout(c.kind == StreamingHttpServer::Slow ? 300ms : 20s);
        const PeakMemory memory;
        check.run();
        EXPECT_LT(memory.growthMiB(), 60.0);
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join(u'|').toStdString();
        EXPECT_LE(downloaded().size(), 1 << 20);
        // What the server got rid of is what the client read plus the sockets' buffers.
        EXPECT_LT(streaming.bodyBytesSent(), qint64(64) << 20);
        EXPECT_GE(streaming.connections(), 1);
    }

    serve(200, entityBomb());
    const PeakMemory memory;
    check.run();
    EXPECT_LT(memory.growthMiB(), 60.0);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(UpdateCheckTest, YesOpensTheDownloadPageAndNoOpensNothing)
{
    serve(200, withVersion("1.18"));
    dialogs.answers = {Dialogs::No, Dialogs::Yes};
    check.run();
    EXPECT_TRUE(opened.isEmpty());
    check.run();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("IDS_9"))});
}

TEST_F(UpdateCheckTest, RequestCarriesTheHeadersAndCookiesAndTheFileIsReplaced)
{
    const QByteArray first = withVersion("1.17.0.0") + QByteArray(500, ' ');
    const QByteArray second = withVersion("1.17");
    server.answer = [&](const TestHttpServer::Request&) {
        return server.requests.size() == 1
                   ? TestHttpServer::response(200, first, {"Set-Cookie: visit=1; Path=/"})
                   : TestHttpServer::response(200, second);
    };
    check.run();
    EXPECT_EQ(downloaded(), first);
    check.run();
    EXPECT_EQ(downloaded(), second);

    ASSERT_EQ(server.requests.size(), 2);
    const TestHttpServer::Request& r = server.requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, kDocumentPath);
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.headers.value("host"), "127.0.0.1:" + QByteArray::number(server.port()));
    EXPECT_EQ(r.headers.value("accept"), "text/html, */*");
    EXPECT_EQ(r.headers.value("user-agent"), "Mozilla/3.0 (compatible; Quillora)");
    EXPECT_FALSE(r.headers.contains("cookie"));
    EXPECT_EQ(server.requests[1].headers.value("cookie"), "visit=1");
}

TEST_F(UpdateCheckTest, DownloadFileThatCannotBeCreatedIsReportedBeforeAnyRequest)
{
    serve(200, withVersion("2.0"));
    qputenv("TEMP", (scratchDir() + QStringLiteral("/missing/")).toLocal8Bit());
    EXPECT_THROW(check.run(), QuilloraError);
    EXPECT_TRUE(server.requests.isEmpty());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

// The download file is created afresh: a link planted under its name is replaced, and the
// file it points to is left alone.
TEST_F(UpdateCheckTest, PlantedLinkIsReplacedNotWrittenThrough)
{
    const QString victim = scratchDir() + QStringLiteral("/victim");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
    file.close();
    ASSERT_TRUE(QFile::link(victim, tempDir() + QStringLiteral("/quillora.xml")));
    serve(200, withVersion("1.17.0.0"));
    check.run();
    EXPECT_EQ(downloaded(), withVersion("1.17.0.0"));
    EXPECT_FALSE(QFileInfo(tempDir() + QStringLiteral("/quillora.xml")).isSymLink());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep");
}

TEST(UpdateDocumentPath, JoinsTempWithOrWithoutTrailingSeparator)
{
    qputenv("TEMP", "/var/tmp/q/");
    EXPECT_EQ(UpdateCheck::documentPath(), u"/var/tmp/q/quillora.xml");
    qputenv("TEMP", "/var/tmp/q");
    EXPECT_EQ(UpdateCheck::documentPath(), u"/var/tmp/q/quillora.xml");
    qunsetenv("TEMP");
    EXPECT_EQ(UpdateCheck::documentPath(), QDir::tempPath() + QStringLiteral("/quillora.xml"));
}

} // namespace
