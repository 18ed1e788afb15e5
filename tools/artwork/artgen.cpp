// vaduz-artgen [--caption FIELD=TEXT]... OUTDIR: draws the main form's artwork into OUTDIR (page
// backgrounds with the captions, units and "Set" faces, the heading strips, the table corners
// and the tab icons), each image for device pixel ratio 1 and, as "<name>@2x.<ext>", for 2.
// Captions are placed from the field map, so a field that moves takes its caption along.
//
// The pictures depend on nothing of the machine that draws them: the generator sees only the
// fonts the project carries (resources/fonts), not the system's, and fails when a text does not
// fit its space or a character is missing from its font. --caption replaces a caption's text
// (to try a wording without editing the table).

#include "bundledfonts.h"
#include "captions.h"
#include "fieldmap.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

const QColor kRed(0xD3, 0x11, 0x1B);
const QColor kDeepRed(0x68, 0x10, 0x15);
const QColor kText(0xF2, 0xF2, 0xF2);
const QColor kMuted(0x9A, 0xA0, 0xA8);
const QColor kWell(0x24, 0x27, 0x2E);
const QColor kWellEdge(0x3A, 0x3E, 0x47);

// The tab pages are a little larger than their visible area so no edge shows unpainted.
const QSize kTabPageSize(1410, 820);
const QSize kStackPageSize(1401, 801);

// Texts that did not fit their space or had a character the font lacks.
int g_errors = 0;
// Pixel ratio of the images being drawn; errors are reported in the first pass only.
qreal g_ratio = 1.0;
// --caption overrides, by field name.
std::map<std::string, QString> g_captionOverrides;

QFont captionFont(int px, bool bold = false) {
    QFont f(bundledCalibriFamily());
    f.setPixelSize(px);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

void reportError(const QString &message) {
    if (g_ratio != 1.0)
        return;
    std::fprintf(stderr, "vaduz-artgen: %s\n", qPrintable(message));
    ++g_errors;
}

// Checks that text, drawn in font, fits width pixels and that the font has every character.
// what names the text's place for the message.
bool checkText(const QFont &font, const QString &text, int width, const QString &what) {
    const QFontMetrics fm(font);
    bool ok = true;
    for (const QChar ch : text) {
        if (!fm.inFont(ch)) {
            reportError(QStringLiteral("%1: no glyph for U+%2 in %3: %4")
                            .arg(what)
                            .arg(ch.unicode(), 4, 16, QLatin1Char('0'))
                            .arg(font.family(), text));
            ok = false;
        }
    }
    const int needed = fm.horizontalAdvance(text);
    if (needed > width) {
        reportError(QStringLiteral("%1 does not fit (%2 of %3 pixels): %4")
                        .arg(what)
                        .arg(needed)
                        .arg(width)
                        .arg(text));
        ok = false;
    }
    return ok;
}

void paintBackdrop(QPainter &p, const QSize &size) {
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0.0, QColor(0x1B, 0x1E, 0x24));
    g.setColorAt(1.0, QColor(0x0E, 0x0F, 0x13));
    p.fillRect(QRect(QPoint(0, 0), size), g);
    // A faint red glow in the top-left corner and a fine dot grid give the page some depth.
    QRadialGradient glow(QPointF(0, 0), 700);
    glow.setColorAt(0.0, QColor(0xD3, 0x11, 0x1B, 38));
    glow.setColorAt(1.0, QColor(0xD3, 0x11, 0x1B, 0));
    p.fillRect(QRect(QPoint(0, 0), size), glow);
    p.setPen(QColor(255, 255, 255, 10));
    for (int y = 12; y < size.height(); y += 24)
        for (int x = 12; x < size.width(); x += 24)
            p.drawPoint(x, y);
}

