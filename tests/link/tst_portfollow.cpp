// Following a re-plugged USB adapter: which listed port is the lost one under another name, and
// a link whose port vanishes while a port with the same identity appears moves to it and goes
// on reading there. The system's port list is replaced through the port-info seam.

#include "linktestsupport.h"
#include "portfollow.h"

#include <QtTest>

using namespace linktest;

Q_DECLARE_METATYPE(PortIdentity)

namespace {

PortIdentity usbPort(const QString &path, quint16 vendor, quint16 product, const QString &serial) {
    PortIdentity p;
    // As the system lists it: the name is the path without "/dev/".
    p.name = path.mid(5);
    p.location = path;
    p.hasUsbIds = true;
    p.vendor = vendor;
    p.product = product;
    p.serialNumber = serial;
    return p;
}

} // namespace

class tst_PortFollow : public QObject {
    Q_OBJECT
    LinkRig rig;

private slots:
    void cleanupTestCase() { LinkRig::stopTick(); }
    void cleanup() {
        rig.tearDown();
        setPortLister({});
    }

    void target_data() {
        QTest::addColumn<QList<PortIdentity>>("listed");
        QTest::addColumn<QString>("target"); // empty: none
        const PortIdentity same = usbPort("/dev/ttyUSB1", 0x0403, 0x6001, "A1");
        QTest::newRow("same adapter, new name") << QList<PortIdentity>{same} << "/dev/ttyUSB1";
        QTest::newRow("back under its own name")
            << QList<PortIdentity>{usbPort("/dev/ttyUSB0", 0x0403, 0x6001, "A1"), same} << "";
        QTest::newRow("other serial number")
            << QList<PortIdentity>{usbPort("/dev/ttyUSB1", 0x0403, 0x6001, "B2")} << "";
        QTest::newRow("other product")
            << QList<PortIdentity>{usbPort("/dev/ttyUSB1", 0x0403, 0x6015, "A1")} << "";
        QTest::newRow("two alike")
            << QList<PortIdentity>{same, usbPort("/dev/ttyUSB2", 0x0403, 0x6001, "A1")} << "";
        PortIdentity plain;
        plain.name = plain.location = "/dev/ttyS1";
        QTest::newRow("no USB ids") << QList<PortIdentity>{plain} << "";
    }
    void target() {
        QFETCH(QList<PortIdentity>, listed);
        QFETCH(QString, target);
        const PortIdentity lost = usbPort("/dev/ttyUSB0", 0x0403, 0x6001, "A1");
        QCOMPARE(replugTarget(lost, listed).location, target);
        if (!target.isEmpty()) {
            QCOMPARE(nameLike(replugTarget(lost, listed), "/dev/ttyUSB0"), target);
            QCOMPARE(nameLike(replugTarget(lost, listed), "ttyUSB0"), QStringLiteral("ttyUSB1"));
        }
    }

    // The adapter vanishes under the open link (its pseudo-terminal hung up) and a port with
    // its identity appears: the link moves there, says so and reads on.
    void linkMovesToTheReplugged() {
        QVERIFY(rig.setUp());
        const QString first = rig.sim->slavePath();
        setPortLister(
            [first] { return QList<PortIdentity>{usbPort(first, 0x1a86, 0x7523, "CH-1")}; });
        rig.connectOn(0);
        QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 2, 5000);

        PtySimulator second;
        QVERIFY(second.start());
        second.setFrozen(true);
        second.setReg(2, 0, 4242);
        const QString moved = second.slavePath();
        QVERIFY(moved != first);
        SimFaults hangUp;
        hangUp.hangUp = true;
        rig.sim->setFaults(hangUp);
        setPortLister(
            [moved] { return QList<PortIdentity>{usbPort(moved, 0x1a86, 0x7523, "CH-1")}; });

        QTRY_COMPARE_WITH_TIMEOUT(mirrorCell(2, 0), int16_t(4242), 10000);
        QCOMPARE(takePortMoved(), moved);
        char problem[2 * kStatusTextSize];
        readLinkProblem(problem);
        QCOMPARE(QString::fromUtf8(problem),
                 QStringLiteral("Moved from %1 to %2: the adapter came back under another name.")
                     .arg(first, moved));
        QVERIFY(second.requestCount() > 0);
        rig.worker->stopLink();
    }
};

QTEST_GUILESS_MAIN(tst_PortFollow)
#include "tst_portfollow.moc"
