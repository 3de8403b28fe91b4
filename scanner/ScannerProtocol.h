// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the program and its scanner helper (quillora-scanner) say to each other over their
// socket pair. Plain C++ on both sides: no Qt, no scanner headers.
//
// Every message is a frame: a 12-byte header (magic, type, payload length) and the payload,
// whose fields are written in the machine's byte order (both ends run on the same machine).
// The helper speaks first (Hello), then answers requests one by one, in order; a client may
// send its next request before the previous answer came. While a page is read the helper
// sends PageBegin (with the page's shared memory), PageRows as lines arrive and PageEnd; the
// only requests it takes meanwhile are Cancel and, for a page read through a window,
// RowsTaken.
//
// The page's pixels never travel over the socket: the helper writes them into a memfd in
// the layout the page finally has, handed over with PageBegin as soon as the page's width
// is known, and the program maps it. PageRows says how many rows from the top are complete:
// those are final (nothing writes them again), so they can be encoded while the rest
// arrives. It also says how many rows the memfd holds by now, as a page of unknown length
// makes it grow; it never shrinks (the program seals it so). PageEnd gives the page's
// final row count, and after it the helper keeps no hold on the memory.
//
// A program that only codes the page into a file may ask for a window instead: the memfd
// then holds a few rows, row y at slot y % window, and the helper writes a row only once
// the program has said with RowsTaken that it took the row that slot held before. Before it
// waits for that, it reports the rows it has. Only a page of one frame whose length is
// known is read through a window (PageBegin says whether it is); its surplus rows past the
// announced length are not sent. A window page is never held whole on either side, so a
// large page costs the memory of its window only.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ScannerProtocol {

constexpr std::uint32_t Magic = 0x50435351; // "QSCP" in memory
constexpr std::uint32_t Version = 2;
constexpr std::size_t HeaderSize = 12;
// Anything longer is not ours: option lists are a few kilobytes.
constexpr std::uint32_t MaxPayload = 4 * 1024 * 1024;
// Where the helper finds its end of the socket pair.
constexpr int HelperSocketFd = 3;

enum class Message : std::uint32_t {
    // helper -> program, unasked: u32 protocol version
    Hello = 1,

    // requests
    ListDevices = 10, // u8 local only
    Open,             // str device name
    Close,            // ends the device session
    GetOptions,
    GetValue,         // i32 option index
    SetValue,         // i32 option index, value
    Start,            // starts the next page ahead of ReadPage (a feeder's next sheet)
    ReadPage,         // reads one page, starting it unless Start came first; i32 window
                      // bytes (0: the whole page in the memfd)
    Cancel,           // stops a page being read or started
    RowsTaken,        // during a window page, no answer: i32 rows the program took

    // answers
    Status = 40, // i32 device status, str its text
    Devices,     // u32 n, n x {str name, vendor, model, type}
    Options,     // u32 n, n x option descriptor
    Value,       // value
    SetDone,     // i32 info bits

    // events of ReadPage
    PageBegin = 60, // memfd; u32 PageFormat, i32 width, i32 stride, i32 expected rows (-1:
                    // unknown), i32 capacity rows (what the memfd holds now), i32 window
                    // rows (0: the whole page; else the capacity, which stays)
    PageRows,       // i32 complete rows, i32 capacity rows, i32 permille (-1 unknown)
    PageEnd,        // i32 device status, i32 rows, str text of a failure
};

// Device statuses as the scanner API numbers them; Good is success.
enum DeviceStatus : std::int32_t {
    Good = 0,
    Unsupported = 1,
    Cancelled = 2,
    DeviceBusy = 3,
    Invalid = 4,
    EndOfFile = 5,
    Jammed = 6,
    NoDocuments = 7,
    CoverOpen = 8,
    IoError = 9,
    NoMemory = 10,
    AccessDenied = 11,
    // The helper's own: the data the device sent cannot be made into a page.
    BadPageData = 1000,
};

// Info bits of SetDone.
constexpr std::int32_t InfoInexact = 1;
constexpr std::int32_t InfoReloadOptions = 2;
constexpr std::int32_t InfoReloadParams = 4;

enum class OptionType : std::uint8_t { Bool, Int, Fixed, String, Button, Group };
enum class OptionUnit : std::uint8_t { None, Pixel, Bit, Millimetre, Dpi, Percent, Microsecond };
enum class OptionConstraint : std::uint8_t { None, Range, WordList, StringList };

