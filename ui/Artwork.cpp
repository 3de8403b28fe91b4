// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>

namespace Artwork {

namespace {

QPixmap transparentPixmap(const QSize& size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// Maps a drawing made on a logical canvas onto the pixmap, keeping its proportions and
// centring it.
void fitCanvas(QPainter& p, const QSizeF& target, qreal canvasWidth, qreal canvasHeight)
{
    const qreal scale = std::min(target.width() / canvasWidth, target.height() / canvasHeight);
    p.translate((target.width() - canvasWidth * scale) / 2.0,
                (target.height() - canvasHeight * scale) / 2.0);
    p.scale(scale, scale);
}

const QColor outline(0x4f, 0x59, 0x66);

// A vertical shading from one colour at y0 to another at y1.
QLinearGradient shade(qreal y0, qreal y1, const QColor& from, const QColor& to)
{
    QLinearGradient g(0, y0, 0, y1);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    return g;
}

// A sheet of paper with a folded corner and a few text lines, in a 16 x 16 icon.
void drawSheet(QPainter& p, const QRectF& r, const QColor& band = QColor())
{
    const qreal fold = r.width() * 0.35;
    QPolygonF sheet;
    sheet << r.topLeft() << QPointF(r.right() - fold, r.top()) << QPointF(r.right(), r.top() + fold)
          << r.bottomRight() << r.bottomLeft();
    p.setPen(QPen(outline, 1));
    p.setBrush(Qt::white);
    p.drawPolygon(sheet);
    QPolygonF corner;
    corner << QPointF(r.right() - fold, r.top()) << QPointF(r.right() - fold, r.top() + fold)
           << QPointF(r.right(), r.top() + fold);
    p.setBrush(QColor(0xd5, 0xdb, 0xe3));
    p.drawPolygon(corner);
    p.setPen(QPen(QColor(0x9a, 0xa6, 0xb4), 1));
    for (qreal y = r.top() + fold + 2; y < r.bottom() - (band.isValid() ? 4 : 1); y += 2)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
    if (band.isValid()) {
        p.setPen(Qt::NoPen);
        p.setBrush(band);
        p.drawRect(QRectF(r.left() + 0.5, r.bottom() - 3.5, r.width() - 1, 3));
    }
}

// A curved arrow around the middle of a 16 x 16 icon: `sweep` degrees from `start`
// (counter-clockwise positive, as QPainterPath has it), the head at the end.
void drawTurnArrow(QPainter& p, qreal start, qreal sweep)
{
    const QRectF circle(1.5, 2, 13, 13);
    QPainterPath arc;
    arc.arcMoveTo(circle, start);
    arc.arcTo(circle, start, sweep);
    const QColor arrow(0x1f, 0x6f, 0xc0);
    p.setPen(QPen(arrow, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    // The head points along the arc at its end.
    const QPointF tip = arc.pointAtPercent(1);
    const qreal angle = arc.angleAtPercent(1);
    p.save();
    p.translate(tip);
    p.rotate(-angle);
    QPolygonF head;
    head << QPointF(3, 0) << QPointF(-2, -3) << QPointF(-2, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(arrow);
    p.drawPolygon(head);
    p.restore();
}

} // namespace

QPixmap scanner(const QSize& size)
{
    QPixmap pixmap = transparentPixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    fitCanvas(p, size, 100, 60);
    const QPen edge(outline, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    // The lid, hinged at the back edge of the glass and standing open; its white pad faces us.
    QPolygonF lid;
    lid << QPointF(17, 31) << QPointF(83, 31) << QPointF(79, 4) << QPointF(21, 4);
    const QLinearGradient lidShade =
        shade(4, 31, QColor(0xc3, 0xc9, 0xd1), QColor(0x9c, 0xa4, 0xaf));
    p.setPen(edge);
    p.setBrush(lidShade);
    p.drawPolygon(lid);
    QPolygonF pad;
    pad << QPointF(22, 29) << QPointF(78, 29) << QPointF(75, 8) << QPointF(25, 8);
    p.setPen(QPen(QColor(0xb6, 0xbd, 0xc6), 0.8));
    p.setBrush(QColor(0xf6, 0xf7, 0xf9));
    p.drawPolygon(pad);

    // The body: its top face with the glass, then the front face.
    QPolygonF top;
    top << QPointF(15, 31) << QPointF(85, 31) << QPointF(95, 41) << QPointF(5, 41);
    const QLinearGradient topShade =
        shade(31, 41, QColor(0xe4, 0xe7, 0xeb), QColor(0xc9, 0xce, 0xd5));
    p.setPen(edge);
    p.setBrush(topShade);
    p.drawPolygon(top);

    QPolygonF glass;
    glass << QPointF(21, 32.5) << QPointF(79, 32.5) << QPointF(86, 39.5) << QPointF(14, 39.5);
    const QLinearGradient glassShade =
        shade(32, 40, QColor(0x86, 0xb8, 0xea), QColor(0x2c, 0x69, 0xb0));
    p.setPen(QPen(QColor(0x2a, 0x4d, 0x78), 0.8));
    p.setBrush(glassShade);
    p.drawPolygon(glass);
    // The scanning light on its way across the glass.
    p.setPen(QPen(QColor(0xb8, 0xff, 0xc4), 1.4));
    p.drawLine(QPointF(53, 33), QPointF(56.5, 39));

    QPainterPath front;
    front.moveTo(5, 41);
    front.lineTo(95, 41);
    front.lineTo(95, 50);
    front.quadTo(95, 54, 91, 54);
    front.lineTo(9, 54);
    front.quadTo(5, 54, 5, 50);
    front.closeSubpath();
    const QLinearGradient frontShade =
        shade(41, 54, QColor(0xb4, 0xbb, 0xc4), QColor(0x86, 0x8f, 0x9b));
    p.setPen(edge);
    p.setBrush(frontShade);
    p.drawPath(front);

    // Power light and a button on the front.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xd0, 0x5a));
    p.drawEllipse(QPointF(84, 47.5), 1.6, 1.6);
    p.setBrush(QColor(0x5e, 0x67, 0x73));
    p.drawRoundedRect(QRectF(70, 46.3, 8, 2.6), 1, 1);
    // Its shadow on the desk.
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(QRectF(8, 54, 84, 4));
    return pixmap;
}

QPixmap aboutIcon()
{
    QPixmap pixmap = transparentPixmap(QSize(16, 16));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(0.5, 0.5, 15, 11), 3, 3);
    QPainterPath tail;
    tail.moveTo(3, 11);
    tail.lineTo(2.5, 15.5);
    tail.lineTo(8, 11);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    const QLinearGradient fill = shade(0, 12, QColor(0x6a, 0xa6, 0xe8), QColor(0x25, 0x62, 0xb4));
    p.setPen(QPen(QColor(0x1d, 0x4a, 0x86), 1));
    p.setBrush(fill);
    p.drawPath(bubble);
    // The document inside the bubble.
    p.setPen(QPen(QColor(0x1d, 0x4a, 0x86), 0.8));
    p.setBrush(Qt::white);
    QPolygonF page;
    page << QPointF(5, 2.5) << QPointF(9.5, 2.5) << QPointF(11, 4) << QPointF(11, 9.5)
         << QPointF(5, 9.5);
    p.drawPolygon(page);
    p.setPen(QPen(QColor(0x7d, 0x8c, 0x9e), 0.8));
    p.drawLine(QPointF(6.3, 5), QPointF(9.7, 5));
    p.drawLine(QPointF(6.3, 6.6), QPointF(9.7, 6.6));
    p.drawLine(QPointF(6.3, 8.2), QPointF(9.7, 8.2));
    return pixmap;
}

QPixmap commandIcon(Command command)
{
    QPixmap pixmap = transparentPixmap(QSize(16, 16));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (command) {
    case Blank:
        drawSheet(p, QRectF(3.5, 1.5, 9, 13));
        break;
    case Preview: {
        drawSheet(p, QRectF(1.5, 0.5, 9, 12));
        // A magnifying glass over the sheet.
        p.setPen(QPen(QColor(0x5a, 0x3a, 0x1e), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11.5, 11.5), QPointF(14.5, 14.5));
        p.setPen(QPen(QColor(0x30, 0x3a, 0x46), 1.3));
        p.setBrush(QColor(0xc8, 0xe4, 0xff, 200));
        p.drawEllipse(QPointF(9, 9), 3.3, 3.3);
        break;
    }
    case Rename: {
        // A line of text with a pencil writing on it.
        p.setPen(QPen(outline, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(0.5, 9.5, 11, 5));
        p.setPen(QPen(QColor(0x30, 0x3a, 0x46), 1));
        p.drawLine(QPointF(2.5, 12), QPointF(7, 12));
        p.save();
        p.translate(11, 6);
        p.rotate(45);
        p.setPen(QPen(QColor(0x6b, 0x4a, 0x12), 0.8));
        p.setBrush(QColor(0xf2, 0xb6, 0x2a));
        p.drawRect(QRectF(-1.8, -7, 3.6, 9));
        p.setBrush(QColor(0xe8, 0x8a, 0x96));
        p.drawRect(QRectF(-1.8, -8.5, 3.6, 1.5));
        QPolygonF tip;
        tip << QPointF(-1.8, 2) << QPointF(1.8, 2) << QPointF(0, 5);
        p.setBrush(QColor(0xf1, 0xdc, 0xb4));
        p.drawPolygon(tip);
        p.restore();
        break;
    }
    case Delete: {
        p.setPen(QPen(QColor(0x8e, 0x12, 0x12), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        p.setPen(QPen(QColor(0xe5, 0x39, 0x35), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    }
    case SavePdf:
        drawSheet(p, QRectF(2.5, 0.5, 11, 15), QColor(0xd3, 0x2f, 0x2f));
        break;
    case SaveTiff:
        // Several pages on top of each other: one file of many pages.
        drawSheet(p, QRectF(5.5, 0.5, 10, 12));
        drawSheet(p, QRectF(3, 2, 10, 12));
        drawSheet(p, QRectF(0.5, 3.5, 10, 12), QColor(0x1f, 0x78, 0xc8));
        break;
    // A small sheet under an arrow over its top, turning the way the page turns.
    case RotateLeft:
        drawSheet(p, QRectF(4.5, 6.5, 7, 9));
        drawTurnArrow(p, 10, 160);
        break;
    case RotateRight:
        drawSheet(p, QRectF(4.5, 6.5, 7, 9));
        drawTurnArrow(p, 170, -160);
        break;
    case RotateHalf:
        drawSheet(p, QRectF(4.5, 6.5, 7, 9));
        drawTurnArrow(p, 200, -220);
        break;
    }
    return pixmap;
}

QPixmap logo(int size)
{
    QPixmap pixmap = transparentPixmap(QSize(size, size));
    QPainter p(&pixmap);
    paintLogo(p, pixmap.size());
    return pixmap;
}

void paintLogo(QPainter& p, const QSizeF& size)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    fitCanvas(p, size, 100, 100);

    QLinearGradient back(0, 0, 100, 100);
    back.setColorAt(0, QColor(0x3d, 0x8e, 0xd8));
    back.setColorAt(1, QColor(0x1b, 0x3f, 0x7a));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(2, 2, 96, 96), 18, 18);

    // A scanned sheet, slightly turned.
    p.save();
    p.translate(44, 56);
    p.rotate(-8);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRect(QRectF(-24, -30, 50, 64));
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0xc4, 0xcf, 0xdc), 1));
    p.drawRect(QRectF(-27, -33, 50, 64));
    p.setPen(QPen(QColor(0x9a, 0xae, 0xc4), 2.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 7; ++i) {
        const qreal y = -22 + i * 7.5;
        p.drawLine(QPointF(-20, y), QPointF(i % 3 == 2 ? 2 : 15, y));
    }
    p.restore();

    // The quill: a curved vane around its shaft, the nib resting on the sheet.
    QPainterPath vane;
    vane.moveTo(44, 70);
    vane.cubicTo(48, 50, 62, 24, 90, 8);
    vane.cubicTo(86, 30, 74, 52, 50, 70);
    vane.closeSubpath();
    QLinearGradient feather(44, 70, 90, 8);
    feather.setColorAt(0, QColor(0xff, 0xf4, 0xd6));
    feather.setColorAt(1, QColor(0xf5, 0xc4, 0x4c));
    p.setPen(QPen(QColor(0x7a, 0x52, 0x10), 1.2));
    p.setBrush(feather);
    p.drawPath(vane);
    p.setPen(QPen(QColor(0x7a, 0x52, 0x10), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(40, 78), QPointF(86, 13));
    // A few barbs cut into the vane.
    p.setPen(QPen(QColor(0x7a, 0x52, 0x10), 1));
    p.drawLine(QPointF(61, 47), QPointF(69, 45));
    p.drawLine(QPointF(68, 37), QPointF(77, 33));
    p.drawLine(QPointF(55, 44), QPointF(53, 53));
    // The nib and its ink.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1a, 0x1a, 0x2e));
    QPolygonF nib;
    nib << QPointF(40, 78) << QPointF(43.5, 71) << QPointF(46, 73);
    p.drawPolygon(nib);
    p.restore();
}

} // namespace Artwork
