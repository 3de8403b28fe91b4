#include "i18n/OwnTexts.h"

#include "i18n/TLangDispatcher.h"

#include <cstring>

namespace {

struct OwnTextRow
{
    const char* key;
    const char* english;
    const char* russian; // nullptr or "": English is shown
    const char* german;
};

// One row per text; keep the rows of an area together. UTF-8.
constexpr OwnTextRow kRows[] = {
    {"app.name", "Quillora", "Quillora", "Quillora"},

    // The scanner helper program that runs the scanner drivers.
    {"scanner.driverMissing", "The scanner driver could not be started",
     "Не удалось запустить драйвер сканера", "Der Scannertreiber konnte nicht gestartet werden"},
    {"scanner.driverNotResponding", "The scanner driver stopped responding",
     "Драйвер сканера перестал отвечать", "Der Scannertreiber reagiert nicht mehr"},
    {"scanner.driverStopped", "The scanner driver stopped unexpectedly",
     "Драйвер сканера неожиданно завершил работу", "Der Scannertreiber wurde unerwartet beendet"},
};

const OwnTextRow* findRow(const char* key)
{
    for (const OwnTextRow& row : kRows)
        if (std::strcmp(row.key, key) == 0)
            return &row;
    return nullptr;
}

} // namespace

QStringList ownTextKeys()
{
    QStringList keys;
    for (const OwnTextRow& row : kRows)
        keys << QString::fromUtf8(row.key);
    return keys;
}

QString ownText(const char* key, int language)
{
    const OwnTextRow* row = key ? findRow(key) : nullptr;
    if (!row)
        return QString::fromUtf8(key ? key : "");
    const char* text = language == 2 ? row->russian : language == 3 ? row->german : row->english;
    return QString::fromUtf8(text && *text ? text : row->english);
}

QString ownText(const char* key)
{
    const TLangDispatcher* dispatcher = TLangDispatcher::shared();
    return ownText(key, dispatcher ? dispatcher->ActiveLanguage() : 1);
}