// Layouts a page arrives in; rows are `stride` bytes apart, a multiple of 4.
enum class PageFormat : std::uint32_t {
    Mono = 1,   // 1 bit per pixel, most significant bit first, 1 = black
    Gray8 = 2,  // 8 bits per pixel
    Rgb888 = 3, // 3 bytes per pixel, red first
};

// The smallest stride a page of this format and width can have (rows padded to 4 bytes).
std::int64_t pageStride(PageFormat format, std::int64_t width);

struct OptionDescriptor
{
    std::int32_t index = 0;
    std::string name, title, description;
    OptionType type = OptionType::Int;
    OptionUnit unit = OptionUnit::None;
    std::int32_t count = 1; // number of values (arrays have more than one)
    bool active = true;
    bool settable = true;
    OptionConstraint constraint = OptionConstraint::None;
    double minimum = 0, maximum = 0, quantum = 0;
    std::vector<double> words;
    std::vector<std::string> strings;
};

// An option's value; an array option reads and writes its first element.
struct OptionValue
{
    enum Kind : std::uint8_t { None, Bool, Int, Fixed, String };
    Kind kind = None;
    bool boolean = false;
    std::int32_t integer = 0;
    double fixed = 0;
    std::string text;
};

struct DeviceEntry
{
    std::string name, vendor, model, type;
};

// Builds a payload.
class Writer
{
public:
    Writer& u8(std::uint8_t v) { return raw(&v, sizeof v); }
    Writer& i32(std::int32_t v) { return raw(&v, sizeof v); }
    Writer& u32(std::uint32_t v) { return raw(&v, sizeof v); }
    Writer& f64(double v) { return raw(&v, sizeof v); }
    Writer& str(const std::string& s);
    Writer& value(const OptionValue& v);
    Writer& descriptor(const OptionDescriptor& d);
    Writer& device(const DeviceEntry& d);

    const std::vector<char>& bytes() const { return m_bytes; }

private:
    Writer& raw(const void* data, std::size_t size);
    std::vector<char> m_bytes;
};

// Reads a payload. A read past its end, or a count that cannot fit, makes the reader bad
// for good; the values read then are zero or empty. Check ok() once at the end.
class Reader
{
public:
    Reader(const char* data, std::size_t size) : m_p(data), m_end(data + size) {}
    explicit Reader(const std::vector<char>& payload) : Reader(payload.data(), payload.size()) {}

    std::uint8_t u8();
    std::int32_t i32();
    std::uint32_t u32();
    double f64();
    std::string str();
    OptionValue value();
    OptionDescriptor descriptor();
    DeviceEntry device();
    // A count of items each at least minSize bytes long; 0 and bad when they cannot fit.
    std::uint32_t count(std::size_t minSize);

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_ok && m_p == m_end; }

private:
    bool take(void* out, std::size_t size);
    const char* m_p;
    const char* m_end;
    bool m_ok = true;
};

struct Frame
{
    Message type = Message::Hello;
    std::vector<char> payload;
    int fd = -1; // a descriptor that came with the frame (owned by whoever holds the frame)
};

// One end of the socket pair, non-blocking underneath; both ends wait with poll, so a
// deadline or a wake-up descriptor can end any wait. Frames are assembled across calls:
// a wait that ends in the middle of a frame loses nothing.
class Channel
{
public:
    enum class Result {
        Ok,
        Timeout,  // nothing complete within the time given
        Woken,    // wakeFd became readable
        Closed,   // the other end is gone
        Garbage,  // the bytes are not our frames
        Failed,   // the socket itself failed
    };

    explicit Channel(int socket);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    int socket() const { return m_socket; }

    // timeoutMs < 0 waits for ever. fdToPass (if >= 0) goes with the frame.
    Result send(Message type, const std::vector<char>& payload, int fdToPass, int timeoutMs);
    Result send(Message type, const Writer& payload = Writer(), int fdToPass = -1,
                int timeoutMs = -1)
    {
        return send(type, payload.bytes(), fdToPass, timeoutMs);
    }
    // Waits for one whole frame. wakeFd (if >= 0) ends the wait when it becomes readable.
    Result receive(Frame& frame, int timeoutMs, int wakeFd = -1);
    // A whole frame is already buffered, or bytes wait on the socket.
    bool pending();

private:
    Result fill(int timeoutMs, int wakeFd);
    bool takeFrame(Frame& frame, Result* bad);
    void closePassedFds();

    int m_socket;
    std::vector<char> m_in;
    std::vector<int> m_fds; // received with bytes not yet taken as frames
};

} // namespace ScannerProtocol
