#include "debugger/widgets/TScriptMemo.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

#include "debugger/widgets/TDialogs.h"

namespace ts {

namespace {

QFont MemoFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return font;
}

constexpr Qt::KeyboardModifiers KeyModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// The line's text starts at the block; its line break is the block boundary.
int ColumnOf(const QTextCursor& c) { return c.position() - c.block().position(); }

void MoveTo(QTextCursor& c, const QTextBlock& block, int column) {
    c.setPosition(block.position() + std::clamp(column, 0, block.length() - 1));
}

}  // namespace

TScriptMemo::TScriptMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setFont(MemoFont());
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTabChangesFocus(false);
}

int TScriptMemo::CaretLine() const { return textCursor().blockNumber() + 1; }

int TScriptMemo::CaretColumn() const { return ColumnOf(textCursor()) + 1; }

void TScriptMemo::GoToLineColumn(int line, int column) {
    const int last = document()->blockCount() - 1;
    const QTextBlock block = document()->findBlockByNumber(std::clamp(line - 1, 0, last));
    QTextCursor c = textCursor();
    MoveTo(c, block, std::max(column - 1, 0));
    setTextCursor(c);
    ensureCursorVisible();
}

void TScriptMemo::GoToLine(int line) { GoToLineColumn(line, CaretColumn()); }

void TScriptMemo::ShowGoToBox() {
    const auto& input = Dialogs().Input;
    if (!input) return;
    const std::optional<QString> answer =
        input(this, QStringLiteral("Go to"), QStringLiteral("Enter 'line[ column]' number(s) to go to:"),
              QStringLiteral("%1 %2").arg(CaretLine()).arg(CaretColumn()));
    if (!answer) return;
    const QStringList words = answer->trimmed().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) return;
    bool lineOk = false;
    const int line = words[0].toInt(&lineOk);
    if (!lineOk) return;
    bool columnOk = false;
    const int column = words.size() > 1 ? words[1].toInt(&columnOk) : 0;
    if (columnOk)
        GoToLineColumn(line, column);
    else
        GoToLine(line);
}

bool TScriptMemo::event(QEvent* e) {
    // Tab and Backtab never reach keyPressEvent while focus navigation wants
    // them, and the main form's shortcuts must not take the memo's keys.
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && HandleKey(key, true)) {
            e->accept();
            return true;
        }
    } else if (e->type() == QEvent::ShortcutOverride) {
        if (HandleKey(static_cast<QKeyEvent*>(e), false)) {
            e->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(e);
}

void TScriptMemo::keyPressEvent(QKeyEvent* e) {
    if (HandleKey(e, true)) {
        e->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

bool TScriptMemo::HandleKey(QKeyEvent* e, bool perform) {
    const Qt::KeyboardModifiers mods = e->modifiers() & KeyModifiers;
    const bool editable = !isReadOnly();
    const bool ctrl = mods == Qt::ControlModifier;
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    const bool noSelection = !textCursor().hasSelection();
    auto run = [perform](auto&& action) {
        if (perform) action();
        return true;
    };
    switch (e->key()) {
        case Qt::Key_A:
            if (ctrl) return run([this] { selectAll(); });
            break;
        case Qt::Key_G:
            if (ctrl) return run([this] { ShowGoToBox(); });
            break;
        case Qt::Key_C:
            if (ctrl && noSelection) return run([this] { CopyLine(false); });
            break;
        case Qt::Key_X:
            if (ctrl && noSelection && editable) return run([this] { CopyLine(true); });
            break;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (ctrlShift && editable) return run([this, e] { ExchangeLine(e->key() == Qt::Key_Down); });
            break;
        case Qt::Key_Tab:
            if (mods == Qt::NoModifier && editable) return run([this] { IndentLine(); });
            // Some platforms send Shift+Tab as Tab with Shift.
            if (mods == Qt::ShiftModifier && editable) return run([this] { UnindentLine(); });
            break;
        case Qt::Key_Backtab:
            if ((mods & ~Qt::ShiftModifier) == Qt::NoModifier && editable) return run([this] { UnindentLine(); });
            break;
        default:
            break;
    }
    return false;
}

void TScriptMemo::CopyLine(bool cut) {
    QTextCursor c = textCursor();
    const QTextBlock block = c.block();
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(block.text() + QStringLiteral("\r\n"));
    if (!cut) return;
    // Take the line with its break; the last line takes the break before it.
    QTextCursor del(document());
    if (block.next().isValid()) {
        del.setPosition(block.position());
        del.setPosition(block.next().position(), QTextCursor::KeepAnchor);
    } else if (block.previous().isValid()) {
        del.setPosition(block.previous().position() + block.previous().length() - 1);
        del.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    } else {
        del.setPosition(block.position());
        del.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    }
    del.removeSelectedText();
    setTextCursor(del);
    ensureCursorVisible();
}

void TScriptMemo::ExchangeLine(bool withBelow) {
    QTextCursor c = textCursor();
    const QTextBlock block = c.block();
    const QTextBlock other = withBelow ? block.next() : block.previous();
    if (!other.isValid()) return;
    const int column = ColumnOf(c);
    const QTextBlock first = withBelow ? block : other;
    const QTextBlock second = withBelow ? other : block;
    const QString firstText = first.text();
    const QString secondText = second.text();
    const int start = first.position();

    QTextCursor edit(document());
    edit.beginEditBlock();
    edit.setPosition(start);
    edit.setPosition(second.position() + second.length() - 1, QTextCursor::KeepAnchor);
    edit.insertText(secondText + QChar(u'\n') + firstText);
    edit.endEditBlock();

    // The caret stays in its line, which now sits where the other was.
    const int lineStart = withBelow ? start + secondText.size() + 1 : start;
    c.setPosition(lineStart + column);
    setTextCursor(c);
    ensureCursorVisible();
}

void TScriptMemo::IndentLine() {
    QTextCursor c = textCursor();
    const QTextBlock block = c.block();
    const int column = ColumnOf(c);
    QTextCursor edit(document());
    edit.setPosition(block.position());
    edit.insertText(QStringLiteral("  "));
    c.setPosition(block.position() + column + 2);
    setTextCursor(c);
}

void TScriptMemo::UnindentLine() {
    QTextCursor c = textCursor();
    const QTextBlock block = c.block();
    const QString text = block.text();
    const int blanks = text.startsWith(QStringLiteral("  ")) ? 2 : text.startsWith(u' ') ? 1 : 0;
    if (blanks == 0) return;
    const int column = ColumnOf(c);
    QTextCursor edit(document());
    edit.setPosition(block.position());
    edit.setPosition(block.position() + blanks, QTextCursor::KeepAnchor);
    edit.removeSelectedText();
    c.setPosition(block.position() + std::max(column - blanks, 0));
    setTextCursor(c);
}

}  // namespace ts
