// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Dialogs.h"
#include "scanner/ScannerLibrary.h"

#include <QString>
#include <QStringList>

#include <functional>

// Passes every call on to the real (SANE) library and writes down the job-facing ones with
// their arguments. It can also play a paper jam after a number of pages, which the test
// scanner cannot do between two sheets of one feeder run.
class RecordingLibrary : public ScannerLibrary
{
public:
    explicit RecordingLibrary(ScannerLibrary& inner) : m_inner(inner) {}

    QStringList calls;
    int jamAfterPages = -1; // AcquireImage fails with a jam once this many pages came
    // Called with the number of pages so far after each page arrives, before the job writes
    // it: lets a test take the folder away between two sheets of one feeder run.
    std::function<void(int pages)> afterPage;
    int pagesAcquired = 0;
    int released = 0;
    bool openSources = false; // a source is open (between a successful open and EndAcquisition)

    int BeginSourceList() override { return log("BeginSourceList", m_inner.BeginSourceList()); }
    int NextSourceName(char* buffer) override { return m_inner.NextSourceName(buffer); }
    int OpenSourceByName(const char* name) override
    {
        const int r = m_inner.OpenSourceByName(name);
        openSources = openSources || r != 0;
        return log(QStringLiteral("OpenSourceByName(%1)").arg(QString::fromUtf8(name)), r);
    }
    int OpenDefaultSource() override
    {
        const int r = m_inner.OpenDefaultSource();
        openSources = openSources || r != 0;
        return log("OpenDefaultSource", r);
    }
    void SetHideUI(int v) override
    {
        logv("SetHideUI", v);
        m_inner.SetHideUI(v);
    }
    void SetKeepSourceOpen(int v) override
    {
        logv("SetKeepSourceOpen", v);
        m_inner.SetKeepSourceOpen(v);
    }
    void SetLibraryOptionA(int v) override
    {
        logv("SetLibraryOptionA", v);
        m_inner.SetLibraryOptionA(v);
    }
    void SetLibraryOptionB(int v) override
    {
        logv("SetLibraryOptionB", v);
        m_inner.SetLibraryOptionB(v);
    }
    void SetJpegQuality(int v) override
    {
        logv("SetJpegQuality", v);
        m_inner.SetJpegQuality(v);
    }
    void SetTiffCompression(int r, int c) override
    {
        calls << QStringLiteral("SetTiffCompression(%1,%2)").arg(r).arg(c);
        m_inner.SetTiffCompression(r, c);
    }
    void SetUseFeeder(int v) override
    {
        logv("SetUseFeeder", v);
        m_inner.SetUseFeeder(v);
    }
    void SetSourceOptionA(int v) override
    {
        logv("SetSourceOptionA", v);
        m_inner.SetSourceOptionA(v);
    }
    void SetSourceOptionB(int v) override
    {
        logv("SetSourceOptionB", v);
        m_inner.SetSourceOptionB(v);
    }
    void SetSourceOptionC(int v) override
    {
        logv("SetSourceOptionC", v);
        m_inner.SetSourceOptionC(v);
    }
    void SetSourceOptionD(int v) override
    {
        logv("SetSourceOptionD", v);
        m_inner.SetSourceOptionD(v);
    }
    void SetPixelType(int v) override
    {
        logv("SetPixelType", v);
        m_inner.SetPixelType(v);
    }
    void SetResolution(double dpi) override
    {
        calls << QStringLiteral("SetResolution(%1)").arg(dpi);
        m_inner.SetResolution(dpi);
    }
    Handle AcquireImage(QObject* parent) override
    {
        calls << QStringLiteral("AcquireImage");
        if (jamAfterPages >= 0 && pagesAcquired >= jamAfterPages) {
            m_jammed = true;
            return 0;
        }
        const Handle h = m_inner.AcquireImage(parent);
        pagesAcquired += h != 0;
        if (h != 0 && afterPage)
            afterPage(pagesAcquired);
        return h;
    }
    int ImageWidth(Handle h) override { return m_inner.ImageWidth(h); }
    int ImageHeight(Handle h) override { return m_inner.ImageHeight(h); }
    void ReleaseImage(Handle h) override
    {
        ++released;
        m_inner.ReleaseImage(h);
    }
    int GetTwainState() override { return m_inner.GetTwainState(); }
    void EndAcquisition() override
    {
        calls << QStringLiteral("EndAcquisition");
        openSources = false;
        m_inner.EndAcquisition();
    }
    int WriteImageFile(Handle h, const QString& path) override
    {
        return m_inner.WriteImageFile(h, path);
    }
    int WriteImageFileNoClobber(Handle h, const QString& path, const std::function<QString()>& next,
                                QString* written) override
    {
        return m_inner.WriteImageFileNoClobber(h, path, next, written);
    }
    Handle LoadImageFile(const QString& path) override { return m_inner.LoadImageFile(path); }
    int BeginMultipageFile(const QString& path) override
    {
        return m_inner.BeginMultipageFile(path);
    }
    int AppendPage(Handle h) override { return m_inner.AppendPage(h); }
    int EndMultipageFile() override { return m_inner.EndMultipageFile(); }
    int LastErrorCode() override { return m_jammed ? DeviceJammed : m_inner.LastErrorCode(); }
    QString LastErrorText() override
    {
        return m_jammed ? QStringLiteral("Document feeder jammed") : m_inner.LastErrorText();
    }
    void ReportLastError(const QString& text) override
    {
        calls << QStringLiteral("ReportLastError(%1)").arg(text);
        if (m_jammed)
            Dialogs::current().message(Dialogs::Warning, QStringLiteral("Quillora"),
                                       text + u'\n' + LastErrorText());
        else
            m_inner.ReportLastError(text);
    }
    QImage image(Handle h) const override { return m_inner.image(h); }
    SourceOptions* sourceOptions() override { return m_inner.sourceOptions(); }

private:
    int log(const QString& name, int result)
    {
        calls << name;
        return result;
    }
    void logv(const char* name, int v)
    {
        calls << QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(v);
    }

    ScannerLibrary& m_inner;
    bool m_jammed = false;
};
