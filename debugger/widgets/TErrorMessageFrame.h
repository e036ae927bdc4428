// The error page's frame: a centred bold title above the centred message,
// white on maroon.
#pragma once

#include <QFrame>

class QLabel;
class QTextEdit;

namespace ts {

class TErrorMessageFrame : public QFrame {
    Q_OBJECT
public:
    explicit TErrorMessageFrame(QWidget* parent = nullptr);

    void ShowError(const QString& title, const QString& message);

    QLabel* Title() const { return lbError_; }
    QTextEdit* Message() const { return mmMessage_; }

private:
    // Children, owned through Qt's parent.
    QLabel* lbError_;
    QTextEdit* mmMessage_;
};

}  // namespace ts
