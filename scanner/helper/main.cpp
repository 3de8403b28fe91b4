// SPDX-License-Identifier: GPL-3.0-or-later
// quillora-scanner: the one process that talks to the scanner drivers. The program starts
// it with its end of a socket pair on descriptor 3 and speaks ScannerProtocol to it.
//
// Drivers run inside the process that calls them, and some stop their reader threads
// asynchronously; a thread stopped that way while it holds the dynamic loader's lock leaves
// that lock held, and every later thread start, dlopen or dlclose of the process blocks.
// So this process is single-threaded, starts no threads of its own, holds nothing the
// program needs, and ends with _exit; the program gives every request a deadline and
// kills it when one passes.
#include "FrameDecoder.h"
#include "PageMemory.h"
#include "SaneOptions.h"
#include "scanner/HelperSpawn.h"
#include "scanner/ScannerProtocol.h"

#include <sane/sane.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <execinfo.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ScannerProtocol;

namespace {

// glibc loads its unwinder the first time a thread is cancelled or ends: inside the
// cancelling thread and inside the ending one, each under the loader's lock. A driver's
// reader thread that ends while the driver cancels it can be stopped right there, in the
// middle of that load, holding the lock for good. Loading it now, before any driver
// thread exists, leaves nothing for those threads to load.
void loadUnwinderNow()
{
    void* frame[1];
    backtrace(frame, 1);
}

using Clock = std::chrono::steady_clock;

// The device's description of the coming frame, in the decoder's terms; false for kinds
// of image we cannot read.
bool frameOf(const SANE_Parameters& p, FrameDecoder::Frame* frame)
{
    switch (p.format) {
    case SANE_FRAME_GRAY: frame->kind = FrameDecoder::Frame::Gray; break;
    case SANE_FRAME_RGB: frame->kind = FrameDecoder::Frame::Rgb; break;
    case SANE_FRAME_RED: frame->kind = FrameDecoder::Frame::Red; break;
    case SANE_FRAME_GREEN: frame->kind = FrameDecoder::Frame::Green; break;
    case SANE_FRAME_BLUE: frame->kind = FrameDecoder::Frame::Blue; break;
    default: return false;
    }
    frame->depth = p.depth;
    frame->bytesPerLine = p.bytes_per_line;
    frame->pixelsPerLine = p.pixels_per_line;
    frame->lines = p.lines;
    return true;
}

// Progress goes out when rows were completed and this long passed since the last report,
// and at least this often while data arrives at all, so the program knows a slow page lives.
constexpr auto kRowsInterval = std::chrono::milliseconds(10);
constexpr auto kAliveInterval = std::chrono::milliseconds(1000);
// One read is at most this much, so progress keeps flowing from drivers with big buffers.
constexpr std::size_t kMaxRead = 1024 * 1024;
// How long the local scanners listed at the start answer the program's first request.
constexpr auto kEarlyListFreshFor = std::chrono::seconds(5);

class Helper
{
public:
    Helper(int socket, bool listLocalAtOnce) : m_channel(socket), m_listEarly(listLocalAtOnce) {}

    void run()
    {
        if (!send(Message::Hello, Writer().u32(Version)))
            return;
        // SANE starts (its backends are loaded and read their configuration) while the
        // program is still starting itself and before it asks for anything; a start that
        // fails is tried again, and reported, by the first request that needs SANE.
        SANE_Status ignored;
        if (ensureInit(&ignored) && m_listEarly) {
            // The program's first request, listed before it can ask; a listing that fails is
            // done again when it asks.
            m_earlyListed = sane_get_devices(&m_earlyList, SANE_TRUE) == SANE_STATUS_GOOD;
            m_earlyListedAt = std::chrono::steady_clock::now();
        }
        while (!m_stop) {
            Frame frame;
            if (m_channel.receive(frame, -1) != Channel::Result::Ok)
                return; // the program is gone or speaks nonsense: nobody to serve
            handle(frame);
        }
    }

    // Closes what is open. SANE's own end may block on a lock a driver left held; the
    // program does not wait for it.
    void finish()
    {
        closeDevice();
        if (m_initialized)
            sane_exit();
    }

private:
    bool send(Message type, const Writer& payload = Writer(), int fd = -1)
    {
        if (m_channel.send(type, payload, fd, -1) != Channel::Result::Ok)
            m_stop = true;
        return !m_stop;
    }

