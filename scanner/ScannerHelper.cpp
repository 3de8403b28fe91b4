// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/ScannerHelper.h"

#include "app/CompanionProgram.h"
#include "i18n/OwnTexts.h"
#include "scanner/HelperSpawn.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ScannerProtocol;

namespace {

using Clock = std::chrono::steady_clock;

// ---- Reaping ----

// Helpers that were told to end, or killed but not yet gone. A helper may hang in SANE's
// own end on a lock a driver left behind: it gets a grace period, then SIGKILL. Nothing
// waits on a helper without a bound.
struct Retired
{
    pid_t pid;
    Clock::time_point killAt;
};
std::mutex g_retiredMutex;
std::vector<Retired> g_retired;
constexpr auto kRetireGrace = std::chrono::seconds(2);

void reapRetired()
{
    const std::lock_guard<std::mutex> lock(g_retiredMutex);
    const auto now = Clock::now();
    for (auto it = g_retired.begin(); it != g_retired.end();) {
        const pid_t r = waitpid(it->pid, nullptr, WNOHANG);
        if (r == it->pid || (r < 0 && errno == ECHILD)) {
            it = g_retired.erase(it);
            continue;
        }
        if (now >= it->killAt)
            kill(it->pid, SIGKILL);
        ++it;
    }
}

void retirePid(pid_t pid, Clock::duration grace)
{
    {
        const std::lock_guard<std::mutex> lock(g_retiredMutex);
        g_retired.push_back({pid, Clock::now() + grace});
    }
    reapRetired();
}

// SIGKILL and reap, waiting a moment at most: a process stuck in the kernel (a driver in
// an uninterruptible USB call) is left to the retired list.
void killAndReap(pid_t pid)
{
    kill(pid, SIGKILL);
    const auto until = Clock::now() + std::chrono::milliseconds(200);
    for (;;) {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return;
        if (Clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    retirePid(pid, Clock::duration::zero());
}

int msUntil(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<long long>(0, left.count()));
}

void drain(int fd)
{
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

// ---- The page's shared memory on our side ----

void unmapPage(void* info)
{
    auto* mapping = static_cast<std::pair<void*, size_t>*>(info);
    munmap(mapping->first, mapping->second);
    delete mapping;
}

// The helper's memfd mapped read-only: nothing here can write into it, and it is sealed
// against shrinking, so the helper cannot pull pages away from under the image.
class SharedPage
{
public:
    ~SharedPage()
    {
        if (m_base)
            munmap(m_base, m_mapped);
        if (m_fd >= 0)
            close(m_fd);
    }

    // false: the memory is not what the layout says (a broken helper).
    bool adopt(int fd, const ScannerHelper::PageLayout& layout, int capacityRows)
    {
        m_fd = fd;
        m_layout = layout;
        if (layout.width <= 0 || layout.width > (1 << 20) || layout.stride % 4 != 0
            || layout.stride < pageStride(layout.format, layout.width)
            || layout.stride > (1 << 26))
            return false;
        if (layout.format != PageFormat::Mono && layout.format != PageFormat::Gray8
            && layout.format != PageFormat::Rgb888)
            return false;
        if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK) != 0)
            return false;
        return map(capacityRows);
    }

    // Maps capacityRows rows (remapping when the page grew). false: broken helper.
    bool map(int capacityRows)
    {
        if (capacityRows <= 0 ||
            std::int64_t(capacityRows) * m_layout.stride > (std::int64_t(1) << 36))
            return false;
        const size_t bytes = size_t(capacityRows) * size_t(m_layout.stride);
        if (bytes <= m_mapped)
            return true;
        struct stat st;
        if (fstat(m_fd, &st) != 0 || std::uint64_t(st.st_size) < bytes)
            return false;
        void* p = m_base ? mremap(m_base, m_mapped, bytes, MREMAP_MAYMOVE)
                         : mmap(nullptr, bytes, PROT_READ, MAP_SHARED, m_fd, 0);
        if (p == MAP_FAILED) {
            m_noMemory = true;
            return true; // our shortage, not the helper's fault: the page is stopped
        }
#ifdef MADV_POPULATE_READ
        // One call maps the helper's pages instead of a fault for each as rows are read.
        madvise(static_cast<char*>(p) + m_mapped, bytes - m_mapped, MADV_POPULATE_READ);
#endif
        m_base = static_cast<uchar*>(p);
        m_mapped = bytes;
        m_capacityRows = capacityRows;
        return true;
    }

    bool noMemory() const { return m_noMemory; }
    int capacityRows() const { return m_capacityRows; }
    const uchar* base() const { return m_base; }

    // The finished page: an image over the mapping, which it unmaps when it goes.
    QImage take(int rows, int* failureStatus)
    {
        QImage::Format format = m_layout.format == PageFormat::Mono    ? QImage::Format_Mono
                              : m_layout.format == PageFormat::Gray8 ? QImage::Format_Grayscale8
                                                                     : QImage::Format_RGB888;
        auto* info = new std::pair<void*, size_t>(m_base, m_mapped);
        QImage page(static_cast<const uchar*>(m_base), m_layout.width, rows, m_layout.stride,
                    format, unmapPage, info);
        if (page.isNull()) {
            delete info;
            *failureStatus = NoMemory;
            return page;
        }
        m_base = nullptr;
        m_mapped = 0;
        ScannerHelper::giveScannerColours(page);
        return page;
    }

private:
    int m_fd = -1;
    ScannerHelper::PageLayout m_layout;
    uchar* m_base = nullptr;
    size_t m_mapped = 0;
    int m_capacityRows = 0;
    bool m_noMemory = false;
};

// One page as its events arrive. false from an event: the helper broke the protocol.
struct PageRead
{
    PageRead(const ScannerHelper::PageEvents& e, std::chrono::milliseconds quiet, bool windowAsked)
        : events(e), silence(quiet), windowAsked(windowAsked)
    {
    }

