#include "trendwindow.h"

#include "trendcsv.h"
#include "trendmodel.h"
#include "writeerror.h"

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <QDateTime>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace {

constexpr int kReplotMs = 1000;
constexpr int kBuckets = 1500;

// The chart's view of a window that can be panned with the right mouse button.
class PanningChartView : public QChartView {
public:
    using QChartView::QChartView;
    bool *zoomed = nullptr;
    std::function<void(const QPoint &)> hover; // the pointer moved over the chart

protected:
    void keyPressEvent(QKeyEvent *e) override {
        // Panning and zooming keys belong to the window, not to the view's scroll bars.
        switch (e->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Plus:
        case Qt::Key_Minus:
            e->ignore();
            return;
        default:
            QChartView::keyPressEvent(e);
        }
    }
    void mousePressEvent(QMouseEvent *e) override {
        if (e->button() == Qt::RightButton) {
            m_last = e->pos();
            m_panning = true;
            return;
        }
        QChartView::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent *e) override {
        if (m_panning) {
            const QPoint d = e->pos() - m_last;
            chart()->scroll(-d.x(), 0);
            m_last = e->pos();
            if (zoomed)
                *zoomed = true;
            return;
        }
        QChartView::mouseMoveEvent(e);
        if (hover)
            hover(e->pos());
    }
    void mouseReleaseEvent(QMouseEvent *e) override {
        if (m_panning && e->button() == Qt::RightButton) {
            m_panning = false;
            return;
        }
        QChartView::mouseReleaseEvent(e);
        if (zoomed)
            *zoomed = true;
    }
    void wheelEvent(QWheelEvent *e) override {
        chart()->zoom(e->angleDelta().y() > 0 ? 1.25 : 0.8);
        if (zoomed)
            *zoomed = true;
    }

private:
    QPoint m_last;
    bool m_panning = false;
};

} // namespace

TrendWindow::TrendWindow(TrendModel *live, QWidget *parent)
    : QWidget(parent, Qt::Window), m_live(live) {
    setWindowTitle(tr("Trends"));
    setObjectName(QStringLiteral("trendWindow"));
    resize(1200, 640);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
    m_timeAxis->setTitleText(tr("Local time"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);

    auto *view = new PanningChartView(m_chart, this);
    view->zoomed = &m_zoomed;
    view->setRubberBand(QChartView::HorizontalRubberBand);
    view->setRenderHint(QPainter::Antialiasing, false);
    view->setMouseTracking(true);
    view->setFocusPolicy(Qt::StrongFocus);
    view->hover = [this](const QPoint &pos) {
        const QPointF value = m_chart->mapToValue(m_view->mapToScene(pos), nullptr);
        if (m_chart->plotArea().contains(m_view->mapToScene(pos)))
            m_readout->setText(readoutAt(qint64(value.x())));
    };
    m_view = view;
    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("trendReadout"));
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_fields = new QListWidget(this);
    m_fields->setObjectName(QStringLiteral("trendFields"));
    m_fields->setMaximumWidth(260);
    connect(m_fields, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        if (shownModel() == m_live)
            m_live->track(item->data(Qt::UserRole).toString(), item->checkState() == Qt::Checked);
        replot();
    });

    m_source = new QLabel(this);
    auto *fitButton = new QPushButton(tr("Fit"), this);
    auto *liveButton = new QPushButton(tr("Live"), this);
    auto *openButton = new QPushButton(tr("Open CSV..."), this);
    auto *pngButton = new QPushButton(tr("Export PNG..."), this);
    connect(fitButton, &QPushButton::clicked, this, &TrendWindow::fit);
    connect(liveButton, &QPushButton::clicked, this, &TrendWindow::showLive);
    connect(openButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open a recording"), QString(),
                                                          tr("Recordings (*.csv)"));
        QString error;
        // Cancelled, there is nothing to say.
        if (!path.isEmpty() && !openCsv(path, &error) && !error.isEmpty())
            QMessageBox::warning(this, tr("tips"), tr("%1 cannot be plotted: %2").arg(path, error));
    });
    connect(pngButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Export PNG"),
                                                          QStringLiteral("trends.png"),
                                                          tr("PNG images (*.png)"));
        QString error;
        if (!path.isEmpty() && !savePng(path, &error))
            QMessageBox::warning(this, tr("tips"),
                                 tr("%1 could not be written: %2").arg(path, error));
    });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_source, 1);
    for (QPushButton *b : {fitButton, liveButton, openButton, pngButton})
        buttons->addWidget(b);
    auto *top = new QHBoxLayout;
    top->addWidget(m_fields);
    auto *plot = new QVBoxLayout;
    plot->addWidget(m_readout);
    plot->addWidget(m_view, 1);
    top->addLayout(plot, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &TrendWindow::replot);
    fillFieldList();
}