// A recessed well under a value field, so the field's white text has a place to sit.
void paintWell(QPainter &p, const QRect &r, bool editable) {
    QPainterPath path;
    // Rows stand as little as 28 pixels apart: the well covers the text line only.
    path.addRoundedRect(QRectF(r.x() + 0.5, r.y() + 1.5, r.width() - 1, 24), 4, 4);
    p.fillPath(path, editable ? QColor(0x2C, 0x20, 0x22) : kWell);
    p.setPen(QPen(editable ? QColor(0x8A, 0x2A, 0x30) : kWellEdge, 1));
    p.drawPath(path);
}

void paintSetFace(QPainter &p, const QRect &r, const QString &text, int px, const char *name) {
    checkText(captionFont(px, true), text, r.width() - 6,
              QStringLiteral("face of %1").arg(QLatin1String(name)));
    QPainterPath path;
    path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, QColor(0xE8, 0x2A, 0x33));
    g.setColorAt(1.0, kRed.darker(125));
    p.fillPath(path, g);
    p.setPen(Qt::white);
    p.setFont(captionFont(px, true));
    p.drawText(r, Qt::AlignCenter, text);
}

// Rightmost right edge of the fields left of rect on its row, or the page margin.
int leftLimit(const FieldDef &self, const QRect &rect) {
    int limit = 10;
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = fieldMap()[i];
        if (&f == &self || f.page != self.page)
            continue;
        const QRect o = f.rect();
        const bool sameRow = o.top() < rect.bottom() - 6 && o.bottom() > rect.top() + 6;
        if (sameRow && o.right() < rect.left())
            limit = std::max(limit, o.right() + 10);
    }
    return limit;
}

void paintCaption(QPainter &p, const FieldDef &f, const Caption &c) {
    const QString what = QStringLiteral("caption of %1").arg(QLatin1String(f.name));
    if (!*c.text) {
        // The caption is a label widget; only the unit goes after the field.
        const QString unit = QString::fromUtf8(c.unit);
        checkText(captionFont(14), unit, 60, what);
        p.setFont(captionFont(14));
        p.setPen(kMuted);
        p.drawText(QRect(f.x + f.w + 6, f.y + 1, 60, 24), Qt::AlignLeft | Qt::AlignVCenter, unit);
        return;
    }
    const auto overridden = g_captionOverrides.find(f.name);
    QString text =
        overridden != g_captionOverrides.end() ? overridden->second : QString::fromUtf8(c.text);
    if (c.unit && *c.unit)
        text += QStringLiteral(" (%1)").arg(QString::fromUtf8(c.unit));
    const QRect field = f.rect();
    const int right = field.left() - 8;
    const int left = leftLimit(f, field);
    int px = 14;
    QFont font = captionFont(px);
    while (QFontMetrics(font).horizontalAdvance(text) > right - left && px > 10)
        font = captionFont(--px);
    checkText(font, text, right - left, what);
    p.setFont(font);
    p.setPen(kText);
    p.drawText(QRect(left, field.top() + 1, right - left, 24), Qt::AlignRight | Qt::AlignVCenter,
               text);
}

void paintPageTexts(QPainter &p, FieldPage page) {
    for (int i = 0; i < pageTextCount(); ++i) {
        const PageText &t = pageTexts()[i];
        if (t.page != page)
            continue;
        const QString text = QString::fromUtf8(t.text);
        const QSize pageSize = page == FieldPage::SetPage1 || page == FieldPage::SetPage2
                                   ? kStackPageSize
                                   : kTabPageSize;
        checkText(captionFont(t.style == PageText::Heading ? 17 : 12, true), text,
                  pageSize.width() - t.x - 10, QStringLiteral("page text"));
        if (t.style == PageText::Heading) {
            QFont f = captionFont(17, true);
            p.setFont(f);
            p.setPen(Qt::white);
            const int w = QFontMetrics(f).horizontalAdvance(text);
            p.drawText(t.x, t.y + QFontMetrics(f).ascent(), text);
            p.fillRect(QRect(t.x, t.y + QFontMetrics(f).height() + 2, std::max(w, 40), 2), kRed);
        } else {
            p.setFont(captionFont(12, true));
            p.setPen(t.style == PageText::Section ? QColor(0xF0, 0x4A, 0x52) : kMuted);
            p.drawText(t.x, t.y + QFontMetrics(p.font()).ascent(), text);
        }
    }
}

