// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextRecognition.h"

#include "PageRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <tesseract/capi.h>

#include <dlfcn.h>

#include <cmath>
#include <mutex>

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

// Tesseract, loaded when the first page is recognised: linked in, it and the libraries it
// brings would lengthen every start of the program, which mostly never recognises text.
struct Tesseract
{
    decltype(&TessBaseAPICreate) create = nullptr;
    decltype(&TessBaseAPIDelete) destroy = nullptr;
    decltype(&TessBaseAPISetVariable) setVariable = nullptr;
    decltype(&TessBaseAPIInit3) init = nullptr;
    decltype(&TessBaseAPISetPageSegMode) setPageSegMode = nullptr;
    decltype(&TessBaseAPISetImage) setImage = nullptr;
    decltype(&TessBaseAPISetSourceResolution) setSourceResolution = nullptr;
    decltype(&TessBaseAPIRecognize) recognize = nullptr;
    decltype(&TessBaseAPIGetIterator) iterator = nullptr;
    decltype(&TessBaseAPIClear) clear = nullptr;
    decltype(&TessBaseAPIEnd) end = nullptr;
    decltype(&TessResultIteratorDelete) deleteIterator = nullptr;
    decltype(&TessResultIteratorNext) next = nullptr;
    decltype(&TessResultIteratorGetPageIterator) pageIterator = nullptr;
    decltype(&TessResultIteratorGetUTF8Text) text = nullptr;
    decltype(&TessDeleteText) deleteText = nullptr;
    decltype(&TessPageIteratorIsAtBeginningOf) atBeginningOf = nullptr;
    decltype(&TessPageIteratorBoundingBox) boundingBox = nullptr;
    decltype(&TessPageIteratorBaseline) baseline = nullptr;
    void (*setMaxActiveLevels)(int) = nullptr;   // OpenMP's, from the library Tesseract uses
    bool loaded = false;

    static const Tesseract& get()
    {
        static Tesseract library;
        static std::once_flag once;
        std::call_once(once, [] { library.load(); });
        return library;
    }

private:
    void load()
    {
        void* handle = nullptr;
        for (const char* name : {"libtesseract.so.5", "libtesseract.so"})
            if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)))
                break;
        if (!handle)
            return;
        auto bind = [handle](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            return function != nullptr;
        };
        loaded = bind(create, "TessBaseAPICreate") && bind(destroy, "TessBaseAPIDelete")
                 && bind(setVariable, "TessBaseAPISetVariable") && bind(init, "TessBaseAPIInit3")
                 && bind(setPageSegMode, "TessBaseAPISetPageSegMode") && bind(setImage, "TessBaseAPISetImage")
                 && bind(setSourceResolution, "TessBaseAPISetSourceResolution")
                 && bind(recognize, "TessBaseAPIRecognize") && bind(iterator, "TessBaseAPIGetIterator")
                 && bind(clear, "TessBaseAPIClear") && bind(end, "TessBaseAPIEnd")
                 && bind(deleteIterator, "TessResultIteratorDelete") && bind(next, "TessResultIteratorNext")
                 && bind(pageIterator, "TessResultIteratorGetPageIterator")
                 && bind(text, "TessResultIteratorGetUTF8Text") && bind(deleteText, "TessDeleteText")
                 && bind(atBeginningOf, "TessPageIteratorIsAtBeginningOf")
                 && bind(boundingBox, "TessPageIteratorBoundingBox") && bind(baseline, "TessPageIteratorBaseline");
        setMaxActiveLevels = reinterpret_cast<void (*)(int)>(dlsym(handle, "omp_set_max_active_levels"));
    }
};

QString takeText(const Tesseract& t, char* text)
{
    const QString s = QString::fromUtf8(text ? text : "").trimmed();
    if (text)
        t.deleteText(text);
    return s;
}

} // namespace

struct TextRecogniser::Engine
{
    explicit Engine(const Tesseract& t) : tess(t), api(t.create()) {}
    ~Engine()
    {
        tess.end(api);
        tess.destroy(api);
    }
    const Tesseract& tess;
    TessBaseAPI* api;
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
    return !dataFolderFor(code).isEmpty() && Tesseract::get().loaded;
}

TextRecogniser::TextRecogniser(QString code) : m_code(std::move(code)) {}

TextRecogniser::~TextRecogniser() = default;

bool TextRecogniser::recognise(const QImage& page, TextLayer* text, const std::atomic<bool>* cancel,
                               QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (error)
        error->clear();
    const Tesseract& t = Tesseract::get();
    if (!t.loaded)
        return fail(QStringLiteral("Text recognition (Tesseract 5) is not installed"));
    if (!m_engine) {
        const QString folder = dataFolderFor(m_code);
        if (folder.isEmpty())
            return fail(QStringLiteral("No text recognition data for the language \"%1\" is installed").arg(m_code));
        auto engine = std::make_unique<Engine>(t);
        // Its notes go nowhere: the program reports what matters itself.
        t.setVariable(engine->api, "debug_file", "/dev/null");
        if (t.init(engine->api, QFile::encodeName(folder).constData(), m_code.toLatin1().constData()) != 0)
            return fail(QStringLiteral("The text recognition data for \"%1\" in %2 cannot be loaded")
                            .arg(m_code, QDir::toNativeSeparators(folder)));
        t.setPageSegMode(engine->api, tesseract::PSM_AUTO);
        m_engine = std::move(engine);
    }
    TessBaseAPI* api = m_engine->api;

    // The engine finds its own threshold: gray is what it is best given.
    const QImage gray = page.format() == QImage::Format_Grayscale8
                            ? page
                            : page.convertToFormat(QImage::Format_Grayscale8);
    if (gray.isNull())
        return fail(QStringLiteral("Out of memory"));
    t.setImage(api, gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
    t.setSourceResolution(api, std::max(70, int(std::lround(dotsPerInchY(page)))));

    // One thread: the engine's own threads (OpenMP) spend more time waiting for each other
    // than they save, measured on two cores at 7.8 s a page against 3.1 s with one; and
    // pages recognised side by side use the cores instead. The setting may hold for the
    // whole process, which uses OpenMP for nothing else: it is not put back.
    if (t.setMaxActiveLevels)
        t.setMaxActiveLevels(0);
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = cancelled;
    monitor.cancel_this = const_cast<std::atomic<bool>*>(cancel);
    const int result = t.recognize(api, &monitor);
    if (cancel && cancel->load()) {
        t.clear(api);
        return false;
    }
    if (result != 0) {
        t.clear(api);
        return fail(QStringLiteral("The text of the page cannot be recognised"));
    }

    text->lines.clear();
    if (TessResultIterator* it = t.iterator(api)) {
        const TessPageIterator* at = t.pageIterator(it);
        do {
            int left = 0, top = 0, right = 0, bottom = 0;
            const QString word = takeText(t, t.text(it, tesseract::RIL_WORD));
            if (word.isEmpty() || !t.boundingBox(at, tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            if (text->lines.isEmpty() || t.atBeginningOf(at, tesseract::RIL_TEXTLINE)) {
                TextLine line;
                int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
                if (t.baseline(at, tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2) && x2 != x1)
                    line.baseline = QLineF(x1, y1, x2, y2);
                text->lines.append(line);
            }
            text->lines.last().words.append({word, QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))});
        } while (t.next(it, tesseract::RIL_WORD));
        t.deleteIterator(it);
    }
    text->lines.removeIf([](const TextLine& line) { return line.words.isEmpty(); });
    t.clear(api);
    return true;
}
