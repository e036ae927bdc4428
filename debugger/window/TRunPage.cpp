#include "debugger/window/TRunPage.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "debugger/driver/TsdbgNames.h"
#include "debugger/widgets/TDialogs.h"
#include "debugger/window/QtText.h"
#include "library/script/TsScript.h"
#include "library/script/charset/Charsets.h"
#include "library/text/modellingreader/TsmReadExplain.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr int SyncInterval = 50;
constexpr int ReportOffsetRole = Qt::UserRole;
constexpr int SampleIndexRole = Qt::UserRole;
const QColor StartShade{204, 229, 255};
const QColor InnerShade{217, 242, 208};
const QColor EndShade{255, 228, 196};
const QColor FailureShade{255, 190, 190};
const QColor PassColour{0, 128, 0};
const QColor FailColour{192, 0, 0};

template <class W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QString SampleLabel(const WideString& title) {
    return title.empty() ? QStringLiteral("Sample (untitled)") : QStringLiteral("Sample: ") + ToQString(title);
}

WideString ErrorLine(const Exception& e) { return HumaniseName(e.ClassName()) + u": " + e.Message(); }

}  // namespace

TRunPage::TRunPage(QWidget* parent) : QWidget(parent) {
    setObjectName("RunPage");
    CreateControls();
    RefreshControls();
}

TRunPage::~TRunPage() {
    // The items point into the run's tree: they go first.
    tvRunResult_->clear();
}

