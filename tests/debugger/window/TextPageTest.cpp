// The text page: the produced dump after a run, saving and opening dumps (a
// round trip with the command line), the highlighted line diff, and the
// external diff with a fake diff program. Also the source combo's
// subdirectories.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>
#include <QtTest>

#include "WindowTestSupport.h"
#include "debugger/driver/TsdbgDiff.h"
#include "debugger/driver/TsdbgSources.h"
#include "debugger/window/MainForm.h"
#include "debugger/window/QtText.h"

using namespace ts;
using namespace ts::test;

namespace {

int Marks(QWidget& form, const char* pane) { return int(Find<QPlainTextEdit>(form, pane)->extraSelections().size()); }

QString MarkedLine(QWidget& form, const char* pane, int i) {
    return Find<QPlainTextEdit>(form, pane)->extraSelections().at(i).cursor.block().text();
}

int RunCli(const QStringList& args, QByteArray* out = nullptr) {
    QProcess cli;
    cli.start(TS_TESSARINE, args);
    if (!cli.waitForFinished(30000)) return -1;
    if (out) *out = cli.readAllStandardOutput();
    return cli.exitCode();
}

}  // namespace

class TextPageTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    void Compile(TMainForm& form) {
        SetMemo(form, kModel);
        form.StartCompile(2);
        QVERIFY(WaitIdle(form));
        QVERIFY(form.Driver().HasResult);
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void controlsCarryTheirTexts() {
        TDialogRecorder dialogs;
        TMainForm form;
        QCOMPARE(Find<QWidget>(form, "mmDiffNeeded")->toolTip(),
                 QString("Expected tree dump to compare against. Editable"));
        QCOMPARE(Find<QPushButton>(form, "btExtDiff")->text(), QString("External diff:"));
        QCOMPARE(Find<QWidget>(form, "edDiffCmd")->statusTip(),
                 QString("%NEED% = your file (left-side), %GOT% - produced result (right-side)"));
        QCOMPARE(Find<QWidget>(form, "btBrowseExtDiff")->statusTip(),
                 QString("Search external diff tool's executable"));
        auto* hili = Find<QToolButton>(form, "btToggleDiffHili");
        QCOMPARE(hili->text(), QString("Highlight"));
        QVERIFY(hili->isChecked());
        Find<QWidget>(form, "btDiffOpen");
        Find<QWidget>(form, "btDiffSave");
        QVERIFY(Find<QPlainTextEdit>(form, "mmDiffGot")->isReadOnly());
        // The detected command, and its button only when the program exists.
        auto* command = Find<QLineEdit>(form, "edDiffCmd");
        QCOMPARE(command->text(), ToQString(DetectDiffCommand()));
        command->setText("<exe> %NEED% %GOT%");
        QVERIFY(!Find<QPushButton>(form, "btExtDiff")->isEnabled());
        command->setText("sh %NEED% %GOT%");  // found on PATH
        QVERIFY(Find<QPushButton>(form, "btExtDiff")->isEnabled());
        command->setText("/ %NEED% %GOT%");  // a directory is no program
        QVERIFY(!Find<QPushButton>(form, "btExtDiff")->isEnabled());
    }

    void savedAndOpenedDumpsRoundTripWithTheCommandLine() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        const QString model = Path("model.txt");
        WriteFile(model, kModel);
        form.LoadSource(ToWide(model));
        form.StartCompile(2);
        QVERIFY(WaitIdle(form));
        // Save: what "check" accepts as the expected dump.
        dialogs.NextSaveFile = Path("saved");
        QTest::mouseClick(Find<QToolButton>(form, "btDiffSave"), Qt::LeftButton);
        QCOMPARE(dialogs.LastSaveTitle, QString("Select where to save the produced tree dump"));
        QCOMPARE(RunCli({"check", model, Path("saved.txt")}), 0);

