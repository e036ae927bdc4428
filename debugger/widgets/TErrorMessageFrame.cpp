#include "debugger/widgets/TErrorMessageFrame.h"

#include <QLabel>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace ts {

namespace {
const QColor Maroon(0x80, 0x00, 0x00);
}

TErrorMessageFrame::TErrorMessageFrame(QWidget* parent)
    : QFrame(parent), lbError_(new QLabel(this)), mmMessage_(new QTextEdit(this)) {
    lbError_->setObjectName(QStringLiteral("lbError"));
    mmMessage_->setObjectName(QStringLiteral("mmMessage"));

    lbError_->setAlignment(Qt::AlignCenter);
    lbError_->setWordWrap(true);
    QFont bold = lbError_->font();
    bold.setBold(true);
    lbError_->setFont(bold);

    mmMessage_->setReadOnly(true);
    mmMessage_->setAcceptRichText(false);
    QPalette p = mmMessage_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, Maroon);
        p.setColor(group, QPalette::Text, Qt::white);
    }
    mmMessage_->setPalette(p);

    auto* column = new QVBoxLayout(this);
    column->addWidget(lbError_);
    column->addWidget(mmMessage_, 1);
}

void TErrorMessageFrame::ShowError(const QString& title, const QString& message) {
    lbError_->setText(title);
    mmMessage_->setPlainText(message);
    // Every paragraph centred, not only the first.
    QTextCursor all(mmMessage_->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    all.mergeBlockFormat(centred);
}

}  // namespace ts
