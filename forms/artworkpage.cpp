#include "artworkpage.h"

#include <QFile>
#include <QImageReader>
#include <QPaintEvent>
#include <QPainter>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// A freed picture most likely came from the heap rather than a mapping of its own (glibc maps
// large blocks only until the first of them is freed), and the heap keeps the hole it leaves:
// hand the free pages back to the system.
void returnFreedPages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace

ArtworkPage::ArtworkPage(const QString &imagePath, QWidget *parent)
    : QWidget(parent), m_imagePath(imagePath) {}

// The artwork drawn for a screen of this pixel ratio: "<name>@2x.<ext>" above ratio 1 when it
// exists (the artwork comes in ratios 1 and 2), as Qt chooses for icons and style-sheet images.
QString ArtworkPage::imageFileFor(const QString &imagePath, qreal ratio) {
    if (ratio <= 1.0)
        return imagePath;
    const int dot = imagePath.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return imagePath;
    QString atTwo = imagePath;
    atTwo.insert(dot, QLatin1String("@2x"));
    return QFile::exists(atTwo) ? atTwo : imagePath;
}

void ArtworkPage::decodeAhead() {
    if (m_ahead.valid())
        return;
    m_aheadFile = imageFileFor(m_imagePath, devicePixelRatioF());
    m_ahead =
        std::async(std::launch::async, [file = m_aheadFile] { return QImageReader(file).read(); });
}

void ArtworkPage::paintEvent(QPaintEvent *event) {
    const QString file = imageFileFor(m_imagePath, devicePixelRatioF());
    if (m_artwork.isNull() || file != m_artworkFile) {
        // Read past QPixmap's file cache, which would keep a copy of each page visited.
        QImage decoded;
        if (m_ahead.valid()) {
            decoded = m_ahead.get();
            if (m_aheadFile != file)
                decoded = QImage();
        }
        if (decoded.isNull())
            decoded = QImageReader(file).read();
        if (decoded.isNull())
            return;
        decoded.setDevicePixelRatio(file == m_imagePath ? 1.0 : 2.0);
        m_artworkFile = file;
        // Kept as decoded: a conversion to a leaner format would save about 1 MB but runs on
        // Qt's thread pool for an image this size.
        m_artwork = std::move(decoded);
    }
    QPainter p(this);
    const QRect r = event->rect();
    const qreal scale = m_artwork.devicePixelRatio();
    p.drawImage(QRectF(r), m_artwork,
                QRectF(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale));
}

void ArtworkPage::hideEvent(QHideEvent *event) {
    m_artwork = QImage();
    returnFreedPages();
    QWidget::hideEvent(event);
}
