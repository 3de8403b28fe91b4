// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/TLangDispatcher.h"

#include "i18n/TCustomLangTable.h"

namespace {

QPointer<TLangDispatcher>& sharedDispatcher()
{
    static QPointer<TLangDispatcher> dispatcher;
    return dispatcher;
}

} // namespace

void resizeLangNames(QStringList& names, int count)
{
    count = std::max(count, 0);
    while (names.size() < count)
        names.append(QStringLiteral("Language N%1").arg(names.size() + 1));
    while (names.size() > count)
        names.removeLast();
}

void assignLangNames(QStringList& names, QString& language, int activeLanguage,
                     const QStringList& newNames)
{
    names = newNames;
    if (activeLanguage >= 1 && activeLanguage <= names.size())
        language = names[activeLanguage - 1];
}

TLangDispatcher::TLangDispatcher(QObject* owner)
    : QObject(owner)
{
}

TLangDispatcher::~TLangDispatcher()
{
    for (const QPointer<TCustomLangTable>& component : std::as_const(m_references)) {
        if (component)
            component->m_dispatcher = nullptr;
    }
}

void TLangDispatcher::setNumOfLanguages(int count)
{
    resizeLangNames(m_langNames, count);
}

void TLangDispatcher::setLangNames(const QStringList& names)
{
    assignLangNames(m_langNames, m_language, m_activeLanguage, names);
}

void TLangDispatcher::SetLanguage(const QString& name)
{
    if (name == m_language)
        return;
    qsizetype position = -1;
    for (qsizetype i = 0; i < m_langNames.size() && position < 0; ++i) {
        if (m_langNames[i].compare(name, Qt::CaseInsensitive) == 0)
            position = i;
    }
    if (position < 0 && !m_langNames.isEmpty())
        throw ELanguageError(QStringLiteral("Language name shall be included in LangNames property!"));
    m_language = name;
    if (m_loading)
        return;
    SetActiveLanguage(static_cast<int>(position) + 1);
}

void TLangDispatcher::SetActiveLanguage(int n)
{
    m_activeLanguage = n;
    // A window may go away while another is being translated; work on a snapshot.
    const QList<QPointer<TCustomLangTable>> components = m_references;
    for (const QPointer<TCustomLangTable>& component : components) {
        if (component)
            component->setActiveLanguage(n);
    }
    if (!m_loading && n >= 1 && n <= m_langNames.size())
        m_language = m_langNames[n - 1];
    if (!m_loading)
        emit languageChanged(n);
}

void TLangDispatcher::AddReference(TCustomLangTable* component)
{
    if (!component || m_references.contains(component))
        return;
    m_references.append(component);
    component->setNumOfLanguages(NumOfLanguages());
    component->setLangNames(m_langNames);
    component->setLanguage(m_language);
    component->setActiveLanguage(m_activeLanguage);
}

void TLangDispatcher::RemovePossibleReference(TCustomLangTable* component)
{
    m_references.removeIf([component](const QPointer<TCustomLangTable>& c) {
        return c.isNull() || c.data() == component;
    });
}

QList<TCustomLangTable*> TLangDispatcher::references() const
{
    QList<TCustomLangTable*> list;
    for (const QPointer<TCustomLangTable>& component : m_references) {
        if (component)
            list.append(component.data());
    }
    return list;
}

TLangDispatcher* TLangDispatcher::shared()
{
    return sharedDispatcher().data();
}

void TLangDispatcher::publish()
{
    sharedDispatcher() = this;
}
