// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/TCustomLangTable.h"

#include "app/Error.h"
#include "i18n/CommaText.h"
#include "i18n/Cp1251.h"
#include "i18n/Escapes.h"
#include "i18n/TLangDispatcher.h"

#include <QtCore/qbytearrayalgorithms.h>

#include <algorithm>
#include <array>

namespace {

QObject* checkedOwner(QObject* owner)
{
    if (owner) {
        for (QObject* child : owner->children()) {
            if (qobject_cast<TCustomLangTable*>(child))
                throw QuilloraError(QStringLiteral(
                    "Only one TCustomLangTable component per Form/DataModule allowed!"));
        }
    }
    return owner;
}

int compareKeys(QByteArrayView a, QByteArrayView b)
{
    return qstrnicmp(a.data(), a.size(), b.data(), b.size());
}

bool startsWithRowKey(QByteArrayView row, QByteArrayView key, char delim)
{
    return row.size() > key.size() && row.startsWith(key) && row[key.size()] == delim;
}

// The sections whose first row is the window's own (caption, hint, font).
bool hasWindowRow(TSectionType type)
{
    return type == stCaptions || type == stHints || type == stFonts;
}

// The sections whose keys are "component.property".
bool hasDottedKeys(TSectionType type)
{
    return type == stMultiLines || type == stOtherStrings || type == stCollections;
}

struct CharsetName
{
    const char* name;
    int number;
};

constexpr std::array<CharsetName, 19> kCharsets = {{
    {"ANSI_CHARSET", 0},       {"DEFAULT_CHARSET", 1},     {"SYMBOL_CHARSET", 2},
    {"MAC_CHARSET", 77},       {"SHIFTJIS_CHARSET", 128},  {"HANGEUL_CHARSET", 129},
    {"JOHAB_CHARSET", 130},    {"GB2312_CHARSET", 134},    {"CHINESEBIG5_CHARSET", 136},
    {"GREEK_CHARSET", 161},    {"TURKISH_CHARSET", 162},   {"VIETNAMESE_CHARSET", 163},
    {"HEBREW_CHARSET", 177},   {"ARABIC_CHARSET", 178},    {"BALTIC_CHARSET", 186},
    {"RUSSIAN_CHARSET", 204},  {"THAI_CHARSET", 222},      {"EASTEUROPE_CHARSET", 238},
    {"OEM_CHARSET", 255},
}};

} // namespace

std::optional<int> charsetNumber(QByteArrayView name, Qt::CaseSensitivity cs)
{
    for (const CharsetName& c : kCharsets) {
        const QByteArrayView candidate(c.name);
        if (cs == Qt::CaseSensitive ? name == candidate : compareKeys(name, candidate) == 0)
            return c.number;
    }
    return std::nullopt;
}

TCustomLangTable::TCustomLangTable(QObject* owner)
    : QObject(checkedOwner(owner))
    , m_ownerClassName(owner ? owner->metaObject()->className() : "")
{
    // Until a stored table says otherwise, the standard dialog captions are there.
    static const char* const kDialogCaptions[][2] = {
        {"Warning", "Warning"}, {"Error", "Error"}, {"Information", "Information"},
        {"Confirm", "Confirm"}, {"Yes", "&Yes"},     {"No", "&No"},
        {"OK", "OK"},           {"Cancel", "Cancel"}, {"Abort", "&Abort"},
        {"Retry", "&Retry"},    {"Ignore", "&Ignore"}, {"All", "&All"},
        {"No To All", "N&o to All"}, {"Yes To All", "Yes to &All"}, {"Help", "&Help"},
    };
    for (const auto& [key, text] : kDialogCaptions)
        m_sections[stDlgsCaptions].append(QByteArray(key) + m_delim + text + m_delim);
}

TCustomLangTable::~TCustomLangTable()
{
    if (m_dispatcher)
        m_dispatcher->RemovePossibleReference(this);
}

void TCustomLangTable::setNumOfLanguages(int count)
{
    resizeLangNames(m_langNames, count);
}

