// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextPages.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>

namespace {

const char* const kEnglish[] = {
    "the", "scanner", "page", "reads", "every", "line", "of", "text", "and", "writes", "it", "into",
    "a", "file", "that", "people", "can", "search", "later", "when", "they", "need", "old",
    "letters", "from", "their", "office", "archive", "with", "names", "numbers", "and", "dates",
    "morning", "report", "shows", "how", "many", "orders", "arrived", "yesterday", "before",
    "noon", "while", "customers", "waited", "patiently", "for", "answers", "about", "delivery",
    "prices", "children", "garden", "window", "river", "mountain", "journey", "careful", "simple",
    "important", "question", "history", "summer", "winter", "library", "printer", "paper"};
const char* const kRussian[] = {
    "сканер", "читает", "каждую", "строку", "текста", "и", "записывает", "её", "в", "файл",
    "который", "можно", "найти", "позже", "когда", "нужны", "старые", "письма", "из", "архива",
    "конторы", "с", "именами", "числами", "датами", "утром", "отчёт", "показал", "сколько",
    "заказов", "пришло", "вчера", "до", "полудня", "пока", "покупатели", "терпеливо", "ждали",
    "ответа", "о", "доставке", "цены", "дети", "сад", "окно", "река", "гора", "путешествие",
    "простой", "важный", "вопрос", "история", "лето", "зима", "библиотека", "бумага", "город",
    "работа", "время", "дорога", "школа", "книга", "музыка", "погода", "улица", "семья"};
const char* const kGerman[] = {
    "der", "Scanner", "liest", "jede", "Zeile", "des", "Textes", "und", "schreibt", "sie", "in",
    "eine", "Datei", "die", "man", "später", "durchsuchen", "kann", "wenn", "alte", "Briefe",
    "aus", "dem", "Archiv", "gebraucht", "werden", "mit", "Namen", "Zahlen", "Daten", "Morgens",
    "zeigte", "Bericht", "wie", "viele", "Bestellungen", "gestern", "vor", "Mittag", "kamen",
    "während", "Kunden", "geduldig", "auf", "Antworten", "über", "Lieferung", "warteten",
    "Größe", "Straße", "Grüße", "schön", "Brücke", "Übung", "Mädchen", "Fußball", "Bäume",
    "Wörter", "König", "hören", "fröhlich", "Käse", "Gemüse", "Schlüssel", "Tür", "natürlich"};

template<size_t N>
QStringList pick(const char* const (&vocabulary)[N], int count, unsigned seed)
{
    QRandomGenerator random(seed);
    QStringList words;
    for (int i = 0; i < count; ++i)
        words << QString::fromUtf8(vocabulary[random.bounded(int(N))]);
    return words;
}

} // namespace

QStringList sampleWords(const QString& language, int count, unsigned seed)
{
    if (language == QLatin1String("rus"))
        return pick(kRussian, count, seed);
    if (language == QLatin1String("deu"))
        return pick(kGerman, count, seed);
    return pick(kEnglish, count, seed);
}

TextPage renderTextPage(const QStringList& words, double degrees, unsigned seed)
{
    constexpr int kWidth = 2480;
    constexpr int kHeight = 3508;
    constexpr int kMargin = 240;
    TextPage page;
    QImage canvas(kWidth, kHeight, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        QTransform turn;
        turn.translate(kWidth / 2.0, kHeight / 2.0);
        turn.rotate(degrees);
        turn.translate(-kWidth / 2.0, -kHeight / 2.0);
        painter.setTransform(turn);
        QFont font(QStringLiteral("DejaVu Serif"));
        font.setPixelSize(46);   // 11 points at 300 dpi
        painter.setFont(font);
        painter.setPen(QColor(20, 20, 20));
        const QFontMetricsF metrics(font);
        const double lineHeight = metrics.height() * 1.5;
        const double space = metrics.horizontalAdvance(QLatin1Char(' '));
        double x = kMargin;
        double baseline = kMargin + metrics.ascent();
        for (const QString& word : words) {
            const double width = metrics.horizontalAdvance(word);
            if (x + width > kWidth - kMargin) {
                x = kMargin;
                baseline += lineHeight;
            }
            painter.drawText(QPointF(x, baseline), word);
            const QRectF printed(x, baseline - metrics.ascent() * 0.75, width, metrics.ascent() * 0.75);
            page.words.append({word, turn.mapRect(printed)});
            x += width + space;
        }
    }
    page.image = canvas.convertToFormat(QImage::Format_Grayscale8);
    // Sensor noise and a few specks of dust.
    QRandomGenerator random(seed);
    for (int y = 0; y < kHeight; ++y) {
        uchar* row = page.image.scanLine(y);
        for (int i = 0; i < kWidth; ++i)
            row[i] = uchar(std::clamp(int(row[i]) + int(random.bounded(31)) - 15, 0, 255));
    }
    for (int speck = 0; speck < 200; ++speck) {
        const int x = random.bounded(kWidth - 3);
        const int y = random.bounded(kHeight - 3);
        for (int dy = 0; dy < 3; ++dy)
            std::fill_n(page.image.scanLine(y + dy) + x, 3, uchar(40));
    }
    const int dpm = qRound(300 / 0.0254);
    page.image.setDotsPerMeterX(dpm);
    page.image.setDotsPerMeterY(dpm);
    return page;
}