void TRunPage::CreateControls() {
    auto* layout = new QVBoxLayout(this);
    auto* inputRow = new QHBoxLayout();
    inputRow->addWidget(new QLabel("Input:", this));
    cbRunInput_ = Named(new QComboBox(this), "cbRunInput");
    cbRunInput_->setToolTip("A sample of the loaded script, or the text of the input pane");
    inputRow->addWidget(cbRunInput_, 1);
    btRunOpenInput_ = Named(new QToolButton(this), "btRunOpenInput");
    btRunOpenInput_->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    btRunOpenInput_->setToolTip("Open an input file");
    inputRow->addWidget(btRunOpenInput_);
    btRun_ = Named(new QPushButton("Run", this), "btRun");
    btRun_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    btRun_->setToolTip("[F9] Compile the model fully and run it over the input");
    inputRow->addWidget(btRun_);
    layout->addLayout(inputRow);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    auto* panes = new QSplitter(Qt::Horizontal, splitter);
    mmRunInput_ = Named(new QPlainTextEdit(panes), "mmRunInput");
    mmRunInput_->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmRunInput_->setPlaceholderText("Type or paste the input here, or choose a sample or a file above");
    mmRunInput_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    tvRunResult_ = Named(new QTreeWidget(panes), "tvRunResult");
    tvRunResult_->setColumnCount(2);
    tvRunResult_->setHeaderLabels({"Node", "Text"});
    tvRunResult_->setUniformRowHeights(true);
    tvRunResult_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvRunResult_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    tvRunResult_->setColumnWidth(0, 160);
    panes->setStretchFactor(0, 1);
    panes->setStretchFactor(1, 1);

    auto* lower = new QWidget(splitter);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lbRunState_ = Named(new QLabel(lower), "lbRunState");
    lowerLayout->addWidget(lbRunState_);
    lbRunExplain_ = Named(new QLabel(lower), "lbRunExplain");
    lbRunExplain_->setWordWrap(true);
    lbRunExplain_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lowerLayout->addWidget(lbRunExplain_);
    lsRunReports_ = Named(new QListWidget(lower), "lsRunReports");
    lsRunReports_->setToolTip("Errors, FAIL and WARN reports of the run; click one to see its place");
    lowerLayout->addWidget(lsRunReports_, 1);
    pnSamples_ = Named(new QWidget(lower), "pnSamples");
    auto* samplesLayout = new QVBoxLayout(pnSamples_);
    samplesLayout->setContentsMargins(0, 0, 0, 0);
    auto* samplesRow = new QHBoxLayout();
    samplesRow->addWidget(new QLabel("Samples:", pnSamples_), 1);
    btRunSamples_ = Named(new QPushButton("Test samples", pnSamples_), "btRunSamples");
    btRunSamples_->setToolTip("Run every sample and compare it with its expected tree");
    samplesRow->addWidget(btRunSamples_);
    samplesLayout->addLayout(samplesRow);
    tvSamples_ = Named(new QTreeWidget(pnSamples_), "tvSamples");
    tvSamples_->setColumnCount(3);
    tvSamples_->setHeaderLabels({"Sample", "Result", "Time"});
    tvSamples_->setRootIsDecorated(false);
    tvSamples_->setToolTip("Double-click a failed sample to compare its trees on the text page");
    samplesLayout->addWidget(tvSamples_);
    lowerLayout->addWidget(pnSamples_, 1);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    tmRunSync_ = Named(new QTimer(this), "tmRunSync");
    tmRunSync_->setInterval(SyncInterval);

    connect(btRun_, &QPushButton::clicked, this, [this] { Guard([this] { StartRun(); }); });
    connect(btRunSamples_, &QPushButton::clicked, this, [this] { Guard([this] { StartSamples(); }); });
    connect(btRunOpenInput_, &QToolButton::clicked, this, [this] { Guard([this] { OpenInputFile(); }); });
    connect(cbRunInput_, &QComboBox::activated, this,
            [this](int index) { Guard([this, index] { ChooseInput(index); }); });
    connect(tmRunSync_, &QTimer::timeout, this, [this] { Guard([this] { OnSync(); }); });
    connect(tvRunResult_, &QTreeWidget::currentItemChanged, this, [this] { Guard([this] { OnResultSelected(); }); });
    connect(mmRunInput_, &QPlainTextEdit::cursorPositionChanged, this, [this] { Guard([this] { OnInputCursor(); }); });
    connect(mmRunInput_, &QPlainTextEdit::textChanged, this, [this] {
        if (settingInput_) return;
        // Typed text: the exact bytes and the run's links no longer apply.
        inputBytes_.reset();
        inputStale_ = true;
        cbRunInput_->setCurrentIndex(0);
        mmRunInput_->setExtraSelections({});
    });
    connect(lsRunReports_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const QVariant offset = item->data(ReportOffsetRole);
        if (offset.isValid()) ScrollInputTo(offset.toLongLong());
    });
    connect(tvSamples_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { Guard([this, item] { OnSampleActivated(item); }); });
}

void TRunPage::Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        Dialogs().Error(this, "Error", QString::fromUtf8(e.what()));
    }
}

// ---- Input

void TRunPage::SetScript(std::shared_ptr<const TTsScript> script) {
    samples_.Cancel();
    script_ = std::move(script);
    cases_ = script_ ? SampleCases(*script_) : std::vector<TSampleCase>{};
    outcomes_.clear();
    tvSamples_->clear();
    cbRunInput_->clear();
    cbRunInput_->addItem("Text of the input pane");
    for (const TSampleCase& c : cases_) cbRunInput_->addItem(SampleLabel(c.Title));
    // The first sample is the input to start with.
    if (!cases_.empty()) {
        cbRunInput_->setCurrentIndex(1);
        ChooseInput(1);
    }
    if (script_ && HasTreeSections(*script_)) StartSamples();
    RefreshControls();
}

int32_t TRunPage::Codepage() const { return script_ ? SampleModelOf(*script_, {}).Codepage : SystemCodepage; }

void TRunPage::SetInputText(const WideString& text, std::optional<RawByteString> bytes) {
    settingInput_ = true;
    mmRunInput_->setPlainText(ToQString(text));
    settingInput_ = false;
    inputBytes_ = std::move(bytes);
    inputStale_ = true;
    mmRunInput_->setExtraSelections({});
}

