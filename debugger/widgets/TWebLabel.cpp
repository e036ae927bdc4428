#include "debugger/widgets/TWebLabel.h"

#include <QMouseEvent>
#include <QUrl>

#include "debugger/widgets/TDialogs.h"

namespace ts {

namespace {
const QColor NormalColor(0x00, 0x00, 0x80);
const QColor HoverColor(0x00, 0x00, 0xFF);
}  // namespace

TWebLabel::TWebLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    ApplyLook(false);
}

void TWebLabel::SetAddress(const QString& address) {
    address_ = address;
    setToolTip(address);
}

void TWebLabel::Open() {
    if (!isEnabled() || address_.isEmpty()) return;
    const bool ok = Dialogs().OpenUrl && Dialogs().OpenUrl(QUrl(address_));
    if (!ok && Dialogs().Error)
        Dialogs().Error(this, QStringLiteral("Error"), QStringLiteral("Could not open ") + address_);
    emit Opened(ok);
}

void TWebLabel::ApplyLook(bool hovered) {
    hovered_ = hovered;
    QFont f = font();
    f.setUnderline(!hovered);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, hovered ? HoverColor : NormalColor);
    setPalette(p);
}

void TWebLabel::enterEvent(QEnterEvent* e) {
    ApplyLook(true);
    QLabel::enterEvent(e);
}

void TWebLabel::leaveEvent(QEvent* e) {
    ApplyLook(false);
    QLabel::leaveEvent(e);
}

void TWebLabel::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        pressed_ = true;
        e->accept();
        return;
    }
    QLabel::mousePressEvent(e);
}

void TWebLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        const bool click = pressed_ && rect().contains(e->position().toPoint());
        pressed_ = false;
        e->accept();
        if (click) Open();
        return;
    }
    QLabel::mouseReleaseEvent(e);
}

}  // namespace ts
