// SPDX-License-Identifier: GPL-3.0-or-later
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

    // Accessible names and descriptions of controls the windows' tables leave unnamed.
    {"a11y.about", "About Quillora...", "О программе Quillora...", "Über Quillora..."},
    {"a11y.fmtSettings", "Format settings", "Настройки формата", "Formateinstellungen"},
    {"a11y.fmtSettings.description", "JPEG quality and TIFF compression of the pages",
     "Качество JPEG и сжатие TIFF для страниц", "JPEG-Qualität und TIFF-Komprimierung der Seiten"},
    {"a11y.chooseFolder", "Choose folder", "Выбрать папку", "Ordner wählen"},
    {"a11y.chooseFolder.description", "The folder the pages are saved in",
     "Папка, в которую сохраняются страницы", "Der Ordner, in dem die Seiten gespeichert werden"},
    {"a11y.startNumber", "Start number", "Начальный номер", "Startnummer"},
    {"a11y.startCounter", "Change the start number", "Изменить начальный номер",
     "Startnummer ändern"},
    {"a11y.increase", "Increase", "Увеличить", "Erhöhen"},
    {"a11y.decrease", "Decrease", "Уменьшить", "Verringern"},
    {"a11y.scanners", "Scanners", "Сканеры", "Scanner"},
    {"a11y.scannedImages", "Scanned images", "Отсканированные изображения", "Gescannte Bilder"},
    {"a11y.imageCommands", "Image commands", "Команды изображений", "Bildbefehle"},
    {"a11y.moreCommands", "More commands", "Другие команды", "Weitere Befehle"},
    {"a11y.jpegQuality", "JPEG quality", "Качество JPEG", "JPEG-Qualität"},
    {"a11y.zoom", "Zoom", "Масштаб", "Zoom"},
    {"a11y.pagePreview", "Page preview", "Просмотр страницы", "Seitenvorschau"},

    // The scanner helper program that runs the scanner drivers.
    {"scanner.driverMissing", "The scanner driver could not be started",
     "Не удалось запустить драйвер сканера", "Der Scannertreiber konnte nicht gestartet werden"},
    {"scanner.driverNotResponding", "The scanner driver stopped responding",
     "Драйвер сканера перестал отвечать", "Der Scannertreiber reagiert nicht mehr"},
    {"scanner.driverStopped", "The scanner driver stopped unexpectedly",
     "Драйвер сканера неожиданно завершил работу", "Der Scannertreiber wurde unerwartet beendet"},

    // Turning and reordering the pages of the images pane.
    {"pages.rotate", "Rotate", "Повернуть", "Drehen"},
    {"pages.rotateLeft", "Rotate left", "Повернуть влево", "Nach links drehen"},
    {"pages.rotateRight", "Rotate right", "Повернуть вправо", "Nach rechts drehen"},
    {"pages.rotateHalf", "Rotate 180°", "Повернуть на 180°", "Um 180° drehen"},
    {"pages.turning", "Rotating pages…", "Поворот страниц…", "Seiten werden gedreht…"},
    {"pages.turnFailedTitle", "Rotate pages", "Поворот страниц", "Seiten drehen"},
    {"pages.turnFailed", "These pages could not be rotated and stay as they were:",
     "Эти страницы не удалось повернуть, они остались без изменений:",
     "Diese Seiten konnten nicht gedreht werden und bleiben unverändert:"},
    {"pages.cancel", "Cancel", "Отмена", "Abbrechen"},

    // Searchable PDF files (a tab of the format settings window).
    {"pdf.searchable", "Searchable PDF (text recognition)", "PDF с поиском по тексту (распознавание текста)",
     "Durchsuchbares PDF (Texterkennung)"},
    {"pdf.language", "Recognition language:", "Язык распознавания:", "Erkennungssprache:"},
    {"pdf.english", "English", "Английский", "Englisch"},
    {"pdf.russian", "Russian", "Русский", "Russisch"},
    {"pdf.german", "German", "Немецкий", "Deutsch"},
    {"pdf.noData", "The text recognition data for %1 is not installed.",
     "Данные распознавания текста для языка «%1» не установлены.",
     "Die Texterkennungsdaten für %1 sind nicht installiert."},
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
