// A link label: navy and underlined, blue without underline while the pointer
// is over it; a click opens its address through the desktop.
#pragma once

#include <QLabel>

namespace ts {

class TWebLabel : public QLabel {
    Q_OBJECT
public:
    explicit TWebLabel(QWidget* parent = nullptr);

    // Also the tooltip.
    void SetAddress(const QString& address);
    QString Address() const { return address_; }
    bool IsHovered() const { return hovered_; }

    // What a click does: opens the address, reporting a failure through
    // Dialogs().Error. Does nothing when disabled or without an address.
    void Open();

signals:
    void Opened(bool ok);

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void ApplyLook(bool hovered);

    QString address_;
    bool hovered_ = false;
    bool pressed_ = false;
};

}  // namespace ts
