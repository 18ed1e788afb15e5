#include "trendmodel.h"

#include "captions.h"
#include "fieldmap.h"
#include "trendcsv.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QWidget>

#include <cmath>
#include <limits>

namespace {

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

} // namespace

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
    TrendCsv csv;
    if (readTrendCsvFile(path, TrendCsvLimits(), &csv, error) != TrendCsvResult::Loaded)
        return false;
    loadRecording(std::move(csv));
    return true;
}

void TrendModel::loadRecording(TrendCsv &&csv) {
    m_times.assign(csv.times.begin(), csv.times.end());
    m_values.clear();
    m_captions.clear();
    for (int c = 0; c < csv.captions.size(); ++c) {
        std::vector<float> &column = csv.columns[size_t(c)];
        m_values[csv.captions.at(c)] = std::deque<float>(column.begin(), column.end());
        std::vector<float>().swap(column);
        m_captions[csv.captions.at(c)] = csv.captions.at(c);
    }
}