    void sendStatus(SANE_Status status, const char* text = nullptr)
    {
        send(Message::Status,
             Writer().i32(status).str(text                         ? text
                                      : status == SANE_STATUS_GOOD ? ""
                                                                   : sane_strstatus(status)));
    }

    bool ensureInit(SANE_Status* status)
    {
        if (!m_initialized) {
            SANE_Int version = 0;
            *status = sane_init(&version, nullptr);
            m_initialized = *status == SANE_STATUS_GOOD;
        }
        return m_initialized;
    }

    void closeDevice()
    {
        if (!m_device)
            return;
        sane_cancel(m_device);
        sane_close(m_device);
        m_device = nullptr;
        m_started = false;
    }

    void handle(const Frame& frame)
    {
        Reader in(frame.payload);
        switch (frame.type) {
        case Message::RowsTaken: return; // a late one, after its page ended: nothing to do
        case Message::ListDevices: return listDevices(in.u8() != 0);
        case Message::Open: return open(in.str());
        case Message::Close:
            closeDevice();
            return sendStatus(SANE_STATUS_GOOD);
        case Message::Cancel:
            if (m_device)
                sane_cancel(m_device);
            m_started = false;
            return sendStatus(SANE_STATUS_GOOD);
        default: break;
        }
        if (frame.type == Message::GetOptions || frame.type == Message::GetValue
            || frame.type == Message::SetValue || frame.type == Message::Start
            || frame.type == Message::ReadPage) {
            if (!m_device)
                return sendStatus(SANE_STATUS_INVAL, "No scanner is open");
            switch (frame.type) {
            case Message::GetOptions: return sendOptions();
            case Message::GetValue: {
                const int index = in.i32();
                return (void)send(Message::Value, Writer().value(optionValue(m_device, index)));
            }
            case Message::SetValue: {
                const int index = in.i32();
                const OptionValue value = in.value();
                if (!in.ok())
                    break;
                SANE_Int info = 0;
                const SANE_Status status = setOptionValue(m_device, index, value, &info);
                if (status != SANE_STATUS_GOOD)
                    return sendStatus(status);
                return (void)send(Message::SetDone, Writer().i32(info));
            }
            case Message::Start: {
                const SANE_Status status = sane_start(m_device);
                m_started = status == SANE_STATUS_GOOD;
                return sendStatus(status);
            }
            case Message::ReadPage: {
                const std::int64_t window = in.atEnd() ? 0 : in.i32();
                if (!in.atEnd() || window < 0)
                    break;
                return readPage(window);
            }
            default: break;
            }
        }
        m_stop = true; // a request we do not know: the two sides do not belong together
    }

    void listDevices(bool localOnly)
    {
        SANE_Status status = SANE_STATUS_GOOD;
        if (!ensureInit(&status))
            return sendStatus(status);
        const SANE_Device** list = nullptr;
        // The list made at the start is taken once, and only while it is fresh: a scanner
        // plugged in since is seen by the next listing.
        if (localOnly && m_earlyListed
            && std::chrono::steady_clock::now() - m_earlyListedAt < kEarlyListFreshFor)
            list = m_earlyList;
        else
            status = sane_get_devices(&list, localOnly ? SANE_TRUE : SANE_FALSE);
        m_earlyListed = false;
        if (status != SANE_STATUS_GOOD)
            return sendStatus(status);
        Writer out;
        std::uint32_t n = 0;
        while (list && list[n])
            ++n;
        out.u32(n);
        auto text = [](SANE_String_Const s) { return std::string(s ? s : ""); };
        for (std::uint32_t i = 0; i < n; ++i)
            out.device({text(list[i]->name), text(list[i]->vendor), text(list[i]->model),
                        text(list[i]->type)});
        send(Message::Devices, out);
    }

    void open(const std::string& name)
    {
        closeDevice();
        SANE_Status status = SANE_STATUS_GOOD;
        if (!ensureInit(&status))
            return sendStatus(status);
        SANE_Handle handle = nullptr;
        status = sane_open(name.c_str(), &handle);
        if (status == SANE_STATUS_GOOD)
            m_device = handle;
        sendStatus(status);
    }

