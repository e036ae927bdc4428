// The header frame and the error frame: texts, looks, and the logo's PNG.
#include <QLabel>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include "debugger/widgets/TAppTopFrame.h"
#include "debugger/widgets/TErrorMessageFrame.h"
#include "debugger/widgets/TWebLabel.h"

using ts::TAppTopFrame;
using ts::TErrorMessageFrame;

class TFramesTest : public QObject {
    Q_OBJECT

private slots:
    void topFrameTexts() {
        TAppTopFrame frame;
        QCOMPARE(frame.Title()->text(), QStringLiteral("Tessarine Debugger"));
        QVERIFY(frame.Title()->font().bold());
        QCOMPARE(frame.Version()->text(), QStringLiteral("Library v0.79"));
        QCOMPARE(frame.WebLink()->Address(), QStringLiteral("https://tessarine.dev/"));
        QCOMPARE(frame.WebLink()->toolTip(), QStringLiteral("https://tessarine.dev/"));
        QVERIFY(!frame.WebLink()->text().isEmpty());
        // The main form and its tests find them by name.
        QCOMPARE(frame.findChild<QLabel*>(QStringLiteral("lbAppTitle")), frame.Title());
        QCOMPARE(frame.findChild<QLabel*>(QStringLiteral("lbAppVersion")), frame.Version());
        QCOMPARE(frame.findChild<ts::TWebLabel*>(QStringLiteral("lbAppWWW")), frame.WebLink());
        QCOMPARE(frame.findChild<QLabel*>(QStringLiteral("imgLogo")), frame.Logo());
    }

    void topFrameLayout() {
        TAppTopFrame frame;
        frame.resize(700, 60);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        // Logo, then the two lines of text, then the link at the right edge.
        QVERIFY(frame.Logo()->geometry().right() < frame.Title()->geometry().left());
        QVERIFY(frame.Title()->geometry().bottom() <= frame.Version()->geometry().top());
        QVERIFY(frame.WebLink()->geometry().left() > frame.width() / 2);
    }

    void logoIsDecodedFromPng() {
        TAppTopFrame frame;
        const QPixmap pixmap = frame.Logo()->pixmap();
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.size(), QSize(48, 48));
    }

    void errorFrameColours() {
        TErrorMessageFrame frame;
        const QPalette p = frame.Message()->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            QCOMPARE(p.color(group, QPalette::Base), QColor(0x80, 0x00, 0x00));
            QCOMPARE(p.color(group, QPalette::Text), QColor(Qt::white));
        }
        QVERIFY(frame.Message()->isReadOnly());
        QVERIFY(frame.Title()->font().bold());
        QVERIFY(frame.Title()->alignment() & Qt::AlignHCenter);
        QCOMPARE(frame.findChild<QLabel*>(QStringLiteral("lbError")), frame.Title());
        QCOMPARE(frame.findChild<QTextEdit*>(QStringLiteral("mmMessage")), frame.Message());
    }

    void errorFrameShowsTitleAndCentredMessage() {
        TErrorMessageFrame frame;
        frame.ShowError(QStringLiteral("ETsSyntaxError"), QStringLiteral("first line\nsecond <b>line</b>\n\nlast"));
        QCOMPARE(frame.Title()->text(), QStringLiteral("ETsSyntaxError"));
        // Plain text: markup in a message shows as written.
        QCOMPARE(frame.Message()->toPlainText(), QStringLiteral("first line\nsecond <b>line</b>\n\nlast"));
        int blocks = 0;
        for (QTextBlock b = frame.Message()->document()->begin(); b.isValid(); b = b.next(), ++blocks)
            QVERIFY2(b.blockFormat().alignment() & Qt::AlignHCenter, qPrintable(b.text()));
        QCOMPARE(blocks, 4);
        // A second error replaces the first, still centred.
        frame.ShowError(QStringLiteral("Other"), QStringLiteral("x\ny"));
        QCOMPARE(frame.Message()->toPlainText(), QStringLiteral("x\ny"));
        QVERIFY(frame.Message()->document()->lastBlock().blockFormat().alignment() & Qt::AlignHCenter);
    }
};

QTEST_MAIN(TFramesTest)
#include "TFramesTest.moc"
