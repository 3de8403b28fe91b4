#include "TextRecognition.h"

#include "PageRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <omp.h>

#include <cmath>

namespace {

// Where the language data may be: the folder TESSDATA_PREFIX names (or its tessdata
// subfolder), then where Debian and others put it.
QStringList dataFolders()
{
    QStringList folders;
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        return {prefix, prefix + QStringLiteral("/tessdata")};
    for (const char* dir : {"/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                            "/usr/share/tessdata", "/usr/local/share/tessdata"})
        folders << QString::fromLatin1(dir);
    return folders;
}

QString dataFolderFor(const QString& code)
{
    if (code.isEmpty() || code.contains(QLatin1Char('/')))
        return {};
    for (const QString& folder : dataFolders())
        if (QFileInfo(folder + QLatin1Char('/') + code + QStringLiteral(".traineddata")).isFile())
            return folder;
    return {};
}

bool cancelled(void* flag, int)
{
    return flag && static_cast<const std::atomic<bool>*>(flag)->load();
}

QString takeText(char* text)
{
    const QString s = QString::fromUtf8(text ? text : "").trimmed();
    delete[] text;
    return s;
}

} // namespace

struct TextRecogniser::Engine
{
    tesseract::TessBaseAPI api;
};

QString recognitionLanguageCode(int language)
{
    switch (language) {
    case 1: return QStringLiteral("eng");
    case 2: return QStringLiteral("rus");
    case 3: return QStringLiteral("deu");
    default: return {};
    }
}

bool recognitionDataInstalled(const QString& code)
{
    return !dataFolderFor(code).isEmpty();
}

TextRecogniser::TextRecogniser(QString code) : m_code(std::move(code)) {}

TextRecogniser::~TextRecogniser()
{
    if (m_engine)
        m_engine->api.End();
}

bool TextRecogniser::recognise(const QImage& page, TextLayer* text, const std::atomic<bool>* cancel,
                               bool singleThreaded, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (error)
        error->clear();
    if (!m_engine) {
        const QString folder = dataFolderFor(m_code);
        if (folder.isEmpty())
            return fail(QStringLiteral("No text recognition data for the language \"%1\" is installed").arg(m_code));
        auto engine = std::make_unique<Engine>();
        // Its notes go nowhere: the program reports what matters itself.
        engine->api.SetVariable("debug_file", "/dev/null");
        if (engine->api.Init(QFile::encodeName(folder).constData(), m_code.toLatin1().constData(),
                             tesseract::OEM_DEFAULT) != 0)
            return fail(QStringLiteral("The text recognition data for \"%1\" in %2 cannot be loaded")
                            .arg(m_code, QDir::toNativeSeparators(folder)));
        engine->api.SetPageSegMode(tesseract::PSM_AUTO);
        m_engine = std::move(engine);
    }
    tesseract::TessBaseAPI& api = m_engine->api;

    // The engine finds its own threshold: gray is what it is best given.
    const QImage gray = page.format() == QImage::Format_Grayscale8
                            ? page
                            : page.convertToFormat(QImage::Format_Grayscale8);
    if (gray.isNull())
        return fail(QStringLiteral("Out of memory"));
    api.SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
    api.SetSourceResolution(std::max(70, int(std::lround(dotsPerInchY(page)))));

    // Pages recognised side by side keep to one thread each: their engines' own threads
    // would only wait for each other's cores.
    const int levels = omp_get_max_active_levels();
    omp_set_max_active_levels(singleThreaded ? 0 : std::max(levels, 1));
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = cancelled;
    monitor.cancel_this = const_cast<std::atomic<bool>*>(cancel);
    const int result = api.Recognize(&monitor);
    omp_set_max_active_levels(levels);
    if (cancel && cancel->load()) {
        api.Clear();
        return false;
    }
    if (result != 0) {
        api.Clear();
        return fail(QStringLiteral("The text of the page cannot be recognised"));
    }

    text->lines.clear();
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (it) {
        do {
            if (it->Empty(tesseract::RIL_WORD))
                continue;
            if (text->lines.isEmpty() || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                TextLine line;
                int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
                if (it->Baseline(tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2) && x2 != x1)
                    line.baseline = QLineF(x1, y1, x2, y2);
                text->lines.append(line);
            }
            int left = 0, top = 0, right = 0, bottom = 0;
            const QString word = takeText(it->GetUTF8Text(tesseract::RIL_WORD));
            if (word.isEmpty() || !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            text->lines.last().words.append({word, QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))});
        } while (it->Next(tesseract::RIL_WORD));
    }
    text->lines.removeIf([](const TextLine& line) { return line.words.isEmpty(); });
    api.Clear();
    return true;
}