    void sendOptions()
    {
        const std::vector<OptionDescriptor> options = describeOptions(m_device);
        Writer out;
        out.u32(std::uint32_t(options.size()));
        for (const OptionDescriptor& o : options)
            out.descriptor(o);
        send(Message::Options, out);
    }

    // Takes what the program may send while a page is read: Cancel, and RowsTaken for a
    // window page. Anything else ends the helper. timeoutMs -1 waits for it. false: no
    // whole frame came.
    bool takeRequest(int timeoutMs)
    {
        Frame frame;
        const Channel::Result r = m_channel.receive(frame, timeoutMs);
        if (r == Channel::Result::Timeout)
            return false; // part of a frame so far
        Reader in(frame.payload);
        if (r == Channel::Result::Ok && frame.type == Message::Cancel) {
            m_cancelTaken = true;
        } else if (r == Channel::Result::Ok && frame.type == Message::RowsTaken) {
            const int taken = in.i32();
            // Only rows it was told of; and no step back.
            if (!in.atEnd() || taken < m_taken || taken > m_progress.rows)
                m_stop = true;
            else
                m_taken = taken;
        } else {
            m_stop = true;
        }
        return true;
    }

    // A Cancel waiting on the socket (RowsTaken are taken on the way).
    bool cancelArrived()
    {
        while (!m_cancelTaken && !m_stop && m_channel.pending() && takeRequest(0)) {
        }
        return m_cancelTaken;
    }

    // Waits until the window slot of `row` is free: the program has taken the row it held.
    // It first hears of every row there is, or it would wait for rows it cannot see.
    bool roomFor(int row, const FrameDecoder& decoder, const PageMemory& memory)
    {
        while (row >= m_taken + memory.capacityRows()) {
            if (cancelArrived() || m_stop || !report(decoder, memory, true))
                return false;
            takeRequest(-1);
            if (m_cancelTaken || m_stop)
                return false;
        }
        return true;
    }

    void readPage(std::int64_t windowBytes)
    {
        PageMemory memory;
        FrameDecoder decoder(memory);
        m_cancelTaken = false;
        m_taken = 0;
        if (windowBytes > 0)
            decoder.useWindow(windowBytes, [this, &decoder, &memory](int row) {
                return roomFor(row, decoder, memory);
            });
        int status = readFrames(memory, decoder);
        std::string text = m_pageError;
        if (status != SANE_STATUS_GOOD && status != BadPageData)
            text = sane_strstatus(SANE_Status(status));
        if (m_stop)
            return;
        const int rows = decoder.rows();
        // Handed over for good: nothing here writes into the page after it ended.
        memory.release();
        m_started = false;
        if (!send(Message::PageEnd, Writer().i32(status).i32(rows).str(text)))
            return;
        // Every request has its answer: a Cancel the page took is answered after the page.
        if (m_cancelTaken)
            sendStatus(SANE_STATUS_GOOD);
    }

    int badData(const std::string& text)
    {
        m_pageError = text;
        return BadPageData;
    }

    // When progress goes out: at least every kRowsInterval while rows complete, at least
    // every kAliveInterval while any data arrives, and whenever the memory grew.
    struct Progress
    {
        Clock::time_point last = Clock::now();
        int rows = 0;
        std::int64_t capacity = 0;
    };

    // now: the rows there are go out unless the program knows them already.
    bool report(const FrameDecoder& decoder, const PageMemory& memory, bool now = false)
    {
        Progress& progress = m_progress;
        const auto time = Clock::now();
        const int rows = decoder.completeRows();
        if (now ? rows == progress.rows
                : (rows == progress.rows || time - progress.last < kRowsInterval)
                      && time - progress.last < kAliveInterval
                      && memory.capacityRows() == progress.capacity)
            return true;
        progress = {time, rows, memory.capacityRows()};
        return send(Message::PageRows,
                    Writer().i32(rows).i32(int(progress.capacity)).i32(decoder.permille()));
    }

