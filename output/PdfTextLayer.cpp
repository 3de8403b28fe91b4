// SPDX-License-Identifier: GPL-3.0-or-later
#include "PdfTextLayer.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

class BigEndian
{
public:
    BigEndian& u16(int v)
    {
        m_bytes.append(char(v >> 8)).append(char(v));
        return *this;
    }
    BigEndian& u32(quint32 v) { return u16(int(v >> 16)).u16(int(v & 0xffff)); }
    BigEndian& zeros(int n)
    {
        m_bytes.append(n, '\0');
        return *this;
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

quint32 checksum(const QByteArray& table)
{
    QByteArray padded = table;
    padded.append((4 - padded.size() % 4) % 4, '\0');
    quint32 sum = 0;
    for (qsizetype i = 0; i < padded.size(); i += 4)
        sum += qFromBigEndian<quint32>(padded.constData() + i);
    return sum;
}

QByteArray number(double v)
{
    return QByteArray::number(v, 'f', 3);
}

QByteArray hexCodes(const QString& text)
{
    QByteArray hex = "<";
    for (QChar c : text)
        hex += QByteArray::number(c.isSurrogate() ? 0xfffd : c.unicode(), 16).rightJustified(4, '0');
    return hex + ">";
}

} // namespace

QByteArray invisibleFontProgram()
{
    struct Table
    {
        const char* tag;
        QByteArray data;
    };
    std::vector<Table> tables;
    // Sorted by tag, as the table directory must be.
    tables.push_back({"cmap", BigEndian()
                                  .u16(0).u16(1)                 // version, one subtable
                                  .u16(3).u16(1).u32(12)         // Windows Unicode BMP
                                  .u16(4).u16(24).u16(0)         // format 4, length, language
                                  .u16(2).u16(2).u16(0).u16(0)   // one segment: the end mark
                                  .u16(0xffff).u16(0).u16(0xffff).u16(1).u16(0)
                                  .bytes()});
    tables.push_back({"glyf", BigEndian().zeros(4).bytes()});   // both glyphs are empty
    tables.push_back({"head", BigEndian()
                                  .u32(0x00010000).u32(0x00010000)
                                  .u32(0)             // checkSumAdjustment, set below
                                  .u32(0x5f0f3cf5).u16(0x000b).u16(1000)
                                  .zeros(16)          // created, modified
                                  .u16(0).u16(0xffff & kInvisibleDescent).u16(kInvisibleWidth).u16(kInvisibleAscent)
                                  .u16(0).u16(6).u16(2).u16(0).u16(0)
                                  .bytes()});
    tables.push_back({"hhea", BigEndian()
                                  .u32(0x00010000).u16(kInvisibleAscent).u16(0xffff & kInvisibleDescent).u16(0)
                                  .u16(kInvisibleWidth).u16(0).u16(0).u16(kInvisibleWidth)
                                  .u16(1).u16(0).u16(0).zeros(8).u16(0).u16(2)
                                  .bytes()});
    tables.push_back({"hmtx", BigEndian().u16(kInvisibleWidth).u16(0).u16(kInvisibleWidth).u16(0).bytes()});
    tables.push_back({"loca", BigEndian().u16(0).u16(0).u16(0).bytes()});
    tables.push_back({"maxp", BigEndian().u32(0x00010000).u16(2).zeros(8).u16(2).zeros(16).bytes()});
    tables.push_back({"post", BigEndian().u32(0x00030000).u32(0).u16(0xffff & -100).u16(50).u32(1).zeros(16).bytes()});

    const int count = int(tables.size());
    BigEndian directory;
    directory.u32(0x00010000).u16(count).u16(128).u16(3).u16(count * 16 - 128);
    quint32 offset = quint32(12 + 16 * count);
    QByteArray body;
    qsizetype headAt = 0;
    for (const Table& t : tables) {
        directory.u32(qFromBigEndian<quint32>(t.tag)).u32(checksum(t.data)).u32(offset).u32(quint32(t.data.size()));
        if (QByteArrayView(t.tag) == "head")
            headAt = 12 + 16 * count + body.size();
        QByteArray padded = t.data;
        padded.append((4 - padded.size() % 4) % 4, '\0');
        body += padded;
        offset += quint32(padded.size());
    }
    QByteArray font = directory.bytes() + body;
    qToBigEndian<quint32>(0xb1b0afba - checksum(font), font.data() + headAt + 8);
    return font;
}

QByteArray identityToUnicodeMap()
{
    // One range per high byte, surrogates left out; at most 100 ranges to a block.
    QList<QByteArray> ranges;
    for (int high = 0; high < 256; ++high) {
        if (high >= 0xd8 && high <= 0xdf)
            continue;
        const QByteArray h = QByteArray::number(high, 16).rightJustified(2, '0');
        ranges << "<" + h + "00> <" + h + "ff> <" + h + "00>\n";
    }
    QByteArray map = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                     "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                     "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                     "1 begincodespacerange\n<0000> <ffff>\nendcodespacerange\n";
    for (qsizetype i = 0; i < ranges.size(); i += 100) {
        const qsizetype n = std::min<qsizetype>(100, ranges.size() - i);
        map += QByteArray::number(n) + " beginbfrange\n";
        for (qsizetype k = i; k < i + n; ++k)
            map += ranges[k];
        map += "endbfrange\n";
    }
    map += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return map;
}

QByteArray allCodesToGlyphOne()
{
    QByteArray map(2 * 65536, '\0');
    for (int code = 1; code < 65536; ++code)
        map[2 * code + 1] = 1;
    return map;
}

QByteArray textLayerOperators(const TextLayer& text, double kx, double ky, double pageHeight)
{
    QByteArray ops;
    for (const TextLine& line : text.lines) {
        if (line.words.isEmpty())
            continue;
        // Where the line's letters stand at x; without a baseline, the words' typical bottom.
        std::vector<int> bottoms;
        for (const TextWord& w : line.words)
            bottoms.push_back(w.box.bottom() + 1);
        std::nth_element(bottoms.begin(), bottoms.begin() + bottoms.size() / 2, bottoms.end());
        const double typicalBottom = bottoms[bottoms.size() / 2];
        const QLineF base = line.baseline;
        auto baseAt = [&](double x) {
            if (base.isNull() || base.dx() == 0)
                return typicalBottom;
            return base.y1() + base.dy() * (x - base.x1()) / base.dx();
        };
        // One size for the whole line, from its tallest letters above and below the
        // baseline, so that a viewer reads its words as one line.
        double ascent = 0, descent = 0, tallest = 0;
        for (const TextWord& w : line.words) {
            const double b = baseAt(w.box.center().x());
            ascent = std::max(ascent, b - w.box.top());
            descent = std::max(descent, w.box.bottom() + 1 - b);
            tallest = std::max(tallest, double(w.box.height()));
        }
        double size = ascent + descent;
        if (size < 2) {
            size = std::max(tallest, 2.0);
            ascent = size * kInvisibleAscent / 1000.0;
        }
        const double fontSize = size * ky;
        for (qsizetype i = 0; i < line.words.size(); ++i) {
            const TextWord& w = line.words[i];
            const QString word = w.text.simplified().remove(QLatin1Char(' '));
            if (word.isEmpty())
                continue;
            const double top = baseAt(w.box.center().x()) - ascent;
            // The glyphs' box runs from the descent below to the ascent above their baseline.
            const double y = pageHeight - (top + size * kInvisibleAscent / 1000.0) * ky;
            const double left = w.box.left() * kx;
            const double width = (w.box.right() + 1 - w.box.left()) * kx;
            const double advance = kInvisibleWidth / 1000.0;
            ops += number(width / (word.size() * advance)) + " 0 0 " + number(fontSize) + ' ' + number(left)
                   + ' ' + number(y) + " Tm " + hexCodes(word) + " Tj\n";
            // A space over the gap to the next word, for viewers that copy only the spaces
            // they find.
            if (i + 1 < line.words.size()) {
                const double gap = (line.words[i + 1].box.left() - w.box.right() - 1) * kx;
                if (gap > 0)
                    ops += number(gap / advance) + " 0 0 " + number(fontSize) + ' ' + number(left + width)
                           + ' ' + number(y) + " Tm <0020> Tj\n";
            }
        }
    }
    if (ops.isEmpty())
        return ops;
    return "BT\n3 Tr\n/T0 1 Tf\n" + ops + "ET\n";
}
