// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "i18n/LangComponentModel.h"
#include "i18n/LangTableFormat.h"
#include "i18n/TLangDispatcher.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

// One message of the index: its key and exactly NumOfLanguages cells, entry n-1 holding
// language n.
struct TMessageIndexItem
{
    QByteArray key;
    QList<QByteArray> cells;
};
using TMessageIndex = std::vector<TMessageIndexItem>;

// A window's localization component: its translation table (kept as the code page 1251
// bytes it was stored in), the message lookup, and the translation of the window's
// controls into the active language. At most one per window.
class TCustomLangTable : public QObject
{
    Q_OBJECT

public:
    // Fails with QuilloraError when the owner already holds a localization component.
    explicit TCustomLangTable(QObject* owner);
    ~TCustomLangTable() override;

    // --- stored properties, applied while loading ---
    void beginLoading() { m_loading = true; }
    bool loading() const { return m_loading; }

    int NumOfLanguages() const { return m_langNames.size(); }
    // Raising it appends "Language N<n>" names, lowering it drops names from the end.
    void setNumOfLanguages(int count);
    const QStringList& LangNames() const { return m_langNames; }
    // Also sets Language to the active language's entry and NumOfLanguages to the length.
    void setLangNames(const QStringList& names);
    const QString& Language() const { return m_language; }
    void setLanguage(const QString& name) { m_language = name; }
    char LangDelim() const { return m_delim; }
    void setLangDelim(char delim) { m_delim = delim; }
    TLangDispatcher* LangDispatcher() const { return m_dispatcher; }
    // Takes over the dispatcher's number of languages.
    void setLangDispatcher(TLangDispatcher* dispatcher);
    const QStringList& ExcludedProperties() const { return m_excluded; }
    void setExcludedProperties(const QStringList& names) { m_excluded = names; }

    // Reads the stored table (the TranslationData block) into the section lists.
    void ReadOurStrProps(QByteArrayView data);
    // Load completion: the ExcludedProperties filter, the message index, registration
    // with the dispatcher.
    void Loaded();

    // --- language ---
    int ActiveLanguage() const { return m_activeLanguage; }
    // Switches this window to language n and translates it; nothing happens when n is
    // already active. Outside 1..NumOfLanguages fails with ELanguageError.
    void setActiveLanguage(int n);
    // Applies the active language to the window's components (needs a component model).
    virtual void ChangeLanguage();
    // The section list of a section type.
    virtual QList<QByteArray>& GetPropListByType(TSectionType type);
    const QList<QByteArray>& section(TSectionType type) const;

    // The widget side gives the component access to its window.
    void setComponentModel(std::unique_ptr<LangComponentModel> model);
    LangComponentModel* componentModel() const { return m_model.get(); }

    // --- messages ---
    void LoadStringsColl();
    QByteArray GetTranslationByID(QByteArrayView key, int n) const;
    // The message in the active language, else in English, escapes expanded, still as
    // code page 1251 bytes; the empty text for an absent key.
    QByteArray lookupMessage(QByteArrayView key) const;
    // The same, decoded for the widget or message box it is shown in.
    QString GetTextOrDefault(QByteArrayView key) const;

    // The class name the window's own rows are keyed by.
    const QByteArray& ownerClassName() const { return m_ownerClassName; }

private:
    friend class TLangDispatcher;
    void ExcludeProperties();
    void cleanUpSection(TSectionType type);
    void applySection(TSectionType type);
    void applyRow(TSectionType type, const QByteArray& row);
    std::optional<int> charsetFor(QByteArrayView componentName, bool exactName) const;
    const TMessageIndexItem* findMessage(QByteArrayView key) const;

    QByteArray m_ownerClassName;
    bool m_loading = false;
    int m_activeLanguage = 1;
    QStringList m_langNames{QStringLiteral("Language N1")};
    QString m_language = QStringLiteral("Language N1");
    char m_delim = 1;
    QStringList m_excluded;
    QPointer<TLangDispatcher> m_dispatcher;
    SectionLists m_sections;
    TMessageIndex m_index;
    std::unique_ptr<LangComponentModel> m_model;
};

// The component each translated window holds as LangTable1; all behaviour is in the base.
class TLangTable : public TCustomLangTable
{
    Q_OBJECT

public:
    using TCustomLangTable::TCustomLangTable;
};

// The character-set number of one of the 19 names ("RUSSIAN_CHARSET" = 204).
std::optional<int> charsetNumber(QByteArrayView name, Qt::CaseSensitivity cs);
