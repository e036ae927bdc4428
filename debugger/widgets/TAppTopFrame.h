// The window's header: logo, title, library version and the product's link.
#pragma once

#include <QFrame>

class QLabel;

namespace ts {

class TWebLabel;

class TAppTopFrame : public QFrame {
    Q_OBJECT
public:
    explicit TAppTopFrame(QWidget* parent = nullptr);

    QLabel* Title() const { return lbAppTitle_; }
    QLabel* Version() const { return lbAppVersion_; }
    TWebLabel* WebLink() const { return lbAppWWW_; }
    QLabel* Logo() const { return imgLogo_; }

private:
    // Children, owned through Qt's parent.
    QLabel* imgLogo_;
    QLabel* lbAppTitle_;
    QLabel* lbAppVersion_;
    TWebLabel* lbAppWWW_;
};

}  // namespace ts
