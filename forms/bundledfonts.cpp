#include "bundledfonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QResource>
#include <QStringList>

// The fonts live in this static library; its resources are registered by hand.
static void initFontResources() {
    Q_INIT_RESOURCE(fonts);
}

namespace {

const char *const kFontFiles[] = {
    ":/fonts/Carlito-Regular.ttf",        ":/fonts/Carlito-Bold.ttf",
    ":/fonts/LiberationSans-Regular.ttf", ":/fonts/LiberationSans-Bold.ttf",
    ":/fonts/VaduzFallback-Regular.otf",
};

} // namespace

QString bundledCalibriFamily() {
    return QStringLiteral("Carlito");
}

QString bundledArialFamily() {
    return QStringLiteral("Liberation Sans");
}

QString bundledFallbackFamily() {
    return QStringLiteral("Vaduz Fallback");
}

bool registerBundledFonts() {
    static int registered = -1;
    if (registered >= 0)
        return registered == 1;
    initFontResources();
    bool ok = true;
    for (const char *file : kFontFiles) {
        // Straight from the resource data compiled into the program: registering by file name
        // would read a copy of each font onto the heap (2 MB for the four faces).
        const QResource resource{QString::fromLatin1(file)};
        const QByteArray data =
            resource.isValid() && resource.compressionAlgorithm() == QResource::NoCompression
                ? QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()),
                                          int(resource.size()))
                : QByteArray();
        ok &= (data.isEmpty() ? QFontDatabase::addApplicationFont(QLatin1String(file))
                              : QFontDatabase::addApplicationFontFromData(data)) >= 0;
    }
    // A family that is installed keeps precedence; the substitute is used only without it.
    // The fallback follows each family: a character a family lacks (the full-width brackets
    // of the Fault page, the degree-Celsius sign) is drawn from it, not as a box.
    QFont::insertSubstitutions(QStringLiteral("Calibri"),
                               {bundledCalibriFamily(), bundledFallbackFamily()});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {bundledArialFamily(), bundledFallbackFamily()});
    for (const QString &family : {bundledCalibriFamily(), bundledArialFamily()})
        QFont::insertSubstitution(family, bundledFallbackFamily());
    registered = ok ? 1 : 0;
    return ok;
}
