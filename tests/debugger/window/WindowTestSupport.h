// What the window's tests share: boxes and file dialogs answered without a
// user, finding controls by their names, and waiting for the worker.
#pragma once

#include <QFile>
#include <QTabWidget>
#include <QtTest>

#include "debugger/widgets/TDialogs.h"
#include "debugger/widgets/TScriptMemo.h"
#include "debugger/window/MainForm.h"

namespace ts::test {

// A small model with an off-context definition and a merge: it compiles at every phase.
inline const char* const kModel =
    "(word) % ID+\r\n"
    "1? key + word = k\r\n"
    "value = x\r\n";

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Records the boxes the form shows and answers its file dialogs.
struct TDialogRecorder {
    QStringList Errors;
    QStringList ErrorTitles;
    QString NextOpenFile, NextSaveFile, NextFolder;
    int OpenDialogs = 0;
    QString LastOpenTitle, LastOpenFilter, LastOpenDir, LastOpenName;
    QString LastSaveTitle, LastSaveDir;
    TDialogs Saved = Dialogs();

    TDialogRecorder() {
        Dialogs().Error = [this](QWidget*, const QString& title, const QString& text) {
            ErrorTitles.push_back(title);
            Errors.push_back(text);
        };
        Dialogs().Info = [this](QWidget*, const QString&, const QString& text) { Errors.push_back("info: " + text); };
        Dialogs().OpenFile = [this](QWidget*, const QString& title, const QString& dir, const QString& filter,
                                    const QString& name) {
            ++OpenDialogs;
            LastOpenTitle = title;
            LastOpenFilter = filter;
            LastOpenDir = dir;
            LastOpenName = name;
            return NextOpenFile;
        };
        Dialogs().SaveFile = [this](QWidget*, const QString& title, const QString& dir, const QString&,
                                    const QString&) {
            LastSaveTitle = title;
            LastSaveDir = dir;
            return NextSaveFile;
        };
        Dialogs().BrowseFolder = [this](QWidget*, const QString&, const QString&) { return NextFolder; };
    }
    ~TDialogRecorder() { Dialogs() = Saved; }
};

template <class W>
W* Find(QWidget& form, const char* name) {
    W* w = form.findChild<W*>(QString::fromLatin1(name));
    if (!w) qFatal("no control %s", name);
    return w;
}

inline bool TabVisible(QTabWidget& pages, const char* name) {
    return pages.isTabVisible(pages.indexOf(pages.findChild<QWidget*>(QString::fromLatin1(name))));
}

// Waits for the worker's end to reach the window through its timer.
inline bool WaitIdle(TMainForm& form, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (form.Driver().Working && t.elapsed() < ms) QTest::qWait(10);
    return !form.Driver().Working;
}

inline void SetMemo(TMainForm& form, const QString& text) {
    auto* memo = Find<TScriptMemo>(form, "mmModel");
    memo->setPlainText(text);
    memo->document()->setModified(true);
}

}  // namespace ts::test