TrendWindow::~TrendWindow() = default;

const TrendModel *TrendWindow::shownModel() const {
    return m_file ? m_file.get() : m_live;
}

void TrendWindow::fillFieldList() {
    const QSignalBlocker block(m_fields);
    // Whatever was plotted is made again for the fields of the new list.
    m_plotted = QStringList{QStringLiteral("\x01")};
    m_fields->clear();
    m_captions.clear();
    const TrendModel *model = shownModel();
    QVector<TrendModel::Field> fields;
    if (m_file) {
        for (const QString &f : m_fileColumns)
            if (m_file->isTracked(f))
                fields.append({f, f});
    } else {
        // The key values first, then the rest of the page in form order.
        QVector<TrendModel::Field> all = TrendModel::homeFields();
        // Captioned as the live model knows them (with the form's labels once it sampled it).
        for (TrendModel::Field &f : all)
            f.caption = m_live->captionOf(f.name);
        for (const QString &key : TrendModel::defaultFields())
            for (const TrendModel::Field &f : all)
                if (f.name == key)
                    fields.append(f);
        for (const TrendModel::Field &f : all)
            if (!TrendModel::defaultFields().contains(f.name))
                fields.append(f);
    }
    // A recording's key values are the live view's, found by their captions.
    QStringList keyCaptions;
    for (const QString &key : TrendModel::defaultFields())
        keyCaptions << m_live->captionOf(key).simplified().toCaseFolded();
    for (const TrendModel::Field &f : fields) {
        auto *item = new QListWidgetItem(f.caption, m_fields);
        m_captions[f.name] = f.caption;
        item->setData(Qt::UserRole, f.name);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool on = m_file ? keyCaptions.contains(f.caption.simplified().toCaseFolded())
                               : model->isTracked(f.name);
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    m_source->setText(m_file ? tr("Recording: %1 samples").arg(m_file->size())
                             : tr("Live: the Home page's values, the last 24 hours"));
}

void TrendWindow::replot() {
    const TrendModel *model = shownModel();
    // The series and their scales are made again only when the fields picked change; otherwise
    // each gets its new points.
    QStringList picked;
    for (int row = 0; row < m_fields->count(); ++row)
        if (m_fields->item(row)->checkState() == Qt::Checked)
            picked << m_fields->item(row)->data(Qt::UserRole).toString();
    const bool rebuild = picked != m_plotted;
    if (rebuild) {
        m_chart->removeAllSeries();
        m_series.clear();
        m_axes.clear();
        for (QAbstractAxis *axis : m_chart->axes(Qt::Vertical)) {
            m_chart->removeAxis(axis);
            delete axis;
        }
        // Added again with the new series: an axis the chart laid out while it had no series
        // keeps no room for its labels.
        m_chart->removeAxis(m_timeAxis);
        m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
        m_plotted = picked;
    }
    // The time range plotted: all of it, or what the operator zoomed or panned to.
    qint64 from = model->firstTime();
    qint64 to = model->lastTime();
    if (m_zoomed) {
        from = m_timeAxis->min().toMSecsSinceEpoch();
        to = m_timeAxis->max().toMSecsSinceEpoch();
    }
    for (int k = 0; k < m_plotted.size(); ++k) {
        const QString &field = m_plotted.at(k);
        const QString caption = m_captions.value(field, model->captionOf(field));
        double lo = 0, hi = 0;
        const QVector<QVector<QPointF>> runs = model->runs(field, from, to, kBuckets, &lo, &hi);
        // A series per run of joined samples, so that nothing is drawn where nothing was
        // measured; the first one stands for the field in the legend.
        QVector<QLineSeries *> &group = m_series[field];
        QValueAxis *axis = m_axes.value(field);
        if (rebuild) {
            axis = new QValueAxis;
            const TrendModel::Pen pen = TrendModel::pen(k);
            // The first value's scale is drawn, in its colour; the read-out gives every value.
            axis->setVisible(k == 0);
            axis->setTitleText(k == 0 ? caption : QString());
            axis->setLabelsColor(pen.colour);
            m_chart->addAxis(axis, Qt::AlignLeft);
            m_axes[field] = axis;
        }
        while (group.size() < std::max<qsizetype>(1, runs.size())) {
            auto *series = new QLineSeries;
            const TrendModel::Pen pen = TrendModel::pen(k);
            QPen line(pen.colour, 2, pen.style);
            series->setPen(line);
            m_chart->addSeries(series);
            series->attachAxis(m_timeAxis);
            series->attachAxis(axis);
            if (!group.isEmpty())
                for (QLegendMarker *marker : m_chart->legend()->markers(series))
                    marker->setVisible(false);
            group.append(series);
        }
        while (group.size() > std::max<qsizetype>(1, runs.size())) {
            QLineSeries *extra = group.takeLast();
            m_chart->removeSeries(extra);
            delete extra;
        }
        for (int r = 0; r < group.size(); ++r)
            group[r]->replace(r < runs.size() ? runs.at(r) : QVector<QPointF>());
        const QString name = runs.isEmpty() || !std::isfinite(lo)
                                 ? caption
                                 : QStringLiteral("%1 [%2 .. %3]").arg(caption).arg(lo).arg(hi);
        if (group.first()->name() != name)
            group.first()->setName(name);
        if (std::isfinite(lo)) {
            const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::fabs(hi) * 0.05);
            axis->setRange(lo - pad, hi + pad);
        }
    }
    if (!m_zoomed)
        fit();
}