void TCustomLangTable::setLangNames(const QStringList& names)
{
    assignLangNames(m_langNames, m_language, m_activeLanguage, names);
}

void TCustomLangTable::setLangDispatcher(TLangDispatcher* dispatcher)
{
    m_dispatcher = dispatcher;
    if (dispatcher)
        setNumOfLanguages(dispatcher->NumOfLanguages());
}

QList<QByteArray>& TCustomLangTable::GetPropListByType(TSectionType type)
{
    return m_sections.at(static_cast<std::size_t>(type));
}

const QList<QByteArray>& TCustomLangTable::section(TSectionType type) const
{
    return m_sections.at(static_cast<std::size_t>(type));
}

void TCustomLangTable::ReadOurStrProps(QByteArrayView data)
{
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        data = data.first(nul);

    int current = -1; // no section yet: lines are skipped
    qsizetype pos = 0;
    while (pos < data.size()) {
        qsizetype end = pos;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        const QByteArrayView line = data.sliced(pos, end - pos);
        // CR, LF and CR LF each end one line.
        pos = end;
        if (pos < data.size() && data[pos] == '\r') {
            ++pos;
            if (pos < data.size() && data[pos] == '\n')
                ++pos;
        } else if (pos < data.size()) {
            ++pos;
        }

        int header = -1;
        for (int type = 0; type < kHeaderCount; ++type) {
            if (line.size() == sectionHeader(type).size() && compareKeys(line, sectionHeader(type)) == 0) {
                header = type;
                break;
            }
        }
        if (header >= 0) {
            current = header;
            if (current < kKeptSectionCount)
                m_sections[static_cast<std::size_t>(current)].clear();
            continue;
        }
        if (current < 0 || current >= kKeptSectionCount)
            continue;

        QByteArray row = line.toByteArray();
        row.replace(kStoredCR, '\r').replace(kStoredLF, '\n');
        auto& list = m_sections[static_cast<std::size_t>(current)];
        if (!m_ownerClassName.isEmpty() && startsWithRowKey(row, m_ownerClassName, m_delim))
            list.prepend(row);
        else
            list.append(row);
    }
}

void TCustomLangTable::Loaded()
{
    ExcludeProperties();
    LoadStringsColl();
    m_loading = false;
    if (m_dispatcher)
        m_dispatcher->AddReference(this);
}

void TCustomLangTable::ExcludeProperties()
{
    auto excluded = [this](QByteArrayView name) {
        return std::any_of(m_excluded.cbegin(), m_excluded.cend(), [&](const QString& e) {
            return e.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        });
    };
    if (excluded("Caption"))
        m_sections[stCaptions].clear();
    if (excluded("Hint"))
        m_sections[stHints].clear();
    if (excluded("DisplayLabel"))
        m_sections[stDisplayLabels].clear();
    if (excluded("Font")) {
        m_sections[stFonts].clear();
        m_sections[stCharSets].clear();
    }
    if (excluded("Charset"))
        m_sections[stCharSets].clear();
    for (TSectionType type : {stMultiLines, stOtherStrings, stCollections}) {
        auto& list = m_sections[type];
        list.removeIf([&](const QByteArray& row) {
            const QByteArray key = ExtractTranslation(row, m_delim, 0);
            const qsizetype dot = key.indexOf('.');
            if (dot < 0)
                return false;
            QByteArrayView property = QByteArrayView(key).sliced(dot + 1);
            const qsizetype nextDot = property.indexOf('.');
            if (nextDot >= 0)
                property = property.first(nextDot);
            return excluded(property) || compareKeys(property, "Name") == 0;
        });
    }
}

void TCustomLangTable::LoadStringsColl()
{
    m_index.clear();
    for (const QByteArray& row : std::as_const(m_sections[stStrings])) {
        TMessageIndexItem item;
        item.key = ExtractTranslation(row, m_delim, 0);
        for (int n = 1; n <= NumOfLanguages(); ++n)
            item.cells.append(ExtractTranslation(row, m_delim, n));
        m_index.push_back(std::move(item));
    }
    std::sort(m_index.begin(), m_index.end(), [](const TMessageIndexItem& a, const TMessageIndexItem& b) {
        return compareKeys(a.key, b.key) < 0;
    });
}

