// The Run page: choosing a sample, running with [F9], the result tree, the
// spans of a selected node in the input and the node at a click, a cancelled
// long run, and the samples board with its comparison on the text page.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include "WindowTestSupport.h"
#include "debugger/window/MainForm.h"
#include "debugger/window/QtText.h"
#include "debugger/window/TRunPage.h"

using namespace ts;
using namespace ts::test;

namespace {

// Two samples: the untitled one with a right tree, "second" with a wrong one.
const char* const kScript =
    "Tessarine 0.79\n"
    "\n"
    "== Model ==\n"
    "END? eof\n"
    "\"entry\" =\n"
    "  1 \"key\" % LAT+\n"
    "  2 % = \n"
    "  3 \"value\" % DIG+\n"
    "  4 % NL\n"
    "\n"
    "== Samples ==\n"
    "ab=12\n"
    "cd=345\n"
    "\n"
    "=== second ===\n"
    "x=1\n"
    "\n"
    "== Tree ==\n"
    "<unnamed> = \"ab=12\\ncd=345\\n\"\n"
    "  entry = \"ab=12\\n\"\n"
    "    key = \"ab\"\n"
    "    value = \"12\"\n"
    "  entry = \"cd=345\\n\"\n"
    "    key = \"cd\"\n"
    "    value = \"345\"\n"
    "\n"
    "=== second ===\n"
    "<unnamed> = \"x=1\\n\"\n"
    "  entry = \"x=1\\n\"\n"
    "    key = \"x\"\n"
    "    value = \"2\"\n";

bool WaitRunIdle(TMainForm& form, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (form.RunPage().Working() && t.elapsed() < ms) QTest::qWait(10);
    // One more tick of the page's timer shows what the worker left.
    QTest::qWait(120);
    return !form.RunPage().Working();
}

QStringList MarkedTexts(TMainForm& form) {
    QStringList out;
    for (const QTextEdit::ExtraSelection& s : Find<QPlainTextEdit>(form, "mmRunInput")->extraSelections())
        out << s.cursor.selectedText();
    return out;
}

QTreeWidgetItem* ItemNamed(QTreeWidget& view, const QString& name, int nth = 0) {
    for (QTreeWidgetItem* item : view.findItems(name, Qt::MatchExactly | Qt::MatchRecursive))
        if (nth-- == 0) return item;
    return nullptr;
}

}  // namespace

class RunPageTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    void LoadScript(TMainForm& form) {
        WriteFile(Path("s.tsn"), kScript);
        form.LoadSource(ToWide(Path("s.tsn")));
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void choosesASampleAndRunsItWithF9() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        LoadScript(form);
        auto* choice = Find<QComboBox>(form, "cbRunInput");
        QCOMPARE(choice->count(), 3);
        QCOMPARE(choice->itemText(2), QString("Sample: second"));
        // The first sample is chosen at once, with its last line's break.
        QCOMPARE(Find<QPlainTextEdit>(form, "mmRunInput")->toPlainText(), QString("ab=12\ncd=345\n"));

        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_F9);
        QVERIFY(WaitRunIdle(form));
        QCOMPARE(Find<QTabWidget>(form, "PageControl")->currentWidget(), &form.RunPage());
        const TModelRun* run = form.RunPage().LastRun();
        QVERIFY(run);
        QVERIFY(run->Succeeded());
        auto* tree = Find<QTreeWidget>(form, "tvRunResult");
        QCOMPARE(form.RunPage().ResultLinks().Count(), size_t(7));
        QVERIFY(ItemNamed(*tree, "value", 1));
        QCOMPARE(ItemNamed(*tree, "value", 1)->text(1), QString("345"));
        QVERIFY(Find<QLabel>(form, "lbRunState")->text().startsWith("Succeeded"));

        // Another sample through the combo.
        choice->setCurrentIndex(2);
        emit choice->activated(2);
        QCOMPARE(Find<QPlainTextEdit>(form, "mmRunInput")->toPlainText(), QString("x=1\n"));
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void linksTheResultAndTheInputBothWays() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        LoadScript(form);
        form.StartRun();
        QVERIFY(WaitRunIdle(form));
        auto* tree = Find<QTreeWidget>(form, "tvRunResult");

        // A leaf: its start span; the second entry: start (empty), inner.
        tree->setCurrentItem(ItemNamed(*tree, "key", 1));
        QCOMPARE(MarkedTexts(form), QStringList{"cd"});
        tree->setCurrentItem(ItemNamed(*tree, "entry", 1));
        QCOMPARE(MarkedTexts(form), QStringList{QString("cd=345") + QChar::ParagraphSeparator});

        // A click in "345" selects its value; on "=" the entry around it.
        auto* input = Find<QPlainTextEdit>(form, "mmRunInput");
        const int second = input->document()->findBlockByNumber(1).position();
        form.RunPage().SelectAtInputPosition(second + 4);
        QCOMPARE(tree->currentItem(), ItemNamed(*tree, "value", 1));
        form.RunPage().SelectAtInputPosition(second + 2);
        QCOMPARE(tree->currentItem(), ItemNamed(*tree, "entry", 1));
        // The pane's own cursor does the same.
        QTextCursor cursor(input->document());
        cursor.setPosition(1);
        input->setTextCursor(cursor);
        QCOMPARE(tree->currentItem(), ItemNamed(*tree, "key", 0));

        // Typing makes the links stale until the next run.
        input->moveCursor(QTextCursor::End);
        input->insertPlainText("zz=9\n");
        form.RunPage().SelectAtInputPosition(1);
        QCOMPARE(tree->currentItem(), ItemNamed(*tree, "key", 0));
        tree->setCurrentItem(ItemNamed(*tree, "value", 0));
        QVERIFY(MarkedTexts(form).isEmpty());
        QCOMPARE(Find<QComboBox>(form, "cbRunInput")->currentIndex(), 0);
        form.StartRun();
        QVERIFY(WaitRunIdle(form));
        QCOMPARE(form.RunPage().ResultLinks().Count(), size_t(10));
    }

    void showsTheFailureAndItsPlace() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        LoadScript(form);
        auto* input = Find<QPlainTextEdit>(form, "mmRunInput");
        input->setPlainText("ab=12\ncd=x\n");
        form.StartRun();
        QVERIFY(WaitRunIdle(form));
        const TModelRun* run = form.RunPage().LastRun();
        QVERIFY(run && run->Error);
        auto* reports = Find<QListWidget>(form, "lsRunReports");
        QCOMPARE(reports->count(), 1);
        QVERIFY2(reports->item(0)->text().startsWith("line 2, column 4: "), qPrintable(reports->item(0)->text()));
        QVERIFY(Find<QLabel>(form, "lbRunExplain")->text().contains("expected one of: 'value' % DIG+"));
        // The farthest failure is marked in the input.
        QCOMPARE(MarkedTexts(form), QStringList{"x"});
        // The partial tree keeps the first entry.
        QVERIFY(ItemNamed(*Find<QTreeWidget>(form, "tvRunResult"), "value", 0));

        // A model the reader cannot read is reported in the author's words.
        SetMemo(form, "a\nb !\n");
        form.StartRun();
        QVERIFY(WaitRunIdle(form));
        QCOMPARE(reports->count(), 1);
        QVERIFY2(reports->item(0)->text().startsWith("In the model: model:2:4: expected the condition operator"),
                 qPrintable(reports->item(0)->text()));
        QCOMPARE(Find<QLabel>(form, "lbRunState")->text().left(16), QString("The model failed"));
    }

    void escapeCancelsALongRun() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        // A step per byte over 2 MiB: far longer than the test waits.
        QByteArray big;
        for (int i = 0; i < 32768; ++i) big += QByteArray(63, 'q') + '\n';
        WriteFile(Path("big.txt"), big);
        SetMemo(form, "END? eof\n% ANY\n");
        dialogs.NextOpenFile = Path("big.txt");
        Find<QTabWidget>(form, "PageControl")->setCurrentWidget(&form.RunPage());
        QTest::mouseClick(Find<QToolButton>(form, "btRunOpenInput"), Qt::LeftButton);
        QCOMPARE(dialogs.OpenDialogs, 1);
        QVERIFY2(dialogs.Errors.isEmpty(), qPrintable(dialogs.Errors.join("; ")));
        QCOMPARE(Find<QPlainTextEdit>(form, "mmRunInput")->document()->blockCount(), 32769);
        form.StartRun();
        QTest::qWait(100);
        QVERIFY(form.RunPage().Working());
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(!form.RunPage().Working());
        QCOMPARE(Find<QLabel>(form, "lbRunState")->text(), QString("Cancelled"));
        QVERIFY(!form.RunPage().LastRun());
    }

    void theSamplesBoardJudgesAndCompares() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        LoadScript(form);
        auto* board = Find<QTreeWidget>(form, "tvSamples");
        QVERIFY(!Find<QWidget>(form, "pnSamples")->isHidden());
        QVERIFY(WaitRunIdle(form));
        QCOMPARE(board->topLevelItemCount(), 2);
        QCOMPARE(board->topLevelItem(0)->text(1), QString("pass"));
        QCOMPARE(board->topLevelItem(1)->text(1), QString("fail: the trees differ"));

        emit board->itemDoubleClicked(board->topLevelItem(1), 0);
        auto* pages = Find<QTabWidget>(form, "PageControl");
        QCOMPARE(pages->currentWidget()->objectName(), QString("TextPage"));
        QVERIFY(Find<QPlainTextEdit>(form, "mmDiffNeeded")->toPlainText().contains("value = \"2\""));
        QVERIFY(Find<QPlainTextEdit>(form, "mmDiffGot")->toPlainText().contains("value = \"1\""));
        // The differing line is marked in both panes.
        QCOMPARE(Find<QPlainTextEdit>(form, "mmDiffNeeded")->extraSelections().size(), 1);
        QCOMPARE(Find<QPlainTextEdit>(form, "mmDiffGot")->extraSelections().size(), 1);

        // A plain model has no board.
        WriteFile(Path("plain.txt"), "\"a\" % LAT+\n");
        form.LoadSource(ToWide(Path("plain.txt")));
        QVERIFY(Find<QWidget>(form, "pnSamples")->isHidden());
        QCOMPARE(Find<QComboBox>(form, "cbRunInput")->count(), 1);
    }
};

QTEST_MAIN(RunPageTest)
#include "RunPageTest.moc"