void TRunPage::ChooseInput(int index) {
    if (index < 1 || static_cast<size_t>(index) > cases_.size()) return;
    const TSampleCase& c = cases_[static_cast<size_t>(index - 1)];
    const TSampleModel model = SampleModelOf(*script_, {});
    // The input exactly as `tessarine test` runs it.
    WideString text = c.Text;
    if (!text.empty()) text += model.LineBreak;
    RawByteString bytes = WideToBytes(model.Codepage, text);
    SetInputText(text, std::move(bytes));
    inputLineBreak_ = model.LineBreak;
    cbRunInput_->setCurrentIndex(index);
}

void TRunPage::OpenInputFile() {
    const QString chosen = Dialogs().OpenFile(this, "Select an input file", QString(), "Any file (*)", QString());
    if (chosen.isEmpty()) return;
    TFileStreamW file(ToWide(chosen), TFileMode::fmOpenRead);
    RawByteString bytes = file.ReadToEnd();
    const int32_t cp = Codepage();
    const WideString text = cp == CpUtf8 ? Utf8ToWide(bytes) : BytesToWide(cp, bytes);
    SetInputText(text, std::move(bytes));
    inputLineBreak_.clear();  // detected from the file
    cbRunInput_->setCurrentIndex(0);
    lbRunState_->setText("Input: " + chosen);
}

// ---- Running

void TRunPage::StartRun() {
    const WideString model = ModelText ? ModelText() : WideString();
    if (TrimView(model).empty()) {
        lbRunState_->setText("Open or type in a model first");
        return;
    }
    TModelRunRequest request;
    request.ModelText = model;
    request.Codepage = Codepage();
    if (inputBytes_) {
        request.Input = *inputBytes_;
        request.LineBreak = inputLineBreak_;
    } else {
        // The pane's lines end in line feeds.
        request.Input = WideToBytes(request.Codepage, ToWide(mmRunInput_->toPlainText()));
        request.LineBreak = u"\n";
    }
    runs_.StartRun(std::move(request));
    lbRunState_->setText("Running...");
    tmRunSync_->start();
    RefreshControls();
}

void TRunPage::StartSamples() {
    if (!script_ || cases_.empty()) return;
    TSampleModel model = SampleModelOf(*script_, ModelText ? ModelText() : WideString());
    samples_.StartSamples(std::move(model), cases_);
    tvSamples_->clear();
    for (const TSampleCase& c : cases_) {
        auto* item = new QTreeWidgetItem(tvSamples_,
                                         {c.Title.empty() ? QStringLiteral("(untitled)") : ToQString(c.Title), "..."});
        item->setData(0, SampleIndexRole, static_cast<int>(tvSamples_->indexOfTopLevelItem(item)));
    }
    tmRunSync_->start();
    RefreshControls();
}

void TRunPage::Cancel() {
    if (!Working()) return;
    runs_.Cancel();
    samples_.Cancel();
    lbRunState_->setText("Cancelled");
    RefreshControls();
}

void TRunPage::OnSync() {
    switch (runs_.Sync()) {
        case TRunSyncAction::ShowRun:
            ShowRun();
            break;
        case TRunSyncAction::Cancelled:
            lbRunState_->setText("Cancelled");
            break;
        default:
            break;
    }
    if (samples_.Sync() == TRunSyncAction::ShowSamples) ShowSamples();
    if (!Working()) tmRunSync_->stop();
    RefreshControls();
}

