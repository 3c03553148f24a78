// Paints every picture of the two windows, at the sizes the forms use, into PNG files.
//
//   kv6251-drawpictures <resources dir>
//
// writes <dir>/pictures/*.png and <dir>/kv6251-32.png (the program icon, also installed by the
// package). The pictures are checked in; run this only to change them. Each is drawn on a
// 100 x 100 design grid scaled to its size, so the same drawing serves several sizes. The
// scalable program icon, resources/kv6251.svg, is the same drawing as programIcon below.
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

using Drawing = std::function<void(QPainter&)>;

const QColor kNavy(0x12, 0x2c, 0x5c);
const QColor kBlue(0x2a, 0x6c, 0xc0);
const QColor kLightBlue(0x7f, 0xb2, 0xec);
const QColor kGreen(0x2f, 0xa8, 0x3c);
const QColor kRed(0xd2, 0x32, 0x2d);
const QColor kOrange(0xf2, 0x9b, 0x1d);
const QColor kSteel(0x5b, 0x63, 0x6e);
const QColor kSilver(0xc9, 0xce, 0xd6);
const QColor kOutline(0x1d, 0x22, 0x2a);

QImage Paint(int width, int height, const Drawing& draw, bool keepAspect = true) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (keepAspect) {
        const double scale = std::min(width, height) / 100.0;
        painter.translate((width - 100 * scale) / 2, (height - 100 * scale) / 2);
        painter.scale(scale, scale);
    } else {
        painter.scale(width / 100.0, height / 100.0);
    }
    draw(painter);
    return image;
}

