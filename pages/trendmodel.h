#pragma once
// Trends of the Home page's values over time: samples taken from the page passes (values as
// shown, the leading number of each field's text), kept for the last 24 hours. Default series
// are the stack's key values; other fields of the page are tracked from the moment they are
// picked. A recorded CSV file can be loaded into a model of its own.

#include <QColor>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <deque>
#include <map>

class QWidget;
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
    // recording heads their columns (with the form's labels when form is given).
    static QVector<Field> homeFields(QWidget *form = nullptr);
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

    // One sample at ms (local wall clock, ms since the epoch): each tracked field's number
    // from texts (field name -> text shown); samples older than 24 hours before it go.
    void addSample(qint64 ms, const std::map<QString, QString> &texts);
    // Takes a sample of the Home fields shown on window (and the captions of its labels).
    void sampleWindow(QWidget *window, qint64 ms);

    int size() const { return static_cast<int>(m_times.size()); }
    qint64 firstTime() const { return m_times.empty() ? 0 : m_times.front(); }
    qint64 lastTime() const { return m_times.empty() ? 0 : m_times.back(); }
    qint64 time(int i) const { return m_times[static_cast<size_t>(i)]; }
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
    std::deque<qint64> m_times;
    std::map<QString, std::deque<float>> m_values;
    std::map<QString, QString> m_captions;
    const QWidget *m_captionedFor = nullptr; // the form the captions took its labels from
};