    const ScannerHelper::PageEvents& events;
    std::chrono::milliseconds silence; // a page may be quiet this long
    bool windowAsked;
    Clock::time_point deadline;
    SharedPage memory;
    bool begun = false;
    bool stopping = false; // asked to stop: the deadline no longer moves
    int window = 0;        // rows of the window; 0: the whole page
    int expectedRows = -1;
    int complete = 0;      // rows reported so far
    int taken = 0;         // of a window page, the rows we said we took

    // Through a window, rows must come in order, fit the window beside the rows not taken,
    // and stay within the announced length.
    bool windowRowsFit(int rows) const
    {
        return window == 0
            || (rows >= complete && rows <= expectedRows && rows - taken <= window);
    }

    bool begin(Frame& frame)
    {
        Reader in(frame.payload);
        ScannerHelper::PageLayout layout;
        layout.format = PageFormat(in.u32());
        layout.width = in.i32();
        layout.stride = in.i32();
        layout.expectedRows = in.i32();
        const int capacity = in.i32();
        layout.windowRows = in.i32();
        if (begun || !in.atEnd()
            || (layout.windowRows != 0
                && (!windowAsked || layout.windowRows != capacity || layout.windowRows < 0
                    || layout.expectedRows < layout.windowRows))) {
            close(frame.fd);
            return false;
        }
        begun = true;
        window = layout.windowRows;
        expectedRows = layout.expectedRows;
        if (!memory.adopt(frame.fd, layout, capacity)) // it owns the descriptor now
            return false;
        deadline = Clock::now() + silence;
        if (events.began)
            events.began(layout);
        return true;
    }

    bool rows(const Frame& frame)
    {
        Reader in(frame.payload);
        const int rows = in.i32();
        const int capacity = in.i32();
        const int permille = in.i32();
        if (!begun || !in.atEnd() || capacity < memory.capacityRows() || rows < 0
            || (window == 0 && rows > capacity) || (window != 0 && capacity != window)
            || !windowRowsFit(rows) || !memory.map(capacity))
            return false;
        if (!stopping)
            deadline = Clock::now() + silence;
        complete = rows;
        if (events.rowsArrived && memory.base())
            events.rowsArrived(memory.base(), rows, permille);
        return true;
    }

    bool end(const Frame& frame, ScannerHelper::PageResult* result)
    {
        Reader in(frame.payload);
        result->status = in.i32();
        const int rows = in.i32();
        result->text = QString::fromStdString(in.str());
        if (!in.atEnd())
            return false;
        if (result->status == Good) {
            if (!begun || rows <= 0 || (window == 0 && rows > memory.capacityRows())
                || !windowRowsFit(rows))
                return false;
            result->rows = rows;
            if (window != 0) {
                // The rows since the last report are still in their slots.
                if (rows > complete && events.rowsArrived && memory.base())
                    events.rowsArrived(memory.base(), rows, 1000);
                complete = taken = rows;
            } else if (!memory.noMemory()) {
                result->page = memory.take(rows, &result->status);
            }
        }
        if (memory.noMemory() || (result->status == NoMemory && result->text.isEmpty())) {
            result->status = NoMemory;
            result->page = QImage();
            result->text = QStringLiteral("Not enough memory for the page");
        }
        return true;
    }
};

} // namespace

