#include "trendmodel.h"

#include "fieldmap.h"
#include "trendcsv.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// The Home page's column headers by field name, as a recording heads them.
const std::map<QString, QString> &homeHeaders() {
    static const std::map<QString, QString> headers = [] {
        std::map<QString, QString> out;
        const QVector<NamedGroup> home = namedValues(DisplaySnapshot(), 0);
        for (const NamedValue &v : home.first())
            out[v.key] = v.header();
        return out;
    }();
    return headers;
}

} // namespace

QVector<TrendModel::Field> TrendModel::homeFields() {
    // Numeric fields only: states, names, versions and the date are texts.
    static const char *const kTexts[] = {"R_Addr2Num4_text", "R_Addr2Num5_text",
                                         "R_Addr2Num13_text"};
    QVector<Field> out;
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = map[i];
        // Cells 63..98 hold the names, versions and the date: texts; 99 is the mean temperature.
        if (f.kind != FieldKind::Read || f.page != FieldPage::Home || f.block != 2 ||
            (f.index >= 63 && f.index < 99))
            continue;
        bool text = false;
        for (const char *t : kTexts)
            text = text || qstrcmp(t, f.name) == 0;
        // A cell shown twice (the host ID) is one trend, under the field named after the cell.
        const bool second =
            QLatin1String(f.name) != QStringLiteral("R_Addr2Num%1_text").arg(f.index);
        if (!text && !second)
            out.append(
                {QString::fromLatin1(f.name), homeHeaders().at(QString::fromLatin1(f.name))});
    }
    return out;
}

QStringList TrendModel::defaultFields() {
    return {QStringLiteral("R_Addr2Num1_text"),  QStringLiteral("R_Addr2Num6_text"),
            QStringLiteral("R_Addr2Num7_text"),  QStringLiteral("R_Addr2Num30_text"),
            QStringLiteral("R_Addr2Num33_text"), QStringLiteral("R_Addr2Num36_text"),
            QStringLiteral("R_Addr2Num38_text")};
}

QStringList TrendModel::defaultCaptions() {
    QStringList out;
    for (const QString &f : defaultFields()) {
        const auto it = homeHeaders().find(f);
        if (it != homeHeaders().end())
            out << it->second;
    }
    return out;
}

TrendModel::Pen TrendModel::pen(int index) {
    // Ten colours told apart on screen and in print, then each again dashed, dotted, ...
    static const QRgb kColours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd,
                                    0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};
    static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                           Qt::DashDotLine, Qt::DashDotDotLine};
    constexpr int colours = int(sizeof(kColours) / sizeof(kColours[0]));
    constexpr int styles = int(sizeof(kStyles) / sizeof(kStyles[0]));
    const int i = std::max(0, index);
    return {QColor(kColours[i % colours]), kStyles[(i / colours) % styles]};
}

TrendModel::TrendModel() {
    for (const Field &f : homeFields())
        m_captions[f.name] = f.caption;
    for (const QString &f : defaultFields())
        track(f, true);
}

const TrendModel::Store &TrendModel::shown() const {
    static const Store kNone;
    const auto it = m_stores.find(m_shown);
    return it == m_stores.end() ? kNone : it->second;
}

void TrendModel::track(const QString &field, bool on) {
    if (!on) {
        m_tracked.erase(field);
        for (auto &kv : m_stores)
            kv.second.values.erase(field);
        return;
    }
    // A field picked now has no history: its earlier samples are empty.
    if (m_tracked.insert(field).second)
        for (auto &kv : m_stores)
            kv.second.values[field] = std::deque<float>(kv.second.times.size(), kNoValue);
}

bool TrendModel::isTracked(const QString &field) const {
    return m_tracked.count(field) != 0;
}

QStringList TrendModel::tracked() const {
    QStringList out;
    for (const QString &f : m_tracked)
        out << f;
    return out;
}

double TrendModel::leadingNumber(const QString &text) {
    static const QRegularExpression number(QStringLiteral("^\\s*([-+]?\\d+(?:\\.\\d+)?)"));
    const QRegularExpressionMatch m = number.match(text);
    return m.hasMatch() ? m.captured(1).toDouble() : std::numeric_limits<double>::quiet_NaN();
}

