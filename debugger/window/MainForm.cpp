#include "debugger/window/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "debugger/driver/TsdbgCommandLine.h"
#include "debugger/driver/TsdbgCompiler.h"
#include "debugger/driver/TsdbgDiff.h"
#include "debugger/driver/TsdbgLineDiff.h"
#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgSources.h"
#include "debugger/widgets/TAppTopFrame.h"
#include "debugger/widgets/TDialogs.h"
#include "debugger/widgets/TErrorMessageFrame.h"
#include "debugger/widgets/TMenuSpeedButton.h"
#include "debugger/widgets/TScriptMemo.h"
#include "debugger/window/QtText.h"
#include "debugger/window/TRunPage.h"
#include "support/Exception.h"
#include "support/Resources.h"
#include "support/Strings.h"

namespace ts {

namespace {

constexpr int SyncInterval = 50;
constexpr int RefreshFilesInterval = 50;
constexpr int DiffHighlightPause = 300;
constexpr std::u16string_view DumpFilter = u"Text files (*.txt)|*.txt|Any file|*.*";
// Programs here seldom have an extension: the first filter takes files without one too.
constexpr std::u16string_view ProgramFilter = u"Program executable (*.exe)|*.exe;*|Any file|*.*";
constexpr std::u16string_view ExpectedDumpHint = u"Expected tree dump to compare against. Editable";
const QColor DiffMark{255, 228, 170};
constexpr std::u16string_view SourceFilter =
    u"Tessarine script (*.tsn)|*.tsn|Bare text model (*.txt)|*.txt|All files|*.*";

// The hint shows as a tool tip and, while the pointer is over the control, on
// the status line.
template <class W>
W* Hinted(W* widget, const QString& hint) {
    widget->setToolTip(hint);
    widget->setStatusTip(hint);
    return widget;
}

template <class W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* BoldLabel(const QString& text, const char* name) {
    auto* label = Named(new QLabel(text), name);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// Trimmed of blanks and control characters, as the memo's emptiness is judged.
bool HasModelText(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 32; });
}

WideString CurrentDirectory() {
    std::error_code ec;
    std::string dir = std::filesystem::current_path(ec).string();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return Utf8ToWide(dir);
}

WideString FullPath(const WideString& path) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(FileNameToPath(path), ec);
    return ec ? path : Utf8ToWide(full.lexically_normal().string());
}

bool IsTextEditor(const QWidget* widget) {
    if (auto* line = qobject_cast<const QLineEdit*>(widget)) return !line->isReadOnly();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) return !plain->isReadOnly();
    if (auto* rich = qobject_cast<const QTextEdit*>(widget)) return !rich->isReadOnly();
    return false;
}

}  // namespace

TMainForm::TMainForm(std::vector<WideString> arguments, QWidget* parent)
    : QMainWindow(parent), location_(std::make_unique<TSourcesLocation>()), arguments_(std::move(arguments)) {
    SetDiffTempDir({});
    // A fixed-size tool window: no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(ToQString(ApplicationTitle));
    CreateControls();
    ConnectEvents();
    Start();
}

TMainForm::~TMainForm() {
    // The tree's items point into the result tree: drop them before the driver frees it.
    treeView_->clear();
    links_.Clear();
}

