#pragma once
// Trends of the Home page's values over time: samples taken from the page passes (the numbers
// of the page's named values), kept for the last 24 hours, a store per controller address so
// that two controllers' values never share a line. What the model answers is the selected
// controller's. Default series are the stack's key values; other fields of the page are
// tracked from the moment they are picked. A recorded CSV file can be loaded into a model of
// its own.

#include "namedvalues.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <deque>
#include <map>
#include <set>

struct TrendCsv;

class TrendModel {
public:
    static constexpr qint64 kSpanMs = 24LL * 3600 * 1000;
    // Samples further apart than this were not taken back to back (the page was not shown, the
    // link was down): no line joins them.
    static constexpr qint64 kGapMs = 5000;

    // A Home field that can be plotted: its object name and its caption with unit.
    struct Field {
        QString name;
        QString caption;
    };
    // The Home page's numeric read fields, in form order, each cell once; captioned as a
    // recording heads their columns.
    static QVector<Field> homeFields();
    // SOC, total voltage, total current, highest and lowest cell voltage, highest and lowest
    // temperature.
    static QStringList defaultFields();
    // The key values' column headers in a recording ("SOC (%)", ...), in the order above: a
    // recorded file is plotted with these ticked.
    static QStringList defaultCaptions();

    // The pen of the index-th series plotted: a distinct colour each, then the colours again
    // with another line style.
    struct Pen {
        QColor colour;
        Qt::PenStyle style;
    };
    static Pen pen(int index);

    TrendModel();

    void track(const QString &field, bool on);
    bool isTracked(const QString &field) const;
    QStringList tracked() const;

    // One sample of the controller at address at ms (local wall clock, ms since the epoch):
    // each tracked field's number (field name -> number, NaN or missing for none); that
    // controller's samples older than 24 hours before it go.
    void addSample(qint64 ms, const std::map<QString, double> &numbers, uint8_t address = 0);
    // A sample of the Home page's named values, taken from the controller at address.
    void sample(const NamedGroup &home, uint8_t address, qint64 ms);
    // The controller whose samples the model answers with (from now on).
    void selectController(uint8_t address) { m_shown = address; }
    uint8_t selectedController() const { return m_shown; }

    int size() const { return static_cast<int>(shown().times.size()); }
    qint64 firstTime() const { return shown().times.empty() ? 0 : shown().times.front(); }
    qint64 lastTime() const { return shown().times.empty() ? 0 : shown().times.back(); }
    qint64 time(int i) const { return shown().times[static_cast<size_t>(i)]; }
    // The field's value at sample i; NaN where it was not tracked or not a number.
    double value(const QString &field, int i) const;
    // All of a tracked field's samples (nullptr when it is not tracked), NaN where none.
    const std::deque<float> *values(const QString &field) const;
    // True when sample i was not taken right after sample i - 1 (further apart than kGapMs).
    bool gapBefore(int i) const;
    // The field's value at ms: the sample at or before it, NaN inside a gap or before the first.
    double valueAt(const QString &field, qint64 ms) const;
    // The field's samples from from to to as runs of joined points (time in ms, value): a run
    // ends at a gap or at a sample without a value. Each of buckets time slices keeps its
    // lowest and highest point, so a day of samples costs a fixed number of points and peaks
    // stay. *lo and *hi get the range of all the field's values (infinities when none).
    QVector<QVector<QPointF>> runs(const QString &field, qint64 from, qint64 to, int buckets,
                                   double *lo, double *hi) const;

    // Loads a recorded CSV file (first column the time, one column per field, headed by
    // caption); every numeric column is tracked, keyed by its header. False with *error.
    bool loadCsv(const QString &path, QString *error);
    // Takes a parsed recording in place of what the model held.
    void loadRecording(TrendCsv &&csv);
    QString captionOf(const QString &field) const;

    // The leading number of a shown text ("3.329/1-14" -> 3.329); NaN when there is none.
    static double leadingNumber(const QString &text);

private:
    // One controller's samples: the times, and per tracked field a value per time.
    struct Store {
        std::deque<qint64> times;
        std::map<QString, std::deque<float>> values;
    };
    const Store &shown() const;

    std::set<QString> m_tracked;
    std::map<uint8_t, Store> m_stores; // by controller address
    uint8_t m_shown = 0;
    std::map<QString, QString> m_captions;
};
