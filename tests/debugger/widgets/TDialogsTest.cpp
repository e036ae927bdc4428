// The open and save dialogs' filters in Qt's form.
#include <QTest>

#include "debugger/widgets/TDialogs.h"

class TDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void qtFilter_data() {
        QTest::addColumn<QString>("piped");
        QTest::addColumn<QString>("qt");
        QTest::newRow("the open dialog's")
            << "Tessarine script (*.tsn)|*.tsn|Bare text model (*.txt)|*.txt|All files|*.*"
            << "Tessarine script (*.tsn);;Bare text model (*.txt);;All files (*)";
        QTest::newRow("pattern differs from the description's") << "Dumps (*.txt)|*.dump"
                                                                << "Dumps (*.dump)";
        QTest::newRow("several patterns") << "Models|*.txt;*.tsn"
                                          << "Models (*.txt *.tsn)";
        QTest::newRow("a field without its pattern is dropped") << "Texts|*.txt|Orphan"
                                                                << "Texts (*.txt)";
        QTest::newRow("empty") << ""
                               << "";
    }
    void qtFilter() {
        QFETCH(QString, piped);
        QFETCH(QString, qt);
        QCOMPARE(ts::QtFilter(piped.toStdU16String()), qt);
    }
};

QTEST_MAIN(TDialogsTest)
#include "TDialogsTest.moc"