// ---- Finding and starting the helper ----

ScannerHelper::Deadlines ScannerHelper::Deadlines::current()
{
    Deadlines d;
    bool ok = false;
    const int all = qEnvironmentVariableIntValue("QUILLORA_SCANNER_DEADLINE_MS", &ok);
    if (ok && all > 0) {
        d.listing = d.open = d.request = d.setOption = d.pageStart = d.pageSilence = all;
        d.cancel = std::min(d.cancel, all);
    }
    return d;
}

void ScannerHelper::giveScannerColours(QImage& image)
{
    if (image.format() == QImage::Format_Mono)
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
}

QString ScannerHelper::programPath()
{
    const QString chosen = qEnvironmentVariable("QUILLORA_SCANNER_HELPER");
    if (!chosen.isEmpty())
        return chosen;
    return QFile::decodeName(companionProgramPath(QUILLORA_HELPER_NAME).c_str());
}

namespace {

// The helper the launcher started for this process, taken from the environment once (so
// that no program started later sees it): our end of its socket and its process id.
bool takeStartedHelper(int* socket, pid_t* pid)
{
    const QByteArray value = qgetenv(kStartedHelperVariable);
    if (value.isNull())
        return false;
    qunsetenv(kStartedHelperVariable);
    const QList<QByteArray> fields = value.split(' ');
    bool fdOk = false, pidOk = false;
    const int fd = fields.size() == 2 ? fields[0].toInt(&fdOk) : -1;
    const pid_t child = fields.size() == 2 ? pid_t(fields[1].toInt(&pidOk)) : -1;
    struct stat st;
    // Only a socket of ours to a child of ours that is still running: a value set by hand
    // must not make us talk to, or kill, anything else.
    if (!fdOk || !pidOk || fd <= 2 || child <= 0 || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)
        || waitpid(child, nullptr, WNOHANG) != 0)
        return false;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    *socket = fd;
    *pid = child;
    return true;
}

} // namespace

std::unique_ptr<ScannerHelper> ScannerHelper::start()
{
    reapRetired();
    std::unique_ptr<ScannerHelper> helper(new ScannerHelper);
    int ourEnd = -1;
    pid_t pid = -1;
    if (!takeStartedHelper(&ourEnd, &pid))
        pid = spawnScannerHelper(QFile::encodeName(programPath()).constData(), &ourEnd);
    if (pid < 0) {
        helper->m_failure = Failure::Missing;
        return helper;
    }
    helper->m_pid = pid;
    helper->m_channel = std::make_unique<Channel>(ourEnd);
    return helper;
}

void ScannerHelper::discardStartedHelper()
{
    int socket = -1;
    pid_t pid = -1;
    if (!takeStartedHelper(&socket, &pid))
        return;
    close(socket);
    killAndReap(pid);
}

ScannerHelper::~ScannerHelper()
{
    const std::lock_guard<std::mutex> lock(m_pidMutex);
    if (m_pid > 0)
        killAndReap(m_pid);
}

void ScannerHelper::retire()
{
    m_channel.reset(); // closing our end is its signal to close SANE and exit
    if (m_failure == Failure::None)
        m_failure = Failure::Stopped; // no longer usable
    const std::lock_guard<std::mutex> lock(m_pidMutex);
    if (m_pid > 0)
        retirePid(m_pid, kRetireGrace);
    m_pid = -1;
}

void ScannerHelper::abort()
{
    const std::lock_guard<std::mutex> lock(m_pidMutex);
    if (m_pid > 0)
        kill(m_pid, SIGKILL); // the waiting thread sees the socket close
}

void ScannerHelper::fail(Failure why)
{
    if (m_failure == Failure::None)
        m_failure = why;
    m_channel.reset();
    const std::lock_guard<std::mutex> lock(m_pidMutex);
    if (m_pid > 0)
        killAndReap(m_pid);
    m_pid = -1;
}

void ScannerHelper::failOn(Channel::Result r)
{
    fail(r == Channel::Result::Timeout ? Failure::NotResponding : Failure::Stopped);
}

QString ScannerHelper::failureText() const
{
    switch (m_failure) {
    case Failure::Missing: return ownText("scanner.driverMissing");
    case Failure::NotResponding: return ownText("scanner.driverNotResponding");
    case Failure::Stopped: return ownText("scanner.driverStopped");
    case Failure::None: break;
    }
    return {};
}

// ---- Requests ----

