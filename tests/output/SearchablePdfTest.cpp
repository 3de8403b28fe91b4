// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/ImageFiles.h"
#include "output/MultipageExport.h"
#include "output/TextRecognition.h"

#include "SaneFixture.h"
#include "scanner/SaneScannerLibrary.h"
#include "PageFixtures.h"
#include "TextPages.h"

#include <QDir>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <vector>

namespace {

class SearchablePdfTest : public SaneFixture
{
protected:
    QString out(const QString& name) const { return scratchDir() + QLatin1Char('/') + name; }
    // A page as the export reads it: the temporary copy, a bitmap.
    QString copyOf(const TextPage& page, const QString& name) const
    {
        const QString path = tempDir() + QLatin1Char('/') + name + QStringLiteral(".bmp");
        EXPECT_TRUE(writeImageFile(page.image, path, {}, nullptr));
        return path;
    }
};

// The words of a text, punctuation aside.
QStringList wordsOf(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\w]+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    return text.split(separators, Qt::SkipEmptyParts);
}

// How many of `expected` come in `found` in the same order (longest common subsequence).
int inOrder(const QStringList& expected, const QStringList& found)
{
    std::vector<int> previous(size_t(found.size()) + 1, 0), current(previous.size(), 0);
    for (const QString& e : expected) {
        for (qsizetype j = 0; j < found.size(); ++j)
            current[size_t(j) + 1] = e == found[j] ? previous[size_t(j)] + 1
                                                   : std::max(previous[size_t(j) + 1], current[size_t(j)]);
        std::swap(previous, current);
    }
    return previous.back();
}

struct PdfWord
{
    QString text;
    QRectF box;   // pixels of a 300 dpi page
};

// The words of a page as pdftotext finds them, with their boxes.
QList<PdfWord> pdfWords(const QString& pdf, int page)
{
    const QString html = runTool(QStringLiteral("pdftotext"),
                                 {QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page),
                                  QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    QList<PdfWord> words;
    QXmlStreamReader xml(html);
    const double toPixels = 300.0 / 72.0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("word")) {
            const auto a = xml.attributes();
            const QRectF box(QPointF(a.value("xMin").toDouble(), a.value("yMin").toDouble()) * toPixels,
                             QPointF(a.value("xMax").toDouble(), a.value("yMax").toDouble()) * toPixels);
            words.append({xml.readElementText(), box});
        }
    }
    return words;
}

double coverage(const QRectF& by, const QRectF& of)
{
    const QRectF common = by.intersected(of);
    return of.isEmpty() ? 0 : common.width() * common.height() / (of.width() * of.height());
}

} // namespace

// A page of each language, turned a little and noisy, exported as a searchable PDF: its
// words come out of pdftotext in their order, the file is sound, and every word's box lies
// over the word where it was printed and where the recognition found it.
TEST_F(SearchablePdfTest, RecognisedWordsLieOverThePrintedOnes)
{
    struct Case
    {
        const char* language;
        double degrees;
    };
    const Case cases[] = {{"eng", 0.6}, {"rus", -0.5}, {"deu", 0.4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        const QString language = QString::fromLatin1(c.language);
        ASSERT_TRUE(recognitionDataInstalled(language));
        const QStringList words = sampleWords(language, 260, 7);
        const TextPage page = renderTextPage(words, c.degrees, 11);
        const QString pdf = out(language + QStringLiteral(".pdf"));
        ImageWriteOptions options;
        options.recognitionLanguage = language;
        const MultipageExportResult result = exportMultipage({copyOf(page, language)}, pdf, options);
        ASSERT_TRUE(result.ok) << result.error.toStdString();

        int rc = -1;
        const QString check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf}, &rc);
        EXPECT_EQ(rc, 0) << check.toStdString();
        EXPECT_TRUE(check.contains(QLatin1String("No syntax or stream encoding errors"))) << check.toStdString();

        const QStringList found = wordsOf(runTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}));
        const int matched = inOrder(words, found);
        EXPECT_GE(matched, int(words.size() * 0.98)) << matched << " of " << words.size();

        // The boxes: over the recognised ones (the same engine gives the same words again) and
        // over the printed words.
        TextLayer recognised;
        QString error;
        ASSERT_TRUE(TextRecogniser(language).recognise(page.image, &recognised, nullptr, &error))
            << error.toStdString();
        QList<TextWord> engineWords;
        for (const TextLine& line : recognised.lines)
            engineWords += line.words;
        const QList<PdfWord> boxes = pdfWords(pdf, 1);
        ASSERT_EQ(boxes.size(), engineWords.size());
        int overPrinted = 0;
        qsizetype next = 0;
        for (qsizetype i = 0; i < boxes.size(); ++i) {
            const QRectF engine(engineWords[i].box);
            EXPECT_NEAR(boxes[i].box.left(), engine.left(), 2.0) << i;
            EXPECT_NEAR(boxes[i].box.right(), engine.right(), 2.0) << i;
            EXPECT_GE(coverage(boxes[i].box, engine), 0.8) << i << " " << boxes[i].text.toStdString();
            // The printed word of that text nearest in reading order.
            for (qsizetype k = next; k < std::min(next + 4, page.words.size()); ++k) {
                if (page.words[k].text == boxes[i].text) {
                    overPrinted += boxes[i].box.contains(page.words[k].box.center()) ? 1 : 0;
                    next = k + 1;
                    break;
                }
            }
        }
        EXPECT_GE(overPrinted, int(words.size() * 0.98)) << overPrinted << " of " << words.size();
    }
}