void TMainForm::CreateControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(4, 4, 4, 0);

    // Header: the product frame, then the toggle and close buttons.
    auto* header = new QHBoxLayout();
    appTopFrame_ = Named(new TAppTopFrame(central), "AppTopFrame1");
    header->addWidget(appTopFrame_, 1);
    btTToggleNodes_ = Hinted(Named(new QToolButton(central), "btTToggleNodes"), "[X] Expand/collapse nodes");
    btTToggleNodes_->setCheckable(true);
    btTToggleNodes_->setText("Nodes");
    btTToggleNodes_->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    btTToggleNodes_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    btTClose_ = Hinted(Named(new QToolButton(central), "btTClose"), "[Esc] Close / Cancel");
    btTClose_->setText("Close");
    btTClose_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    btTClose_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    header->addWidget(btTToggleNodes_);
    header->addWidget(btTClose_);
    outer->addLayout(header);

    auto* splitter = new QSplitter(Qt::Horizontal, central);
    outer->addWidget(splitter, 1);

    // Left: the sources and the model.
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    label5_ = BoldLabel("Directory with scripts and/or models:", "Label5");
    leftLayout->addWidget(label5_);
    auto* pathRow = new QHBoxLayout();
    cbSrcPath_ = Named(new QComboBox(left), "cbSrcPath");
    cbSrcPath_->setEditable(true);
    cbSrcPath_->setInsertPolicy(QComboBox::NoInsert);
    cbSrcPath_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbSrcPath_->setMinimumContentsLength(10);
    btBrowseSrcPath_ = Named(new QToolButton(left), "btBrowseSrcPath");
    btBrowseSrcPath_->setText("...");
    btSrcPathUp_ = Hinted(Named(new QToolButton(left), "btSrcPathUp"), "Parent directory");
    btSrcPathUp_->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    pathRow->addWidget(cbSrcPath_, 1);
    pathRow->addWidget(btBrowseSrcPath_);
    pathRow->addWidget(btSrcPathUp_);
    leftLayout->addLayout(pathRow);
    cbRecursiveSrc_ = Named(new QCheckBox("Recursive (find all files below as well)", left), "cbRecursiveSrc");
    leftLayout->addWidget(cbRecursiveSrc_);
    auto* filesRow = new QHBoxLayout();
    label1_ = Named(new QLabel("Files here, double-click to load:", left), "Label1");
    btSrcPrev_ = Hinted(Named(new QToolButton(left), "btSrcPrev"), "[PgUp] Previous file");
    btSrcPrev_->setArrowType(Qt::UpArrow);
    btSrcNext_ = Hinted(Named(new QToolButton(left), "btSrcNext"), "[PgDown] Next file");
    btSrcNext_->setArrowType(Qt::DownArrow);
    filesRow->addWidget(label1_, 1);
    filesRow->addWidget(btSrcPrev_);
    filesRow->addWidget(btSrcNext_);
    leftLayout->addLayout(filesRow);
    lsSrcFiles_ = Hinted(Named(new QListWidget(left), "lsSrcFiles"), "Click to load, right-click to load & compile.");
    lsSrcFiles_->setSortingEnabled(true);
    lsSrcFiles_->setUniformItemSizes(true);
    lsSrcFiles_->setStyleSheet("QListWidget::item { height: 16px; }");
    leftLayout->addWidget(lsSrcFiles_, 2);

    label2_ = BoldLabel("Tessarine script or just plain model to debug:", "Label2");
    leftLayout->addWidget(label2_);
    mmModel_ = Named(new TScriptMemo(left), "mmModel");
    leftLayout->addWidget(mmModel_, 3);
    auto* scriptRow = new QHBoxLayout();
    btOpenScript_ = Hinted(Named(new TMenuSpeedButton(left), "btOpenScript"), "[O] [Ctrl+O]");
    btOpenScript_->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    btOpenScript_->setText("Open");
    btOpenScript_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    pmOpenScript_ = Named(new QMenu(this), "pmOpenScript");
    pmOpenScript_->setToolTipsVisible(true);
    QAction* readIntoMemo = pmOpenScript_->addAction("Read model into the memo");
    readIntoMemo->setObjectName("miReadModel");
    readIntoMemo->setToolTip("[Ctrl+Shift+O]");
    readIntoMemo->setStatusTip("[Ctrl+Shift+O]");
    QAction* readAndCompile = pmOpenScript_->addAction("Read && compile");
    readAndCompile->setObjectName("miReadAndCompile");
    readAndCompile->setToolTip("[O] [Ctrl+O]");
    readAndCompile->setStatusTip("[O] [Ctrl+O]");
    pmOpenScript_->setDefaultAction(readIntoMemo);
    btOpenScript_->SetPopupMenuAlt(pmOpenScript_);
    connect(readIntoMemo, &QAction::triggered, this, [this] { Guard([this] { OpenScript(false); }); });
    connect(readAndCompile, &QAction::triggered, this, [this] { Guard([this] { OpenScript(true); }); });
    lbScriptPath_ = Named(new QLabel(left), "lbScriptPath");
    lbScriptPath_->setTextFormat(Qt::PlainText);
    lbScriptPath_->setMinimumWidth(40);
    lbScriptPath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    scriptRow->addWidget(btOpenScript_);
    scriptRow->addWidget(lbScriptPath_, 1);
    leftLayout->addLayout(scriptRow);
    auto* compileRow = new QHBoxLayout();
    cbPhase_ = Named(new QComboBox(left), "cbPhase");
    for (std::u16string_view name : PhaseNames) cbPhase_->addItem(ToQString(name));
    btCompile_ = Named(new QPushButton("Compile", left), "btCompile");
    btCompile_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    compileRow->addWidget(cbPhase_, 1);
    compileRow->addWidget(btCompile_);
    leftLayout->addLayout(compileRow);

    // Right: the pages.
    pageControl_ = Named(new QTabWidget(splitter), "PageControl");
    pageControl_->setUsesScrollButtons(false);
    welcomePage_ = Named(new QWidget(), "WelcomePage");
    auto* welcomeLayout = new QVBoxLayout(welcomePage_);
    mmWelcome_ = Named(new QTextBrowser(welcomePage_), "mmWelcome");
    mmWelcome_->setOpenLinks(false);
    welcomeLayout->addWidget(mmWelcome_);
    pageControl_->addTab(welcomePage_, style()->standardIcon(QStyle::SP_MessageBoxInformation), "Welcome");

    errorPage_ = Named(new QWidget(), "ErrorPage");
    auto* errorLayout = new QVBoxLayout(errorPage_);
    pnError_ = Named(new TErrorMessageFrame(errorPage_), "pnError");
    errorLayout->addWidget(pnError_, 1);
    // Where the error lies in the memo: the line and a caret under the column.
    lbErrorPlace_ = Named(new QLabel(errorPage_), "lbErrorPlace");
    lbErrorPlace_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lbErrorPlace_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbErrorPlace_->setTextFormat(Qt::PlainText);
    errorLayout->addWidget(lbErrorPlace_);
    auto* phaseRow = new QHBoxLayout();
    phaseRow->addWidget(Named(new QLabel("Error phase:", errorPage_), "Label3"));
    lbErrorPhase_ = Named(new QLabel("-", errorPage_), "lbErrorPhase");
    QFont phaseFont = lbErrorPhase_->font();
    phaseFont.setBold(true);
    lbErrorPhase_->setFont(phaseFont);
    phaseRow->addWidget(lbErrorPhase_, 1);
    btErrorRecompilePhase_ =
        Hinted(Named(new QPushButton("Recompile", errorPage_), "btErrorRecompilePhase"), "Recompile until this phase");
    phaseRow->addWidget(btErrorRecompilePhase_);
    errorLayout->addLayout(phaseRow);
    pageControl_->addTab(errorPage_, style()->standardIcon(QStyle::SP_MessageBoxCritical), "Error");

    treePage_ = Named(new QWidget(), "TreePage");
    auto* treeLayout = new QVBoxLayout(treePage_);
    treeView_ = Named(new QTreeWidget(treePage_), "TreeView");
    treeView_->setHeaderHidden(true);
    treeView_->setColumnCount(1);
    treeView_->setIndentation(19);
    treeView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeView_->setExpandsOnDoubleClick(false);
    // Every line is one text row: the view need not measure each.
    treeView_->setUniformRowHeights(true);
    treeLayout->addWidget(treeView_);
    pageControl_->addTab(treePage_, style()->standardIcon(QStyle::SP_DirIcon), "Tree");

    textPage_ = CreateTextPage();
    pageControl_->addTab(textPage_, style()->standardIcon(QStyle::SP_FileIcon), "Text");

    // Our own page beside the design's: the model run over sample input.
    runPage_ = new TRunPage();
    pageControl_->addTab(runPage_, style()->standardIcon(QStyle::SP_MediaSeekForward), "Run");

    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({300, 400});

    statusBar()->setObjectName("StatusBar");
    statusBar()->setSizeGripEnabled(false);

    tmSync_ = Named(new QTimer(this), "tmSync");
    tmSync_->setInterval(SyncInterval);
    tmRefreshFiles_ = Named(new QTimer(this), "tmRefreshFiles");
    tmRefreshFiles_->setInterval(RefreshFilesInterval);
    tmRefreshFiles_->setSingleShot(true);

    // About 700 by 603 of client area, centred on the screen.
    resize(700, 603);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TMainForm::ConnectEvents() {
    connect(tmSync_, &QTimer::timeout, this, [this] { Guard([this] { OnSync(); }); });
    connect(tmRefreshFiles_, &QTimer::timeout, this, [this] { Guard([this] { OnRefreshFilesTimer(); }); });
    connect(btTClose_, &QToolButton::clicked, this, [this] { Guard([this] { StopWorker(); }); });
    connect(btTToggleNodes_, &QToolButton::clicked, this, [this] { Guard([this] { OnToggleNodes(); }); });
    connect(btCompile_, &QPushButton::clicked, this,
            [this] { Guard([this] { StartCompile(cbPhase_->currentIndex()); }); });
    connect(btErrorRecompilePhase_, &QPushButton::clicked, this, [this] { Guard([this] { OnRecompile(); }); });
    connect(btOpenScript_, &QToolButton::clicked, this, [this] { Guard([this] { OpenScript(false); }); });
    connect(mmModel_, &QPlainTextEdit::textChanged, this, [this] { UpdateScriptLabel(); });
    connect(treeView_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { Guard([this, item] { OnTreeDoubleClick(item); }); });

    connect(cbSrcPath_->lineEdit(), &QLineEdit::textEdited, this, [this] {
        comboItemSelected_ = false;
        Guard([this] { RefreshSourceList(false); });
    });
    connect(cbSrcPath_, &QComboBox::activated, this,
            [this](int index) { Guard([this, index] { OnSrcPathSelected(index); }); });
    cbSrcPath_->installEventFilter(this);
    cbSrcPath_->lineEdit()->installEventFilter(this);
    connect(btBrowseSrcPath_, &QToolButton::clicked, this, [this] { Guard([this] { OnBrowseSrcPath(); }); });
    connect(btSrcPathUp_, &QToolButton::clicked, this, [this] { Guard([this] { OnSrcPathUp(); }); });
    connect(cbRecursiveSrc_, &QCheckBox::clicked, this, [this](bool on) {
        Guard([this, on] {
            location_->SetRecursive(on);
            RefreshSourceList(false);
        });
    });
    connect(lsSrcFiles_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { Guard([this, item] { LoadListedFile(item); }); });
    connect(lsSrcFiles_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Guard([this, item] { LoadListedFile(item); }); });
    lsSrcFiles_->viewport()->installEventFilter(this);
    connect(btSrcPrev_, &QToolButton::clicked, this, [this] { Guard([this] { StepFile(-1); }); });
    connect(btSrcNext_, &QToolButton::clicked, this, [this] { Guard([this] { StepFile(+1); }); });

    // Shortcuts that never fight editing work everywhere in the window.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        Guard([this] {
            StopWorker();
            runPage_->Cancel();
        });
    });
    auto* run = new QShortcut(QKeySequence(Qt::Key_F9), this);
    connect(run, &QShortcut::activated, this, [this] { Guard([this] { StartRun(); }); });
    runPage_->ModelText = [this] { return ToWide(mmModel_->toPlainText()); };
    runPage_->OnCompareTrees = [this](const WideString& expected, const WideString& produced) {
        CompareTrees(expected, produced);
    };
    auto* readCompile = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    connect(readCompile, &QShortcut::activated, this, [this] { Guard([this] { OpenScript(true); }); });
    auto* readMemo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), this);
    connect(readMemo, &QShortcut::activated, this, [this] { Guard([this] { OpenScript(false); }); });
    qApp->installEventFilter(this);
}

