// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PageMemory.h"
#include "scanner/ScannerProtocol.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Builds one page in its shared memory from the frames a scanner sends: gray and RGB
// frames, the three one-colour frames of a three-pass scanner, depths 1, 8 and 16, padding
// bytes at line ends and frames whose line count is not known in advance (or turns out
// different from the announcement). Gray pages become 8-bit gray, 1-bit gray a
// black-and-white page, colour 24-bit RGB; 16-bit samples are scaled to 8 bits.
//
// A frame that already has the page's layout (one 8-bit gray or RGB frame, or 1-bit gray,
// whose lines are as long as the page's rows, or shorter by their padding) is read by the
// device straight into the page, unless the page has a window.
class FrameDecoder
{
public:
    struct Frame
    {
        enum Kind { Gray, Rgb, Red, Green, Blue };
        Kind kind = Gray;
        int depth = 8;
        int bytesPerLine = 0;
        int pixelsPerLine = 0;
        int lines = -1; // -1: not known until the frame ends
    };

    explicit FrameDecoder(PageMemory& memory) : m_memory(memory) {}

    // Reads a page of one frame and known length through a window of about windowBytes
    // (see PageMemory::create): roomFor(row) is asked before each row is written and
    // returns once its slot is free, or false when the page is to stop. Lines past the
    // announced length are dropped. Call before the first frame.
    void useWindow(std::int64_t windowBytes, std::function<bool(int row)> roomFor)
    {
        m_windowBytes = windowBytes;
        m_roomFor = std::move(roomFor);
    }

    // false + *error when the frame cannot be decoded or does not fit the frames before.
    // The first frame sets up the page's memory.
    bool beginFrame(const Frame& frame, std::string* error);
    // Where the device's next bytes go, and how many fit there.
    unsigned char* target(std::size_t* room, std::string* error);
    // The device wrote `length` bytes at target().
    bool commit(std::size_t length, std::string* error);
    // Ends the current frame; a frame that brought no complete line is an error.
    bool endFrame(std::string* error);

    bool complete() const { return m_framesDone > 0 && m_framesDone == m_framesExpected; }
    ScannerProtocol::PageFormat format() const { return m_format; }
    int width() const { return m_width; }
    int expectedRows() const { return m_expectedRows; }
    // Rows the page holds so far (the first frame sets them).
    int rows() const { return m_rows; }
    // Rows whose every colour has arrived.
    int completeRows() const;
    // How far the page is, 0..1000; -1 when unknown.
    int permille() const;

private:
    bool ensureRow(int row);
    // A line past the announced length of a window page: read and dropped.
    bool surplus() const { return m_memory.window() && m_frameRow >= m_expectedRows; }
    void decodeLine(const unsigned char* line, int row);
    bool addData(const unsigned char* data, std::size_t length, std::string* error);

    PageMemory& m_memory;
    std::int64_t m_windowBytes = 0;
    std::function<bool(int)> m_roomFor;
    Frame m_frame;
    ScannerProtocol::PageFormat m_format = ScannerProtocol::PageFormat::Gray8;
    int m_width = 0;
    int m_expectedRows = -1;
    int m_framesDone = 0;
    int m_framesExpected = 1;
    int m_rows = 0;      // rows of the page so far
    int m_frameRow = 0;  // next row of the current frame
    bool m_inFrame = false;
    bool m_direct = false;
    bool m_rowDirect = false; // read a line at a time into its row
    std::size_t m_directBytes = 0;          // bytes the device wrote into the page
    std::vector<unsigned char> m_buffer;    // device bytes when they need decoding
    std::vector<unsigned char> m_line;      // a line split across reads
    std::size_t m_lineFill = 0;
};