const Caption *captionFor(const char *name) {
    for (int i = 0; i < captionCount(); ++i)
        if (qstrcmp(captions()[i].field, name) == 0)
            return &captions()[i];
    return nullptr;
}

// Everything that belongs under the bound fields of one page.
void paintFields(QPainter &p, FieldPage page) {
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = fieldMap()[i];
        if (f.page != page)
            continue;
        switch (f.kind) {
        case FieldKind::Read:
        case FieldKind::Edit:
            paintWell(p, f.rect(), f.kind == FieldKind::Edit);
            break;
        case FieldKind::Button:
            paintSetFace(p, f.rect(), QStringLiteral("Set"), 12, f.name);
            break;
        case FieldKind::Command:
            paintSetFace(p, f.rect(), QString::fromUtf8(commandFace(f.param)), 14, f.name);
            break;
        case FieldKind::SetButton:
            break; // a real button with its own face
        }
        if (const Caption *c = captionFor(f.name))
            paintCaption(p, f, *c);
    }
}

void paintPanel(QPainter &p, const QRect &r) {
    QPainterPath path;
    path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    p.fillPath(path, QColor(255, 255, 255, 10));
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    p.drawPath(path);
    p.fillRect(QRect(r.left() + 8, r.top(), 48, 2), kRed);
}