void TMainForm::Start() {
    startDirectory_ = CurrentDirectory();
    if (const TEmbeddedResource* welcome = FindResource(u"welcome"))
        mmWelcome_->setHtml(QString::fromUtf8(welcome->Data.data(), static_cast<qsizetype>(welcome->Data.size())));
    cbPhase_->setCurrentIndex(phFullCompilation);
    edDiffCmd_->setText(ToQString(DetectDiffCommand()));
    SetComboText(startDirectory_);
    if (cbPhase_->count() != PhaseCount) throw Exception(u"cbPhase must contain exactly one item per each TPhase.");
    RefreshControls();
    Guard([this] { RefreshSourceList(true); });
    tmSync_->start();
    ShowStatus(u"Welcome to Tessarine!");
}

void TMainForm::Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const Exception& error) {
        Dialogs().Error(this, ToQString(ApplicationTitle), ToQString(error.Message()));
    } catch (const std::exception& error) {
        Dialogs().Error(this, ToQString(ApplicationTitle), QString::fromUtf8(error.what()));
    }
}

void TMainForm::ShowStatus(const WideString& text) { statusBar()->showMessage(ToQString(text)); }

// ---- Showing the window and the command line

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (argumentsApplied_) return;
    argumentsApplied_ = true;
    Guard([this] { ApplyArguments(); });
}

