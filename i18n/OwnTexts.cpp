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

    // The command-line scan.
    {"commandline.negativeResolution",
     "The resolution %1 is not a number of dots per inch above zero: nothing was scanned.",
     "Разрешение %1 не является положительным числом точек на дюйм: ничего не отсканировано.",
     "Die Auflösung %1 ist keine positive Zahl von Punkten pro Zoll: es wurde nichts gescannt."},
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
