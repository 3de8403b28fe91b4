// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "output/TextLayer.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <memory>

// Text recognition for searchable PDF files, by Tesseract with the language data installed
// on the machine.

// The recognition languages offered, by the program's language numbers (1 English,
// 2 Russian, 3 German): their Tesseract names; the empty text for any other number.
QString recognitionLanguageCode(int language);

// Whether the data for a language (a Tesseract name: "eng", "rus", "deu") is installed.
bool recognitionDataInstalled(const QString& code);

// One engine with one language loaded, for one thread at a time. Loading the data takes a
// while: keep an engine for several pages.
class TextRecogniser
{
public:
    explicit TextRecogniser(QString code);
    ~TextRecogniser();
    TextRecogniser(const TextRecogniser&) = delete;
    TextRecogniser& operator=(const TextRecogniser&) = delete;

    // Recognises the words of a page on the calling thread alone (pages go faster side by
    // side than with the engine's own threads). `cancel`, when it turns true, stops the
    // work soon; the result is then false with an empty *error.
    bool recognise(const QImage& page, TextLayer* text, const std::atomic<bool>* cancel,
                   QString* error);

private:
    struct Engine;
    QString m_code;
    std::unique_ptr<Engine> m_engine;
};
