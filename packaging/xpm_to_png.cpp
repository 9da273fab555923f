// Build-time helper: writes the panel's XPM icon as the 32 x 32 PNG that
// desktops look up by name (share/icons/hicolor/32x32/apps), or as the ICO
// that the Windows program carries (an output named *.ico).

#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: veloxa2-xpm-to-png ICON.xpm ICON.png|ICON.ico\n");
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]), "XPM");
    if (icon.isNull()) {
        std::fprintf(stderr, "veloxa2-xpm-to-png: cannot read %s as XPM\n", argv[1]);
        return 1;
    }
    if (icon.width() != 32 || icon.height() != 32) {
        std::fprintf(stderr, "veloxa2-xpm-to-png: %s is %dx%d, the icon is installed as 32x32\n", argv[1], icon.width(),
                     icon.height());
        return 1;
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    if (!icon.save(output, output.endsWith(QLatin1String(".ico")) ? "ICO" : "PNG")) {
        std::fprintf(stderr, "veloxa2-xpm-to-png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
