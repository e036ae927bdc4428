// The window thread's dialogs, replaceable as a whole or one by one so that
// tests can answer them without blocking.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <string_view>

class QWidget;

namespace ts {

struct TDialogs {
    std::function<void(QWidget*parent, const QString&title, const QString&text)> Error, Info;
    std::function<QString(QWidget*parent, const QString&title, const QString&dir, const QString&filter,
                          const QString&fileName)>
        OpenFile, SaveFile;
    std::function<QString(QWidget* parent, const QString& title, const QString& dir)> BrowseFolder;
    // nullopt when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& title, const QString& prompt,
                                         const QString& text)>
        Input;
    std::function<bool(const QUrl&)> OpenUrl;
};

// The process's dialogs; the platform's own until a member is replaced.
TDialogs& Dialogs();
// A fresh set of the platform's dialogs (to restore after a test).
TDialogs PlatformDialogs();

// "Description|pattern|Description|pattern" into Qt's "Description (pattern);;...".
// Patterns separated by ";" become blank-separated; "*.*" becomes "*" so that
// files without an extension match too.
QString QtFilter(std::u16string_view pipedFilter);

}  // namespace ts