QPen Outline(double width = 3) {
    return QPen(kOutline, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QLinearGradient Vertical(const QColor& top, const QColor& bottom, double y0 = 0, double y1 = 100) {
    QLinearGradient gradient(0, y0, 0, y1);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

// An arrow from (x0, y) to (x1, y), pointing right when x1 > x0.
QPainterPath HorizontalArrow(double x0, double x1, double y, double shaft, double head) {
    const double dir = x1 > x0 ? 1 : -1;
    const double neck = x1 - dir * head;
    QPainterPath path;
    path.moveTo(x0, y - shaft / 2);
    path.lineTo(neck, y - shaft / 2);
    path.lineTo(neck, y - head * 0.9);
    path.lineTo(x1, y);
    path.lineTo(neck, y + head * 0.9);
    path.lineTo(neck, y + shaft / 2);
    path.lineTo(x0, y + shaft / 2);
    path.closeSubpath();
    return path;
}

QPainterPath VerticalArrow(double x, double y0, double y1, double shaft, double head) {
    QTransform turn;
    turn.translate(x, 0);
    turn.rotate(90);
    return turn.map(HorizontalArrow(y0, y1, 0, shaft, head));
}

// ---- the drawings -----------------------------------------------------------------------

// The program icon: a stream entering a switch whose lever picks one of two outputs.
void ProgramIcon(QPainter& p) {
    QPainterPath body;
    body.addRoundedRect(QRectF(4, 4, 92, 92), 18, 18);
    p.setPen(QPen(QColor(0x08, 0x1c, 0x3c), 3));
    p.setBrush(Vertical(QColor(0x2f, 0x6f, 0xc4), QColor(0x0d, 0x2d, 0x5e), 4, 96));
    p.drawPath(body);

    // Packets on the input line.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0xff, 0xd8));
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(12 + i * 10, 44, 7, 12), 2, 2);
    // Outputs.
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(66, 28), QPointF(86, 28));
    p.drawLine(QPointF(66, 72), QPointF(86, 72));
    // The lever.
    p.setPen(QPen(kOrange, 8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(46, 50), QPointF(66, 30));
    p.setPen(QPen(QColor(0x08, 0x1c, 0x3c), 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(46, 50), 7, 7);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(68, 28), 6, 6);
    p.setBrush(kSilver);
    p.drawEllipse(QPointF(68, 72), 6, 6);
}

void Plug(QPainter& p, double x, double y) {
    // Cable, body and two prongs of a plug whose prongs point right from (x, y).
    p.setPen(QPen(kOutline, 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(x - 34, y + 18), QPointF(x - 16, y));
    p.setPen(Outline());
    p.setBrush(Vertical(kLightBlue, kBlue, y - 16, y + 16));
    p.drawRoundedRect(QRectF(x - 20, y - 15, 22, 30), 5, 5);
    p.setBrush(kSilver);
    p.drawRect(QRectF(x + 2, y - 11, 12, 6));
    p.drawRect(QRectF(x + 2, y + 5, 12, 6));
}

void Socket(QPainter& p, double x, double y) {
    // A socket whose opening faces left at (x, y), with its cable.
    p.setPen(QPen(kOutline, 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(x + 16, y), QPointF(x + 34, y - 18));
    p.setPen(Outline());
    p.setBrush(Vertical(QColor(0x8a, 0x92, 0x9c), kSteel, y - 16, y + 16));
    p.drawRoundedRect(QRectF(x - 2, y - 15, 22, 30), 5, 5);
    p.setBrush(kOutline);
    p.drawRect(QRectF(x + 1, y - 10, 4, 4));
    p.drawRect(QRectF(x + 1, y + 6, 4, 4));
}

void ConnectPicture(QPainter& p) {
    Plug(p, 40, 52);
    Socket(p, 54, 52);
    p.setPen(QPen(kGreen, 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(30, 14, 40, 28), 30 * 16, 120 * 16);
    p.setPen(Outline(2));
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(50, 14), 7, 7);
}

void DisconnectPicture(QPainter& p) {
    Plug(p, 30, 56);
    Socket(p, 64, 56);
    p.setPen(QPen(kRed, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(40, 12), QPointF(60, 32));
    p.drawLine(QPointF(60, 12), QPointF(40, 32));
}

void OpenPicture(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(Vertical(QColor(0xf6, 0xd3, 0x65), QColor(0xd9, 0xa4, 0x1e)));
    QPainterPath back;
    back.moveTo(8, 84);
    back.lineTo(8, 22);
    back.lineTo(36, 22);
    back.lineTo(42, 30);
    back.lineTo(80, 30);
    back.lineTo(80, 84);
    back.closeSubpath();
    p.drawPath(back);
    // A sheet sticking out.
    p.setBrush(Qt::white);
    p.drawRect(QRectF(22, 16, 44, 40));
    p.setPen(QPen(kSilver, 3));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(28, 26 + i * 9), QPointF(60, 26 + i * 9));
    // The front flap, tilted open.
    p.setPen(Outline());
    p.setBrush(Vertical(QColor(0xfb, 0xe0, 0x86), QColor(0xe8, 0xb3, 0x2c), 44, 90));
    QPainterPath front;
    front.moveTo(8, 88);
    front.lineTo(22, 46);
    front.lineTo(94, 46);
    front.lineTo(80, 88);
    front.closeSubpath();
    p.drawPath(front);
}

void SavePicture(QPainter& p) {
    p.setPen(Outline());
    p.setBrush(Vertical(kLightBlue, kBlue));
    QPainterPath disk;
    disk.moveTo(10, 10);
    disk.lineTo(78, 10);
    disk.lineTo(90, 22);
    disk.lineTo(90, 90);
    disk.lineTo(10, 90);
    disk.closeSubpath();
    p.drawPath(disk);
    p.setBrush(kSilver);
    p.drawRect(QRectF(26, 10, 44, 26));
    p.setBrush(kSteel);
    p.drawRect(QRectF(54, 15, 10, 16));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(20, 50, 60, 40), 3, 3);
    p.setPen(QPen(kSilver, 3));
    p.drawLine(QPointF(28, 62), QPointF(72, 62));
    p.drawLine(QPointF(28, 74), QPointF(72, 74));
}

void Box(QPainter& p, const QRectF& r) {
    // The switcher box: a dark case with a row of lamps.
    p.setPen(Outline());
    p.setBrush(Vertical(QColor(0x6b, 0x74, 0x80), QColor(0x33, 0x39, 0x41), r.top(), r.bottom()));
    p.drawRoundedRect(r, 5, 5);
    p.setPen(Qt::NoPen);
    const QColor lamps[] = {kGreen, kOrange, kGreen};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(lamps[i]);
        p.drawEllipse(QPointF(r.left() + 12 + i * 11, r.center().y()), 3.5, 3.5);
    }
}

void GetPicture(QPainter& p) {
    Box(p, QRectF(12, 8, 76, 28));
    p.setPen(Outline());
    p.setBrush(Vertical(QColor(0x7c, 0xd8, 0x7f), kGreen, 40, 94));
    p.drawPath(VerticalArrow(50, 40, 94, 20, 22));
}

void AboutPicture(QPainter& p) {
    p.setPen(Outline());
    QRadialGradient glow(QPointF(38, 34), 60);
    glow.setColorAt(0, kLightBlue);
    glow.setColorAt(1, kBlue);
    p.setBrush(glow);
    p.drawEllipse(QPointF(50, 50), 44, 44);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(50, 27), 8, 8);
    p.drawRoundedRect(QRectF(42, 42, 16, 40), 4, 4);
}

void ExitPicture(QPainter& p) {
    // An open door and an arrow leaving through it.
    p.setPen(Outline());
    p.setBrush(QColor(0x4a, 0x30, 0x1c));
    p.drawRect(QRectF(20, 8, 46, 84));
    p.setBrush(Vertical(QColor(0xc4, 0x8a, 0x52), QColor(0x8b, 0x55, 0x2a)));
    QPainterPath door;
    door.moveTo(20, 8);
    door.lineTo(46, 16);
    door.lineTo(46, 98);
    door.lineTo(20, 92);
    door.closeSubpath();
    p.drawPath(door);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(40, 54), 3, 3);
    p.setBrush(Vertical(QColor(0xf0, 0x70, 0x6a), kRed, 34, 70));
    p.drawPath(HorizontalArrow(52, 96, 52, 16, 20));
}

