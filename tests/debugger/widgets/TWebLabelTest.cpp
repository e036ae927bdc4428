// The link label's looks while hovered and what a click opens.
#include <QEnterEvent>
#include <QTest>

#include "debugger/widgets/TDialogs.h"
#include "debugger/widgets/TWebLabel.h"

using ts::Dialogs;
using ts::TWebLabel;

class TWebLabelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TWebLabel> label_;
    QList<QUrl> opened_;
    bool openResult_ = true;
    struct ErrorCall {
        QWidget* Parent;
        QString Title, Text;
    };
    QList<ErrorCall> errors_;

    QColor TextColour() const { return label_->palette().color(label_->foregroundRole()); }
    void Enter() {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), label_->mapToGlobal(QPointF(2, 2)));
        QCoreApplication::sendEvent(label_.get(), &enter);
    }
    void Leave() {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(label_.get(), &leave);
    }

private slots:
    void init() {
        label_ = std::make_unique<TWebLabel>();
        label_->setText(QStringLiteral("tessarine.dev"));
        label_->SetAddress(QStringLiteral("https://tessarine.dev/"));
        // Away from the pointer, which would otherwise hover it on showing.
        label_->move(300, 300);
        label_->show();
        QVERIFY(QTest::qWaitForWindowExposed(label_.get()));
        opened_.clear();
        errors_.clear();
        openResult_ = true;
        Dialogs().OpenUrl = [this](const QUrl& url) {
            opened_ << url;
            return openResult_;
        };
        Dialogs().Error = [this](QWidget* parent, const QString& title, const QString& text) {
            errors_ << ErrorCall{parent, title, text};
        };
    }
    void cleanup() {
        label_.reset();
        Dialogs() = ts::PlatformDialogs();
    }

    void looksLikeALink() {
        QCOMPARE(label_->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(label_->toolTip(), QStringLiteral("https://tessarine.dev/"));
        QCOMPARE(label_->Address(), QStringLiteral("https://tessarine.dev/"));
        QVERIFY(label_->font().underline());
        QCOMPARE(TextColour(), QColor(0x00, 0x00, 0x80));
    }

    void hoverLookWhileThePointerIsOver() {
        Enter();
        QVERIFY(label_->IsHovered());
        QVERIFY(!label_->font().underline());
        QCOMPARE(TextColour(), QColor(0x00, 0x00, 0xFF));
        Leave();
        QVERIFY(!label_->IsHovered());
        QVERIFY(label_->font().underline());
        QCOMPARE(TextColour(), QColor(0x00, 0x00, 0x80));
    }

    void clickOpensTheAddress() {
        QTest::mouseClick(label_.get(), Qt::LeftButton);
        QCOMPARE(opened_, QList<QUrl>{QUrl(QStringLiteral("https://tessarine.dev/"))});
        QVERIFY(errors_.isEmpty());
    }

    void failureToOpenGivesAnError() {
        openResult_ = false;
        QTest::mouseClick(label_.get(), Qt::LeftButton);
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(errors_.size(), 1);
        QCOMPARE(errors_[0].Parent, label_.get());
        QCOMPARE(errors_[0].Title, QStringLiteral("Error"));
        QCOMPARE(errors_[0].Text, QStringLiteral("Could not open https://tessarine.dev/"));
    }

    void noOpeningWhenItShouldNot() {
        QTest::mouseClick(label_.get(), Qt::RightButton);
        QCOMPARE(opened_.size(), 0);
        // Released outside: not a click.
        QTest::mousePress(label_.get(), Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseRelease(label_.get(), Qt::LeftButton, {}, QPoint(label_->width() + 10, 2));
        QCOMPARE(opened_.size(), 0);
        label_->setEnabled(false);
        QTest::mouseClick(label_.get(), Qt::LeftButton);
        QCOMPARE(opened_.size(), 0);
        label_->setEnabled(true);
        label_->SetAddress(QString());
        QTest::mouseClick(label_.get(), Qt::LeftButton);
        QCOMPARE(opened_.size(), 0);
        QVERIFY(errors_.isEmpty());
    }
};

QTEST_MAIN(TWebLabelTest)
#include "TWebLabelTest.moc"
