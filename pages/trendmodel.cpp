#include "trendmodel.h"

#include "captions.h"
#include "fieldmap.h"

#include <QDateTime>
#include <QFile>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QWidget>

#include <cmath>
#include <limits>

namespace {

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

} // namespace

QStringList splitCsv(const QString &line) {
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar ch = line.at(i);
        if (quoted) {
            if (ch == QLatin1Char('"') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                cell += ch;
                ++i;
            } else if (ch == QLatin1Char('"')) {
                quoted = false;
            } else {
                cell += ch;
            }
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == QLatin1Char(',')) {
            cells << cell;
            cell.clear();
        } else {
            cell += ch;
        }
    }
    cells << cell;
    return cells;
}

QVector<TrendModel::Field> TrendModel::homeFields() {
    // Numeric fields only: states, names, versions and the date are texts.
    static const char *const kTexts[] = {"R_Addr2Num4_text", "R_Addr2Num5_text",
                                         "R_Addr2Num13_text"};
    QVector<Field> out;
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = map[i];
        if (f.kind != FieldKind::Read || f.page != FieldPage::Home || f.block != 2 ||
            f.index >= 63)
            continue;
        bool text = false;
        for (const char *t : kTexts)
            text = text || qstrcmp(t, f.name) == 0;
        if (!text)
            out.append({QString::fromLatin1(f.name), captionWithUnit(f.name)});
    }
    return out;
}

QStringList TrendModel::defaultFields() {
    return {QStringLiteral("R_Addr2Num1_text"),  QStringLiteral("R_Addr2Num6_text"),
            QStringLiteral("R_Addr2Num7_text"),  QStringLiteral("R_Addr2Num30_text"),
            QStringLiteral("R_Addr2Num33_text"), QStringLiteral("R_Addr2Num36_text"),
            QStringLiteral("R_Addr2Num38_text")};
}

TrendModel::TrendModel() {
    for (const Field &f : homeFields())
        m_captions[f.name] = f.caption;
    for (const QString &f : defaultFields())
        track(f, true);
}

void TrendModel::track(const QString &field, bool on) {
    if (!on) {
        m_values.erase(field);
        return;
    }
    // A field picked now has no history: its earlier samples are empty.
    if (m_values.find(field) == m_values.end())
        m_values[field] = std::deque<float>(m_times.size(), kNoValue);
}

bool TrendModel::isTracked(const QString &field) const {
    return m_values.find(field) != m_values.end();
}

QStringList TrendModel::tracked() const {
    QStringList out;
    for (const auto &kv : m_values)
        out << kv.first;
    return out;
}

double TrendModel::leadingNumber(const QString &text) {
    static const QRegularExpression number(QStringLiteral("^\\s*([-+]?\\d+(?:\\.\\d+)?)"));
    const QRegularExpressionMatch m = number.match(text);
    return m.hasMatch() ? m.captured(1).toDouble() : std::numeric_limits<double>::quiet_NaN();
}

void TrendModel::addSample(qint64 ms, const std::map<QString, QString> &texts) {
    m_times.push_back(ms);
    for (auto &kv : m_values) {
        const auto it = texts.find(kv.first);
        kv.second.push_back(it == texts.end() ? kNoValue
                                              : static_cast<float>(leadingNumber(it->second)));
    }
    while (!m_times.empty() && m_times.front() < ms - kSpanMs) {
        m_times.pop_front();
        for (auto &kv : m_values)
            kv.second.pop_front();
    }
}

void TrendModel::sampleWindow(QWidget *window, qint64 ms) {
    std::map<QString, QString> texts;
    for (const auto &kv : m_values)
        if (auto *w = window->findChild<QPlainTextEdit *>(kv.first))
            texts[kv.first] = w->toPlainText();
    addSample(ms, texts);
}

double TrendModel::value(const QString &field, int i) const {
    const auto it = m_values.find(field);
    if (it == m_values.end() || i < 0 || i >= static_cast<int>(it->second.size()))
        return std::numeric_limits<double>::quiet_NaN();
    return it->second[static_cast<size_t>(i)];
}

const std::deque<float> *TrendModel::values(const QString &field) const {
    const auto it = m_values.find(field);
    return it == m_values.end() ? nullptr : &it->second;
}

QString TrendModel::captionOf(const QString &field) const {
    const auto it = m_captions.find(field);
    return it == m_captions.end() ? field : it->second;
}

bool TrendModel::loadCsv(const QString &path, QString *error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return false;
    }
    QByteArray all = f.readAll();
    if (all.startsWith("\xEF\xBB\xBF"))
        all.remove(0, 3);
    const QStringList lines = QString::fromUtf8(all).split(QRegularExpression(QStringLiteral("\r?\n")),
                                                           Qt::SkipEmptyParts);
    if (lines.isEmpty()) {
        *error = QStringLiteral("the file is empty");
        return false;
    }
    const QStringList header = splitCsv(lines.first());
    if (header.size() < 2 || header.first() != QLatin1String("Time")) {
        *error = QStringLiteral("not a recording: the first column is not \"Time\"");
        return false;
    }
    m_times.clear();
    m_values.clear();
    m_captions.clear();
    std::vector<std::deque<float>> columns(static_cast<size_t>(header.size()));
    for (int l = 1; l < lines.size(); ++l) {
        const QStringList cells = splitCsv(lines.at(l));
        const QDateTime t = QDateTime::fromString(cells.first(), Qt::ISODateWithMs);
        if (!t.isValid())
            continue;
        m_times.push_back(t.toMSecsSinceEpoch());
        for (int c = 1; c < header.size(); ++c)
            columns[static_cast<size_t>(c)].push_back(
                c < cells.size() ? static_cast<float>(leadingNumber(cells.at(c))) : kNoValue);
    }
    for (int c = 1; c < header.size(); ++c) {
        auto &column = columns[static_cast<size_t>(c)];
        bool numeric = false;
        for (float v : column)
            numeric = numeric || !std::isnan(v);
        if (!numeric)
            continue;
        m_values[header.at(c)] = std::move(column);
        m_captions[header.at(c)] = header.at(c);
    }
    if (m_times.empty()) {
        *error = QStringLiteral("no rows with a valid time");
        return false;
    }
    return true;
}
