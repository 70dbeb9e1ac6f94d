// Renders the program's SVG icon into the PNG sizes of the hicolor icon theme:
// OUT/NxN/apps/NAME.png for each size given.
//   hivewarden-render-icon ICON.svg OUT NAME SIZE...

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    QTextStream err(stderr);
    if (args.size() < 4) {
        err << "Usage: hivewarden-render-icon ICON.svg OUT NAME SIZE...\n";
        return 2;
    }
    QSvgRenderer svg(args[0]);
    if (!svg.isValid()) {
        err << "The icon " << args[0] << " cannot be read as SVG.\n";
        return 1;
    }
    for (const QString& text : args.mid(3)) {
        bool ok = false;
        const int size = text.toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            err << "The size " << text << " is no icon size.\n";
            return 2;
        }
        const QString folder = QString("%1/%2x%2/apps").arg(args[1]).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString file = folder + "/" + args[2] + ".png";
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            err << "The icon cannot be written to " << file << ".\n";
            return 1;
        }
    }
    return 0;
}
