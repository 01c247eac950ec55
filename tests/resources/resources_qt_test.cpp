// Loads the compiled-in cursor and icons through Qt's image plugins, the way
// the program does, from a binary that only links velmora_resources.

#include "velmora_resources.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

#include <cstdio>

namespace {

int failures = 0;
int passes = 0;

void check(bool ok, const char *what)
{
    if (ok) {
        ++passes;
    } else {
        ++failures;
        std::printf("FAIL: %s\n", what);
    }
}

bool hasSoftEdge(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const int a = qAlpha(argb.pixel(x, y));
            if (a > 0 && a < 255)
                return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    using namespace velmora::resources;

    check(available(), "resource data is not linked in");

    const QImage cursor(QString::fromLatin1(kLinkCursor));
    check(!cursor.isNull(), "the link cursor does not load");
    if (!cursor.isNull()) {
        check(cursor.size() == QSize(32, 32), "the link cursor is not 32x32");
        check(cursor.hasAlphaChannel(), "the link cursor has no transparency");
        const QRgb tip = cursor.pixel(kLinkCursorHotSpotX, kLinkCursorHotSpotY);
        check(qAlpha(tip) == 255 && qGray(tip) == 0, "the hot spot is not on the black fingertip");
        check(qAlpha(cursor.pixel(0, 0)) == 0, "the cursor's corner is not transparent");
        check(qAlpha(cursor.pixel(kLinkCursorHotSpotX, kLinkCursorHotSpotY + 3)) == 255
                  && qGray(cursor.pixel(kLinkCursorHotSpotX, kLinkCursorHotSpotY + 3)) == 255,
              "the finger below the hot spot is not white");
    }
    check(!QPixmap(QString::fromLatin1(kLinkCursor)).isNull(), "no pixmap for the link cursor");

    QImageReader appReader(QString::fromLatin1(kAppIcon));
    check(appReader.imageCount() == 9, "the program icon does not hold nine images");

    const QIcon appIcon(QString::fromLatin1(kAppIcon));
    const QList<QSize> sizes = appIcon.availableSizes();
    for (int size : {16, 32, 48}) {
        check(sizes.contains(QSize(size, size)), "the program icon lacks a size");
        const QImage image = appIcon.pixmap(QSize(size, size)).toImage();
        check(image.size() == QSize(size, size), "the program icon gives the wrong size");
        // QIcon should keep the 32 bpp image of each size, not a palette one.
        if (size > 16)
            check(hasSoftEdge(image), "the program icon lost its full-colour images");
        check(qAlpha(image.pixel(0, 0)) == 0, "the program icon's corner is not transparent");
        check(qAlpha(image.pixel(size / 2, size / 2)) == 255, "the program icon's middle is clear");
    }

    const QImage window(QString::fromLatin1(kWindowIcon));
    check(window.size() == QSize(24, 24), "the window icon is not 24x24");
    if (window.size() == QSize(24, 24)) {
        check(qAlpha(window.pixel(23, 0)) == 0 && qAlpha(window.pixel(0, 23)) == 0,
              "the window icon's corners are not transparent");
        check(qAlpha(window.pixel(12, 12)) == 255, "the window icon's middle is clear");
    }
    check(!QIcon(QString::fromLatin1(kWindowIcon)).isNull(), "no QIcon for the window icon");

    std::printf("resources_qt: %d passed, %d failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
