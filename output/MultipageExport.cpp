#include "output/MultipageExport.h"

#include "app/SettingsStore.h"

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
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (!goOn(int(i)))
            return result; // the unfinished writer removes its partial file
        QString error;
        const QImage page = loadImageFile(pages[i], &error);
        if (page.isNull()) {
            result.error = error;
            return result;
        }
        if (!writer->appendPage(page, &result.error))
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
    return options;
}
