// One-off generator of app/resources/DropPicture.jpg, the source list's 348 x 80 background
// picture: a white ground with "Drag And Drop Excel Files Here" in green, as a baseline JPEG.
// SPDX-License-Identifier: Apache-2.0
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
        return 2;
    }
    QImage image(348, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        QFont font("DejaVu Sans");
        // Sized and placed so that the words fit the 294 pixels of the list that shows the picture.
        font.setPixelSize(16);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(0, 128, 0));
        painter.drawText(image.rect().adjusted(6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         "Drag And Drop Excel Files Here");
    }
    QImageWriter writer(argv[1], "jpeg");
    // A baseline (sequential) JPEG: progressive scans off, as every libjpeg build decodes it.
    writer.setProgressiveScanWrite(false);
    writer.setOptimizedWrite(false);
    writer.setQuality(92);
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}
