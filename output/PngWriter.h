// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PageRows.h"

#include <QString>

#include <memory>

class QIODevice;

// A PNG file written a row at a time, so that rows can be handed over as they become
// available; they are compressed in bands on two cores, and no copy of the page is made beyond
// the few bands under way. Rows are in the layout of the kind: Format_Mono (1 = black),
// Format_Grayscale8 or Format_RGB888.
class PngWriter
{
public:
    explicit PngWriter(QIODevice& out);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    bool begin(int width, int height, PageKind kind, int dotsPerMeterX, int dotsPerMeterY,
               QString* error);
    bool writeRow(const uchar* row, QString* error);
    // After the last row: the end of the image data and of the file.
    bool finish(QString* error);

    struct State;

private:
    std::unique_ptr<State> m_state;
};
