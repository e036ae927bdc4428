// The memo's own keys, driven through real key events on a shown memo.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>

#include "debugger/widgets/TDialogs.h"
#include "debugger/widgets/TScriptMemo.h"

using ts::Dialogs;
using ts::TScriptMemo;

class TScriptMemoTest : public QObject {
    Q_OBJECT

    // The memo sits beside another focusable widget so that Tab could leave it.
    std::unique_ptr<QWidget> window_;
    TScriptMemo* memo_ = nullptr;
    QLineEdit* other_ = nullptr;

    struct InputCall {
        int Count = 0;
        QString Title, Prompt, Text;
    } input_;
    std::optional<QString> answer_;

    void SetText(const QString& text, int line, int column) {
        memo_->setPlainText(text);
        memo_->GoToLineColumn(line, column);
    }
    QString Clipboard() const { return QGuiApplication::clipboard()->text(); }
    void Select(int from, int to) {
        QTextCursor c = memo_->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        memo_->setTextCursor(c);
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(memo_, key, mods); }
    void Caret(int line, int column) {
        QCOMPARE(memo_->CaretLine(), line);
        QCOMPARE(memo_->CaretColumn(), column);
    }

private slots:
    void init() {
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        memo_ = new TScriptMemo(window_.get());
        other_ = new QLineEdit(window_.get());
        layout->addWidget(memo_);
        layout->addWidget(other_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        memo_->setFocus();
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        input_ = {};
        answer_.reset();
        Dialogs().Input = [this](QWidget*, const QString& title, const QString& prompt, const QString& text) {
            ++input_.Count;
            input_.Title = title;
            input_.Prompt = prompt;
            input_.Text = text;
            return answer_;
        };
    }
    void cleanup() {
        window_.reset();
        Dialogs() = ts::PlatformDialogs();
    }

    void fixedPitchFont() { QVERIFY(QFontInfo(memo_->font()).fixedPitch()); }

    void selectAll() {
        SetText(QStringLiteral("one\ntwo"), 2, 2);
        Key(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(memo_->textCursor().selectionStart(), 0);
        QCOMPARE(memo_->textCursor().selectionEnd(), 7);
    }

    void copyTakesTheCaretsLineWithoutSelection() {
        SetText(QStringLiteral("one\ntwo\nthree"), 2, 2);
        Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("two\r\n"));
        QCOMPARE(memo_->toPlainText(), QStringLiteral("one\ntwo\nthree"));
        Caret(2, 2);
        // An empty line is still a line.
        SetText(QStringLiteral("one\n\nthree"), 2, 1);
        Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(),
                 QStringLiteral("\r\n"));  // The window loads files with CR LF breaks: still one line each.
        SetText(QStringLiteral("one\r\ntwo\r\n"), 1, 2);
        Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("one\r\n"));
        Key(Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("two\none\n"));
    }

    void copyWithSelectionCopiesTheSelection() {
        SetText(QStringLiteral("one\ntwo"), 1, 1);
        Select(1, 3);
        Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("ne"));
        QCOMPARE(memo_->toPlainText(), QStringLiteral("one\ntwo"));
    }

    void cutTakesTheCaretsLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("caretLine");
        QTest::newRow("middle") << "one\ntwo\nthree" << 2 << "two\r\n"
                                << "one\nthree" << 2;
        QTest::newRow("first") << "one\ntwo\nthree" << 1 << "one\r\n"
                               << "two\nthree" << 1;
        QTest::newRow("last") << "one\ntwo\nthree" << 3 << "three\r\n"
                              << "one\ntwo" << 2;
        QTest::newRow("only") << "alone" << 1 << "alone\r\n"
                              << "" << 1;
    }
    void cutTakesTheCaretsLine() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(QString, clip);
        QFETCH(QString, after);
        QFETCH(int, caretLine);
        SetText(text, line, 3);
        Key(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(Clipboard(), clip);
        QCOMPARE(memo_->toPlainText(), after);
        QCOMPARE(memo_->CaretLine(), caretLine);
        memo_->undo();
        QCOMPARE(memo_->toPlainText(), text);
    }

    void cutWithSelectionCutsTheSelection() {
        SetText(QStringLiteral("one\ntwo"), 1, 1);
        Select(2, 5);
        Key(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("e\nt"));
        QCOMPARE(memo_->toPlainText(), QStringLiteral("onwo"));
    }

    void exchangeLines_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<bool>("down");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("caretLine");
        QTest::newRow("middle up") << 2 << false << "bb\na\nccc" << 1;
        QTest::newRow("middle down") << 2 << true << "a\nccc\nbb" << 3;
        QTest::newRow("first down") << 1 << true << "bb\na\nccc" << 2;
        QTest::newRow("last up") << 3 << false << "a\nccc\nbb" << 2;
        QTest::newRow("first up: none above") << 1 << false << "a\nbb\nccc" << 1;
        QTest::newRow("last down: none below") << 3 << true << "a\nbb\nccc" << 3;
    }
    void exchangeLines() {
        QFETCH(int, line);
        QFETCH(bool, down);
        QFETCH(QString, after);
        QFETCH(int, caretLine);
        const QString before = QStringLiteral("a\nbb\nccc");
        SetText(before, line, 2);
        Key(down ? Qt::Key_Down : Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(memo_->toPlainText(), after);
        Caret(caretLine, 2);  // the caret moves with its line and keeps its column
        if (after != before) {
            memo_->undo();
            QCOMPARE(memo_->toPlainText(), before);
        }
    }

    void tabIndentsTheCaretsLine() {
        SetText(QStringLiteral("one\ntwo"), 2, 2);
        Key(Qt::Key_Tab);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("one\n  two"));
        Caret(2, 4);
        QVERIFY(memo_->hasFocus());  // not focus navigation
        // From the start of the line as well.
        memo_->GoToLineColumn(1, 1);
        Key(Qt::Key_Tab);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("  one\n  two"));
        Caret(1, 3);
        memo_->undo();
        QCOMPARE(memo_->toPlainText(), QStringLiteral("one\n  two"));
    }

    void shiftTabUnindents_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("caretColumn");
        QTest::addColumn<bool>("asShiftTab");
        QTest::newRow("two blanks") << "  x" << 4 << "x" << 2 << false;
        QTest::newRow("three blanks, two go") << "   x" << 5 << " x" << 3 << false;
        QTest::newRow("one blank") << " x" << 3 << "x" << 2 << false;
        QTest::newRow("no blank") << "x " << 2 << "x " << 2 << false;
        QTest::newRow("caret inside the blanks") << "  x" << 2 << "x" << 1 << false;
        QTest::newRow("tab with shift") << "  x" << 4 << "x" << 2 << true;
    }
    void shiftTabUnindents() {
        QFETCH(QString, line);
        QFETCH(int, column);
        QFETCH(QString, after);
        QFETCH(int, caretColumn);
        QFETCH(bool, asShiftTab);
        SetText(QStringLiteral("top\n") + line, 2, column);
        Key(asShiftTab ? Qt::Key_Tab : Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("top\n") + after);
        Caret(2, caretColumn);
        QVERIFY(memo_->hasFocus());
    }

    void goToBoxTexts() {
        SetText(QStringLiteral("one\ntwo\nthree"), 3, 4);
        Key(Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(input_.Count, 1);
        QCOMPARE(input_.Title, QStringLiteral("Go to"));
        QCOMPARE(input_.Prompt, QStringLiteral("Enter 'line[ column]' number(s) to go to:"));
        QCOMPARE(input_.Text, QStringLiteral("3 4"));
        Caret(3, 4);  // cancelled: nothing moves
    }

    void goToMovesTheCaret_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("line and column") << "2 3" << 2 << 3;
        QTest::newRow("blanks around") << "  3   2 " << 3 << 2;
        QTest::newRow("line only keeps the column") << "3" << 3 << 2;
        QTest::newRow("line only, column clamped") << "4" << 4 << 1;
        QTest::newRow("invalid column keeps the column") << "3 z" << 3 << 2;
        QTest::newRow("zero and below stop at the start") << "0 -4" << 1 << 1;
        QTest::newRow("past the end clamps") << "99 99" << 4 << 1;
        QTest::newRow("column past the line end") << "1 40" << 1 << 4;
        QTest::newRow("invalid line changes nothing") << "x 1" << 2 << 2;
        QTest::newRow("empty changes nothing") << "   " << 2 << 2;
    }
    void goToMovesTheCaret() {
        QFETCH(QString, answer);
        QFETCH(int, line);
        QFETCH(int, column);
        SetText(QStringLiteral("one\ntwo\nthree\n"), 2, 2);
        answer_ = answer;
        Key(Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(input_.Count, 1);
        QCOMPARE(input_.Text, QStringLiteral("2 2"));
        Caret(line, column);
        QVERIFY(!memo_->textCursor().hasSelection());
    }

    void goToScrollsTheCaretIntoView() {
        QStringList lines;
        for (int i = 1; i <= 500; ++i) lines << QString::number(i);
        SetText(lines.join(u'\n'), 1, 1);
        answer_ = QStringLiteral("400");
        Key(Qt::Key_G, Qt::ControlModifier);
        Caret(400, 1);
        QVERIFY(memo_->viewport()->rect().contains(memo_->cursorRect()));
        QVERIFY(memo_->verticalScrollBar()->value() > 0);
    }

    void ordinaryKeysStillType() {
        SetText(QStringLiteral("ab"), 1, 2);
        Key(Qt::Key_G);
        Key(Qt::Key_C);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("agcb"));
        QCOMPARE(input_.Count, 0);
    }

    void memoKeysWinOverWindowShortcuts() {
        int fired = 0;
        for (QKeySequence key :
             {QKeySequence(Qt::CTRL | Qt::Key_G), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Down)}) {
            auto* action = new QAction(window_.get());
            action->setShortcut(key);
            connect(action, &QAction::triggered, this, [&fired] { ++fired; });
            window_->addAction(action);
        }
        SetText(QStringLiteral("a\nb"), 1, 1);
        Key(Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
        Key(Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(fired, 0);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("b\na"));
        QCOMPARE(input_.Count, 1);
    }

    void readOnlyMemoEditsNothing() {
        SetText(QStringLiteral("one\ntwo"), 1, 1);
        memo_->setReadOnly(true);
        Key(Qt::Key_Tab);
        Key(Qt::Key_X, Qt::ControlModifier);
        Key(Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(memo_->toPlainText(), QStringLiteral("one\ntwo"));
        Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("one\r\n"));
    }
};

QTEST_MAIN(TScriptMemoTest)
#include "TScriptMemoTest.moc"
