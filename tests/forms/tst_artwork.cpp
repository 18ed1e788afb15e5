// The page artwork: every field an operator reads has a caption drawn beside it, no caption
// points at a field the form no longer has, the generator draws every image for pixel ratios
// 1 and 2, and a caption that does not fit its space fails the generator (and so the build).

#include "captions.h"
#include "fieldmap.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestArtwork : public QObject {
    Q_OBJECT

private slots:
    void everyCaptionNamesAReadField();
    void everyReadFieldHasACaption();
    void generatorDrawsEveryImage_data();
    void generatorDrawsEveryImage();
    void overflowingCaptionFails_data();
    void overflowingCaptionFails();

private:
    QTemporaryDir m_dir;
    bool m_generated = false;
    QByteArray m_generatorLog;
};

void TestArtwork::everyCaptionNamesAReadField() {
    QSet<QString> seen;
    for (int i = 0; i < captionCount(); ++i) {
        const Caption &c = captions()[i];
        const QString name = QString::fromLatin1(c.field);
        QVERIFY2(!seen.contains(name), qPrintable(name));
        seen.insert(name);
        const FieldDef *f = findField(name);
        QVERIFY2(f, qPrintable(name));
        QVERIFY2(f->kind == FieldKind::Read, qPrintable(name));
        QVERIFY2(*c.text || *c.unit, qPrintable(name));
    }
}

void TestArtwork::everyReadFieldHasACaption() {
    // Captioned by label widgets of the form instead: the "Host ID" row and the three
    // balancing rows.
    const QStringList byLabel = {"R_Addr2Num0_backup_text", "R_Addr91Num0_text",
                                 "R_Addr91Num1_text", "R_Addr91Num2_text"};
    int captioned = 0;
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = fieldMap()[i];
        if (f.kind != FieldKind::Read || byLabel.contains(QLatin1String(f.name)))
            continue;
        bool found = false;
        for (int k = 0; k < captionCount() && !found; ++k)
            found = qstrcmp(captions()[k].field, f.name) == 0;
        QVERIFY2(found, f.name);
        ++captioned;
    }
    QCOMPARE(captioned, 58 + 14 + 61 + 57 - 4);
}

void TestArtwork::generatorDrawsEveryImage_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::newRow("home page") << "homeBackGround.jpg" << QSize(1410, 820);
    QTest::newRow("settings page 2") << "SettingsBackGround2.jpg" << QSize(1401, 801);
    QTest::newRow("heading") << "BMS_heading.jpg" << QSize(1006, 66);
    QTest::newRow("fault corner") << "corner_FaultBackGround.png" << QSize(156, 31);
    QTest::newRow("pack icon, bright") << "PACk.png" << QSize(76, 46);
    QTest::newRow("pack icon, deep") << "PACK_Deep.png" << QSize(76, 46);
}

void TestArtwork::generatorDrawsEveryImage() {
    QFETCH(QString, file);
    QFETCH(QSize, size);
    if (!m_generated) {
        QVERIFY(m_dir.isValid());
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VADUZ_ARTGEN), {m_dir.path()});
        QVERIFY(p.waitForFinished(30000));
        m_generatorLog = p.readAll();
        QVERIFY2(p.exitCode() == 0, m_generatorLog.constData());
        QVERIFY2(!m_generatorLog.contains("does not fit"), m_generatorLog.constData());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 2 * 21);
        m_generated = true;
    }
    const QImage img(m_dir.filePath(file));
    QVERIFY(!img.isNull());
    QCOMPARE(img.size(), size);
    const QString atTwo = QString(file).insert(file.lastIndexOf(QLatin1Char('.')), "@2x");
    const QImage sharp(m_dir.filePath(atTwo));
    QCOMPARE(sharp.size(), 2 * size);
}

void TestArtwork::overflowingCaptionFails_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("fails");
    // R_Addr2Num16_text stands between two columns of fields: about 200 pixels for its caption.
    QTest::newRow("a caption that fits") << "R_Addr2Num16_text=Packs in a Rack" << false;
    QTest::newRow("a caption too long")
        << "R_Addr2Num16_text=Number of battery packs connected in series in every rack" << true;
    // ℃ comes from the bundled fallback; an ideograph is in none of the bundled fonts.
    QTest::newRow("a character the bundled fonts have")
        << QString::fromUtf8("R_Addr2Num16_text=Temp \xE2\x84\x83") << false;
    QTest::newRow("a character the bundled fonts lack")
        << QString::fromUtf8("R_Addr2Num16_text=Temp \xE6\xB8\xA9") << true;
}

void TestArtwork::overflowingCaptionFails() {
    QFETCH(QString, caption);
    QFETCH(bool, fails);
    QTemporaryDir dir;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VADUZ_ARTGEN), {QStringLiteral("--caption"), caption, dir.path()});
    QVERIFY(p.waitForFinished(30000));
    const QByteArray log = p.readAll();
    QCOMPARE(p.exitCode() != 0, fails);
    QCOMPARE(log.contains("R_Addr2Num16_text"), fails);
}

QTEST_GUILESS_MAIN(TestArtwork)
#include "tst_artwork.moc"
