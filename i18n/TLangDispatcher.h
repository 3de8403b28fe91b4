// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Error.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class TCustomLangTable;

// A language that is not listed, or a language number out of range.
class ELanguageError : public QuilloraError
{
public:
    using QuilloraError::QuilloraError;
};

// Owns the active language of the whole program: setting it translates every registered
// window, in the order the windows registered.
class TLangDispatcher : public QObject
{
    Q_OBJECT

public:
    explicit TLangDispatcher(QObject* owner = nullptr);
    ~TLangDispatcher() override;

    void beginLoading() { m_loading = true; }
    void endLoading() { m_loading = false; }
    bool loading() const { return m_loading; }

    int ActiveLanguage() const { return m_activeLanguage; }
    int NumOfLanguages() const { return m_langNames.size(); }
    void setNumOfLanguages(int count);
    const QStringList& LangNames() const { return m_langNames; }
    void setLangNames(const QStringList& names);
    const QString& Language() const { return m_language; }

    // Makes the named language (letter case ignored) active in every registered window.
    // Fails with ELanguageError when the name is not listed.
    void SetLanguage(const QString& name);
    void SetActiveLanguage(int n);

    void AddReference(TCustomLangTable* component);
    void RemovePossibleReference(TCustomLangTable* component);
    QList<TCustomLangTable*> references() const;

    // The dispatcher the program's windows register with (the main window's); null
    // until one is published.
    static TLangDispatcher* shared();
    void publish();

signals:
    // Every registered window is in language n now; texts kept outside the windows'
    // tables (accessible names among them) follow from here.
    void languageChanged(int n);

private:
    bool m_loading = false;
    int m_activeLanguage = 1;
    QStringList m_langNames{QStringLiteral("Language N1")};
    QString m_language = QStringLiteral("Language N1");
    QList<QPointer<TCustomLangTable>> m_references;
};

// Resizes a list of language names the way both components do: "Language N<n>" names
// are appended, surplus names dropped from the end.
void resizeLangNames(QStringList& names, int count);
// Takes a new list of names; the active language's entry becomes the language's name.
void assignLangNames(QStringList& names, QString& language, int activeLanguage,
                     const QStringList& newNames);
