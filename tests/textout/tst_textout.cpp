// Texts that leave the program: CSV cells a spreadsheet cannot run, controller strings that
// cannot steer a terminal or a line, and the system's reason for a failed write.

#include "pagerecorder.h"
#include "safetext.h"
#include "writeerror.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Files of this process may grow to at most `bytes` while it lives; a write past it is cut
// short and the next one refused with EFBIG, as a disk that fills up does with ENOSPC.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, SIG_DFL);
    }

private:
    rlimit m_old{};
};

const QString kTooLarge = QStringLiteral("File too large");

} // namespace

class tst_TextOut : public QObject {
    Q_OBJECT

private slots:
    void csvCells_data();
    void csvCells();
    void recordingLineIsNeutralised();
    void printableKeepsLinesOnlyWhenAsked();
    void writeErrorNamesTheSystemsReason_data();
    void writeErrorNamesTheSystemsReason();
};

void tst_TextOut::csvCells_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("written");

    QTest::newRow("formula") << "=cmd|\"/c calc\"!A1"
                             << "'=cmd|\"/c calc\"!A1";
    QTest::newRow("plus formula") << "+A1+A2"
                                  << "'+A1+A2";
    QTest::newRow("minus formula") << "-2+3"
                                   << "'-2+3";
    QTest::newRow("at function") << "@SUM(A1)"
                                 << "'@SUM(A1)";
    QTest::newRow("leading tab") << "\t=1" << QString::fromUtf8("'\uFFFD=1");
    QTest::newRow("leading carriage return") << "\r=1" << QString::fromUtf8("'\uFFFD=1");
    QTest::newRow("range of negatives") << "-40~-35"
                                        << "'-40~-35";
    QTest::newRow("lone minus") << "-"
                                << "'-";
    QTest::newRow("negative number stays") << "-12.5"
                                           << "-12.5";
    QTest::newRow("signed number stays") << "+3"
                                         << "+3";
    QTest::newRow("decimal comma stays") << "-0,25"
                                         << "-0,25";
    QTest::newRow("plain number stays") << "3.329"
                                        << "3.329";
    QTest::newRow("text after a digit stays") << "3.329/1-14"
                                              << "3.329/1-14";
    QTest::newRow("exponent is no plain number") << "-1e5"
                                                 << "'-1e5";
    QTest::newRow("formula later in the cell") << "a=1"
                                               << "a=1";
    QTest::newRow("control character inside") << "V1\x07.2" << QString::fromUtf8("V1\uFFFD.2");
    QTest::newRow("empty") << ""
                           << "";
}

void tst_TextOut::csvCells() {
    QFETCH(QString, cell);
    QFETCH(QString, written);
    QCOMPARE(safeCsvCell(cell), written);
}

void tst_TextOut::recordingLineIsNeutralised() {
    // The recording's line: quoting still applies to the cell as written.
    QCOMPARE(csvLine({QStringLiteral("2026-01-02T03:04:05.678"), QStringLiteral("-7"),
                      QStringLiteral("=HYPERLINK(\"x\",\"y\")")}),
             QStringLiteral("2026-01-02T03:04:05.678,-7,\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""));
}

void tst_TextOut::printableKeepsLinesOnlyWhenAsked() {
    const QString text = QStringLiteral("a\nb\tc\x1b");
    QCOMPARE(printableText(text), QString::fromUtf8("a\uFFFDb\uFFFDc\uFFFD"));
    QCOMPARE(printableLines(text), QString::fromUtf8("a\nb\tc\uFFFD"));
}

void tst_TextOut::writeErrorNamesTheSystemsReason_data() {
    QTest::addColumn<bool>("saveFile");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("reason");
    // /dev/full refuses every byte with ENOSPC; the size limit cuts a write short first. A
    // save file's small write waits in its buffer and fails at the commit.
    QTest::newRow("unbuffered file, disk full")
        << false << "/dev/full" << 64 * 1024 << "No space left on device";
    QTest::newRow("unbuffered file, cut short") << false << "" << 64 * 1024 << kTooLarge;
    QTest::newRow("save file, cut short") << true << "" << 64 * 1024 << kTooLarge;
    QTest::newRow("save file, cut short at commit") << true << "" << 8 * 1024 << kTooLarge;
}

void tst_TextOut::writeErrorNamesTheSystemsReason() {
    QFETCH(bool, saveFile);
    QFETCH(QString, path);
    QFETCH(int, bytes);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    if (path.isEmpty())
        path = dir.filePath(QStringLiteral("out.csv"));
    const QByteArray data(bytes, 'x');
    QString error;
    {
        const FileSizeLimit limit(path.startsWith(QLatin1String("/dev/")) ? RLIM_INFINITY : 1000);
        if (saveFile) {
            QSaveFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (f.write(data) == data.size())
                QVERIFY(!commitSaveFile(f, &error));
            else
                error = writeErrorReason(f);
            // Nothing cut short is published.
            QVERIFY(!QFile::exists(path));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            QVERIFY(f.write(data) != data.size());
            error = writeErrorReason(f);
        }
    }
    QCOMPARE(error, reason);
}

QTEST_GUILESS_MAIN(tst_TextOut)
#include "tst_textout.moc"
