// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "scanner/ScannerProtocol.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

#include <sys/types.h>

// One running scanner helper (quillora-scanner) and our end of its socket. Every call has a
// deadline; a helper that misses one, dies, or sends what is not our protocol is killed at
// once and stays failed: failure() says how, and the owner starts a fresh one.
//
// Start helpers from a thread that lives as long as they do (the program's main thread):
// a helper ends with the thread that started it, so that it never outlives the program.
// After start, one thread at a time may use the helper; abort() may come from any thread.
class ScannerHelper
{
public:
    enum class Failure {
        None,
        Missing,       // the program could not be started
        NotResponding, // a deadline passed
        Stopped,       // it ended, crashed or broke the protocol
    };

    // How long each kind of request may take, in milliseconds. The test-only variable
    // QUILLORA_SCANNER_DEADLINE_MS replaces them all.
    struct Deadlines
    {
        int listing = 10000;
        int open = 10000;
        int request = 5000;     // options, close, cancel
        int setOption = 10000;  // a button may start a calibration
        int pageStart = 30000;  // lamp warm-up, paper feed
        int pageSilence = 30000; // a running page that sends nothing for this long
        int cancel = 3000;      // a page asked to stop; never longer than the others
        static Deadlines current();
    };

    // The page's layout as the helper announced it.
    struct PageLayout
    {
        ScannerProtocol::PageFormat format = ScannerProtocol::PageFormat::Gray8;
        int width = 0;
        int stride = 0;
        int expectedRows = -1;
        // A page read through a window: row y is at slot y % windowRows. 0: the whole page.
        int windowRows = 0;
    };

    // What a page read reports as it goes. rowsArrived gives the rows complete so far and
    // where they start (stride bytes apart): they are final, so they can be encoded before
    // the rest arrives. The pointer holds until the next event (a growing page may move).
    // Through a window, the rows are at their slots, and the rows before `complete` are gone
    // once the call returns: take them there. Its last call comes with the page's end.
    struct PageEvents
    {
        std::function<void(const PageLayout&)> began;
        std::function<void(const uchar* rows, int complete, int permille)> rowsArrived;
    };

    struct PageResult
    {
        int status = ScannerProtocol::Good; // a device status, or BadPageData
        QString text;                       // the reason when status is not Good
        QImage page;                        // over the shared memory, when status is Good
                                            // and the page was not read through a window
        int rows = 0;                       // the page's rows, when status is Good
    };

    // The program to start: QUILLORA_SCANNER_HELPER when set (tests), else quillora-scanner
    // where companion programs are found (companionProgramPath).
    static QString programPath();

    // Gives a black-and-white image (Format_Mono) the colours of the scanner's bits: SANE's
    // 1 is black.
    static void giveScannerColours(QImage& image);

    // Starts a helper, or takes the one the launcher started for this process; a helper
    // that could not be started comes back failed (Missing).
    static std::unique_ptr<ScannerHelper> start();
    // Ends the helper the launcher started, when this process hands over to another
    // program instead of scanning.
    static void discardStartedHelper();
    // Kills what is still running, reaping without waiting for ever.
    ~ScannerHelper();

    bool failed() const { return m_failure != Failure::None; }
    Failure failure() const { return m_failure; }
    // The failure in the user's language.
    QString failureText() const;

    // Sends a request and waits for its answer (of any message type; the caller checks it).
    bool call(ScannerProtocol::Message request, const ScannerProtocol::Writer& payload,
              ScannerProtocol::Frame* answer, int timeoutMs);
    // A request answered by Status: *status and *text get it.
    bool callStatus(ScannerProtocol::Message request, const ScannerProtocol::Writer& payload,
                    int* status, QString* text, int timeoutMs);

    // Reads one page. cancelled() is asked at least every 50 ms, and at once when wakeFd
    // becomes readable; once true, the page is stopped. false: the helper failed.
    // windowBytes > 0 asks for a window of about that size instead of the whole page, for a
    // reader that only codes its rows; the helper chooses whether the page can have one.
    bool readPage(PageResult* result, const PageEvents& events,
                  const std::function<bool()>& cancelled, int wakeFd = -1,
                  int windowBytes = 0);

    // Ends the helper politely: it closes SANE and exits by itself. It is reaped later,
    // and killed if it takes too long; nothing here waits for it.
    void retire();
    // Kills the helper; safe from another thread while one waits on it.
    void abort();
    // The helper answered what the protocol does not allow: it is killed as failed.
    void breakOff() { fail(Failure::Stopped); }

private:
    ScannerHelper() = default;
    void fail(Failure why);
    // The first frame a helper sends is its greeting; later ones are answers.
    ScannerProtocol::Channel::Result receive(ScannerProtocol::Frame& frame, int timeoutMs,
                                             int wakeFd = -1);
    void failOn(ScannerProtocol::Channel::Result r);
    // Takes the answer to a Cancel that stopped a page; false: the helper failed.
    bool cancelAnswered();

    // The pid is given up under this lock once reaped, so abort() from another thread never
    // signals a number the system may have handed to another process.
    std::mutex m_pidMutex;
    pid_t m_pid = -1;
    std::unique_ptr<ScannerProtocol::Channel> m_channel;
    Failure m_failure = Failure::None;
    bool m_greeted = false;
    Deadlines m_deadlines = Deadlines::current();
};
