// TRunPage: the window's "Run" page. The memo's model runs over an input (a
// sample of the loaded script, a file, or text typed into the input pane)
// on a worker; the result tree and the input are linked both ways: a
// selected result node shows its start, inner and end spans in the input,
// and a click in the input selects the deepest node whose span holds it.
// FAIL and WARN reports and a failed run's farthest failure are listed. For
// a script with Tree sections, the samples board judges every sample as
// `tessarine test` does.
//
// Everything shown comes from the driver (TRunDriver, TModelRun, the tree
// form, TInputLines); the page only places it in widgets.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "debugger/driver/TsdbgRunDriver.h"
#include "debugger/window/TsdbgTreeView.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ts {

class TRunPage : public QWidget {
    Q_OBJECT
public:
    explicit TRunPage(QWidget* parent = nullptr);
    ~TRunPage() override;

    // The model text to run (the memo's), asked at each run.
    std::function<WideString()> ModelText;
    // Shows an expected and a produced tree side by side (a failed sample).
    std::function<void(const WideString& expected, const WideString& produced)> OnCompareTrees;

    // The loaded script, nil for a plain model: its samples fill the input
    // choice, its charset encodes typed input; with Tree sections its
    // samples are judged at once.
    void SetScript(std::shared_ptr<const TTsScript> script);
    // [F9]: runs the model over the chosen input (a running run is replaced).
    void StartRun();
    void StartSamples();
    // [Esc]: cancels the run and the samples without waiting.
    void Cancel();
    bool Working() const { return runs_.Working() || samples_.Working(); }

    // What is shown, for the window's tests.
    const TModelRun* LastRun() const { return run_.get(); }
    const std::vector<TSampleOutcome>& SampleOutcomes() const { return outcomes_; }
    const TNodeLinks& ResultLinks() const { return links_; }
    // Selects the deepest result node at a position of the input pane.
    void SelectAtInputPosition(int position);
    // The pane position of a byte offset of the last run's input.
    int PanePosition(int64_t byteOffset) const;

private:
    void CreateControls();
    void Guard(const std::function<void()>& handler);
    void OnSync();
    void ShowRun();
    void ShowSamples();
    void ChooseInput(int index);
    void OpenInputFile();
    void OnResultSelected();
    void OnInputCursor();
    void OnSampleActivated(QTreeWidgetItem* item);
    // Marks the node's spans (and the failure place) in the input pane.
    void MarkInput(const TTsTreeNode* node, bool scroll);
    void ScrollInputTo(int64_t byteOffset);
    void SetInputText(const WideString& text, std::optional<RawByteString> bytes);
    int32_t Codepage() const;
    void RefreshControls();

    TRunDriver runs_;
    TRunDriver samples_;
    std::unique_ptr<TModelRun> run_;
    TInputLines lines_;  // of run_'s input
    TNodeLinks links_;
    std::vector<TSampleOutcome> outcomes_;
    std::shared_ptr<const TTsScript> script_;
    std::vector<TSampleCase> cases_;
    // The exact bytes of an input from a sample or a file, while the pane
    // shows them unchanged; typed text is encoded in the script's charset.
    std::optional<RawByteString> inputBytes_;
    WideString inputLineBreak_;
    // The pane no longer shows the last run's input: links are off.
    bool inputStale_ = true;
    bool settingInput_ = false;
    bool selecting_ = false;

    QComboBox* cbRunInput_ = nullptr;
    QToolButton* btRunOpenInput_ = nullptr;
    QPushButton* btRun_ = nullptr;
    QLabel* lbRunState_ = nullptr;
    QPlainTextEdit* mmRunInput_ = nullptr;
    QTreeWidget* tvRunResult_ = nullptr;
    QListWidget* lsRunReports_ = nullptr;
    QLabel* lbRunExplain_ = nullptr;
    QWidget* pnSamples_ = nullptr;
    QPushButton* btRunSamples_ = nullptr;
    QTreeWidget* tvSamples_ = nullptr;
    QTimer* tmRunSync_ = nullptr;
};

}  // namespace ts
