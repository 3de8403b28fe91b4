// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PrintLayout.h"

#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
constexpr int kDpi = 100;
constexpr double kTolerance = 0.03; // inches: rounding to whole pixels at kDpi

// Renders a black picture of `picture` pixels on a white sheet of `sheet` inches and
// returns where black ended up, in inches.
QRectF renderedPicture(const QSizeF& sheet, const QSize& picture)
{
    QImage page(qRound(sheet.width() * kDpi), qRound(sheet.height() * kDpi), QImage::Format_RGB32);
    page.setDotsPerMeterX(qRound(kDpi / 0.0254));
    page.setDotsPerMeterY(qRound(kDpi / 0.0254));
    page.fill(Qt::white);
    QImage black(picture, QImage::Format_RGB32);
    black.fill(Qt::black);
    {
        QPainter painter(&page);
        renderPrintLayout(painter, black);
    }
    int left = page.width(), top = page.height(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        for (int x = 0; x < page.width(); ++x) {
            if (qGray(line[x]) < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return {};
    return QRectF(double(left) / kDpi, double(top) / kDpi, double(right - left + 1) / kDpi,
                  double(bottom - top + 1) / kDpi);
}

struct GeometryCase
{
    const char* name;
    QSizeF sheet;
    QSize picture;
    QRectF expected; // inches
};

const QSizeF kLetter(8.5, 11.0);
const QSizeF kLetterLandscape(11.0, 8.5);
const QSizeF kA4(8.27, 11.69);
} // namespace

// The picture fills the image box as far as its proportions allow, from the box's top-left
// corner; the box keeps 0.2 in left/top and its right/bottom margins on every paper.
TEST(PrintLayoutTest, PictureIsPlacedInTheBoxOnEveryPaper)
{
    const GeometryCase cases[] = {
        {"portrait page on Letter", kLetter, {1700, 2200}, {0.2, 0.2, 8.0, 8.0 * 2200 / 1700}},
        {"landscape page on Letter", kLetter, {2200, 1700}, {0.2, 0.2, 8.0, 8.0 * 1700 / 2200}},
        {"square page on Letter", kLetter, {1000, 1000}, {0.2, 0.2, 8.0, 8.0}},
        {"tall page on Letter", kLetter, {1000, 2000}, {0.2, 0.2, 5.2, 10.4}},
        {"portrait page on landscape Letter", kLetterLandscape, {1700, 2200},
         {0.2, 0.2, 7.9 * 1700 / 2200, 7.9}},
        {"wide page on landscape Letter", kLetterLandscape, {4000, 1000}, {0.2, 0.2, 10.5, 2.625}},
        {"tall page on A4", kA4, {1000, 2000}, {0.2, 0.2, 11.09 / 2, 11.09}},
        {"wide page on A4", kA4, {2000, 1000}, {0.2, 0.2, 7.77, 7.77 / 2}},
    };
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QRectF got = renderedPicture(c.sheet, c.picture);
        EXPECT_NEAR(got.left(), c.expected.left(), kTolerance);
        EXPECT_NEAR(got.top(), c.expected.top(), kTolerance);
        EXPECT_NEAR(got.width(), c.expected.width(), kTolerance);
        EXPECT_NEAR(got.height(), c.expected.height(), kTolerance);
    }
}

TEST(PrintLayoutTest, BoxStretchesWithThePaper)
{
    const PrintLayout layout;
    const QRectF a4 = layout.imageBoxOn(kA4);
    EXPECT_NEAR(a4.width(), 7.77, 1e-9);
    EXPECT_NEAR(a4.height(), 11.09, 1e-9);
    const QRectF landscape = layout.imageBoxOn(kLetterLandscape);
    EXPECT_EQ(landscape, QRectF(0.2, 0.2, 10.5, 7.9));
}

// On a printer or PDF page the sheet is the paper, and the painter starts at the printable
// area: the box must still sit 0.2 in from the paper's edge, whatever the margins.
TEST(PrintLayoutTest, SheetOfAPagedDeviceIsItsPaper)
{
    QTemporaryDir dir;
    QPdfWriter pdf(dir.filePath("a4.pdf"));
    pdf.setResolution(300);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(0.5, 0.75, 0.5, 0.5), QPageLayout::Inch));
    QPainter pdfPainter(&pdf);
    const Sheet a4 = sheetOf(pdf);
    EXPECT_NEAR(a4.inches.width(), 8.27, 0.01);
    EXPECT_NEAR(a4.inches.height(), 11.69, 0.01);
    EXPECT_NEAR(a4.origin.x(), -0.5 * 300, 1);
    EXPECT_NEAR(a4.origin.y(), -0.75 * 300, 1);
    pdfPainter.end();

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("letter.pdf"));
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Landscape,
                                      QMarginsF(0.25, 0.25, 0.25, 0.25), QPageLayout::Inch));
    const Sheet landscape = sheetOf(printer);
    EXPECT_NEAR(landscape.inches.width(), 11.0, 0.01);
    EXPECT_NEAR(landscape.inches.height(), 8.5, 0.01);
    EXPECT_NEAR(landscape.origin.x(), -0.25 * printer.resolution(), 1);
    printer.setFullPage(true);
    EXPECT_EQ(sheetOf(printer).origin, QPointF(0, 0));
}