const TMessageIndexItem* TCustomLangTable::findMessage(QByteArrayView key) const
{
    const auto it = std::lower_bound(m_index.begin(), m_index.end(), key,
                                     [](const TMessageIndexItem& item, QByteArrayView k) {
                                         return compareKeys(item.key, k) < 0;
                                     });
    if (it == m_index.end() || compareKeys(it->key, key) != 0)
        return nullptr;
    return &*it;
}

QByteArray TCustomLangTable::GetTranslationByID(QByteArrayView key, int n) const
{
    const TMessageIndexItem* item = findMessage(key);
    if (!item || n < 1 || n > item->cells.size())
        return {};
    return item->cells[n - 1];
}

QByteArray TCustomLangTable::lookupMessage(QByteArrayView key) const
{
    const TMessageIndexItem* item = findMessage(key);
    if (!item)
        return {};
    QByteArray text = m_activeLanguage >= 1 && m_activeLanguage <= item->cells.size()
                          ? item->cells[m_activeLanguage - 1]
                          : QByteArray();
    if (text.isEmpty() && !item->cells.isEmpty())
        text = item->cells.front();
    return ExpandEscapes(text);
}

QString TCustomLangTable::GetTextOrDefault(QByteArrayView key) const
{
    return decodeCp1251(lookupMessage(key));
}

void TCustomLangTable::setActiveLanguage(int n)
{
    if (n == m_activeLanguage)
        return;
    if ((n < 1 || n > NumOfLanguages()) && !m_loading)
        throw ELanguageError(QStringLiteral("%1 - is not a valid property value!\rValue must be within [1..%2]!")
                                 .arg(n)
                                 .arg(NumOfLanguages()));
    m_activeLanguage = n;
    if (n >= 1 && n <= m_langNames.size())
        m_language = m_langNames[n - 1];
    ChangeLanguage();
}

void TCustomLangTable::setComponentModel(std::unique_ptr<LangComponentModel> model)
{
    m_model = std::move(model);
}

std::optional<int> TCustomLangTable::charsetFor(QByteArrayView componentName, bool exactName) const
{
    for (const QByteArray& row : m_sections[stCharSets]) {
        if (compareKeys(ExtractTranslation(row, m_delim, 0), componentName) != 0)
            continue;
        return charsetNumber(ExtractTranslation(row, m_delim, m_activeLanguage),
                             exactName ? Qt::CaseSensitive : Qt::CaseInsensitive);
    }
    return std::nullopt;
}

void TCustomLangTable::ChangeLanguage()
{
    if (!m_model)
        return;
    LangComponentModel& model = *m_model;
    QObject* window = model.window();
    const QByteArray className = model.windowClassName();
    auto ownRowCell = [&](TSectionType type) -> QByteArray {
        const auto& list = m_sections[type];
        if (list.isEmpty() || compareKeys(ExtractTranslation(list.front(), m_delim, 0), className) != 0)
            return {};
        return ExtractTranslation(list.front(), m_delim, m_activeLanguage);
    };

    // The window's caption and hint.
    for (const auto& [type, property] : {std::pair{stCaptions, "Caption"}, std::pair{stHints, "Hint"}}) {
        const QByteArray cell = ownRowCell(type);
        if (cell.isEmpty() || model.propertyKind(window, property) != LangComponentModel::Kind::Text)
            continue;
        const QString text = decodeCp1251(cell);
        if (model.text(window, property) != text)
            model.setText(window, property, text);
    }

    for (TSectionType type : {stCaptions, stHints, stDisplayLabels, stFonts})
        applySection(type);

    // The window's font and character set.
    if (!m_sections[stFonts].isEmpty()
        && model.propertyKind(window, "Font") == LangComponentModel::Kind::Font) {
        const QList<QByteArray>& fonts = m_sections[stFonts];
        if (compareKeys(ExtractTranslation(fonts.front(), m_delim, 0), className) == 0) {
            const QByteArray face = ExtractTranslation(fonts.front(), m_delim, m_activeLanguage);
            model.applyFont(window, charsetFor(className, true), decodeCp1251(face));
        }
    }

    applySection(stMultiLines);
    applySection(stOtherStrings);
    // stLocales stays as it is: locale switching is off for both windows.
    applySection(stCollections);
}