        // Open: a saved dump matches the produced one line for line. (The
        // command line's own dump names the model after its file, where
        // the window names its memo; "check" takes either.)
        QByteArray dump;
        QCOMPARE(RunCli({"dump", model}, &dump), 0);
        QVERIFY(dump.contains(model.toUtf8()));
        QFile saved(Path("saved.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        WriteFile(Path("expected.txt"), saved.readAll());
        dialogs.NextOpenFile = Path("expected.txt");
        QTest::mouseClick(Find<QToolButton>(form, "btDiffOpen"), Qt::LeftButton);
        QCOMPARE(dialogs.LastOpenTitle, QString("Select a text file with tree dump to compare"));
        QCOMPARE(dialogs.LastOpenDir, ToQString(form.StartDirectory()));
        QCOMPARE(Find<QWidget>(form, "mmDiffNeeded")->toolTip(), Path("expected.txt"));
        QCOMPARE(form.ExpectedDumpPath(), ToWide(Path("expected.txt")));
        QCOMPARE(Marks(form, "mmDiffNeeded"), 0);
        QCOMPARE(Marks(form, "mmDiffGot"), 0);
        // The next dialogs start beside the expected dump.
        dialogs.NextSaveFile.clear();
        QTest::mouseClick(Find<QToolButton>(form, "btDiffSave"), Qt::LeftButton);
        QCOMPARE(dialogs.LastSaveDir, dir_.path() + "/");
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void highlightMarksTheLinesOutsideTheCommonSubsequence() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        Compile(form);
        const QString got = Find<QPlainTextEdit>(form, "mmDiffGot")->toPlainText();
        QStringList lines = got.split('\n');
        QVERIFY(lines.size() > 6);
        // One line changed, one removed, one added at the top.
        const QString changed = lines[3];
        const QString removed = lines[5];
        lines[3] = "changed line";
        lines.removeAt(5);
        lines.prepend("added line");
        auto* need = Find<QPlainTextEdit>(form, "mmDiffNeeded");
        need->setPlainText(lines.join('\n'));
        QCOMPARE(Marks(form, "mmDiffNeeded"), 0);  // re-marked after a pause
        QTRY_COMPARE(Marks(form, "mmDiffNeeded"), 2);
        QCOMPARE(MarkedLine(form, "mmDiffNeeded", 0), QString("added line"));
        QCOMPARE(MarkedLine(form, "mmDiffNeeded", 1), QString("changed line"));
        QCOMPARE(Marks(form, "mmDiffGot"), 2);
        QCOMPARE(MarkedLine(form, "mmDiffGot", 0), changed);
        QCOMPARE(MarkedLine(form, "mmDiffGot", 1), removed);
        // Off removes the marks, on brings them back.
        auto* hili = Find<QToolButton>(form, "btToggleDiffHili");
        QTest::mouseClick(hili, Qt::LeftButton);
        QCOMPARE(Marks(form, "mmDiffNeeded"), 0);
        QCOMPARE(Marks(form, "mmDiffGot"), 0);
        QTest::mouseClick(hili, Qt::LeftButton);
        QCOMPARE(Marks(form, "mmDiffGot"), 2);
    }

    void externalDiffRunsTheCommandOnTwoFilesAndDeletesThem() {
        TDialogRecorder dialogs;
        QTemporaryDir temp;
        const QString tempDir = temp.path() + "/with blank/";
        QVERIFY(QDir().mkpath(tempDir));
        // A fake diff program: records its arguments and both files' texts.
        const QString record = Path("record.txt");
        const QString fake = Path("fake diff");
        WriteFile(
            fake,
            QString("#!/bin/sh\n{ echo \"$#\"; echo \"$1\"; echo \"$2\"; cat \"$1\"; echo ---; cat \"$2\"; } > '%1'\n")
                .arg(record)
                .toUtf8());
        QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        TMainForm form;
        form.SetDiffTempDir(ToWide(tempDir));
        form.show();
        Compile(form);
        Find<QPlainTextEdit>(form, "mmDiffNeeded")->setPlainText("expected one\nexpected two");
        // Browsing to the program quotes its path and adds the template.
        Find<QLineEdit>(form, "edDiffCmd")->setText("<exe>");
        dialogs.NextOpenFile = fake;
        QTest::mouseClick(Find<QToolButton>(form, "btBrowseExtDiff"), Qt::LeftButton);
        QCOMPARE(dialogs.LastOpenTitle, QString("Select a program used to compare two files"));
        QCOMPARE(dialogs.LastOpenName, QString("<exe>"));
        QVERIFY(dialogs.LastOpenFilter.startsWith("Program executable (*.exe *);;"));
        const QString command = Find<QLineEdit>(form, "edDiffCmd")->text();
        QCOMPARE(command, ToQString(QuoteCommandWord(ToWide(fake))) + " %NEED% %GOT%");
        auto* run = Find<QPushButton>(form, "btExtDiff");
        QVERIFY(run->isEnabled());
        QTest::mouseClick(run, Qt::LeftButton);
        form.DiffRunner().WaitAll();

        const QStringList recorded = QString::fromUtf8(ReadFile(record)).split('\n');
        QVERIFY2(recorded.size() > 5, qPrintable(recorded.join('|')));
        QCOMPARE(recorded[0], QString("2"));
        QVERIFY(recorded[1].startsWith(tempDir));
        QVERIFY(recorded[2].startsWith(tempDir));
        QCOMPARE(recorded[3], QString("expected one\r"));  // lines end in CR LF
        QCOMPARE(recorded[4], QString("expected two\r"));
        QCOMPARE(recorded[5], QString("---"));
        QCOMPARE(recorded[6] + "\n",
                 Find<QPlainTextEdit>(form, "mmDiffGot")->toPlainText().section('\n', 0, 0) + "\r\n");
        QVERIFY(QDir(tempDir).isEmpty());
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void aProgramThatCannotStartGivesTheBoxAndStillDeletesTheFiles() {
        TDialogRecorder dialogs;
        QTemporaryDir temp;
        const QString notRunnable = Path("not-runnable");
        WriteFile(notRunnable, "no program\n");
        QFile::setPermissions(notRunnable, QFile::ReadOwner | QFile::WriteOwner);
        TMainForm form;
        form.SetDiffTempDir(ToWide(temp.path() + "/"));
        form.show();
        Compile(form);
        Find<QLineEdit>(form, "edDiffCmd")->setText(notRunnable + " %NEED% %GOT%");
        QVERIFY(Find<QPushButton>(form, "btExtDiff")->isEnabled());  // it exists as a file
        QTest::mouseClick(Find<QPushButton>(form, "btExtDiff"), Qt::LeftButton);
        form.DiffRunner().WaitAll();
        QTRY_COMPARE(dialogs.Errors.size(), 1);
        QVERIFY(dialogs.Errors[0].startsWith("Problem running the command:\n\n" + notRunnable + " "));
        QCOMPARE(dialogs.ErrorTitles[0], QString("Diff program calling error"));
        QVERIFY(QDir(temp.path()).isEmpty());
    }

    void theSourceComboListsSubdirectoriesAndSelectsOne() {
        TDialogRecorder dialogs;
        QTemporaryDir tree;
        QVERIFY(QDir(tree.path()).mkpath("beta/deep"));
        QVERIFY(QDir(tree.path()).mkpath("Alpha"));
        WriteFile(tree.filePath("top.txt"), "a = x\n");
        WriteFile(tree.filePath("beta/inner.tsn"), "a = x\n");
        WriteFile(tree.filePath("beta/deep/deeper.txt"), "a = x\n");
        TMainForm form({ToWide(tree.path())});
        form.show();
        auto* combo = Find<QComboBox>(form, "cbSrcPath");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QString("Alpha"));  // sorted, without "." and ".."
        QCOMPARE(combo->itemText(1), QString("beta"));
        auto* list = Find<QListWidget>(form, "lsSrcFiles");
        QCOMPARE(list->count(), 1);
        // Choosing a subdirectory moves there once the short timer has run.
        emit combo->activated(1);
        QTRY_COMPARE(list->count(), 1);
        QTRY_VERIFY(combo->currentText().endsWith("/beta/*.tsn,txt"));
        QCOMPARE(list->item(0)->text(), QString("inner.tsn"));
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), QString("deep"));
        // Recursive finds the file below, with its subdirectory path.
        QTest::mouseClick(Find<QWidget>(form, "cbRecursiveSrc"), Qt::LeftButton);
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QString("deep/deeper.txt"));
        // The folder browser's choice becomes the mask.
        dialogs.NextFolder = tree.path();
        QTest::mouseClick(Find<QWidget>(form, "btBrowseSrcPath"), Qt::LeftButton);
        QVERIFY(combo->currentText().startsWith(tree.path()));
        QCOMPARE(list->count(), 3);
        QVERIFY(dialogs.Errors.isEmpty());
    }
};

QTEST_MAIN(TextPageTest)
#include "TextPageTest.moc"