void TRunPage::ShowRun() {
    // The items point into the old run's tree: they go before it.
    tvRunResult_->clear();
    links_.Clear();
    lsRunReports_->clear();
    lbRunExplain_->clear();
    run_ = std::move(runs_.Run);
    if (!run_) {
        lbRunState_->setText("The run ended abnormally");
        return;
    }
    lines_ = TInputLines(run_->Input(), run_->Codepage);
    inputStale_ = false;
    if (run_->ResultRoot()) FillResultTree(*tvRunResult_, *run_->Result, *run_->ResultRoot(), run_->Codepage, links_);

    auto place = [this](int64_t offset) {
        const TInputLines::TPlace p = lines_.PlaceOf(offset);
        return u"line " + IntToStr(p.Line + 1) + u", column " + IntToStr(p.Column + 1) + u": ";
    };
    auto report = [this](const WideString& text, int64_t offset, const QColor& colour) {
        auto* item = new QListWidgetItem(ToQString(text), lsRunReports_);
        item->setForeground(colour);
        if (offset >= 0) item->setData(ReportOffsetRole, static_cast<qlonglong>(offset));
    };
    if (run_->Error) {
        if (run_->ErrorStage == TRunStage::Model) {
            const WideString model = ModelText ? ModelText() : WideString();
            // In the author's words when the reader can say what it expected.
            const TTsmReadExplanation* why = ReadErrorExplanation(*run_->Error);
            const WideString text = why ? MemoOffsetText(model, why->Offset, u"model", 0, why->Text)
                                        : MemoErrorPlaceText(model, *run_->Error, u"model", 0, ErrorLine(*run_->Error));
            report(u"In the model: " + (text.empty() ? ErrorLine(*run_->Error) : TrimRight(text)), -1, FailColour);
        } else {
            report((run_->ErrorOffset >= 0 ? place(run_->ErrorOffset) : WideString()) + ErrorLine(*run_->Error),
                   run_->ErrorOffset, FailColour);
        }
    }
    for (const TRunReport& r : run_->Reports)
        report((r.Offset >= 0 ? place(r.Offset) : WideString()) + ErrorLine(*r.Error), r.Offset,
               r.IsWarning ? QColor(160, 110, 0) : FailColour);
    if (run_->FarthestOffset >= 0) {
        WideString text = u"Farthest failure at " + place(run_->FarthestOffset) + u"expected one of: " + run_->Expected;
        if (!run_->Chain.empty()) text += u"\nwhile modelling " + run_->Chain;
        lbRunExplain_->setText(ToQString(text));
        ScrollInputTo(run_->FarthestOffset);
    }

    QString state;
    if (run_->Cancelled())
        state = "Cancelled";
    else if (run_->ErrorStage == TRunStage::Model)
        state = "The model failed";
    else if (run_->Error)
        state = run_->Partial ? "The run failed; the tree is as far as it succeeded" : "The run failed";
    else if (run_->HasFailReports())
        state = "Finished with FAIL reports";
    else if (run_->HasInputLeft())
        state = "Finished with input left";
    else
        state = "Succeeded";
    lbRunState_->setText(state + QString(" (%1 result nodes)").arg(links_.Count()));
    MarkInput(nullptr, false);
}

void TRunPage::ShowSamples() {
    outcomes_ = std::move(samples_.Samples);
    tvSamples_->clear();
    for (size_t i = 0; i < outcomes_.size(); ++i) {
        const TSampleOutcome& o = outcomes_[i];
        const QString result = o.Passed ? QStringLiteral("pass") : QStringLiteral("fail: ") + ToQString(o.Failure);
        auto* item =
            new QTreeWidgetItem(tvSamples_, {o.Title.empty() ? QStringLiteral("(untitled)") : ToQString(o.Title),
                                             result, QString::number(o.Time.count() * 1000.0, 'f', 1) + " ms"});
        item->setForeground(1, o.Passed ? PassColour : FailColour);
        item->setData(0, SampleIndexRole, static_cast<int>(i));
    }
    tvSamples_->resizeColumnToContents(0);
}

void TRunPage::OnSampleActivated(QTreeWidgetItem* item) {
    if (!item) return;
    const auto index = static_cast<size_t>(item->data(0, SampleIndexRole).toInt());
    if (index >= outcomes_.size()) return;
    const TSampleOutcome& o = outcomes_[index];
    if (o.Passed) {
        // A passing sample is run here, to be looked at.
        ChooseInput(static_cast<int>(index) + 1);
        StartRun();
        return;
    }
    if (OnCompareTrees) OnCompareTrees(o.HasExpected ? o.Expected : WideString(), o.Produced);
}