void TrendModel::addSample(qint64 ms, const std::map<QString, double> &numbers, uint8_t address) {
    auto found = m_stores.find(address);
    if (found == m_stores.end()) {
        found = m_stores.emplace(address, Store()).first;
        for (const QString &f : m_tracked)
            found->second.values[f];
    }
    Store &store = found->second;
    store.times.push_back(ms);
    for (auto &kv : store.values) {
        const auto it = numbers.find(kv.first);
        kv.second.push_back(it == numbers.end() ? kNoValue : static_cast<float>(it->second));
    }
    while (!store.times.empty() && store.times.front() < ms - kSpanMs) {
        store.times.pop_front();
        for (auto &kv : store.values)
            kv.second.pop_front();
    }
}

void TrendModel::sample(const NamedGroup &home, uint8_t address, qint64 ms) {
    std::map<QString, double> numbers;
    for (const NamedValue &v : home)
        if (m_tracked.count(v.key))
            numbers[v.key] = v.number;
    addSample(ms, numbers, address);
}

double TrendModel::value(const QString &field, int i) const {
    const auto it = shown().values.find(field);
    if (it == shown().values.end() || i < 0 || i >= static_cast<int>(it->second.size()))
        return std::numeric_limits<double>::quiet_NaN();
    return it->second[static_cast<size_t>(i)];
}

const std::deque<float> *TrendModel::values(const QString &field) const {
    const auto it = shown().values.find(field);
    return it == shown().values.end() ? nullptr : &it->second;
}

bool TrendModel::gapBefore(int i) const {
    const std::deque<qint64> &times = shown().times;
    return i > 0 && i < size() && times[size_t(i)] - times[size_t(i) - 1] > kGapMs;
}

double TrendModel::valueAt(const QString &field, qint64 ms) const {
    const std::deque<qint64> &times = shown().times;
    const auto it = std::upper_bound(times.begin(), times.end(), ms);
    if (it == times.begin())
        return std::numeric_limits<double>::quiet_NaN();
    const int i = int(it - times.begin()) - 1;
    // Past the last sample or in the silence after a sample, nothing was measured.
    if (ms - times[size_t(i)] > kGapMs)
        return std::numeric_limits<double>::quiet_NaN();
    return value(field, i);
}

QVector<QVector<QPointF>> TrendModel::runs(const QString &field, qint64 from, qint64 to,
                                           int buckets, double *lo, double *hi) const {
    QVector<QVector<QPointF>> out;
    *lo = INFINITY;
    *hi = -INFINITY;
    const std::deque<float> *values = this->values(field);
    if (!values)
        return out;
    const double span = std::max<double>(1.0, double(to - from));
    int bucket = -1;
    QPointF bucketLo, bucketHi;
    // The bucket's lowest and highest point, in time order, go to the run being drawn.
    auto flush = [&] {
        if (bucket < 0)
            return;
        QVector<QPointF> &run = out.last();
        const bool loFirst = bucketLo.x() <= bucketHi.x();
        run.append(loFirst ? bucketLo : bucketHi);
        if (bucketHi != bucketLo)
            run.append(loFirst ? bucketHi : bucketLo);
        bucket = -1;
    };
    bool open = false; // a run is being drawn
    const int n = std::min(size(), int(values->size()));
    for (int i = 0; i < n; ++i) {
        const qint64 t = shown().times[size_t(i)];
        const double v = (*values)[size_t(i)];
        if (std::isnan(v) || gapBefore(i)) {
            flush();
            open = false;
            if (std::isnan(v))
                continue;
        }
        *lo = std::min(*lo, v);
        *hi = std::max(*hi, v);
        if (t < from || t > to) {
            // A run that leaves the range shown ends at its edge.
            if (t > to && open) {
                flush();
                open = false;
            }
            continue;
        }
        if (!open) {
            out.append(QVector<QPointF>());
            open = true;
        }
        const int b = std::min(buckets - 1, int(double(t - from) / span * buckets));
        const QPointF p(double(t), v);
        if (b != bucket) {
            flush();
            bucket = b;
            bucketLo = bucketHi = p;
        } else if (v < bucketLo.y()) {
            bucketLo = p;
        } else if (v > bucketHi.y()) {
            bucketHi = p;
        }
    }
    flush();
    return out;
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
    m_stores.clear();
    m_tracked.clear();
    m_captions.clear();
    Store &store = m_stores[m_shown];
    store.times.assign(csv.times.begin(), csv.times.end());
    for (int c = 0; c < csv.captions.size(); ++c) {
        std::vector<float> &column = csv.columns[size_t(c)];
        m_tracked.insert(csv.captions.at(c));
        store.values[csv.captions.at(c)] = std::deque<float>(column.begin(), column.end());
        std::vector<float>().swap(column);
        m_captions[csv.captions.at(c)] = csv.captions.at(c);
    }
}
