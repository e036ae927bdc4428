// A tool button with two optional menus: PopupMenu after a normal click,
// PopupMenuAlt after a right-button release, each placed just below the
// button (or a given control) at the edge the menu's alignment names.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QToolButton>

namespace ts {

enum class TMenuAlignment { Left, Center, Right };

class TMenuSpeedButton : public QToolButton {
    Q_OBJECT
public:
    using TMenuAlignment = ::ts::TMenuAlignment;

    explicit TMenuSpeedButton(QWidget* parent = nullptr);

    // Menus and the control are borrowed and may be null.
    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
    void SetPopupMenuAlt(QMenu* menu) { popupMenuAlt_ = menu; }
    QMenu* PopupMenu() const { return popupMenu_; }
    QMenu* PopupMenuAlt() const { return popupMenuAlt_; }
    void SetPlaceUnder(QWidget* control) { placeUnder_ = control; }
    QWidget* PlaceUnder() const { return placeUnder_; }

    // The alignment belongs to the menu, so that each menu keeps its own.
    static void SetMenuAlignment(QMenu* menu, TMenuAlignment alignment);
    static TMenuAlignment MenuAlignment(const QMenu* menu);

    // Top-left of a menu menuWidth wide just below the control, at its left
    // edge, centred on it, or with the right edges together.
    static QPoint PopupPoint(const QRect& controlGlobalRect, int menuWidth, TMenuAlignment alignment);

    // Shows the menu below the control without waiting for it to close.
    void ShowMenu(QMenu* menu);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QPointer<QMenu> popupMenu_;
    QPointer<QMenu> popupMenuAlt_;
    QPointer<QWidget> placeUnder_;
};

}  // namespace ts
