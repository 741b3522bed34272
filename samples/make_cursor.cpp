// Draws the program's hand pointer and writes it as a Windows cursor file
// (HAND-M.CUR) with its hot spot at the tip of the index finger.
//
//   tp_make_cursor OUTPUT_FILE
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tp_make_cursor OUTPUT_FILE\n");
        return 2;
    }
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath hand;
        hand.addRoundedRect(QRectF(9, 1, 5, 17), 2.5, 2.5);     // index finger
        hand.addRoundedRect(QRectF(14, 9, 4.5, 10), 2.2, 2.2);  // middle finger
        hand.addRoundedRect(QRectF(18.5, 10, 4.5, 10), 2.2, 2.2);
        hand.addRoundedRect(QRectF(23, 11.5, 4, 9), 2, 2);  // little finger
        hand.addRoundedRect(QRectF(9, 14, 18, 14), 4, 4);   // palm
        QPainterPath thumb;
        thumb.moveTo(9.5, 17);
        thumb.lineTo(5, 13.5);
        thumb.quadTo(2.5, 13.5, 3.5, 16.5);
        thumb.lineTo(9.5, 25);
        thumb.closeSubpath();
        hand = hand.united(thumb).simplified();
        p.setPen(QPen(Qt::black, 1.2));
        p.setBrush(Qt::white);
        p.drawPath(hand);
        p.setPen(QPen(Qt::black, 0.8));
        p.drawLine(QPointF(14, 14), QPointF(14, 18));
        p.drawLine(QPointF(18.5, 14), QPointF(18.5, 19));
        p.drawLine(QPointF(23, 15), QPointF(23, 20));
    }
    QByteArray data;
    QBuffer buf(&data);
    buf.open(QIODevice::WriteOnly);
    if (!img.save(&buf, "ico") || data.size() < 22) {
        std::fprintf(stderr, "tp_make_cursor: cannot encode the image\n");
        return 1;
    }
    // An icon directory becomes a cursor directory: type 2 and the hot spot
    // in the words that hold planes and bit count for an icon.
    data[2] = 2;
    data[10] = 11;  // x
    data[11] = 0;
    data[12] = 1;  // y
    data[13] = 0;
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(data) != data.size()) {
        std::fprintf(stderr, "tp_make_cursor: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