// Saves as name, or as "<stem>@2x.<ext>" for an image drawn at pixel ratio 2.
bool save(const QImage &img, const QString &dir, const char *name) {
    QString file = QLatin1String(name);
    if (img.devicePixelRatio() != 1.0) {
        const int dot = file.lastIndexOf(QLatin1Char('.'));
        file.insert(dot, QStringLiteral("@%1x").arg(img.devicePixelRatio()));
    }
    const QString path = dir + QLatin1Char('/') + file;
    if (!img.save(path, nullptr, 92)) {
        std::fprintf(stderr, "vaduz-artgen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// An image of size logical pixels at the pixel ratio being drawn; painters draw on it in
// logical pixels.
QImage newImage(const QSize &size, bool alpha = false) {
    QImage img(size * g_ratio, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    img.setDevicePixelRatio(g_ratio);
    img.fill(alpha ? Qt::transparent : Qt::black);
    return img;
}

// The logical rectangle of an image.
QRect logicalRect(const QImage &img) {
    return QRect(QPoint(0, 0), img.size() / img.devicePixelRatio());
}

QImage pageImage(FieldPage page, const QSize &size, const std::vector<QRect> &panels) {
    QImage img = newImage(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintBackdrop(p, size);
    for (const QRect &r : panels)
        paintPanel(p, r);
    paintPageTexts(p, page);
    paintFields(p, page);
    return img;
}

QImage tablePage(const QRect &table, const char *title) {
    QImage img = newImage(kTabPageSize);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    paintBackdrop(p, kTabPageSize);
    paintPanel(p, table.adjusted(-10, -12, 10, 10));
    if (title) {
        p.setFont(captionFont(17, true));
        p.setPen(Qt::white);
        p.drawText(table.left(), table.top() - 22, QString::fromUtf8(title));
    }
    return img;
}

QImage heading() {
    QImage img = newImage(QSize(1006, 66));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 1006, 0);
    g.setColorAt(0.0, QColor(0x1B, 0x1E, 0x24));
    g.setColorAt(1.0, QColor(0x12, 0x14, 0x18));
    p.fillRect(logicalRect(img), g);
    // Logo: a red battery outline with a charge bolt.
    p.setPen(QPen(kRed, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(18, 17, 44, 30), 5, 5);
    p.fillRect(QRectF(62, 26, 5, 12), kRed);
    QPainterPath bolt;
    bolt.moveTo(43, 20);
    bolt.lineTo(32, 34);
    bolt.lineTo(40, 34);
    bolt.lineTo(36, 45);
    bolt.lineTo(48, 30);
    bolt.lineTo(40, 30);
    bolt.closeSubpath();
    p.fillPath(bolt, Qt::white);
    p.setPen(Qt::white);
    p.setFont(captionFont(26, true));
    p.drawText(QPoint(84, 36), QStringLiteral("KELVANE"));
    p.setFont(captionFont(13));
    p.setPen(kMuted);
    p.drawText(QPoint(86, 54), QStringLiteral("Stacked battery management \u2014 host tool"));
    p.fillRect(QRect(0, 64, 1006, 2), kRed);
    return img;
}

QImage heading2() {
    QImage img = newImage(QSize(496, 21), true);
    QPainter p(&img);
    QLinearGradient g(0, 0, 496, 0);
    g.setColorAt(0.0, QColor(0x12, 0x14, 0x18));
    g.setColorAt(1.0, kDeepRed);
    p.fillRect(logicalRect(img), g);
    p.setPen(QColor(255, 255, 255, 200));
    p.setFont(captionFont(11, true));
    p.drawText(logicalRect(img).adjusted(0, 0, -10, 0), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("VADUZ V1.2"));
    return img;
}

QImage corner(const QSize &size, const char *text) {
    QImage img = newImage(size, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(logicalRect(img), QColor(0x1B, 0x1E, 0x24));
    p.fillRect(QRect(0, 0, size.width(), 2), kRed);
    p.setPen(Qt::white);
    p.setFont(captionFont(12, true));
    checkText(p.font(), QString::fromUtf8(text), size.width() - 4, QStringLiteral("table corner"));
    p.drawText(logicalRect(img), Qt::AlignCenter, QString::fromUtf8(text));
    return img;
}

// ---- Tab icons ------------------------------------------------------------------------------
enum class Glyph { Home, Data, Settings, Fault, Pack };

void drawGlyph(QPainter &p, Glyph glyph, const QRectF &box, const QColor &ink) {
    p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF c = box.center();
    const qreal s = box.height();
    switch (glyph) {
    case Glyph::Home: {
        QPainterPath roof;
        roof.moveTo(c.x() - s * 0.55, c.y() - s * 0.02);
        roof.lineTo(c.x(), c.y() - s * 0.48);
        roof.lineTo(c.x() + s * 0.55, c.y() - s * 0.02);
        p.drawPath(roof);
        p.drawRect(QRectF(c.x() - s * 0.38, c.y() - s * 0.08, s * 0.76, s * 0.55));
        p.fillRect(QRectF(c.x() - s * 0.1, c.y() + s * 0.15, s * 0.2, s * 0.32), ink);
        break;
    }
    case Glyph::Data: {
        p.drawLine(QPointF(c.x() - s * 0.55, c.y() + s * 0.45),
                   QPointF(c.x() + s * 0.55, c.y() + s * 0.45));
        const qreal w = s * 0.18;
        const qreal hs[] = {0.35, 0.6, 0.85};
        for (int i = 0; i < 3; ++i) {
            const qreal x = c.x() - s * 0.42 + i * s * 0.32;
            p.fillRect(QRectF(x, c.y() + s * 0.45 - s * hs[i], w, s * hs[i] - 2), ink);
        }
        break;
    }
    case Glyph::Settings: {
        p.save();
        p.translate(c);
        const qreal r = s * 0.3;
        for (int i = 0; i < 8; ++i) {
            p.drawLine(QPointF(0, -r), QPointF(0, -r - s * 0.14));
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), r, r);
        p.drawEllipse(QPointF(0, 0), r * 0.4, r * 0.4);
        p.restore();
        break;
    }
    case Glyph::Fault: {
        QPainterPath tri;
        tri.moveTo(c.x(), c.y() - s * 0.48);
        tri.lineTo(c.x() + s * 0.52, c.y() + s * 0.44);
        tri.lineTo(c.x() - s * 0.52, c.y() + s * 0.44);
        tri.closeSubpath();
        p.drawPath(tri);
        p.drawLine(QPointF(c.x(), c.y() - s * 0.16), QPointF(c.x(), c.y() + s * 0.14));
        p.setBrush(ink);
        p.drawEllipse(QPointF(c.x(), c.y() + s * 0.3), 1.4, 1.4);
        break;
    }
    case Glyph::Pack: {
        p.drawRoundedRect(QRectF(c.x() - s * 0.5, c.y() - s * 0.3, s * 0.92, s * 0.6), 3, 3);
        p.fillRect(QRectF(c.x() + s * 0.42, c.y() - s * 0.12, s * 0.1, s * 0.24), ink);
        for (int i = 0; i < 3; ++i)
            p.fillRect(QRectF(c.x() - s * 0.42 + i * s * 0.26, c.y() - s * 0.2, s * 0.18, s * 0.4),
                       ink);
        break;
    }
    }
}

QImage tabIcon(Glyph glyph, const char *caption, bool bright) {
    const QSize size(76, 46);
    QImage img = newImage(size, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), 6, 6);
    if (bright) {
        QLinearGradient g(0, 0, 0, size.height());
        g.setColorAt(0.0, QColor(0xE8, 0x2A, 0x33));
        g.setColorAt(1.0, kRed.darker(130));
        p.fillPath(path, g);
    } else {
        p.fillPath(path, QColor(0x23, 0x26, 0x2D));
        p.setPen(QPen(QColor(0x3A, 0x3E, 0x47), 1));
        p.drawPath(path);
    }
    const QColor ink = bright ? Qt::white : QColor(0x8E, 0x94, 0x9C);
    drawGlyph(p, glyph, QRectF(26, 5, 24, 22), ink);
    p.setPen(ink);
    p.setFont(captionFont(11, true));
    checkText(p.font(), QString::fromLatin1(caption), size.width() - 4, QStringLiteral("tab icon"));
    p.drawText(QRect(0, 29, size.width(), 15), Qt::AlignCenter, QString::fromLatin1(caption));
    return img;
}

// Every image at the current pixel ratio.
bool drawAll(const QString &dir) {
    bool ok = true;
    ok &= save(heading(), dir, "BMS_heading.jpg");
    ok &= save(heading2(), dir, "BMS_heading2.png");

    ok &=
        save(pageImage(FieldPage::Home, kTabPageSize,
                       {QRect(12, 10, 400, 586), QRect(420, 10, 410, 552), QRect(850, 10, 548, 414),
                        QRect(850, 432, 548, 364), QRect(12, 606, 818, 190)}),
             dir, "homeBackGround.jpg");
    QImage data = pageImage(FieldPage::Data, kTabPageSize,
                            {QRect(20, 22, 1370, 196), QRect(40, 226, 1331, 563)});
    ok &= save(data, dir, "DataBackGround.jpg");
    ok &= save(pageImage(FieldPage::SetPage1, kStackPageSize,
                         {QRect(8, 14, 1386, 224), QRect(8, 240, 1386, 234),
                          QRect(8, 476, 1386, 206), QRect(8, 684, 1386, 112)}),
               dir, "SettingsBackGround.jpg");
    ok &= save(
        pageImage(FieldPage::SetPage2, kStackPageSize,
                  {QRect(8, 12, 1386, 200), QRect(8, 216, 1386, 164), QRect(8, 382, 1386, 400)}),
        dir, "SettingsBackGround2.jpg");
    {
        QImage fault = tablePage(QRect(54, 130, 1295, 535), "Active alarms");
        QPainter p(&fault);
        p.setRenderHint(QPainter::Antialiasing);
        paintPanel(p, QRect(44, 684, 1320, 126));
        paintPageTexts(p, FieldPage::Fault);
        paintFields(p, FieldPage::Fault);
        p.end();
        ok &= save(fault, dir, "FaultBackGround.jpg");
    }
    ok &= save(tablePage(QRect(52, 46, 1309, 711), nullptr), dir, "PackBackGround.jpg");

    ok &= save(corner(QSize(63, 27), "Rack"), dir, "cornerBackGround.png");
    ok &= save(corner(QSize(57, 35), "Pack"), dir, "corner_PackBackGround.png");
    ok &= save(corner(QSize(156, 31), "Level \\ Bit"), dir, "corner_FaultBackGround.png");

    struct IconSpec {
        Glyph glyph;
        const char *caption, *bright, *deep;
    };
    const IconSpec icons[] = {
        {Glyph::Home, "HOME", "HOME.png", "HOME_Deep.png"},
        {Glyph::Data, "DATA", "Data.png", "Data_Deep.png"},
        {Glyph::Settings, "SETTINGS", "Settings.png", "Settings_Deep.png"},
        {Glyph::Fault, "FAULT", "Fault.png", "Fault_Deep.png"},
        {Glyph::Pack, "PACK", "PACk.png", "PACK_Deep.png"},
    };
    for (const IconSpec &s : icons) {
        ok &= save(tabIcon(s.glyph, s.caption, true), dir, s.bright);
        ok &= save(tabIcon(s.glyph, s.caption, false), dir, s.deep);
    }
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    // Fontconfig is shown an empty configuration: the system's fonts stay out of sight, and
    // only the bundled ones registered below can draw.
    QTemporaryDir fontconfigDir;
    if (!fontconfigDir.isValid()) {
        std::fprintf(stderr, "vaduz-artgen: no temporary folder\n");
        return 1;
    }
    {
        QFile conf(fontconfigDir.filePath(QStringLiteral("fonts.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return 1;
        conf.write(QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM "
                                  "\"fonts.dtd\">\n<fontconfig><cachedir>%1</cachedir>"
                                  "</fontconfig>\n")
                       .arg(fontconfigDir.filePath(QStringLiteral("cache")))
                       .toUtf8());
    }
    qputenv("FONTCONFIG_FILE",
            QFile::encodeName(fontconfigDir.filePath(QStringLiteral("fonts.conf"))));
    qunsetenv("FONTCONFIG_PATH");

    QGuiApplication app(argc, argv);
    QString dir;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--caption") && i + 1 < args.size()) {
            const QString assignment = args.at(++i);
            const int eq = assignment.indexOf(QLatin1Char('='));
            if (eq <= 0) {
                std::fprintf(stderr, "vaduz-artgen: --caption takes FIELD=TEXT\n");
                return 2;
            }
            g_captionOverrides[assignment.left(eq).toStdString()] = assignment.mid(eq + 1);
        } else if (dir.isEmpty()) {
            dir = a;
        } else {
            dir.clear();
            break;
        }
    }
    if (dir.isEmpty()) {
        std::fprintf(stderr, "usage: vaduz-artgen [--caption FIELD=TEXT]... OUTDIR\n");
        return 2;
    }
    if (!registerBundledFonts()) {
        std::fprintf(stderr, "vaduz-artgen: the bundled fonts could not be registered\n");
        return 1;
    }
    for (bool bold : {false, true}) {
        const QFontInfo info(captionFont(14, bold));
        if (info.family() != bundledCalibriFamily()) {
            std::fprintf(stderr, "vaduz-artgen: captions would be drawn in %s, not %s\n",
                         qPrintable(info.family()), qPrintable(bundledCalibriFamily()));
            return 1;
        }
    }
    for (const auto &o : g_captionOverrides) {
        bool known = false;
        for (int i = 0; i < captionCount() && !known; ++i)
            known = o.first == captions()[i].field && *captions()[i].text;
        if (!known) {
            std::fprintf(stderr, "vaduz-artgen: no caption for %s\n", o.first.c_str());
            return 2;
        }
    }
    QDir().mkpath(dir);

    bool ok = true;
    for (const qreal ratio : {1.0, 2.0}) {
        g_ratio = ratio;
        ok &= drawAll(dir);
    }
    if (g_errors) {
        std::fprintf(stderr, "vaduz-artgen: %d text(s) do not fit or cannot be drawn\n", g_errors);
        return 1;
    }
    return ok ? 0 : 1;
}