void SendPicture(QPainter& p) {
    Box(p, QRectF(52, 30, 44, 40));
    p.setPen(Outline());
    p.setBrush(Vertical(QColor(0xf8, 0xc8, 0x6a), kOrange, 30, 70));
    p.drawPath(HorizontalArrow(4, 56, 50, 18, 22));
}

void FlagPicture(QPainter& p) {
    // The maker's pennant on a pole: a swallow-tailed navy cloth with the emblem's letter.
    p.setPen(QPen(kSteel, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 8), QPointF(14, 96));
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(14, 8), 5, 5);
    QPainterPath cloth;
    cloth.moveTo(16, 12);
    cloth.cubicTo(40, 6, 64, 18, 94, 12);
    cloth.lineTo(76, 36);
    cloth.lineTo(94, 60);
    cloth.cubicTo(64, 66, 40, 54, 16, 60);
    cloth.closeSubpath();
    p.setPen(Outline(2.5));
    p.setBrush(Vertical(kBlue, kNavy, 8, 64));
    p.drawPath(cloth);
    // The emblem's "N" in white.
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath letter;
    letter.moveTo(32, 50);
    letter.lineTo(32, 22);
    letter.lineTo(56, 50);
    letter.lineTo(56, 22);
    p.drawPath(letter);
}

Drawing Lamp(const QColor& light, const QColor& mid, const QColor& dark) {
    return [=](QPainter& p) {
        QRadialGradient gradient(QPointF(38, 36), 62);
        gradient.setColorAt(0, light);
        gradient.setColorAt(0.45, mid);
        gradient.setColorAt(1, dark);
        p.setPen(QPen(kOutline, 5));
        p.setBrush(gradient);
        p.drawEllipse(QPointF(50, 50), 44, 44);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 150));
        p.drawEllipse(QPointF(38, 34), 12, 9);
    };
}

void PortPicture(QPainter& p) {
    // A nine-pin connector shell.
    QPainterPath shell;
    shell.moveTo(6, 24);
    shell.lineTo(94, 24);
    shell.lineTo(82, 78);
    shell.lineTo(18, 78);
    shell.closeSubpath();
    p.setPen(Outline(6));
    p.setBrush(Vertical(kSilver, kSteel, 24, 78));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(22 + i * 14, 42), 5, 5);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(29 + i * 14, 62), 5, 5);
}

void OkPicture(QPainter& p) {
    p.setPen(QPen(QColor(0x1b, 0x6e, 0x25), 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(14, 54);
    tick.lineTo(40, 80);
    tick.lineTo(88, 22);
    p.drawPath(tick);
    p.setPen(QPen(QColor(0x5c, 0xd0, 0x64), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
}

// The maker's emblem: an "N" made of two bars and a diagonal, in a rounded square.
void Emblem(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kNavy, r.width() * 0.05));
    p.setBrush(Vertical(kBlue, kNavy, r.top(), r.bottom()));
    p.drawRoundedRect(r, r.width() * 0.2, r.width() * 0.2);
    const double u = r.width() / 10;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(r.left() + 2.2 * u, r.top() + 2 * u, 1.5 * u, 6 * u));
    p.drawRect(QRectF(r.left() + 6.3 * u, r.top() + 2 * u, 1.5 * u, 6 * u));
    QPainterPath diagonal;
    diagonal.moveTo(r.left() + 2.2 * u, r.top() + 2 * u);
    diagonal.lineTo(r.left() + 3.9 * u, r.top() + 2 * u);
    diagonal.lineTo(r.left() + 7.8 * u, r.top() + 8 * u);
    diagonal.lineTo(r.left() + 6.1 * u, r.top() + 8 * u);
    diagonal.closeSubpath();
    p.drawPath(diagonal);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(r.right() - 1.2 * u, r.top() + 1.2 * u), 0.8 * u, 0.8 * u);
}

