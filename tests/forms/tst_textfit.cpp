// Every text a field of the main form can show, measured in the field's own font (the bundled
// Carlito and Liberation Sans standing in for Calibri and Arial, as in the program): numbers,
// states and every other one-cell value fit whole; a text of several cells (strings, composed
// values, 32-bit totals) and an operator's entry fit their realistic length, and where their
// longest possible text is wider than the field, the field shows it whole as its tooltip.
// Every text the form draws has a glyph for each character in the bundled fonts: in the widget's
// own family or in the bundled fallback.

#include "bundledfonts.h"
#include "fieldmap.h"
#include "fieldtables.h"
#include "paramtable.h"
#include "ui_widget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>

#include <memory>

namespace {

// A record whose cells are set one by one; strings are `stringChar` repeated to their length.
class TrialRecord : public SnapshotRecord {
public:
    QHash<int, uint16_t> cells;
    uint32_t total32 = 0xFFFFFFFFu;
    uint16_t word(int cell) const override { return cells.value(cell); }
    uint32_t total(int) const override { return total32; }
    int lowByte(int cell) const override { return int8_t(cells.value(cell) & 0xFF); }
};

// Raw values whose texts are the longest a cell can give: the extremes of both readings, and
// every value an enumeration names (with two falling outside it).
QList<uint16_t> candidates(const FieldFormat &f) {
    QList<uint16_t> v = {0, 0x7FFF, 0x8000, 0xFFFF, 0xFF80, 0x0080, 0x7F7F, 0xFFFE};
    for (const EnumTable *t : {f.table, f.table2})
        if (t)
            for (int i = 0; i < t->count; ++i) {
                v.append(t->items[i].value);
                v.append(uint16_t(t->items[i].value << 8 | 0xFF));
                for (int j = 0; f.table2 && j < f.table2->count; ++j)
                    v.append(uint16_t(t->items[i].value << 8 | f.table2->items[j].value));
            }
    return v;
}

// The widest text of a field over the candidate values of each cell it reads.
QString widestText(const FieldFormat &f, int cell, const QFontMetrics &fm) {
    QList<int> cells;
    if (f.rule == Rule::Composed)
        for (int i = 0; i < f.argCount; ++i)
            cells.append(f.args[i].cell);
    else
        cells.append(cell);
    const QList<uint16_t> values = candidates(f);
    QString widest;
    // Every combination for up to three cells, the same value in all beyond that.
    const int combos =
        cells.size() <= 3 ? int(std::pow(values.size(), cells.size())) : values.size();
    for (int n = 0; n < combos; ++n) {
        TrialRecord r;
        int k = n;
        for (int c : cells) {
            r.cells[c] = values[cells.size() <= 3 ? k % values.size() : n];
            k /= values.size();
        }
        const QString t = formatField(f, r, cell);
        if (fm.horizontalAdvance(t) > fm.horizontalAdvance(widest))
            widest = t;
    }
    return widest;
}

// Width of the field's text line.
int room(const QPlainTextEdit *t) {
    return t->contentsRect().width() - 2 * int(t->document()->documentMargin());
}

const FieldFormat *formatOf(const FieldDef &f) {
    QList<const FieldGroup *> groups = {&homeFields, &dataSummaryFields};
    for (const FieldGroup &g : settingsGroups)
        groups.append(&g);
    for (const FieldGroup *g : groups) {
        if (g->block != f.block)
            continue;
        for (int i = 0; i < g->count; ++i)
            if (g->ranges[i].first <= f.index && f.index <= g->ranges[i].last)
                return &g->ranges[i].format;
    }
    return nullptr;
}

// Realistic longest texts of the several-cell fields: a string as long as its registers
// allow, in digits; composed values at realistic sizes.
QString realisticText(const FieldFormat &f, int chars) {
    switch (f.rule) {
    case Rule::String:
        return QString(chars, QLatin1Char('0'));
    case Rule::Total:
        return f.decimals ? QStringLiteral("429496729.5") : QStringLiteral("4294967295");
    default:
        break;
    }
    const QString format = QLatin1String(f.format);
    if (format == QLatin1String("%.3f/%d-%d"))
        return QStringLiteral("3.650/15-52");
    if (format == QLatin1String("%.3f/%d-%d-%d"))
        return QStringLiteral("3.650/15-15-52");
    if (format == QLatin1String("%d/%d"))
        return QStringLiteral("-20/15");
    if (format == QLatin1String("%d/%d-%d"))
        return QStringLiteral("-20/15-15");
    return QStringLiteral("2099-12-31 23:59:59");
}

// Characters of each string field (two per register).
int stringChars(const FieldDef &f) {
    static const QHash<int, int> chars = {{263, 20},  {273, 20},  {283, 20}, {8601, 22}, {8613, 4},
                                          {8615, 24}, {8627, 20}, {8637, 6}, {8640, 10}};
    return chars.value(f.block * 100 + f.index, 0);
}

} // namespace

