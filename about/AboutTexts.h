#pragma once

#include <QString>

// The About window's messages in English, for use until the window's translation table
// answers them.
QString aboutEnglishText(const QString& key);