Channel::Result ScannerHelper::receive(Frame& frame, int timeoutMs, int wakeFd)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_greeted) {
        const Channel::Result r = m_channel->receive(frame, msUntil(deadline), wakeFd);
        if (r != Channel::Result::Ok)
            return r;
        Reader in(frame.payload);
        if (frame.type != Message::Hello || in.u32() != Version || !in.atEnd())
            return Channel::Result::Garbage; // not our helper, or not of this version
        m_greeted = true;
    }
    return m_channel->receive(frame, msUntil(deadline), wakeFd);
}

bool ScannerHelper::call(Message request, const Writer& payload, Frame* answer, int timeoutMs)
{
    if (failed())
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Channel::Result r = m_channel->send(request, payload.bytes(), -1, timeoutMs);
    Frame frame;
    if (r == Channel::Result::Ok)
        r = receive(frame, msUntil(deadline));
    if (r != Channel::Result::Ok) {
        failOn(r);
        return false;
    }
    if (frame.fd >= 0) {
        close(frame.fd);
        frame.fd = -1;
    }
    if (answer)
        *answer = std::move(frame);
    return true;
}

bool ScannerHelper::callStatus(Message request, const Writer& payload, int* status, QString* text,
                               int timeoutMs)
{
    Frame answer;
    if (!call(request, payload, &answer, timeoutMs))
        return false;
    Reader in(answer.payload);
    const int s = in.i32();
    const std::string t = in.str();
    if (answer.type != Message::Status || !in.atEnd()) {
        fail(Failure::Stopped);
        return false;
    }
    if (status)
        *status = s;
    if (text)
        *text = QString::fromStdString(t);
    return true;
}

bool ScannerHelper::readPage(PageResult* result, const PageEvents& events,
                             const std::function<bool()>& cancelled, int wakeFd, int windowBytes)
{
    if (failed())
        return false;
    windowBytes = std::max(windowBytes, 0);
    Channel::Result r =
        m_channel->send(Message::ReadPage, Writer().i32(windowBytes), -1, m_deadlines.request);
    if (r != Channel::Result::Ok) {
        failOn(r);
        return false;
    }
    PageRead page(events, std::chrono::milliseconds(m_deadlines.pageSilence), windowBytes > 0);
    page.deadline = Clock::now() + std::chrono::milliseconds(m_deadlines.pageStart);
    bool cancelSent = false;
    for (;;) {
        if (!cancelSent && ((cancelled && cancelled()) || page.memory.noMemory())) {
            r = m_channel->send(Message::Cancel, Writer(), -1, m_deadlines.request);
            if (r != Channel::Result::Ok) {
                failOn(r);
                return false;
            }
            cancelSent = page.stopping = true;
            page.deadline = Clock::now() + std::chrono::milliseconds(m_deadlines.cancel);
        }
        Frame frame;
        r = receive(frame, std::min(50, msUntil(page.deadline)), wakeFd);
        if (r == Channel::Result::Woken) {
            drain(wakeFd);
            continue;
        }
        if (r == Channel::Result::Timeout && Clock::now() < page.deadline)
            continue;
        if (r != Channel::Result::Ok) {
            failOn(r);
            return false;
        }
        bool fine = false;
        switch (frame.type) {
        case Message::PageBegin: fine = page.begin(frame); break;
        case Message::PageRows:
            fine = page.rows(frame);
            if (fine && page.window != 0 && page.complete > page.taken && !cancelSent) {
                // Their slots are free for the rows after them.
                r = m_channel->send(Message::RowsTaken, Writer().i32(page.complete), -1,
                                    m_deadlines.request);
                if (r != Channel::Result::Ok) {
                    failOn(r);
                    return false;
                }
                page.taken = page.complete;
            }
            break;
        case Message::PageEnd:
            // A Cancel has an answer of its own, after the page's end.
            if (page.end(frame, result) && (!cancelSent || cancelAnswered()))
                return true;
            break;
        default:
            if (frame.fd >= 0)
                close(frame.fd);
            break;
        }
        if (failed())
            return false;
        if (!fine) {
            fail(Failure::Stopped);
            return false;
        }
    }
}

bool ScannerHelper::cancelAnswered()
{
    Frame answer;
    const Channel::Result r = receive(answer, m_deadlines.request);
    if (r != Channel::Result::Ok) {
        failOn(r);
        return false;
    }
    Reader in(answer.payload);
    const int status = in.i32();
    in.str();
    if (answer.type != Message::Status || !in.atEnd() || status != Good) {
        fail(Failure::Stopped);
        return false;
    }
    return true;
}
