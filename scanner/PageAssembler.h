#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

// Builds one page from the frames a scanner sends, byte stream by byte stream, without
// keeping a second copy of the page: gray and RGB frames, the three one-colour frames of
// a three-pass scanner, depths 1, 8 and 16, padding bytes at line ends and frames whose
// line count is not known in advance (or turns out different from the announcement).
// Gray pages become 8-bit gray, 1-bit gray becomes a black-and-white page, colour
// becomes 24-bit RGB; 16-bit samples are scaled to 8 bits.
class PageAssembler
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

    // false + *error when the frame cannot be decoded or does not fit the frames before.
    bool beginFrame(const Frame& frame, QString* error);
    // Bytes of the current frame as they arrive, in any portions.
    bool addData(const unsigned char* data, int length, QString* error);
    // Ends the current frame; a frame that brought no complete line is an error.
    bool endFrame(QString* error);
    // The finished page (null before any frame ended).
    QImage takeImage();

    // How far the current frame is, 0..1000 over the whole page; -1 when unknown.
    int permille() const;

private:
    bool ensureRow(int row);
    void decodeLine(const unsigned char* line, int row);

    Frame m_frame;
    int m_framesDone = 0;
    int m_framesExpected = 1;
    QImage m_image;
    int m_rows = 0;          // rows the page holds so far (the first frame sets them)
    int m_frameRow = 0;      // next row of the current frame
    std::vector<unsigned char> m_line;
    int m_lineFill = 0;
    bool m_inFrame = false;
};
