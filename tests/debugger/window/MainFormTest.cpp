// Drives the real main form on the offscreen platform: loading, compiling at
// each phase, the error page, cancelling, the rules of the controls, the keys
// and the command line.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>
#include <atomic>
#include <thread>

#include "WindowTestSupport.h"
#include "debugger/driver/TsdbgCommandLine.h"
#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgSources.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "debugger/widgets/TDialogs.h"
#include "debugger/widgets/TErrorMessageFrame.h"
#include "debugger/widgets/TMenuSpeedButton.h"
#include "debugger/widgets/TScriptMemo.h"
#include "debugger/window/MainForm.h"
#include "debugger/window/QtText.h"
#include "debugger/window/TsdbgTreeView.h"

using namespace ts;
using namespace ts::test;

namespace {

const char* const kNested =
    "a =\r\n"
    "  b = x\r\n"
    "  c = y\r\n";

struct TItemView {
    int Depth;
    QString Text;
    bool Bold;
    QColor Colour;
};

std::vector<TItemView> ItemsOf(QTreeWidget& tree) {
    std::vector<TItemView> items;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem* p = (*it)->parent(); p; p = p->parent()) ++depth;
        const QBrush fg = (*it)->foreground(0);
        items.push_back(
            {depth, (*it)->text(0), (*it)->font(0).bold(), fg.style() == Qt::NoBrush ? QColor() : fg.color()});
    }
    return items;
}

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void startsOnTheWelcomePageWithEverythingElseHidden() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        QCOMPARE(form.windowTitle(), QString("Tessarine Debugger"));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        auto* pages = Find<QTabWidget>(form, "PageControl");
        QCOMPARE(pages->currentWidget()->objectName(), QString("WelcomePage"));
        QVERIFY(TabVisible(*pages, "WelcomePage"));
        QVERIFY(!TabVisible(*pages, "ErrorPage"));
        QVERIFY(!TabVisible(*pages, "TreePage"));
        QVERIFY(!TabVisible(*pages, "TextPage"));
        // The welcome text is the embedded rich text with this platform's mask.
        QVERIFY(Find<QTextBrowser>(form, "mmWelcome")->toPlainText().contains("/path/to/models/*.tsn,txt"));
        QCOMPARE(form.statusBar()->currentMessage(), QString("Welcome to Tessarine!"));
        QCOMPARE(Find<QComboBox>(form, "cbPhase")->currentIndex(), 2);
        QCOMPARE(Find<QComboBox>(form, "cbPhase")->count(), 3);
        QVERIFY(!Find<QToolButton>(form, "btTClose")->isEnabled());
        QVERIFY(!Find<QToolButton>(form, "btTToggleNodes")->isEnabled());
        QVERIFY(!Find<QPushButton>(form, "btCompile")->isEnabled());
        auto* label = Find<QLabel>(form, "lbScriptPath");
        QCOMPARE(label->text(), QString("Open or type in a model above"));
        QVERIFY(label->font().bold());
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void everyControlCarriesItsTextsAndHints() {
        TDialogRecorder dialogs;
        TMainForm form;
        const std::pair<const char*, const char*> hints[] = {
            {"btTClose", "[Esc] Close / Cancel"},  {"btTToggleNodes", "[X] Expand/collapse nodes"},
            {"btSrcPathUp", "Parent directory"},   {"lsSrcFiles", "Click to load, right-click to load & compile."},
            {"btSrcPrev", "[PgUp] Previous file"}, {"btSrcNext", "[PgDown] Next file"},
            {"btOpenScript", "[O] [Ctrl+O]"},      {"btErrorRecompilePhase", "Recompile until this phase"},
        };
        for (auto [name, hint] : hints) {
            QWidget* w = Find<QWidget>(form, name);
            QCOMPARE(w->statusTip(), QString(hint));  // the status line shows it under the pointer
            QCOMPARE(w->toolTip(), QString(hint));
        }
        const std::pair<const char*, const char*> labels[] = {
            {"Label5", "Directory with scripts and/or models:"},
            {"Label1", "Files here, double-click to load:"},
            {"Label2", "Tessarine script or just plain model to debug:"},
        };
        for (auto [name, text] : labels) QCOMPARE(Find<QLabel>(form, name)->text(), QString(text));
        QVERIFY(Find<QLabel>(form, "Label5")->font().bold());
        QVERIFY(Find<QLabel>(form, "Label2")->font().bold());
        QCOMPARE(Find<QCheckBox>(form, "cbRecursiveSrc")->text(), QString("Recursive (find all files below as well)"));
        auto* phases = Find<QComboBox>(form, "cbPhase");
        QCOMPARE(phases->itemText(0), QString("Load nodes & properties"));
        QCOMPARE(phases->itemText(1), QString("Merge"));
        QCOMPARE(phases->itemText(2), QString("Full compilation"));
        auto* menu = Find<QMenu>(form, "pmOpenScript");
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions()[0]->text(), QString("Read model into the memo"));
        QCOMPARE(menu->actions()[0]->toolTip(), QString("[Ctrl+Shift+O]"));
        QCOMPARE(menu->actions()[1]->text(), QString("Read && compile"));
        QCOMPARE(menu->actions()[1]->toolTip(), QString("[O] [Ctrl+O]"));
        QCOMPARE(menu->defaultAction(), menu->actions()[0]);
        QCOMPARE(Find<QTreeWidget>(form, "TreeView")->indentation(), 19);
        for (const char* name :
             {"AppTopFrame1", "StatusBar", "cbSrcPath", "btBrowseSrcPath", "mmModel", "lbScriptPath", "btCompile",
              "WelcomePage", "ErrorPage", "pnError", "lbErrorPhase", "TreePage", "TextPage", "mmDiffGot"})
            Find<QWidget>(form, name);
        QCOMPARE(Find<QTimer>(form, "tmSync")->interval(), 50);
        QVERIFY(Find<QTimer>(form, "tmSync")->isActive());
        QCOMPARE(Find<QTimer>(form, "tmRefreshFiles")->interval(), 50);
        QVERIFY(!Find<QTimer>(form, "tmRefreshFiles")->isActive());
    }

    void loadsPlainModelsWithAnyLineBreak_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("LF") << QByteArray("a = x\nb = y\n");
        QTest::newRow("CR") << QByteArray("a = x\rb = y\r");
        QTest::newRow("CR LF") << QByteArray("a = x\r\nb = y\r\n");
        QTest::newRow("UTF-8 mark") << QByteArray(
            "\xEF\xBB\xBF"
            "a = x\r\nb = y\r\n");
        QTest::newRow("header word without digit") << QByteArray("Tessarine a = x\nb = y\n");
    }
    void loadsPlainModelsWithAnyLineBreak() {
        QFETCH(QByteArray, bytes);
        TDialogRecorder dialogs;
        TMainForm form;
        const QString path = Path("plain.txt");
        WriteFile(path, bytes);
        form.LoadSource(ToWide(path));
        QVERIFY(dialogs.Errors.isEmpty());
        QVERIFY(form.IsPlainModel());
        auto* memo = Find<TScriptMemo>(form, "mmModel");
        QCOMPARE(memo->document()->blockCount(), 3);  // two lines and the empty one after the last break
        QVERIFY(memo->toPlainText().endsWith("a = x\nb = y\n"));
        QVERIFY(!memo->toPlainText().contains('\r'));
        QCOMPARE(Find<QLabel>(form, "lbScriptPath")->text(), path);
        QVERIFY(!Find<QLabel>(form, "lbScriptPath")->font().bold());
        QVERIFY(Find<QPushButton>(form, "btCompile")->isEnabled());
        // Typing makes the label say that opening replaces the text.
        memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(memo, "c = z");
        QCOMPARE(Find<QLabel>(form, "lbScriptPath")->text(), QString("(open to replace the contents above)"));
    }

    void loadsTheFirstModelOfAScript() {
        TDialogRecorder dialogs;
        TMainForm form;
        const QString path = Path("script.tsn");
        WriteFile(path,
                  "Tessarine 0.79 || a script\r\nSome description.\r\n\r\n== Model ==\r\nentry = x\r\n"
                  "\r\n== Samples ==\r\nx\r\n");
        form.LoadSource(ToWide(path));
        QVERIFY2(dialogs.Errors.isEmpty(), qPrintable(dialogs.Errors.join('\n')));
        QVERIFY(!form.IsPlainModel());
        const QString memo = Find<TScriptMemo>(form, "mmModel")->toPlainText();
        QVERIFY2(memo.startsWith("entry = x"), qPrintable(memo));
        QVERIFY(!memo.contains("Samples"));
    }

    void aFileThatCannotBeLoadedLeavesTheMemoAsItWas() {
        TDialogRecorder dialogs;
        TMainForm form;
        SetMemo(form, "kept = x");
        const QString broken = Path("broken.tsn");
        WriteFile(broken, "Tessarine 0.79\r\n@XX no-such-charset\r\n");
        for (const QString& path : {Path("missing.txt"), broken}) {
            dialogs.Errors.clear();
            dialogs.NextOpenFile = path;
            Find<QMenu>(form, "pmOpenScript")->actions()[0]->trigger();
            QCOMPARE(dialogs.Errors.size(), 1);
            QCOMPARE(Find<TScriptMemo>(form, "mmModel")->toPlainText(), QString("kept = x"));
            QCOMPARE(form.ScriptPath(), ToWide(path));  // the design keeps the new path
        }
        QVERIFY(form.isEnabled());
    }

    void compilesEachPhaseIntoExactlyTheDriversLines() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        SetMemo(form, kModel);
        auto* tree = Find<QTreeWidget>(form, "TreeView");
        auto* pages = Find<QTabWidget>(form, "PageControl");
        for (int index = 0; index < 3; ++index) {
            Find<QComboBox>(form, "cbPhase")->setCurrentIndex(index);
            QTest::mouseClick(Find<QPushButton>(form, "btCompile"), Qt::LeftButton);
            QCOMPARE(form.statusBar()->currentMessage(), QString("Working..."));
            QVERIFY(WaitIdle(form));
            QVERIFY2(form.Driver().HasResult, qPrintable(ToQString(form.Driver().ErrorMessage)));
            QCOMPARE(pages->currentWidget(), Find<QWidget>(form, "TreePage"));
            QVERIFY(TabVisible(*pages, "TreePage") && TabVisible(*pages, "TextPage"));
            QVERIFY(Find<QToolButton>(form, "btTToggleNodes")->isChecked());
            QVERIFY(Find<QToolButton>(form, "btTClose")->isEnabled());

            const std::vector<TTreeLine> lines = RenderTree(*form.Driver().ResultTree);
            const std::vector<TItemView> items = ItemsOf(*tree);
            QCOMPARE(items.size(), lines.size());
            for (size_t i = 0; i < lines.size(); ++i) {
                QCOMPARE(items[i].Depth, lines[i].Depth);
                QCOMPARE(items[i].Text, ToQString(lines[i].Text));
                QCOMPARE(items[i].Bold, lines[i].IsNode);
                const QColor want = lines[i].Colour == TTreeLineColour::Grey     ? TreeGrey
                                    : lines[i].Colour == TTreeLineColour::Maroon ? TreeMaroon
                                                                                 : QColor();
                QCOMPARE(items[i].Colour, want);
            }
            QCOMPARE(form.NodeLinks().Count(),
                     static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.IsNode; })));
            // The text page holds the same lines as the dump prints them.
            QCOMPARE(Find<QPlainTextEdit>(form, "mmDiffGot")->toPlainText(), ToQString(LinesToText(lines)));
        }
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void treeNavigationAndTheToggle() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        SetMemo(form, kNested);
        form.StartCompile(2);
        QVERIFY(WaitIdle(form));
        auto* tree = Find<QTreeWidget>(form, "TreeView");
        // A node with node items under it is expanded; its "Props" group is not.
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QVERIFY(root->isExpanded());
        QCOMPARE(root->child(0)->text(0), QString("Children = 1"));  // a single line needs no group
        QTreeWidgetItem* a = root->child(1);
        QCOMPARE(a->text(0), QString("#1 a"));
        QVERIFY(a->isExpanded());
        QTreeWidgetItem* props = a->child(0);
        QCOMPARE(props->text(0), QString("Props"));
        QVERIFY(!props->isExpanded());
        QVERIFY(!a->child(1)->isExpanded());  // "#2 b" has only property lines

        // Double-clicking a "Parent = N" line jumps to node N.
        QTreeWidgetItem* parentLine = nullptr;
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if ((*it)->text(0).startsWith("Parent = ") && (*it)->text(0) != "Parent = 0") parentLine = *it;
        QVERIFY(parentLine);
        const QString id = parentLine->text(0).mid(9);
        tree->setCurrentItem(parentLine);
        emit tree->itemDoubleClicked(parentLine, 0);
        QVERIFY(tree->currentItem()->text(0).startsWith("#" + id + " ") ||
                tree->currentItem()->text(0).startsWith("*" + id + " "));
        QVERIFY(tree->currentItem()->isExpanded());
        // A line that names no node changes nothing.
        QTreeWidgetItem* before = tree->currentItem();
        emit tree->itemDoubleClicked(props, 0);
        QCOMPARE(tree->currentItem(), before);

        // Collapsing keeps only the first item open; the [X] key toggles back.
        auto* toggle = Find<QToolButton>(form, "btTToggleNodes");
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!toggle->isChecked());
        QVERIFY(root->isExpanded());
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if (*it != root) QVERIFY(!(*it)->isExpanded());
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_X);
        QVERIFY(toggle->isChecked());
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if ((*it)->childCount() > 0) QVERIFY((*it)->isExpanded());

        // A right click selects.
        QTreeWidgetItem* last = nullptr;
        for (QTreeWidgetItemIterator it(tree); *it; ++it) last = *it;
        tree->scrollToItem(last);
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(last).center());
        QCOMPARE(tree->currentItem(), last);
    }

    void anErrorShowsItsPhaseAndRecompilesOnePhaseEarlier() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        SetMemo(form, "a + missing\r\n");  // a merge that names nothing
        form.StartCompile(2);
        QVERIFY(WaitIdle(form));
        auto* pages = Find<QTabWidget>(form, "PageControl");
        QWidget* errorPage = Find<QWidget>(form, "ErrorPage");
        QCOMPARE(pages->currentWidget(), errorPage);
        QCOMPARE(pages->tabText(pages->indexOf(errorPage)), QString("Error"));
        auto* frame = Find<TErrorMessageFrame>(form, "pnError");
        QCOMPARE(frame->Title()->text(), ToQString(HumaniseName(form.Driver().ErrorClass)));
        QCOMPARE(frame->Message()->toPlainText(), ToQString(form.Driver().ErrorMessage));
        QCOMPARE(Find<QLabel>(form, "lbErrorPhase")->text(), QString("Merge"));
        auto* recompile = Find<QPushButton>(form, "btErrorRecompilePhase");
        QVERIFY(recompile->isEnabled());
        QVERIFY(Find<QToolButton>(form, "btTClose")->isEnabled());

        QTest::mouseClick(recompile, Qt::LeftButton);
        QVERIFY(WaitIdle(form));
        QVERIFY(form.Driver().HasResult);
        QCOMPARE(form.Driver().LastPhase, 1);  // loaded only
        QCOMPARE(pages->currentWidget(), Find<QWidget>(form, "TreePage"));
        // The error stays as the last error.
        QVERIFY(TabVisible(*pages, "ErrorPage"));
        QCOMPARE(pages->tabText(pages->indexOf(errorPage)), QString("Last error"));

        // A bad model line: its place under the message, the memo's caret on it.
        SetMemo(form, "a\nb !\n");
        form.StartCompile(2);
        QVERIFY(WaitIdle(form));
        auto* place = Find<QLabel>(form, "lbErrorPlace");
        QVERIFY(!place->isHidden());
        QCOMPARE(place->text(), QString("Line 2, column 4: expected the condition operator after \"!\"\nb !\n   ^\n"));
        auto* memo = Find<TScriptMemo>(form, "mmModel");
        QCOMPARE(memo->textCursor().blockNumber(), 1);
        QCOMPARE(memo->textCursor().positionInBlock(), 3);

        // A text that cannot be read: no phase, nothing to recompile.
        SetMemo(form, "   a\r\n");
        form.StartCompile(2);
        QVERIFY(WaitIdle(form));
        QCOMPARE(Find<QLabel>(form, "lbErrorPhase")->text(), QString("-"));
        QVERIFY(!recompile->isEnabled());
        QVERIFY(!TabVisible(*pages, "TreePage"));
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void cancelEndsARunThatWouldNotEndWithoutAMessage() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        SetMemo(form, kModel);
        // The worker holds at its compile step until it is told to stop, as a model that never ends would.
        std::atomic<bool> reached{false};
        form.Driver().OnWorkerStep = [&](int step) {
            if (step != 1) return;
            reached = true;
            while (!form.Driver().Cancelled()) std::this_thread::yield();
        };
        form.StartCompile(2);
        QTRY_VERIFY_WITH_TIMEOUT(reached.load(), 5000);
        // While working the inputs of the run cannot change.
        QVERIFY(!Find<TScriptMemo>(form, "mmModel")->isEnabled());
        QVERIFY(!Find<QComboBox>(form, "cbPhase")->isEnabled());
        QVERIFY(!Find<TMenuSpeedButton>(form, "btOpenScript")->isEnabled());
        QVERIFY(!Find<QListWidget>(form, "lsSrcFiles")->isEnabled());
        QVERIFY(!Find<QPushButton>(form, "btCompile")->isEnabled());
        QVERIFY(Find<QToolButton>(form, "btTClose")->isEnabled());

        QElapsedTimer t;
        t.start();
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(!form.Driver().Working);
        QTRY_VERIFY_WITH_TIMEOUT(form.Driver().Worker == nullptr, 1000);
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(Find<TScriptMemo>(form, "mmModel")->isEnabled());
        QVERIFY(!Find<QToolButton>(form, "btTClose")->isEnabled());
        QVERIFY(form.statusBar()->currentMessage().isEmpty());
        QVERIFY(dialogs.Errors.isEmpty());
        QVERIFY(!TabVisible(*Find<QTabWidget>(form, "PageControl"), "TreePage"));
    }

    void aLongReadIsCancelledByTheCloseButton() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        QString big;
        for (int i = 0; i < 100000; ++i) big += QString("n%1 = x\n").arg(i);
        SetMemo(form, big);
        form.StartCompile(2);
        QTest::qWait(100);
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(Find<QToolButton>(form, "btTClose"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form.Driver().Worker == nullptr, 1000);
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(!form.Driver().HasResult);
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void theOpenButtonAndItsMenus() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        const QString path = Path("model.txt");
        WriteFile(path, kModel);
        dialogs.NextOpenFile = path;
        auto* button = Find<TMenuSpeedButton>(form, "btOpenScript");
        // A click opens the dialog and reads the file into the memo.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(dialogs.OpenDialogs, 1);
        QCOMPARE(dialogs.LastOpenTitle, QString("Select a Tessarine script or text model"));
        QVERIFY(dialogs.LastOpenFilter.startsWith("Tessarine script (*.tsn)"));
        QCOMPARE(dialogs.LastOpenDir, ToQString(form.StartDirectory()));
        QCOMPARE(form.ScriptPath(), ToWide(path));
        QVERIFY(!form.Driver().Working);
        // The next dialog starts in the loaded file's directory.
        dialogs.NextOpenFile.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(dialogs.LastOpenDir, dir_.path() + "/");
        // A right-button release shows the menu; "Read && compile" compiles.
        auto* menu = Find<QMenu>(form, "pmOpenScript");
        QTest::mouseRelease(button, Qt::RightButton);
        QTRY_VERIFY(menu->isVisible());
        menu->close();
        dialogs.NextOpenFile = path;
        menu->actions()[1]->trigger();
        QVERIFY(form.Driver().Working || form.Driver().HasResult);
        QVERIFY(WaitIdle(form));
        QVERIFY(form.Driver().HasResult);
        // [Ctrl+Shift+O] reads without compiling, [Ctrl+O] reads and compiles.
        form.StopWorker();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(dialogs.OpenDialogs, 4);
        QVERIFY(!form.Driver().Working && !form.Driver().HasResult);
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(dialogs.OpenDialogs, 5);
        QVERIFY(WaitIdle(form));
        QVERIFY(form.Driver().HasResult);
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void bareKeysStayOutOfTheEditors() {
        TDialogRecorder dialogs;
        TMainForm form;
        form.show();
        QApplication::setActiveWindow(&form);
        auto* memo = Find<TScriptMemo>(form, "mmModel");
        memo->setFocus();
        QTest::keyClicks(memo, "xo");
        QCOMPARE(memo->toPlainText(), QString("xo"));
        QCOMPARE(dialogs.OpenDialogs, 0);
        // Outside an editor [O] opens and compiles.
        Find<QComboBox>(form, "cbPhase")->setFocus();
        QTest::keyClick(Find<QComboBox>(form, "cbPhase"), Qt::Key_O);
        QCOMPARE(dialogs.OpenDialogs, 1);
    }

    void theFileListLoadsStepsAndCompiles() {
        TDialogRecorder dialogs;
        QTemporaryDir tree;
        for (const char* name : {"b.tsn", "a.txt", "c.txt", "skip.md"}) WriteFile(tree.filePath(name), "name = x\n");
        TMainForm form({ToWide(tree.path())});
        form.show();
        auto* list = Find<QListWidget>(form, "lsSrcFiles");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), QString("a.txt"));  // sorted
        QCOMPARE(list->item(2)->text(), QString("c.txt"));
        QVERIFY(Find<QComboBox>(form, "cbSrcPath")->currentText().endsWith("/*.tsn,txt"));
        QVERIFY(Find<QToolButton>(form, "btSrcPathUp")->isEnabled());

        // A click loads; the previous button is off at the first file.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QCOMPARE(form.ScriptPath(), ToWide(tree.filePath("a.txt")));
        QVERIFY(!Find<QToolButton>(form, "btSrcPrev")->isEnabled());
        QVERIFY(Find<QToolButton>(form, "btSrcNext")->isEnabled());
        QTest::mouseClick(Find<QToolButton>(form, "btSrcNext"), Qt::LeftButton);
        QTest::mouseClick(Find<QToolButton>(form, "btSrcNext"), Qt::LeftButton);
        QCOMPARE(form.ScriptPath(), ToWide(tree.filePath("c.txt")));
        QVERIFY(!Find<QToolButton>(form, "btSrcNext")->isEnabled());
        QVERIFY(Find<QToolButton>(form, "btSrcPrev")->isEnabled());
        // [PgUp] outside an editor steps back.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_PageUp);
        QCOMPARE(form.ScriptPath(), ToWide(tree.filePath("b.tsn")));

        // A right click on an empty part clears the selection and loads nothing.
        const QPoint below = list->visualItemRect(list->item(2)).bottomLeft() + QPoint(5, 20);
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, below);
        QVERIFY(list->selectedItems().isEmpty());
        QVERIFY(!form.Driver().Working);
        // On a file it loads and compiles.
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, list->visualItemRect(list->item(0)).center());
        QCOMPARE(form.ScriptPath(), ToWide(tree.filePath("a.txt")));
        QVERIFY(WaitIdle(form));
        QVERIFY(form.Driver().HasResult);

        // The recursive box and the parent button.
        QTest::mouseClick(Find<QCheckBox>(form, "cbRecursiveSrc"), Qt::LeftButton);
        QVERIFY(form.Location().Recursive());
        QTest::mouseClick(Find<QToolButton>(form, "btSrcPathUp"), Qt::LeftButton);
        QVERIFY(!Find<QComboBox>(form, "cbSrcPath")->currentText().startsWith(tree.path()));
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void commandLineForms_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("compiles");
        QTest::newRow("file only") << QString() << 2 << false;
        QTest::newRow("1 selects Merge") << "1" << 1 << false;
        QTest::newRow("!0 compiles at once") << "!0" << 0 << true;
        QTest::newRow("! alone compiles fully") << "!" << 2 << true;
        QTest::newRow("7 clamps") << "7" << 2 << false;
        QTest::newRow("not a number") << "x" << 2 << false;
    }
    void commandLineForms() {
        QFETCH(QString, phase);
        QFETCH(int, index);
        QFETCH(bool, compiles);
        TDialogRecorder dialogs;
        const QString path = Path("cli.txt");
        WriteFile(path, kModel);
        std::vector<WideString> args{ToWide(path)};
        if (!phase.isNull()) args.push_back(ToWide(phase));
        TMainForm form(args);
        if (phase == "x") Find<QComboBox>(form, "cbPhase")->setCurrentIndex(2);
        form.show();
        QCOMPARE(form.ScriptPath(), ToWide(path));
        QCOMPARE(Find<QComboBox>(form, "cbPhase")->currentIndex(), index);
        QCOMPARE(form.Driver().Working || form.Driver().HasResult, compiles);
        if (compiles) {
            QVERIFY(WaitIdle(form));
            QCOMPARE(int(form.Driver().LastPhase), std::min(index, 1) + 1);
        }
        QVERIFY(dialogs.Errors.isEmpty());
    }

    void commandLineMasksBrowseAndNeverCompile() {
        TDialogRecorder dialogs;
        QTemporaryDir tree;
        WriteFile(tree.filePath("one.tsn"), "a = x\n");
        WriteFile(tree.filePath("two.txt"), "a = x\n");
        TMainForm masked({ToWide(tree.path() + "/*.tsn"), u"!"});
        masked.show();
        QCOMPARE(Find<QListWidget>(masked, "lsSrcFiles")->count(), 1);
        QVERIFY(!masked.FileLoaded());
        QVERIFY(!masked.Driver().Working);
        // "/h" is a file name, and a missing file is an error box with the window open.
        TMainForm missing({u"/h"});
        missing.show();
        QCOMPARE(dialogs.Errors.size(), 1);
        QVERIFY(Find<TScriptMemo>(missing, "mmModel")->toPlainText().isEmpty());
        QVERIFY(missing.isVisible());
    }

    void helpPrintsWithoutADisplayAndExitsZero() {
        for (const char* arg : {"?", "/?", "-?", "--?-"}) {
            QProcess tsdbg;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.insert("QT_QPA_PLATFORM", "offscreen");
            tsdbg.setProcessEnvironment(env);
            tsdbg.start(TS_TSDBG, {arg});
            QVERIFY(tsdbg.waitForFinished(10000));
            QCOMPARE(tsdbg.exitStatus(), QProcess::NormalExit);
            QCOMPARE(tsdbg.exitCode(), 0);
            const QString out = QString::fromUtf8(tsdbg.readAllStandardOutput());
            QCOMPARE(out, ToQString(HelpText(u"tsdbg")) + "\n");
        }
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