// ---- Linking the tree and the input

int TRunPage::PanePosition(int64_t byteOffset) const {
    const TInputLines::TPlace p = lines_.PlaceOf(byteOffset);
    const QTextBlock block = mmRunInput_->document()->findBlockByNumber(p.Line);
    if (!block.isValid()) return mmRunInput_->document()->characterCount() - 1;
    return block.position() + std::min(p.Column, block.length() - 1);
}

void TRunPage::ScrollInputTo(int64_t byteOffset) {
    if (inputStale_) return;
    const int line = lines_.PlaceOf(byteOffset).Line;
    QScrollBar* bar = mmRunInput_->verticalScrollBar();
    // Lines are blocks (no wrapping); scroll only when the line is out of sight.
    const int shown = std::max(1, mmRunInput_->viewport()->height() / std::max(1, mmRunInput_->fontMetrics().height()));
    if (line < bar->value() || line >= bar->value() + shown) bar->setValue(std::max(0, line - shown / 3));
    QScrollBar* across = mmRunInput_->horizontalScrollBar();
    if (lines_.PlaceOf(byteOffset).Column < 20) across->setValue(0);
}

void TRunPage::MarkInput(const TTsTreeNode* node, bool scroll) {
    QList<QTextEdit::ExtraSelection> marks;
    if (!inputStale_ && run_) {
        auto mark = [&](int64_t from, int64_t length, const QColor& shade) {
            QTextEdit::ExtraSelection s;
            s.cursor = QTextCursor(mmRunInput_->document());
            s.cursor.setPosition(PanePosition(from));
            s.cursor.setPosition(PanePosition(from + std::max<int64_t>(length, 1)), QTextCursor::KeepAnchor);
            s.format.setBackground(shade);
            marks.push_back(s);
        };
        if (run_->FarthestOffset >= 0) mark(run_->FarthestOffset, 1, FailureShade);
        if (node) {
            // Inner under start and end: a leaf's start span holds its inner one.
            const std::pair<std::u16string_view, QColor> spans[] = {
                {TsmInnerGlobalProp, InnerShade}, {TsmStartGlobalProp, StartShade}, {TsmEndGlobalProp, EndShade}};
            for (const auto& [prop, shade] : spans)
                if (std::optional<TByteSpan> span = NodeSpan(*node, prop); span && span->Length > 0)
                    mark(span->Offset, span->Length, shade);
            if (scroll)
                if (std::optional<TByteSpan> start = NodeSpan(*node, TsmStartGlobalProp)) ScrollInputTo(start->Offset);
        }
    }
    mmRunInput_->setExtraSelections(marks);
}

void TRunPage::OnResultSelected() { MarkInput(ItemNode(tvRunResult_->currentItem()), !selecting_); }

void TRunPage::SelectAtInputPosition(int position) {
    if (inputStale_ || !run_ || !run_->ResultRoot()) return;
    const QTextBlock block = mmRunInput_->document()->findBlock(position);
    const int64_t offset = lines_.OffsetOf({block.blockNumber(), position - block.position()});
    const TTsTreeNode* node = DeepestNodeAt(*run_->ResultRoot(), offset);
    QTreeWidgetItem* item = node ? links_.ItemOf(node) : nullptr;
    if (!item) return;
    selecting_ = true;
    tvRunResult_->setCurrentItem(item);
    tvRunResult_->scrollToItem(item);
    selecting_ = false;
}

void TRunPage::OnInputCursor() {
    if (settingInput_) return;
    SelectAtInputPosition(mmRunInput_->textCursor().position());
}

void TRunPage::RefreshControls() {
    const bool samples = script_ && HasTreeSections(*script_);
    pnSamples_->setVisible(samples);
    btRunSamples_->setEnabled(samples && !samples_.Working());
    cbRunInput_->setEnabled(!cases_.empty());
}

}  // namespace ts
