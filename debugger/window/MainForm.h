// TMainForm: the debugger's only window. On the left a directory mask and its
// files, the model memo, the phase and the compile button; on the right the
// welcome, error, tree and text pages. Everything it shows comes from the
// compile driver and the source browsing of the driver layer; the form wires
// them to widgets and keeps no settings between runs.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "debugger/driver/TsdbgDriver.h"
#include "debugger/window/TsdbgTreeView.h"

class QCheckBox;
class QLineEdit;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ts {

class TAppTopFrame;
class TDiffRunner;
class TErrorMessageFrame;
class TMenuSpeedButton;
class TRunPage;
class TScriptMemo;
class TSourcesLocation;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // arguments: the program's arguments after its name (source, phase),
    // applied when the window is first shown.
    explicit TMainForm(std::vector<WideString> arguments = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The window's operations, for the shortcuts, the command line and tests.
    void LoadSource(const WideString& path);
    void StartCompile(int index);
    // [F9]: the run page runs the memo's model over its input.
    void StartRun();
    // The text page shows an expected and a produced tree with their differences.
    void CompareTrees(const WideString& expected, const WideString& produced);
    TRunPage& RunPage() { return *runPage_; }
    void StopWorker();
    void RefreshControls();
    void RefreshSourceList(bool force);

    TCompileDriver& Driver() { return driver_; }
    const TNodeLinks& NodeLinks() const { return links_; }
    const WideString& ScriptPath() const { return scriptPath_; }
    bool FileLoaded() const { return fileLoaded_; }
    bool IsPlainModel() const { return isPlainModel_; }
    const WideString& StartDirectory() const { return startDirectory_; }
    TSourcesLocation& Location() { return *location_; }
    // The text page's expected dump file (empty until one is opened).
    const WideString& ExpectedDumpPath() const { return expectedDumpPath_; }
    // Where external diffs put their two files; the system's temporary directory when empty.
    void SetDiffTempDir(const WideString& dir);
    TDiffRunner& DiffRunner() { return *diffRunner_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectEvents();
    void Start();
    void ApplyArguments();
    // Runs an event handler; an exception goes to an error box and the
    // window stays usable.
    void Guard(const std::function<void()>& handler);
    void ShowStatus(const WideString& text);

    void UpdateScriptLabel();
    void OnSync();
    void ShowResult();
    void ShowError();
    void OnRecompile();
    void OnToggleNodes();
    void OnTreeDoubleClick(QTreeWidgetItem* item);
    void OpenScript(bool compile);
    void LoadListedFile(const QListWidgetItem* item);
    void OnListMouseUp(Qt::MouseButton button, const QPoint& pos);
    void StepFile(int delta);
    void OnSrcPathSelected(int index);
    void OnRefreshFilesTimer();
    void OnSrcPathUp();
    void OnBrowseSrcPath();
    void SetComboText(const WideString& text);
    bool ComboHasFocus() const;
    // Bare keys ([X], [O], [PgUp], [PgDown]) work only while no text is edited.
    bool HandleBareKey(int key);

    // The text page.
    QWidget* CreateTextPage();
    WideString ExpectedDumpDir() const;
    void OnDiffOpen();
    void OnDiffSave();
    void OnExtDiff();
    void OnBrowseExtDiff();
    // Marks the lines that differ between the two dumps, or clears the marks.
    void HighlightDiff();

    TCompileDriver driver_;
    TNodeLinks links_;
    std::unique_ptr<TSourcesLocation> location_;
    std::vector<WideString> arguments_;
    bool argumentsApplied_ = false;
    WideString startDirectory_;
    bool fileLoaded_ = false;
    WideString scriptPath_;
    bool isPlainModel_ = false;
    std::optional<int> recompileIndex_;
    WideString expectedDumpPath_;
    std::unique_ptr<TDiffRunner> diffRunner_;
    // An item of the source combo was chosen (its text was not typed or set).
    bool comboItemSelected_ = false;
    // The text page holds trees a failed sample was compared with.
    bool treesCompared_ = false;

    // Controls, owned by their Qt parents.
    TAppTopFrame* appTopFrame_ = nullptr;
    QToolButton* btTClose_ = nullptr;
    QToolButton* btTToggleNodes_ = nullptr;
    QLabel* label5_ = nullptr;
    QComboBox* cbSrcPath_ = nullptr;
    QToolButton* btBrowseSrcPath_ = nullptr;
    QToolButton* btSrcPathUp_ = nullptr;
    QCheckBox* cbRecursiveSrc_ = nullptr;
    QLabel* label1_ = nullptr;
    QListWidget* lsSrcFiles_ = nullptr;
    QToolButton* btSrcPrev_ = nullptr;
    QToolButton* btSrcNext_ = nullptr;
    QLabel* label2_ = nullptr;
    TScriptMemo* mmModel_ = nullptr;
    TMenuSpeedButton* btOpenScript_ = nullptr;
    QMenu* pmOpenScript_ = nullptr;
    QLabel* lbScriptPath_ = nullptr;
    QPushButton* btCompile_ = nullptr;
    QComboBox* cbPhase_ = nullptr;
    QTabWidget* pageControl_ = nullptr;
    QWidget* welcomePage_ = nullptr;
    QTextBrowser* mmWelcome_ = nullptr;
    QWidget* errorPage_ = nullptr;
    TErrorMessageFrame* pnError_ = nullptr;
    QLabel* lbErrorPhase_ = nullptr;
    QLabel* lbErrorPlace_ = nullptr;
    QPushButton* btErrorRecompilePhase_ = nullptr;
    QWidget* treePage_ = nullptr;
    QTreeWidget* treeView_ = nullptr;
    QWidget* textPage_ = nullptr;
    QPlainTextEdit* mmDiffNeeded_ = nullptr;
    QPlainTextEdit* mmDiffGot_ = nullptr;
    QToolButton* btDiffOpen_ = nullptr;
    QToolButton* btToggleDiffHili_ = nullptr;
    QToolButton* btDiffSave_ = nullptr;
    QPushButton* btExtDiff_ = nullptr;
    QLineEdit* edDiffCmd_ = nullptr;
    QToolButton* btBrowseExtDiff_ = nullptr;
    QTimer* tmDiffHili_ = nullptr;
    TRunPage* runPage_ = nullptr;
    QTimer* tmSync_ = nullptr;
    QTimer* tmRefreshFiles_ = nullptr;
};

}  // namespace ts
