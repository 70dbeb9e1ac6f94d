#include "ui/Images.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <array>
#include <stdexcept>

// The resources live in a static library: register them before the first use.
static void registerImages() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    (void)registered;
}

namespace ui {

namespace {

QPixmap render(const QString& file, int size) {
    registerImages();
    QSvgRenderer renderer(":/images/" + file);
    if (!renderer.isValid())
        throw std::runtime_error("The image " + file.toStdString() + " cannot be read");
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

constexpr int kSmall = 16;
constexpr int kTitle = 72;

} // namespace

QPixmap TitleImage(const QString& name) {
    if (name != "clean" && name != "backup" && name != "compact")
        throw std::runtime_error("No title image is named " + name.toStdString());
    return render("title-" + name + ".svg", kTitle);
}

QIcon CategoryImage(TRepairItem item) {
    static const std::array<const char*, kRepairItemCount> files = {
        "com",        "app-paths",   "auto-run", "classes",  "file-associations", "fonts",
        "help-files", "shared-dlls", "software", "services", "uninstallers",      "start-menu"};
    return QIcon(render(QString("category-%1.svg").arg(files.at(item)), kSmall));
}

QPixmap TreeImage(int index) {
    static const std::array<const char*, 5> files = {
        "tree-registry", "tree-key", "tree-key-selected", "tree-branch", "tree-branch-selected"};
    return render(QString(files.at(size_t(index))) + ".svg", kSmall);
}

QIcon TreeNodeIcon(bool hasSubKeys) {
    QIcon icon;
    icon.addPixmap(TreeImage(hasSubKeys ? 3 : 1), QIcon::Normal);
    icon.addPixmap(TreeImage(hasSubKeys ? 4 : 2), QIcon::Selected);
    return icon;
}

QIcon TreeTopIcon() {
    return QIcon(TreeImage(0));
}

} // namespace ui
