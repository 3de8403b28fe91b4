// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for quillora-scanner that fails the way a driver can and the test scanner
// cannot: it serves one good feeder page, and on the second it dies, hangs or babbles
// half-way, as QUILLORA_FAKE_SCANNER says ("crash", "hang", "garbage"), or with "jam" ends it
// half-way as jammed and then hangs in the cancel that follows. With "short" every
// page ends after two thirds of the rows it announced, through the window it was asked
// for (one as tall as the page) or whole.
#include "scanner/ScannerProtocol.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

using namespace ScannerProtocol;

namespace {

constexpr int kWidth = 120;
constexpr int kRows = 90;

// The page the fake sends: red follows x, green follows y.
void paint(unsigned char* row, int y)
{
    for (int x = 0; x < kWidth; ++x) {
        row[3 * x] = static_cast<unsigned char>(x * 2);
        row[3 * x + 1] = static_cast<unsigned char>(y * 2);
        row[3 * x + 2] = 128;
    }
}

void status(Channel& channel, int code = Good)
{
    channel.send(Message::Status, Writer().i32(code).str(""));
}

void servePage(Channel& channel, bool failHalfWay, const std::string& how, bool window)
{
    const bool shortPage = how == "short";
    if (shortPage)
        failHalfWay = false;
    const int stride = int(pageStride(PageFormat::Rgb888, kWidth));
    const int fd = memfd_create("fake-page", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0 || ftruncate(fd, off_t(stride) * kRows) != 0)
        std::abort();
    auto* data = static_cast<unsigned char*>(
        mmap(nullptr, size_t(stride) * kRows, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    channel.send(Message::PageBegin,
                 Writer()
                     .u32(std::uint32_t(PageFormat::Rgb888))
                     .i32(kWidth)
                     .i32(stride)
                     .i32(kRows)
                     .i32(kRows)
                     .i32(shortPage && window ? kRows : 0),
                 fd);
    const int rows = failHalfWay ? kRows / 2 : shortPage ? kRows * 2 / 3 : kRows;
    for (int y = 0; y < rows; ++y)
        paint(data + y * stride, y);
    channel.send(Message::PageRows, Writer().i32(rows).i32(kRows).i32(rows * 1000 / kRows));
    if (failHalfWay && how == "jam") {
        munmap(data, size_t(stride) * kRows);
        close(fd);
        channel.send(Message::PageEnd, Writer().i32(Jammed).i32(rows).str("Document feeder jammed"));
        return;
    }
    if (failHalfWay) {
        if (how == "crash")
            std::abort();
        if (how == "hang")
            for (;;)
                pause();
        // Anything but a frame.
        const char noise[] = "\x13\x37 this is not a frame at all \xde\xad\xbe\xef";
        for (int i = 0; i < 64; ++i)
            if (write(channel.socket(), noise, sizeof noise) < 0)
                break;
        for (;;)
            pause();
    }
    munmap(data, size_t(stride) * kRows);
    close(fd);
    channel.send(Message::PageEnd, Writer().i32(Good).i32(rows).str(""));
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    const char* mode = std::getenv("QUILLORA_FAKE_SCANNER");
    const std::string how = mode ? mode : "";
    Channel channel(HelperSocketFd);
    channel.send(Message::Hello, Writer().u32(Version));
    int pages = 0;
    for (;;) {
        Frame frame;
        if (channel.receive(frame, -1) != Channel::Result::Ok)
            _exit(0);
        switch (frame.type) {
        case Message::ListDevices:
            channel.send(
                Message::Devices,
                Writer().u32(1).device({"fake:0", "Noname", "frontend-tester", "virtual device"}));
            break;
        case Message::GetOptions: {
            // A feeder to choose, so that the job asks for a second sheet.
            OptionDescriptor source;
            source.index = 1;
            source.name = "source";
            source.type = OptionType::String;
            source.constraint = OptionConstraint::StringList;
            source.strings = {"Flatbed", "Automatic Document Feeder"};
            channel.send(Message::Options, Writer().u32(1).descriptor(source));
            break;
        }
        case Message::SetValue: channel.send(Message::SetDone, Writer().i32(0)); break;
        case Message::GetValue: channel.send(Message::Value, Writer().value({})); break;
        case Message::ReadPage: {
            Reader in(frame.payload);
            servePage(channel, ++pages > 1, how, in.i32() > 0);
            break;
        }
        case Message::RowsTaken: break; // no answer
        case Message::Cancel:
            if (how == "jam" && pages > 1)
                for (;;)
                    pause(); // the driver's stop hangs after the jam
            status(channel);
            break;
        default: status(channel); break; // Open, Close, Start (a sheet is always there), Cancel
        }
    }
}
