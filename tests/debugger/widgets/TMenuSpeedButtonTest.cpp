// The menu button's two menus, where they appear, and the plain click.
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "debugger/widgets/TMenuSpeedButton.h"

using ts::TMenuAlignment;
using ts::TMenuSpeedButton;

class TMenuSpeedButtonTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window_;
    TMenuSpeedButton* button_ = nullptr;
    QLineEdit* under_ = nullptr;
    QMenu* menu_ = nullptr;
    QMenu* alt_ = nullptr;

    static QRect GlobalRect(const QWidget* w) { return {w->mapToGlobal(QPoint(0, 0)), w->size()}; }
    static QMenu* NewMenu(QWidget* parent, const QString& item) {
        auto* menu = new QMenu(parent);
        menu->addAction(item);
        menu->addAction(item + QStringLiteral(" with a longer text"));
        return menu;
    }

private slots:
    void init() {
        window_ = std::make_unique<QWidget>();
        auto* row = new QHBoxLayout(window_.get());
        under_ = new QLineEdit(window_.get());
        button_ = new TMenuSpeedButton(window_.get());
        button_->setText(QStringLiteral("Open"));
        row->addWidget(under_);
        row->addWidget(button_);
        menu_ = NewMenu(window_.get(), QStringLiteral("Main"));
        alt_ = NewMenu(window_.get(), QStringLiteral("Alternative"));
        // Room on every side, so that the menu need not be moved to fit the screen.
        window_->setGeometry(250, 150, 300, 60);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void popupPointForEachAlignment_data() {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("menuWidth");
        QTest::addColumn<QPoint>("expected");
        // The control is 80 wide at x 100, 20 high at y 50.
        QTest::newRow("left") << int(TMenuAlignment::Left) << 200 << QPoint(100, 70);
        QTest::newRow("centre, wider menu") << int(TMenuAlignment::Center) << 200 << QPoint(40, 70);
        QTest::newRow("centre, narrower menu") << int(TMenuAlignment::Center) << 40 << QPoint(120, 70);
        QTest::newRow("right, wider menu") << int(TMenuAlignment::Right) << 200 << QPoint(-20, 70);
        QTest::newRow("right, narrower menu") << int(TMenuAlignment::Right) << 30 << QPoint(150, 70);
    }
    void popupPointForEachAlignment() {
        QFETCH(int, alignment);
        QFETCH(int, menuWidth);
        QFETCH(QPoint, expected);
        QCOMPARE(TMenuSpeedButton::PopupPoint(QRect(100, 50, 80, 20), menuWidth, TMenuAlignment(alignment)), expected);
    }

    void leftClickShowsPopupMenu() {
        button_->SetPopupMenu(menu_);
        button_->SetPopupMenuAlt(alt_);
        QSignalSpy clicked(button_, &QAbstractButton::clicked);
        QTest::mouseClick(button_, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QTRY_VERIFY(menu_->isVisible());
        QVERIFY(!alt_->isVisible());
        QCOMPARE(menu_->pos(), TMenuSpeedButton::PopupPoint(GlobalRect(button_), menu_->width(), TMenuAlignment::Left));
        menu_->close();
    }

    void rightReleaseShowsPopupMenuAlt() {
        button_->SetPopupMenu(menu_);
        button_->SetPopupMenuAlt(alt_);
        TMenuSpeedButton::SetMenuAlignment(alt_, TMenuAlignment::Right);
        QSignalSpy clicked(button_, &QAbstractButton::clicked);
        QTest::mousePress(button_, Qt::RightButton);
        QVERIFY(!alt_->isVisible());  // the release shows it, not the press
        QTest::mouseRelease(button_, Qt::RightButton);
        QTRY_VERIFY(alt_->isVisible());
        QVERIFY(!menu_->isVisible());
        QCOMPARE(clicked.count(), 0);
        const QRect b = GlobalRect(button_);
        QCOMPARE(alt_->geometry().right(), b.right());
        QCOMPARE(alt_->geometry().top(), b.bottom() + 1);
        alt_->close();
    }

    void leftClickWithoutPopupMenuIsAPlainClick() {
        button_->SetPopupMenuAlt(alt_);
        QSignalSpy clicked(button_, &QAbstractButton::clicked);
        QTest::mouseClick(button_, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QTest::qWait(20);
        QVERIFY(!alt_->isVisible());
        QVERIFY(!menu_->isVisible());
    }

    void rightClickWithoutPopupMenuAltDoesNothing() {
        button_->SetPopupMenu(menu_);
        QSignalSpy clicked(button_, &QAbstractButton::clicked);
        QTest::mouseClick(button_, Qt::RightButton);
        QTest::qWait(20);
        QVERIFY(!menu_->isVisible());
        QCOMPARE(clicked.count(), 0);
    }

    void disabledButtonShowsNoMenu() {
        button_->SetPopupMenu(menu_);
        button_->SetPopupMenuAlt(alt_);
        button_->setEnabled(false);
        QTest::mouseClick(button_, Qt::LeftButton);
        QTest::mouseClick(button_, Qt::RightButton);
        QTest::qWait(20);
        QVERIFY(!menu_->isVisible());
        QVERIFY(!alt_->isVisible());
    }

    void menuPlacedUnderTheGivenControl() {
        button_->SetPopupMenuAlt(alt_);
        button_->SetPlaceUnder(under_);
        TMenuSpeedButton::SetMenuAlignment(alt_, TMenuAlignment::Center);
        QTest::mouseClick(button_, Qt::RightButton);
        QTRY_VERIFY(alt_->isVisible());
        QCOMPARE(alt_->pos(), TMenuSpeedButton::PopupPoint(GlobalRect(under_), alt_->width(), TMenuAlignment::Center));
        QVERIFY(alt_->pos() !=
                TMenuSpeedButton::PopupPoint(GlobalRect(button_), alt_->width(), TMenuAlignment::Center));
        alt_->close();
    }

    void menusAreBorrowed() {
        button_->SetPopupMenu(menu_);
        button_->SetPopupMenuAlt(alt_);
        QCOMPARE(button_->PopupMenu(), menu_);
        QCOMPARE(button_->PopupMenuAlt(), alt_);
        delete alt_;
        alt_ = nullptr;
        QCOMPARE(button_->PopupMenuAlt(), nullptr);
        QTest::mouseClick(button_, Qt::RightButton);  // must not touch the deleted menu
        QCOMPARE(button_->PopupMenu(), menu_);
    }
};

QTEST_MAIN(TMenuSpeedButtonTest)
#include "TMenuSpeedButtonTest.moc"
