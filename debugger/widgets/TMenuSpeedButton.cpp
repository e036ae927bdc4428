#include "debugger/widgets/TMenuSpeedButton.h"

#include <QMenu>
#include <QMouseEvent>

namespace ts {

namespace {
constexpr const char* AlignmentProperty = "tsMenuAlignment";
}

TMenuSpeedButton::TMenuSpeedButton(QWidget* parent) : QToolButton(parent) {
    // The right button is ours: no context menu here or in the parent.
    setContextMenuPolicy(Qt::PreventContextMenu);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (popupMenu_) ShowMenu(popupMenu_);
    });
}

void TMenuSpeedButton::SetMenuAlignment(QMenu* menu, TMenuAlignment alignment) {
    if (menu) menu->setProperty(AlignmentProperty, static_cast<int>(alignment));
}

TMenuAlignment TMenuSpeedButton::MenuAlignment(const QMenu* menu) {
    if (!menu) return TMenuAlignment::Left;
    const QVariant value = menu->property(AlignmentProperty);
    switch (value.isValid() ? value.toInt() : 0) {
        case static_cast<int>(TMenuAlignment::Center):
            return TMenuAlignment::Center;
        case static_cast<int>(TMenuAlignment::Right):
            return TMenuAlignment::Right;
        default:
            return TMenuAlignment::Left;
    }
}

QPoint TMenuSpeedButton::PopupPoint(const QRect& controlGlobalRect, int menuWidth, TMenuAlignment alignment) {
    const QRect& r = controlGlobalRect;
    const int y = r.top() + r.height();
    switch (alignment) {
        case TMenuAlignment::Center:
            return {r.left() + (r.width() - menuWidth) / 2, y};
        case TMenuAlignment::Right:
            return {r.left() + r.width() - menuWidth, y};
        case TMenuAlignment::Left:
            break;
    }
    return {r.left(), y};
}

void TMenuSpeedButton::ShowMenu(QMenu* menu) {
    if (!menu) return;
    const QWidget* control = placeUnder_ ? placeUnder_.data() : this;
    const QRect global(control->mapToGlobal(QPoint(0, 0)), control->size());
    menu->popup(PopupPoint(global, menu->sizeHint().width(), MenuAlignment(menu)));
}

void TMenuSpeedButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        e->accept();
        return;
    }
    QToolButton::mousePressEvent(e);
}

void TMenuSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        e->accept();
        if (isEnabled() && rect().contains(e->position().toPoint()) && popupMenuAlt_) ShowMenu(popupMenuAlt_);
        return;
    }
    QToolButton::mouseReleaseEvent(e);
}

}  // namespace ts