// Cancelling while pages are recognised, or a language without data, leaves no file; the
// option counts as off when its data is missing.
TEST_F(SearchablePdfTest, CancelAndMissingDataLeaveNoFile)
{
    const TextPage page = renderTextPage(sampleWords(QStringLiteral("eng"), 30, 3), 0.3, 5);
    const QStringList pages = {copyOf(page, QStringLiteral("a")), copyOf(page, QStringLiteral("b")),
                               copyOf(page, QStringLiteral("c"))};
    ImageWriteOptions options;
    options.recognitionLanguage = QStringLiteral("eng");
    for (int cancelAt : {0, 1, 3}) {
        SCOPED_TRACE(cancelAt);
        const MultipageExportResult r =
            exportMultipage(pages, out(QStringLiteral("doc.pdf")), options, [&](int done) { return done < cancelAt; });
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.cancelled);
        EXPECT_TRUE(folderEntries(scratchDir()).isEmpty());
    }

    qputenv("TESSDATA_PREFIX", QFile::encodeName(root()));
    EXPECT_FALSE(recognitionDataInstalled(QStringLiteral("eng")));
    const MultipageExportResult r = exportMultipage(pages, out(QStringLiteral("doc.pdf")), options);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QLatin1String("\"eng\""))) << r.error.toStdString();
    EXPECT_TRUE(folderEntries(scratchDir()).isEmpty());
    QString error;
    EXPECT_FALSE(writeImageFile(page.image, out(QStringLiteral("page.pdf")), options, &error));
    EXPECT_TRUE(folderEntries(scratchDir()).isEmpty());
}

// A scanned page written as a PDF file gets its words once the library is told the language
// (as each interactive scan tells it the stored one), and none without.
TEST_F(SearchablePdfTest, ScannedPdfPagesGetTheirWords)
{
    const QStringList words = sampleWords(QStringLiteral("deu"), 40, 9);
    const TextPage page = renderTextPage(words, -0.3, 4);
    SaneScannerLibrary library;
    const ScannerLibrary::Handle handle = library.LoadImageFile(copyOf(page, QStringLiteral("scan")));
    ASSERT_NE(handle, 0u);
    library.SetTextRecognition(QStringLiteral("deu"));
    ASSERT_EQ(library.WriteImageFile(handle, out(QStringLiteral("page.pdf"))), 1)
        << library.LastErrorText().toStdString();
    const QStringList found = wordsOf(runTool(QStringLiteral("pdftotext"), {out(QStringLiteral("page.pdf")), QStringLiteral("-")}));
    EXPECT_GE(inOrder(words, found), int(words.size() * 0.95));

    library.SetTextRecognition(QString());
    ASSERT_EQ(library.WriteImageFile(handle, out(QStringLiteral("plain.pdf"))), 1);
    EXPECT_TRUE(wordsOf(runTool(QStringLiteral("pdftotext"), {out(QStringLiteral("plain.pdf")), QStringLiteral("-")})).isEmpty());
    library.ReleaseImage(handle);
}