void TMainForm::ApplyArguments() {
    if (arguments_.empty()) return;
    bool runNow = false;
    if (arguments_.size() >= 2 && !arguments_[1].empty()) {
        const TPhaseArgument phase = ParsePhaseArgument(arguments_[1]);
        runNow = phase.RunNow;
        if (phase.Index) cbPhase_->setCurrentIndex(*phase.Index);
    }
    const WideString& source = arguments_[0];
    if (IsSourceMask(source)) {
        SetComboText(source);
        RefreshSourceList(true);
        return;
    }
    LoadSource(source);
    if (runNow) StartCompile(cbPhase_->currentIndex());
}

void TMainForm::closeEvent(QCloseEvent* event) {
    Guard([this] { StopWorker(); });
    event->accept();
}

// ---- Keys

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this && QApplication::activePopupWidget() == nullptr) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::NoModifier && !IsTextEditor(QApplication::focusWidget()) &&
            !IsTextEditor(static_cast<QWidget*>(watched)) && HandleBareKey(key->key()))
            return true;
    }
    if (watched == lsSrcFiles_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        Guard([this, mouse] { OnListMouseUp(mouse->button(), mouse->position().toPoint()); });
        return mouse->button() == Qt::RightButton;
    }
    if ((watched == cbSrcPath_ || watched == cbSrcPath_->lineEdit()) && event->type() == QEvent::FocusOut &&
        !ComboHasFocus()) {
        // Leaving the combo applies what was typed or chosen.
        Guard([this] { RefreshSourceList(false); });
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::HandleBareKey(int key) {
    switch (key) {
        case Qt::Key_X:
            if (!btTToggleNodes_->isEnabled()) return false;
            btTToggleNodes_->click();
            return true;
        case Qt::Key_O:
            if (!btOpenScript_->isEnabled()) return false;
            Guard([this] { OpenScript(true); });
            return true;
        case Qt::Key_PageUp:
            btSrcPrev_->click();
            return true;
        case Qt::Key_PageDown:
            btSrcNext_->click();
            return true;
        default:
            return false;
    }
}

// ---- Loading and compiling

void TMainForm::LoadSource(const WideString& path) {
    fileLoaded_ = true;
    scriptPath_ = FullPath(path);
    isPlainModel_ = true;
    const TLoadedSource source = ts::LoadSource(scriptPath_);
    isPlainModel_ = source.IsPlainModel;
    // The memo keeps its lines as paragraphs; the text's CR LF breaks are theirs.
    mmModel_->setPlainText(ToQString(source.Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    mmModel_->document()->setModified(false);
    runPage_->SetScript(source.Script);
    RefreshControls();
}

void TMainForm::StartRun() {
    pageControl_->setCurrentWidget(runPage_);
    runPage_->StartRun();
}

void TMainForm::CompareTrees(const WideString& expected, const WideString& produced) {
    mmDiffNeeded_->setPlainText(ToQString(expected));
    mmDiffGot_->setPlainText(ToQString(produced));
    treesCompared_ = true;
    RefreshControls();
    HighlightDiff();
    pageControl_->setCurrentWidget(textPage_);
}

void TMainForm::OpenScript(bool compile) {
    if (!btOpenScript_->isEnabled()) return;
    // The dialog starts at the loaded file, or in the start directory.
    WideString dir(DirectoryPart(scriptPath_));
    if (dir.empty()) dir = startDirectory_;
    const QString chosen = Dialogs().OpenFile(this, "Select a Tessarine script or text model", ToQString(dir),
                                              QtFilter(SourceFilter), ToQString(scriptPath_));
    if (chosen.isEmpty()) return;
    LoadSource(ToWide(chosen));
    if (compile) StartCompile(cbPhase_->currentIndex());
}

void TMainForm::StartCompile(int index) {
    // An unselected phase list gives 255, which the driver refuses.
    driver_.StartCompile(ToWide(mmModel_->toPlainText()), static_cast<uint8_t>(index));
    treeView_->clear();
    links_.Clear();
    RefreshControls();
    ShowStatus(u"Working...");
}

void TMainForm::StopWorker() {
    driver_.StopWorker();
    // The view's items point into the freed result tree.
    treeView_->clear();
    links_.Clear();
    RefreshControls();
}

void TMainForm::OnSync() {
    tmSync_->stop();
    const TSyncOutcome outcome = driver_.Sync();
    switch (outcome.Action) {
        case TSyncAction::ShowResult:
            RefreshControls();
            ShowResult();
            break;
        case TSyncAction::ShowError:
            ShowError();
            break;
        case TSyncAction::Idle:
            RefreshControls();
            if (!outcome.Status.empty()) ShowStatus(outcome.Status);
            break;
        case TSyncAction::None:
            break;
    }
    tmSync_->start();
}

void TMainForm::ShowResult() {
    const std::vector<TTreeLine> lines = RenderTree(*driver_.ResultTree);
    FillTreeView(*treeView_, lines, links_);
    mmDiffGot_->setPlainText(ToQString(LinesToText(lines)));
    HighlightDiff();
    btTToggleNodes_->setChecked(true);
    pageControl_->setCurrentWidget(treePage_);
}

void TMainForm::ShowError() {
    pnError_->ShowError(ToQString(HumaniseName(driver_.ErrorClass)), ToQString(driver_.ErrorMessage));
    recompileIndex_.reset();
    const int phase = driver_.ErrorPhase();
    if (driver_.Compiler && phase >= 0 && phase < cbPhase_->count()) {
        lbErrorPhase_->setText(cbPhase_->itemText(phase));
        recompileIndex_ = driver_.RecompileIndex();
    } else {
        lbErrorPhase_->setText("-");
    }
    btErrorRecompilePhase_->setEnabled(recompileIndex_.has_value());
    const WideString place = driver_.ErrorPlaceText();
    lbErrorPlace_->setText(ToQString(place));
    lbErrorPlace_->setVisible(!place.empty());
    // The memo's caret goes to the place, when the memo still holds the text.
    if (const std::optional<TTsTextLocation> where = driver_.ErrorPlace();
        where && ToWide(mmModel_->toPlainText()) == driver_.Source) {
        const QTextBlock block = mmModel_->document()->findBlockByNumber(where->Line - 1);
        if (block.isValid()) {
            QTextCursor cursor(block);
            cursor.setPosition(block.position() + std::min(where->Column - 1, block.length() - 1));
            mmModel_->setTextCursor(cursor);
        }
    }
    driver_.ErrorShown = true;
    RefreshControls();
    pageControl_->setCurrentWidget(errorPage_);
}

void TMainForm::OnRecompile() {
    if (driver_.Compiler && recompileIndex_) StartCompile(*recompileIndex_);
}

void TMainForm::OnToggleNodes() { ToggleTreeNodes(*treeView_, btTToggleNodes_->isChecked()); }

void TMainForm::OnTreeDoubleClick(QTreeWidgetItem* item) {
    if (item && driver_.ResultTree) JumpToReferencedNode(*treeView_, *item, *driver_.ResultTree, links_);
}

// ---- The state of the controls

void TMainForm::RefreshControls() {
    const bool working = driver_.Working;
    btTClose_->setEnabled(working || driver_.HasResult || driver_.ErrorShown);
    btTToggleNodes_->setEnabled(driver_.HasResult);
    btSrcPathUp_->setEnabled(location_->CanGoUp());
    cbRecursiveSrc_->setChecked(location_->Recursive());
    lsSrcFiles_->setEnabled(!working);
    const int row = lsSrcFiles_->currentRow();
    btSrcPrev_->setEnabled(lsSrcFiles_->isEnabled() && row > 0);
    btSrcNext_->setEnabled(lsSrcFiles_->isEnabled() && row < lsSrcFiles_->count() - 1);
    UpdateScriptLabel();
    btOpenScript_->setEnabled(!working);
    cbPhase_->setEnabled(!working);
    btExtDiff_->setEnabled(DiffProgramExists(ToWide(edDiffCmd_->text())));
    const int treeIndex = pageControl_->indexOf(treePage_);
    const int textIndex = pageControl_->indexOf(textPage_);
    const int errorIndex = pageControl_->indexOf(errorPage_);
    pageControl_->setTabVisible(treeIndex, driver_.HasResult);
    pageControl_->setTabVisible(textIndex, driver_.HasResult || treesCompared_);
    pageControl_->setTabVisible(errorIndex, !driver_.ErrorClass.empty());
    pageControl_->setTabText(errorIndex, driver_.ErrorShown ? "Error" : "Last error");
    statusBar()->clearMessage();
}

void TMainForm::UpdateScriptLabel() {
    const bool working = driver_.Working;
    mmModel_->setEnabled(!working);
    const bool hasText = HasModelText(mmModel_->toPlainText());
    QFont font = lbScriptPath_->font();
    font.setBold(false);
    if (hasText && mmModel_->document()->isModified()) {
        lbScriptPath_->setText("(open to replace the contents above)");
    } else if (!scriptPath_.empty()) {
        lbScriptPath_->setText(ToQString(scriptPath_));
    } else {
        lbScriptPath_->setText("Open or type in a model above");
        font.setBold(true);
    }
    lbScriptPath_->setFont(font);
    lbScriptPath_->setToolTip(lbScriptPath_->text());
    btCompile_->setEnabled(!working && hasText);
}

// ---- Source browsing

bool TMainForm::ComboHasFocus() const {
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == cbSrcPath_ || cbSrcPath_->isAncestorOf(focus));
}

void TMainForm::SetComboText(const WideString& text) {
    comboItemSelected_ = false;
    cbSrcPath_->setEditText(ToQString(text));
}

void TMainForm::RefreshSourceList(bool force) {
    TSourceListRequest request;
    request.Force = force;
    request.ComboItemSelected = comboItemSelected_;
    request.ComboHasFocus = ComboHasFocus();
    request.ComboText = ToWide(cbSrcPath_->currentText());
    request.LoadedPath = scriptPath_;
    const TSourceListView view = location_->RefreshSourceList(request);
    if (view.ReplaceCombo) {
        QStringList subdirs;
        for (const WideString& dir : view.Subdirs) subdirs.push_back(ToQString(dir));
        subdirs.sort(Qt::CaseInsensitive);
        const QSignalBlocker block(cbSrcPath_);
        cbSrcPath_->clear();
        cbSrcPath_->addItems(subdirs);
        cbSrcPath_->setCurrentIndex(-1);
        SetComboText(view.ComboText);
    }
    {
        const QSignalBlocker block(lsSrcFiles_);
        lsSrcFiles_->clear();
        for (const WideString& file : view.Files) lsSrcFiles_->addItem(ToQString(file));
        if (view.SelectedFile) {
            const QList<QListWidgetItem*> found =
                lsSrcFiles_->findItems(ToQString(*view.SelectedFile), Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (!found.isEmpty()) lsSrcFiles_->setCurrentItem(found.front());
        }
    }
    RefreshControls();
}

void TMainForm::OnSrcPathSelected(int index) {
    if (index < 0) return;
    comboItemSelected_ = true;
    location_->SelectSubdir(ToWide(cbSrcPath_->itemText(index)));
    tmRefreshFiles_->start();
}

void TMainForm::OnRefreshFilesTimer() {
    tmRefreshFiles_->stop();
    if (!ComboHasFocus())
        RefreshSourceList(false);
    else
        cbRecursiveSrc_->setFocus();  // leaving the combo refreshes the list
}

void TMainForm::OnSrcPathUp() {
    location_->GoUp();
    SetComboText(location_->Mask());
    if (ComboHasFocus())
        cbRecursiveSrc_->setFocus();
    else
        RefreshSourceList(false);
}

void TMainForm::OnBrowseSrcPath() {
    const WideString start(DirectoryPart(ToWide(cbSrcPath_->currentText())));
    const QString chosen = Dialogs().BrowseFolder(this, "Directory with scripts and/or models", ToQString(start));
    if (chosen.isEmpty()) return;
    SetComboText(ToWide(chosen));
    RefreshSourceList(false);
}

void TMainForm::LoadListedFile(const QListWidgetItem* item) {
    if (!item || !item->isSelected()) return;
    LoadSource(location_->Directory() + ToWide(item->text()));
}

void TMainForm::OnListMouseUp(Qt::MouseButton button, const QPoint& pos) {
    QListWidgetItem* item = lsSrcFiles_->itemAt(pos);
    if (!item) {
        lsSrcFiles_->clearSelection();
        lsSrcFiles_->setCurrentRow(-1);
        RefreshControls();
        return;
    }
    lsSrcFiles_->setCurrentItem(item);
    if (button != Qt::RightButton) return;
    LoadListedFile(item);
    StartCompile(cbPhase_->currentIndex());
}

void TMainForm::StepFile(int delta) {
    RefreshControls();
    const QToolButton* button = delta < 0 ? btSrcPrev_ : btSrcNext_;
    if (!button->isEnabled()) return;
    lsSrcFiles_->setCurrentRow(lsSrcFiles_->currentRow() + delta);
    LoadListedFile(lsSrcFiles_->currentItem());
}

// ---- The text page: the expected and the produced dump, and the external diff

QWidget* TMainForm::CreateTextPage() {
    auto* page = Named(new QWidget(), "TextPage");
    auto* layout = new QVBoxLayout(page);
    auto* top = new QHBoxLayout();
    btDiffOpen_ = Named(new QToolButton(page), "btDiffOpen");
    btDiffOpen_->setText("Open...");
    btDiffOpen_->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    btDiffOpen_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btToggleDiffHili_ = Named(new QToolButton(page), "btToggleDiffHili");
    btToggleDiffHili_->setText("Highlight");
    btToggleDiffHili_->setCheckable(true);
    btToggleDiffHili_->setChecked(true);
    btDiffSave_ = Named(new QToolButton(page), "btDiffSave");
    btDiffSave_->setText("Save...");
    btDiffSave_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    btDiffSave_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    top->addWidget(btDiffOpen_);
    top->addStretch(1);
    top->addWidget(btToggleDiffHili_);
    top->addStretch(1);
    top->addWidget(btDiffSave_);
    layout->addLayout(top);

    auto* panes = new QSplitter(Qt::Horizontal, page);
    mmDiffNeeded_ = Hinted(Named(new QPlainTextEdit(panes), "mmDiffNeeded"), ToQString(ExpectedDumpHint));
    mmDiffGot_ = Named(new QPlainTextEdit(panes), "mmDiffGot");
    mmDiffGot_->setReadOnly(true);
    for (QPlainTextEdit* pane : {mmDiffNeeded_, mmDiffGot_}) {
        pane->setLineWrapMode(QPlainTextEdit::NoWrap);
        pane->setFont(mmModel_->font());
    }
    layout->addWidget(panes, 1);

    auto* bottom = new QHBoxLayout();
    btExtDiff_ = Named(new QPushButton("External diff:", page), "btExtDiff");
    edDiffCmd_ = Hinted(Named(new QLineEdit(page), "edDiffCmd"),
                        "%NEED% = your file (left-side), %GOT% - produced result (right-side)");
    btBrowseExtDiff_ =
        Hinted(Named(new QToolButton(page), "btBrowseExtDiff"), "Search external diff tool's executable");
    btBrowseExtDiff_->setText("...");
    bottom->addWidget(btExtDiff_);
    bottom->addWidget(edDiffCmd_, 1);
    bottom->addWidget(btBrowseExtDiff_);
    layout->addLayout(bottom);

    tmDiffHili_ = Named(new QTimer(this), "tmDiffHili");
    tmDiffHili_->setSingleShot(true);
    tmDiffHili_->setInterval(DiffHighlightPause);

    connect(btDiffOpen_, &QToolButton::clicked, this, [this] { Guard([this] { OnDiffOpen(); }); });
    connect(btDiffSave_, &QToolButton::clicked, this, [this] { Guard([this] { OnDiffSave(); }); });
    connect(btToggleDiffHili_, &QToolButton::toggled, this, [this] { HighlightDiff(); });
    connect(btExtDiff_, &QPushButton::clicked, this, [this] { Guard([this] { OnExtDiff(); }); });
    connect(btBrowseExtDiff_, &QToolButton::clicked, this, [this] { Guard([this] { OnBrowseExtDiff(); }); });
    connect(edDiffCmd_, &QLineEdit::textChanged, this, [this] { RefreshControls(); });
    // Editing the expected dump re-marks once the typing pauses.
    connect(mmDiffNeeded_, &QPlainTextEdit::textChanged, tmDiffHili_, qOverload<>(&QTimer::start));
    connect(tmDiffHili_, &QTimer::timeout, this, [this] { HighlightDiff(); });
    return page;
}

void TMainForm::SetDiffTempDir(const WideString& dir) {
    // A diff that cannot start reports from its own thread: the box is shown
    // on the window thread, and not at all once the window is gone.
    QPointer<TMainForm> self(this);
    diffRunner_ = std::make_unique<TDiffRunner>(
        [self](const WideString& message, const WideString& caption) {
            QMetaObject::invokeMethod(
                qApp,
                [self, message, caption] {
                    if (self) Dialogs().Error(self, ToQString(caption), ToQString(message));
                },
                Qt::QueuedConnection);
        },
        dir);
}

WideString TMainForm::ExpectedDumpDir() const {
    WideString dir(DirectoryPart(expectedDumpPath_));
    return dir.empty() ? startDirectory_ : dir;
}

void TMainForm::OnDiffOpen() {
    const QString chosen = Dialogs().OpenFile(this, "Select a text file with tree dump to compare",
                                              ToQString(ExpectedDumpDir()), QtFilter(DumpFilter), QString());
    if (chosen.isEmpty()) return;
    const WideString path = ToWide(chosen);
    const RawByteString bytes = LoadFileBytes(path);
    mmDiffNeeded_->setPlainText(
        ToQString(DecodeModelBytes(bytes)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    expectedDumpPath_ = path;
    mmDiffNeeded_->setToolTip(chosen);
    mmDiffNeeded_->setStatusTip(chosen);
    HighlightDiff();
}

void TMainForm::OnDiffSave() {
    QString chosen = Dialogs().SaveFile(this, "Select where to save the produced tree dump",
                                        ToQString(ExpectedDumpDir()), QtFilter(DumpFilter), QString());
    if (chosen.isEmpty()) return;
    if (QFileInfo(chosen).suffix().isEmpty()) chosen += ".txt";  // the dialog's default extension
    SaveDiffFile(ToWide(chosen), ToWide(mmDiffGot_->toPlainText()));
}

void TMainForm::OnExtDiff() {
    RefreshControls();
    if (!btExtDiff_->isEnabled()) return;
    diffRunner_->Run(ToWide(edDiffCmd_->text()), ToWide(mmDiffNeeded_->toPlainText()),
                     ToWide(mmDiffGot_->toPlainText()));
}

void TMainForm::OnBrowseExtDiff() {
    const WideString command = ToWide(edDiffCmd_->text());
    const QString chosen = Dialogs().OpenFile(this, "Select a program used to compare two files", QString(),
                                              QtFilter(ProgramFilter), ToQString(SplitProgram(command).Program));
    if (chosen.isEmpty()) return;
    edDiffCmd_->setText(ToQString(CommandAfterBrowse(ToWide(chosen), command)));
    RefreshControls();
}

void TMainForm::HighlightDiff() {
    tmDiffHili_->stop();
    QList<QTextEdit::ExtraSelection> needMarks, gotMarks;
    if (btToggleDiffHili_->isChecked()) {
        const TLineDiff diff = DiffTexts(ToWide(mmDiffNeeded_->toPlainText()), ToWide(mmDiffGot_->toPlainText()));
        auto mark = [](QPlainTextEdit& pane, const std::vector<bool>& changed,
                       QList<QTextEdit::ExtraSelection>& marks) {
            QTextBlock block = pane.document()->begin();
            for (size_t i = 0; i < changed.size() && block.isValid(); ++i, block = block.next()) {
                if (!changed[i]) continue;
                QTextEdit::ExtraSelection selection;
                selection.cursor = QTextCursor(block);
                selection.format.setBackground(DiffMark);
                selection.format.setProperty(QTextFormat::FullWidthSelection, true);
                marks.push_back(selection);
            }
        };
        mark(*mmDiffNeeded_, diff.ChangedA, needMarks);
        mark(*mmDiffGot_, diff.ChangedB, gotMarks);
    }
    mmDiffNeeded_->setExtraSelections(needMarks);
    mmDiffGot_->setExtraSelections(gotMarks);
}

}  // namespace ts
