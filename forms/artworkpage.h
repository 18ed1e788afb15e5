#pragma once
// A page of the main form with its artwork painted under its children, drawn from the page's
// top-left corner at the artwork's own size, as a style-sheet "background-image" draws it
// (vaduz-artgen makes every page's artwork at least as large as the page). On a screen scaled
// above 100 % the page paints the artwork drawn for pixel ratio 2 ("<name>@2x.<ext>").
//
// A page background is up to 1410 x 820 pixels. The page decodes it when it is painted and
// drops it when it is hidden, so of the six backgrounds only the shown one is held, and held
// at 3 bytes a pixel (3.5 MB; the artwork is opaque). As a style sheet, every page's picture
// stayed decoded at 4 bytes a pixel from the window's construction on, some twice over (the
// style's rule and the pixmap cache): 32 MB or more for one visible page.

#include <QImage>
#include <QString>
#include <QWidget>

#include <future>

class ArtworkPage : public QWidget {
    Q_OBJECT

public:
    // imagePath: the artwork, e.g. ":/images/homeBackGround.jpg".
    explicit ArtworkPage(const QString &imagePath, QWidget *parent = nullptr);

    const QString &imagePath() const { return m_imagePath; }
    // Whether the decoded artwork is held now.
    bool holdsArtwork() const { return !m_artwork.isNull(); }
    // The file painted on a screen of pixel ratio `ratio`.
    static QString imageFileFor(const QString &imagePath, qreal ratio);
    // Starts decoding the artwork on a thread of its own, so that the first paint finds it
    // ready (for the page a window shows first, while the rest of the window is built).
    void decodeAhead();

protected:
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QString m_imagePath;
    QString m_artworkFile; // the file m_artwork was decoded from
    QImage m_artwork;
    QString m_aheadFile; // the file m_ahead decodes
    std::future<QImage> m_ahead;
};