    bool beginPage(const FrameDecoder& decoder, const PageMemory& memory)
    {
        m_progress.capacity = memory.capacityRows();
        return send(Message::PageBegin,
                    Writer()
                        .u32(std::uint32_t(decoder.format()))
                        .i32(decoder.width())
                        .i32(int(memory.stride()))
                        .i32(decoder.expectedRows())
                        .i32(int(m_progress.capacity))
                        .i32(memory.window() ? int(memory.capacityRows()) : 0),
                    memory.fd());
    }

    // Reads one frame's data into the page; Good at its end.
    int readFrame(PageMemory& memory, FrameDecoder& decoder)
    {
        std::string error;
        const auto stopped = [this] { return cancelArrived() || m_stop; };
        for (;;) {
            if (stopped()) {
                sane_cancel(m_device);
                return SANE_STATUS_CANCELLED;
            }
            std::size_t room = 0;
            unsigned char* target = decoder.target(&room, &error);
            if (!target && stopped()) // while it waited for window room
                continue;
            if (!target)
                return badData(error);
            SANE_Int length = 0;
            const SANE_Status status =
                sane_read(m_device, target,
                          SANE_Int(std::min({room, kMaxRead, std::size_t(INT_MAX)})), &length);
            if (status == SANE_STATUS_EOF)
                return decoder.endFrame(&error) ? SANE_STATUS_GOOD : badData(error);
            if (status != SANE_STATUS_GOOD)
                return status;
            if (length <= 0)
                continue;
            if (!decoder.commit(std::size_t(length), &error) && !stopped())
                return badData(error);
            if (!report(decoder, memory))
                return SANE_STATUS_CANCELLED;
        }
    }

    int readFrames(PageMemory& memory, FrameDecoder& decoder)
    {
        m_pageError.clear();
        int status = SANE_STATUS_GOOD;
        if (!m_started && (status = sane_start(m_device)) != SANE_STATUS_GOOD)
            return status;
        m_progress = Progress();
        std::string error;
        for (bool first = true;; first = false) {
            SANE_Parameters p;
            if ((status = sane_get_parameters(m_device, &p)) != SANE_STATUS_GOOD)
                return status;
            FrameDecoder::Frame frame;
            if (!frameOf(p, &frame))
                return badData("The scanner sent a kind of image this program cannot read");
            if (!decoder.beginFrame(frame, &error))
                return badData(error);
            if (first && !beginPage(decoder, memory))
                return SANE_STATUS_CANCELLED;
            if ((status = readFrame(memory, decoder)) != SANE_STATUS_GOOD)
                return status;
            if (p.last_frame)
                break;
            if ((status = sane_start(m_device)) != SANE_STATUS_GOOD) // the next frame
                return status;
        }
        if (!decoder.complete())
            return badData("The scanner ended the page before all its colours came");
        return SANE_STATUS_GOOD;
    }

    Channel m_channel;
    bool m_stop = false;
    bool m_initialized = false;
    SANE_Handle m_device = nullptr;
    bool m_started = false; // a sane_start is pending for the next page
    bool m_cancelTaken = false;
    bool m_listEarly = false;   // list the local scanners before the program asks
    bool m_earlyListed = false; // m_earlyList is that list, not asked for yet
    const SANE_Device** m_earlyList = nullptr;
    std::chrono::steady_clock::time_point m_earlyListedAt;
    Progress m_progress;   // of the page being read
    int m_taken = 0;       // rows of a window page the program took
    std::string m_pageError;
};

} // namespace

int main(int argc, char** argv)
{
    // Ends with the program that started it, even while a driver call blocks.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc >= 3 && std::strcmp(argv[1], "--parent") == 0 && getppid() != std::atoi(argv[2]))
        _exit(1); // the program ended before the line above took effect

    struct stat st;
    if (fstat(HelperSocketFd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        std::fprintf(stderr, "%s is started by Quillora, not by hand.\n", argv[0]);
        _exit(2);
    }
    // A write to a connection a driver lost must not end us; Ctrl-C in a terminal reaches
    // the whole process group, and stopping the page is the program's to decide.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    loadUnwinderNow();

    bool listLocalAtOnce = false;
    for (int i = 1; i < argc; ++i)
        listLocalAtOnce |= std::strcmp(argv[i], kListLocalAtOnceArgument) == 0;
    Helper helper(HelperSocketFd, listLocalAtOnce);
    helper.run();
    helper.finish();
    _exit(0);
}