QImage Logo(int width, int height, bool withTagline) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont name(QStringLiteral("DejaVu Sans"));
    name.setBold(true);
    name.setPixelSize(static_cast<int>(withTagline ? height * 0.52 : height * 0.72));
    name.setLetterSpacing(QFont::PercentageSpacing, 108);
    const QString wordmark = QStringLiteral("NORVELL");
    // Emblem, gap and name form one block, centred in the picture.
    const double side = height - 2;
    const double gap = height * 0.25;
    const double nameWidth = QFontMetricsF(name).horizontalAdvance(wordmark);
    const double left = std::max(1.0, (width - side - gap - nameWidth) / 2);
    Emblem(p, QRectF(left, 1, side, side));

    const QRectF text(left + side + gap, 0, width - left - side - gap, withTagline ? height * 0.68 : height);
    p.setFont(name);
    p.setPen(kNavy);
    p.drawText(text, Qt::AlignLeft | (withTagline ? Qt::AlignBottom : Qt::AlignVCenter), wordmark);
    if (withTagline) {
        QFont tagline(QStringLiteral("DejaVu Sans"));
        tagline.setPixelSize(static_cast<int>(height * 0.2));
        tagline.setLetterSpacing(QFont::PercentageSpacing, 130);
        p.setFont(tagline);
        p.setPen(kOrange);
        p.drawText(QRectF(text.left() + 2, height * 0.7, text.width(), height * 0.3), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("ELECTRONICS"));
    }
    return image;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources dir>\n", argv[0]);
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    if (!resources.mkpath(QStringLiteral("pictures"))) {
        std::fprintf(stderr, "cannot create %s/pictures\n", argv[1]);
        return 1;
    }
    struct Picture {
        const char* name;
        int width;
        int height;
        Drawing draw;
    };
    const Picture pictures[] = {
        {"connect", 38, 38, ConnectPicture},
        {"disconnect", 35, 35, DisconnectPicture},
        {"open", 35, 35, OpenPicture},
        {"save", 32, 32, SavePicture},
        {"get", 33, 33, GetPicture},
        {"about", 33, 33, AboutPicture},
        {"exit", 32, 32, ExitPicture},
        {"send", 35, 35, SendPicture},
        {"flag", 32, 31, FlagPicture},
        {"lamp-green", 20, 20, Lamp(QColor(0xd8, 0xff, 0xd0), QColor(0x35, 0xd0, 0x3a), QColor(0x0c, 0x5a, 0x12))},
        {"lamp-red", 20, 20, Lamp(QColor(0xff, 0xd8, 0xd0), QColor(0xe0, 0x30, 0x28), QColor(0x6a, 0x0a, 0x08))},
        {"menu-connect", 35, 35, ConnectPicture},
        {"menu-disconnect", 35, 35, DisconnectPicture},
        {"menu-open", 32, 32, OpenPicture},
        {"menu-exit", 32, 31, ExitPicture},
        {"menu-send", 33, 33, SendPicture},
        {"port", 16, 16, PortPicture},
        {"ok", 32, 32, OkPicture},
    };
    bool ok = true;
    for (const Picture& picture : pictures)
        ok &= Save(Paint(picture.width, picture.height, picture.draw),
                   resources.filePath(QStringLiteral("pictures/%1.png").arg(QLatin1String(picture.name))));
    ok &= Save(Logo(125, 24, false), resources.filePath(QStringLiteral("pictures/logo-small.png")));
    ok &= Save(Logo(313, 59, true), resources.filePath(QStringLiteral("pictures/logo-large.png")));
    ok &= Save(Paint(32, 32, ProgramIcon), resources.filePath(QStringLiteral("kv6251-32.png")));
    return ok ? 0 : 1;
}
