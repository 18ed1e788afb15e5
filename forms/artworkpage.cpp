#include "artworkpage.h"

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

void ArtworkPage::paintEvent(QPaintEvent *event) {
    if (m_artwork.isNull()) {
        // Read past QPixmap's file cache, which would keep a copy of each page visited.
        QImage decoded = QImageReader(m_imagePath).read();
        if (decoded.isNull())
            return;
        // Kept as decoded: a conversion to a leaner format would save about 1 MB but runs on
        // Qt's thread pool for an image this size.
        m_artwork = std::move(decoded);
    }
    QPainter p(this);
    const QRect r = event->rect();
    p.drawImage(r.topLeft(), m_artwork, r);
}

void ArtworkPage::hideEvent(QHideEvent *event) {
    m_artwork = QImage();
    returnFreedPages();
    QWidget::hideEvent(event);
}
