// The program's images: each renders at its size, and no two scan categories look alike
// (the result grid tells the categories apart by their image).

#include "ui/Images.h"

#include <QtTest>

class TestImages : public QObject {
    Q_OBJECT
private slots:
    void titleImagesAre72Pixels();
    void anUnknownTitleImageRaises();
    void categoryImagesDiffer();
    void treeImagesDiffer();
};

void TestImages::titleImagesAre72Pixels() {
    QList<QImage> seen;
    for (const char* name : {"clean", "backup", "compact"}) {
        const QPixmap image = ui::TitleImage(name);
        QCOMPARE(image.deviceIndependentSize(), QSizeF(72, 72));
        QVERIFY2(!seen.contains(image.toImage()), name);
        seen << image.toImage();
    }
}

void TestImages::anUnknownTitleImageRaises() {
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ui::TitleImage("repair"));
}

void TestImages::categoryImagesDiffer() {
    QList<QImage> seen;
    for (int item = 0; item < kRepairItemCount; ++item) {
        const QImage image = ui::CategoryImage(TRepairItem(item)).pixmap(16).toImage();
        QCOMPARE(image.size(), QSize(16, 16));
        // Something is drawn.
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                drawn += image.pixelColor(x, y).alpha() > 0;
        QVERIFY2(drawn > 40, qPrintable(QString::number(item)));
        QVERIFY2(!seen.contains(image), qPrintable(QString::number(item)));
        seen << image;
    }
}

void TestImages::treeImagesDiffer() {
    QList<QImage> seen;
    for (int index = 0; index < 5; ++index) {
        const QImage image = ui::TreeImage(index).toImage();
        QVERIFY2(!seen.contains(image), qPrintable(QString::number(index)));
        seen << image;
    }
}

QTEST_MAIN(TestImages)
#include "test_ui_images.moc"