void TrendWindow::fit() {
    const TrendModel *model = shownModel();
    m_zoomed = false;
    if (model->size() == 0)
        return;
    const qint64 from = model->firstTime();
    const qint64 to = std::max(model->lastTime(), from + 1000);
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    // Spans over a day show the date too.
    m_timeAxis->setFormat(to - from > 20 * 3600 * 1000LL ? QStringLiteral("MM-dd hh:mm")
                                                         : QStringLiteral("hh:mm:ss"));
}

bool TrendWindow::openCsv(const QString &path, QString *error) {
    // Read on a thread of its own: the window keeps painting, and a long file can be cancelled.
    TrendCsv csv;
    TrendCsvProgress progress;
    TrendCsvResult result = TrendCsvResult::Cancelled;
    std::unique_ptr<QThread> reader(QThread::create(
        [&] { result = readTrendCsvFile(path, TrendCsvLimits(), &csv, error, &progress); }));
    QProgressDialog dialog(tr("Reading %1 ...").arg(QFileInfo(path).fileName()), tr("Cancel"), 0,
                           1000, this);
    dialog.setObjectName(QStringLiteral("trendCsvProgress"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(300);
    dialog.setAutoReset(false);
    connect(&dialog, &QProgressDialog::canceled, this, [&progress] { progress.cancel = true; });
    QTimer look;
    connect(&look, &QTimer::timeout, &dialog,
            [&] { dialog.setValue(std::min(999, progress.permille.load())); });
    QEventLoop loop;
    connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
    reader->start();
    look.start(100);
    loop.exec();
    // The loop also ends when the program quits: the reader stops at its next look.
    progress.cancel = true;
    reader->wait();
    if (result == TrendCsvResult::Cancelled) {
        error->clear();
        return false;
    }
    if (result != TrendCsvResult::Loaded)
        return false;
    m_fileColumns = csv.captions;
    auto file = std::make_unique<TrendModel>();
    file->loadRecording(std::move(csv));
    m_file = std::move(file);
    m_zoomed = false;
    fillFieldList();
    replot();
    return true;
}

void TrendWindow::showLive() {
    m_file.reset();
    m_zoomed = false;
    fillFieldList();
    replot();
}

bool TrendWindow::savePng(const QString &path, QString *error) {
    QSaveFile file(QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".png") : path);
    QString reason;
    bool ok = false;
    if (!file.open(QIODevice::WriteOnly))
        reason = file.errorString();
    else if (!m_view->grab().save(&file, "PNG"))
        reason = writeErrorReason(file);
    else
        ok = commitSaveFile(file, &reason);
    if (error)
        *error = reason;
    return ok;
}

QString TrendWindow::readoutAt(qint64 ms) const {
    const TrendModel *model = shownModel();
    QStringList parts{
        QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))};
    for (const QString &field : m_plotted) {
        if (!model->values(field))
            continue;
        const double v = model->valueAt(field, ms);
        parts << QStringLiteral("%1: %2").arg(m_captions.value(field, model->captionOf(field)),
                                              std::isnan(v) ? QStringLiteral("-")
                                                            : QString::number(v));
    }
    return parts.join(QStringLiteral("   "));
}

void TrendWindow::showEvent(QShowEvent *event) {
    replot();
    m_view->setFocus();
    m_timer->start(kReplotMs);
    QWidget::showEvent(event);
}

void TrendWindow::hideEvent(QHideEvent *event) {
    m_timer->stop();
    QWidget::hideEvent(event);
}

void TrendWindow::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Left:
        m_chart->scroll(-m_chart->plotArea().width() / 10, 0);
        m_zoomed = true;
        return;
    case Qt::Key_Right:
        m_chart->scroll(m_chart->plotArea().width() / 10, 0);
        m_zoomed = true;
        return;
    case Qt::Key_Plus:
        m_chart->zoom(1.25);
        m_zoomed = true;
        return;
    case Qt::Key_Minus:
        m_chart->zoom(0.8);
        m_zoomed = true;
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