void TCustomLangTable::cleanUpSection(TSectionType type)
{
    LangComponentModel& model = *m_model;
    const QByteArray className = model.windowClassName();
    auto& list = m_sections[type];
    const qsizetype first = hasWindowRow(type) ? 1 : 0;
    for (qsizetype i = list.size() - 1; i >= first; --i) {
        QByteArray name = ExtractTranslation(list[i], m_delim, 0);
        if (hasDottedKeys(type)) {
            name = name.left(name.indexOf('.'));
            if (compareKeys(name, className) == 0)
                continue;
        }
        QObject* target = model.component(name);
        if (!target || ((type == stCaptions || type == stHints) && model.hasAssignedAction(target)))
            list.removeAt(i);
    }
}

void TCustomLangTable::applySection(TSectionType type)
{
    cleanUpSection(type);
    const auto& list = m_sections[type];
    qsizetype first = 0;
    if (hasWindowRow(type) && !list.isEmpty()
        && startsWithRowKey(list.front(), m_model->windowClassName(), m_delim))
        first = 1;
    // Rows are applied from a copy: applying never changes the section.
    const QList<QByteArray> rows = list.mid(first);
    for (const QByteArray& row : rows)
        applyRow(type, row);
}

void TCustomLangTable::applyRow(TSectionType type, const QByteArray& row)
{
    using Kind = LangComponentModel::Kind;
    LangComponentModel& model = *m_model;
    const QByteArray key = ExtractTranslation(row, m_delim, 0);
    QByteArray name = key;
    QByteArray property;
    switch (type) {
    case stCaptions: property = "Caption"; break;
    case stHints: property = "Hint"; break;
    case stDisplayLabels: property = "DisplayLabel"; break;
    case stFonts: property = "Font"; break;
    case stMultiLines:
    case stOtherStrings: {
        const qsizetype dot = key.indexOf('.');
        if (dot < 0)
            return;
        name = key.left(dot);
        property = key.mid(dot + 1);
        break;
    }
    default:
        // Collections: neither window's table has such rows, and no widget of ours
        // keeps items a row could name.
        return;
    }
    const QByteArray value = ExtractTranslation(row, m_delim, m_activeLanguage);
    QObject* target = model.component(name);
    if (!target)
        return;
    const Kind kind = model.propertyKind(target, property);

    if (type == stFonts) {
        if (kind != Kind::Font)
            return;
        const bool parentFont = model.parentFont(target);
        const std::optional<int> charset = parentFont ? std::nullopt : charsetFor(name, false);
        const QString face = parentFont ? QString() : decodeCp1251(value);
        if (charset || !face.isEmpty())
            model.applyFont(target, charset, face);
        return;
    }
    if (value.isEmpty())
        return;
    if (kind == Kind::List && type == stMultiLines) {
        QStringList current = model.list(target, property);
        QList<QByteArray> currentBytes;
        for (const QString& line : std::as_const(current))
            currentBytes.append(encodeCp1251(line));
        if (writeCommaText(currentBytes) == value)
            return;
        QStringList items;
        for (const QByteArray& item : readCommaText(value))
            items.append(decodeCp1251(item));
        model.replaceList(target, property, items);
        return;
    }
    if (kind != Kind::Text)
        return;
    if ((type == stCaptions || type == stHints) && model.hasAssignedAction(target))
        return;
    const QString text = decodeCp1251(value);
    if (model.text(target, property) != text)
        model.setText(target, property, text);
}
