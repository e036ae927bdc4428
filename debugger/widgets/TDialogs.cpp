#include "debugger/widgets/TDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

namespace ts {

TDialogs PlatformDialogs() {
    TDialogs d;
    d.Error = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::critical(parent, title, text);
    };
    d.Info = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::information(parent, title, text);
    };
    d.OpenFile = [](QWidget* parent, const QString& title, const QString& dir, const QString& filter,
                    const QString& fileName) {
        const QString start = fileName.isEmpty() ? dir : QDir(dir).filePath(QFileInfo(fileName).fileName());
        return QFileDialog::getOpenFileName(parent, title, start, filter);
    };
    d.SaveFile = [](QWidget* parent, const QString& title, const QString& dir, const QString& filter,
                    const QString& fileName) {
        const QString start = fileName.isEmpty() ? dir : QDir(dir).filePath(QFileInfo(fileName).fileName());
        return QFileDialog::getSaveFileName(parent, title, start, filter);
    };
    d.BrowseFolder = [](QWidget* parent, const QString& title, const QString& dir) {
        return QFileDialog::getExistingDirectory(parent, title, dir);
    };
    d.Input = [](QWidget* parent, const QString& title, const QString& prompt,
                 const QString& text) -> std::optional<QString> {
        bool ok = false;
        QString answer = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, text, &ok);
        if (!ok) return std::nullopt;
        return answer;
    };
    d.OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return d;
}

TDialogs& Dialogs() {
    static TDialogs dialogs = PlatformDialogs();
    return dialogs;
}

QString QtFilter(std::u16string_view pipedFilter) {
    const QStringList fields =
        QString::fromUtf16(pipedFilter.data(), static_cast<qsizetype>(pipedFilter.size())).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        QString description = fields[i].trimmed();
        QStringList patterns;
        for (const QString& p : fields[i + 1].split(u';', Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            patterns << (pattern == u"*.*" ? QStringLiteral("*") : pattern);
        }
        // The description often repeats its pattern in brackets already; Qt
        // reads the patterns from the last bracket, so give it ours there.
        const qsizetype open = description.lastIndexOf(u'(');
        if (open > 0 && description.endsWith(u')')) description = description.left(open).trimmed();
        filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace ts
