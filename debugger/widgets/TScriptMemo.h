// The model memo: a plain-text editor with line-wise keys (copy, cut and move
// the caret's line, indent it by two blanks) and a "Go to" box on Ctrl+G.
#pragma once

#include <QPlainTextEdit>

namespace ts {

class TScriptMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TScriptMemo(QWidget* parent = nullptr);

    // 1-based; clamped to the document, never before its start.
    void GoToLineColumn(int line, int column);
    // Keeps the caret's column where the line is long enough.
    void GoToLine(int line);
    // Asks for "line[ column]" through Dialogs().Input and goes there.
    void ShowGoToBox();

    // The caret's line and column, both from 1.
    int CaretLine() const;
    int CaretColumn() const;

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // True when the key is one of ours (and so consumed).
    bool HandleKey(QKeyEvent* e, bool perform);
    void CopyLine(bool cut);
    void ExchangeLine(bool withBelow);
    void IndentLine();
    void UnindentLine();
};

}  // namespace ts
