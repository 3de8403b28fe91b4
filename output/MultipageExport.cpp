// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/MultipageExport.h"

#include "app/SettingsStore.h"
#include "i18n/TLangDispatcher.h"
#include "output/TextRecognition.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Pages read and recognised on all cores, a few pages ahead of the writer, which takes
// them in their order.
class RecognisedPages
{
public:
    RecognisedPages(const QStringList& pages, const QString& language)
        : m_pages(pages), m_done(size_t(pages.size()))
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const unsigned workers = std::min<unsigned>(cores, unsigned(pages.size()));
        m_window = int(workers) + 1;
        for (unsigned k = 0; k < workers; ++k)
            m_workers.emplace_back([this, language] { work(language); });
    }

    ~RecognisedPages()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& t : m_workers)
            t.join();
    }

    // Waits for page i, asking goOn() now and then whether to wait on; false when it said no.
    bool take(int i, QImage* image, TextLayer* text, QString* error, const std::function<bool()>& goOn)
    {
        std::unique_lock lock(m_mutex);
        m_written = i;
        m_changed.notify_all();
        while (!m_done[size_t(i)].finished) {
            lock.unlock();
            if (!goOn()) {
                lock.lock();
                m_stop = true;
                return false;
            }
            lock.lock();
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        Page& page = m_done[size_t(i)];
        *image = std::move(page.image);
        *text = std::move(page.text);
        *error = page.error;
        return true;
    }

private:
    struct Page
    {
        bool finished = false;
        QImage image;
        TextLayer text;
        QString error;   // set when the page failed
    };

    void work(const QString& language)
    {
        TextRecogniser recogniser(language);
        for (;;) {
            int i;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || m_next < m_written + m_window; });
                if (m_stop || m_next >= int(m_pages.size()))
                    return;
                i = m_next++;
            }
            Page page;
            page.image = loadImageFile(m_pages[i], &page.error);
            if (!page.image.isNull()
                && !recogniser.recognise(page.image, &page.text, &m_stop, &page.error)
                && page.error.isEmpty())
                page.error = QStringLiteral("Cancelled");
            if (!page.error.isEmpty())
                page.image = QImage();
            page.finished = true;
            {
                std::lock_guard lock(m_mutex);
                m_done[size_t(i)] = std::move(page);
            }
            m_changed.notify_all();
        }
    }

    const QStringList m_pages;
    std::vector<Page> m_done;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<bool> m_stop{false};
    int m_next = 0;
    int m_written = 0;
    int m_window = 1;
};

bool isPdf(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

} // namespace

MultipageExportResult exportMultipage(const QStringList& pages, const QString& target,
                                      const ImageWriteOptions& options,
                                      const std::function<bool(int pagesDone)>& progress)
{
    MultipageExportResult result;
    auto goOn = [&](int done) {
        result.cancelled = progress && !progress(done);
        return !result.cancelled;
    };
    std::unique_ptr<MultipageWriter> writer =
        MultipageWriter::begin(target, options, &result.error);
    if (!writer)
        return result;
    std::unique_ptr<RecognisedPages> recognised;
    if (!options.recognitionLanguage.isEmpty() && isPdf(target) && !pages.isEmpty())
        recognised = std::make_unique<RecognisedPages>(pages, options.recognitionLanguage);
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (!goOn(int(i)))
            return result; // the unfinished writer removes its partial file
        QString error;
        QImage page;
        TextLayer text;
        if (recognised) {
            if (!recognised->take(int(i), &page, &text, &error, [&] { return goOn(int(i)); }))
                return result;
        } else {
            page = loadImageFile(pages[i], &error);
        }
        if (page.isNull()) {
            result.error = error;
            return result;
        }
        if (!(recognised ? writer->appendPage(page, text, &result.error)
                         : writer->appendPage(page, &result.error)))
            return result;
    }
    if (!goOn(int(pages.size())))
        return result;
    result.ok = writer->finish(&result.error);
    return result;
}

ImageWriteOptions storedWriteOptions()
{
    ImageWriteOptions options;
    SettingsStore store;
    if (store.valueExists(QStringLiteral("JPEGCompression")))
        options.jpegQuality = store.readInteger(QStringLiteral("JPEGCompression"));
    if (store.valueExists(QStringLiteral("TIFFCompression"))) {
        // Stored as the index of the settings window's list: none, RLE, G3, G4, LZW, JPEG.
        const int index = store.readInteger(QStringLiteral("TIFFCompression"));
        options.tiffCompression = index == 5 ? 7 : index + 1;
    }
    options.recognitionLanguage = storedRecognitionLanguage();
    return options;
}

QString storedRecognitionLanguage()
{
    SettingsStore store;
    if (!store.valueExists(QStringLiteral("SearchablePDF")) || !store.readBool(QStringLiteral("SearchablePDF")))
        return {};
    QString code = store.readString(QStringLiteral("OCRLanguage"));
    if (code.isEmpty()) {
        const TLangDispatcher* dispatcher = TLangDispatcher::shared();
        code = recognitionLanguageCode(dispatcher ? dispatcher->ActiveLanguage() : 1);
    }
    return recognitionDataInstalled(code) ? code : QString();
}