class TestTextFit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void readFields_data();
    void readFields();
    void entryFields_data();
    void entryFields();
    void formTextsHaveGlyphs_data();
    void formTextsHaveGlyphs();

private:
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Ui::Widget> m_ui;
};

void TestTextFit::initTestCase() {
    QVERIFY(registerBundledFonts());
    QFont font(QStringLiteral("Calibri"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    m_window = std::make_unique<QWidget>();
    m_ui = std::make_unique<Ui::Widget>();
    m_ui->setupUi(m_window.get());
    // Measured in the bundled fonts, whatever the machine has installed.
    QCOMPARE(QFontInfo(m_ui->readField(2, 1)->font()).family(), bundledCalibriFamily());
    QCOMPARE(QFontInfo(m_ui->readField(3, 0)->font()).family(), bundledArialFamily());
}

void TestTextFit::readFields_data() {
    QTest::addColumn<QString>("field");
    for (std::size_t i = 0; i < fieldMapSize(); ++i)
        if (fieldMap()[i].kind == FieldKind::Read)
            QTest::newRow(fieldMap()[i].name) << QString::fromLatin1(fieldMap()[i].name);
}

void TestTextFit::readFields() {
    QFETCH(QString, field);
    const FieldDef *f = findField(field);
    QVERIFY(f);
    const FieldFormat *format = formatOf(*f);
    QVERIFY(format);
    QPlainTextEdit *t = m_ui->textField(field);
    const QFontMetrics fm(t->font());
    const bool severalCells = format->rule == Rule::String || format->rule == Rule::Composed ||
                              format->rule == Rule::Total;
    const QString widest = format->rule == Rule::String ? QString(stringChars(*f), QLatin1Char('W'))
                                                        : widestText(*format, f->index, fm);
    const QString realistic = severalCells ? realisticText(*format, stringChars(*f)) : widest;
    QVERIFY2(fm.horizontalAdvance(realistic) <= room(t),
             qPrintable(QStringLiteral("\"%1\" needs %2 of %3 pixels")
                            .arg(realistic)
                            .arg(fm.horizontalAdvance(realistic))
                            .arg(room(t))));
    t->setPlainText(widest);
    QCOMPARE(t->toolTip(), fm.horizontalAdvance(widest) > room(t) ? widest : QString());
    t->setPlainText(realistic);
    QVERIFY(t->toolTip().isEmpty());
    t->clear();
}

void TestTextFit::entryFields_data() {
    QTest::addColumn<int>("param");
    QTest::addColumn<QString>("longest");   // the longest text the parameter takes
    QTest::addColumn<QString>("realistic"); // must fit
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = fieldMap()[i];
        if (f.kind != FieldKind::Edit)
            continue;
        const ParamInfo *p = paramInfo(f.param);
        QVERIFY(p);
        QString longest;
        switch (p->encoding) {
        case ParamEncoding::Int:
            longest = p->isSigned ? QStringLiteral("-32768") : QStringLiteral("65535");
            break;
        case ParamEncoding::Half:
            longest = QStringLiteral("131071");
            break;
        case ParamEncoding::Milli:
            longest = QStringLiteral("65.535");
            break;
        case ParamEncoding::Deci:
            longest = p->isSigned ? QStringLiteral("-3276.8") : QStringLiteral("6553.5");
            break;
        case ParamEncoding::Text:
            longest = QString(2 * p->regs, QLatin1Char('W'));
            break;
        case ParamEncoding::DateTime:
            longest = QStringLiteral("2024-12-31 23:59:59");
            break;
        case ParamEncoding::Command:
            break;
        }
        const QString realistic = p->encoding == ParamEncoding::Text
                                      ? QString(qMin(2 * p->regs, 10), QLatin1Char('0'))
                                      : longest;
        QTest::newRow(f.name) << int(f.param) << longest << realistic;
    }
}

void TestTextFit::entryFields() {
    QFETCH(int, param);
    QFETCH(QString, longest);
    QFETCH(QString, realistic);
    QPlainTextEdit *t = m_ui->editField(param);
    QVERIFY(t);
    const QFontMetrics fm(t->font());
    QVERIFY2(fm.horizontalAdvance(realistic) <= room(t),
             qPrintable(QStringLiteral("\"%1\" needs %2 of %3 pixels")
                            .arg(realistic)
                            .arg(fm.horizontalAdvance(realistic))
                            .arg(room(t))));
    t->setPlainText(longest);
    QCOMPARE(t->toolTip(), fm.horizontalAdvance(longest) > room(t) ? longest : QString());
    t->clear();
    QVERIFY(t->toolTip().isEmpty());
}

void TestTextFit::formTextsHaveGlyphs_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QFont>("font");
    auto add = [](const QString &where, const QString &text, const QFont &font) {
        if (!text.trimmed().isEmpty())
            QTest::newRow(qPrintable(where + QLatin1Char(' ') + text)) << text << font;
    };
    for (const QLabel *l : m_window->findChildren<QLabel *>())
        add(l->objectName(), l->text(), l->font());
    for (const QAbstractButton *b : m_window->findChildren<QAbstractButton *>())
        add(b->objectName(), b->text(), b->font());
    for (const QTabWidget *t : m_window->findChildren<QTabWidget *>())
        for (int i = 0; i < t->count(); ++i)
            add(t->objectName(), t->tabText(i), t->tabBar()->font());
    for (const QTableWidget *t : m_window->findChildren<QTableWidget *>()) {
        auto item = [&](const QTableWidgetItem *it, const QFont &base) {
            if (it)
                add(t->objectName(), it->text(), it->font().resolve(base));
        };
        for (int c = 0; c < t->columnCount(); ++c)
            item(t->horizontalHeaderItem(c), t->horizontalHeader()->font());
        for (int r = 0; r < t->rowCount(); ++r) {
            item(t->verticalHeaderItem(r), t->verticalHeader()->font());
            for (int c = 0; c < t->columnCount(); ++c)
                item(t->item(r, c), t->font());
        }
    }
}

void TestTextFit::formTextsHaveGlyphs() {
    QFETCH(QString, text);
    QFETCH(QFont, font);
    // Each font alone, without the system's fonts merged in.
    QFont own = font;
    own.setStyleStrategy(QFont::NoFontMerging);
    QFont fallback(bundledFallbackFamily());
    fallback.setStyleStrategy(QFont::NoFontMerging);
    const QString family = QFontInfo(own).family();
    QVERIFY2(family == bundledCalibriFamily() || family == bundledArialFamily(),
             qPrintable(family));
    QCOMPARE(QFontInfo(fallback).family(), bundledFallbackFamily());
    const QFontMetrics ownMetrics(own), fallbackMetrics(fallback);
    for (const uint ch : text.toUcs4()) {
        if (QChar::isSpace(ch))
            continue;
        QVERIFY2(ownMetrics.inFontUcs4(ch) || fallbackMetrics.inFontUcs4(ch),
                 qPrintable(QStringLiteral("U+%1 of \"%2\" in %3")
                                .arg(ch, 4, 16, QLatin1Char('0'))
                                .arg(text, family)));
    }
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
