// Draws the client's own skin from code and writes it into a folder: the frame, the title and panel buttons
// (normal, hover and pressed, some with a second picture set), the user-list icons, the video backgrounds,
// the slider pictures, and the six layout files that place the buttons over the windows' controls.
//
//   skin_generator OUTPUT_FOLDER
//
// Every bitmap is drawn twice: at its size, and at twice its size as "name@2x.bmp" for screens of twice the
// density (the client takes those there), from the same drawing code in the same coordinates.
//
// One style throughout: a calm blue-grey palette, rounded shapes and white line glyphs. Magenta (255, 0, 255)
// is the key colour: it marks what is transparent in every keyed picture.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

const QColor kKey(255, 0, 255);
const QColor kDeep(46, 74, 99);   // frame and strong accents
const QColor kBlue(70, 117, 166); // buttons
const QColor kBlueHover(92, 142, 194);
const QColor kBluePressed(44, 86, 130);
const QColor kSoft(232, 237, 243); // panel background
const QColor kRed(196, 72, 64);
const QColor kGreen(76, 160, 104);
const char* const kKeyText = "ff00ff";

QString g_out;
// 1, or 2 while the pictures for screens of twice the density are drawn.
int g_scale = 1;

void save(const QImage& image, const QString& name) {
    // 24-bit bitmaps, as the skin loader and every bitmap reader expect.
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const QString file = g_scale == 1 ? name : QString(name).replace(".bmp", "@2x.bmp");
    QDir().mkpath(QFileInfo(g_out + "/" + file).absolutePath());
    if (!rgb.save(g_out + "/" + file, "BMP")) {
        std::fprintf(stderr, "skin_generator: cannot write %s\n", qPrintable(name));
        std::exit(1);
    }
}

// A picture of w x h in drawing coordinates, with g_scale pixels to each of them.
QImage canvas(int w, int h, const QColor& fill = kKey) {
    QImage image(w * g_scale, h * g_scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(g_scale);
    image.fill(fill);
    return image;
}

// A painter without smoothing at the edges, so that keyed pictures have no blended key colour.
struct Pen {
    QPainter p;
    explicit Pen(QImage* image) : p(image) { p.setRenderHint(QPainter::Antialiasing, false); }
};

using Glyph = std::function<void(QPainter&, const QRect&)>;

// A rounded button face with a glyph, in one of three states.
QImage button_face(int w, int h, const QColor& face, const Glyph& glyph, int radius = 5) {
    QImage image = canvas(w, h);
    Pen pen(&image);
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, w, h), radius, radius);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, face.lighter(112));
    g.setColorAt(1, face);
    pen.p.fillPath(path, g);
    pen.p.setPen(QPen(Qt::white, 2));
    glyph(pen.p, QRect(0, 0, w, h));
    return image;
}

// normal, hover, pressed
void button_set(const QString& base, int w, int h, const Glyph& glyph, const QColor& face = kBlue) {
    save(button_face(w, h, face, glyph), base + "_n.bmp");
    save(button_face(w, h, face == kBlue ? kBlueHover : face.lighter(120), glyph), base + "_h.bmp");
    save(button_face(w, h, face == kBlue ? kBluePressed : face.darker(125), glyph), base + "_d.bmp");
}

Glyph text_glyph(const QString& text, int pixel_size = 12) {
    return [text, pixel_size](QPainter& p, const QRect& r) {
        QFont f("Noto Sans CJK SC");
        f.setPixelSize(pixel_size);
        p.setFont(f);
        p.drawText(r, Qt::AlignCenter, text);
    };
}

// ---- glyphs ----
void g_min(QPainter& p, const QRect& r) {
    p.drawLine(r.center().x() - 5, r.center().y() + 4, r.center().x() + 5, r.center().y() + 4);
}
void g_max(QPainter& p, const QRect& r) {
    p.drawRect(QRect(r.center().x() - 5, r.center().y() - 5, 10, 9));
}
void g_restore(QPainter& p, const QRect& r) {
    p.drawRect(QRect(r.center().x() - 6, r.center().y() - 2, 8, 7));
    p.drawLine(r.center().x() - 3, r.center().y() - 5, r.center().x() + 5, r.center().y() - 5);
    p.drawLine(r.center().x() + 5, r.center().y() - 5, r.center().x() + 5, r.center().y() + 2);
}
void g_close(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawLine(c.x() - 5, c.y() - 5, c.x() + 5, c.y() + 5);
    p.drawLine(c.x() - 5, c.y() + 5, c.x() + 5, c.y() - 5);
}
void g_help(QPainter& p, const QRect& r) {
    QFont f("Noto Sans");
    f.setPixelSize(14);
    f.setBold(true);
    p.setFont(f);
    p.drawText(r, Qt::AlignCenter, "?");
}
void g_mic(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawRoundedRect(QRect(c.x() - 3, c.y() - 7, 6, 10), 3, 3);
    p.drawArc(QRect(c.x() - 6, c.y() - 4, 12, 10), 180 * 16, 180 * 16);
    p.drawLine(c.x(), c.y() + 6, c.x(), c.y() + 8);
}
void g_speaker(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    QPolygon body;
    body << QPoint(c.x() - 7, c.y() - 3) << QPoint(c.x() - 3, c.y() - 3) << QPoint(c.x() + 2, c.y() - 7)
         << QPoint(c.x() + 2, c.y() + 7) << QPoint(c.x() - 3, c.y() + 3) << QPoint(c.x() - 7, c.y() + 3);
    p.drawPolygon(body);
    p.drawArc(QRect(c.x() - 1, c.y() - 5, 8, 10), -60 * 16, 120 * 16);
}
Glyph muted(Glyph g) {
    return [g](QPainter& p, const QRect& r) {
        g(p, r);
        p.setPen(QPen(QColor(255, 200, 190), 2));
        p.drawLine(r.left() + 4, r.bottom() - 4, r.right() - 4, r.top() + 4);
    };
}
void g_snap(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawRoundedRect(QRect(c.x() - 7, c.y() - 4, 14, 10), 2, 2);
    p.drawEllipse(QPoint(c.x(), c.y() + 1), 3, 3);
    p.drawLine(c.x() - 3, c.y() - 6, c.x() + 3, c.y() - 6);
}
void g_zoom(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawRect(QRect(c.x() - 6, c.y() - 6, 12, 12));
    p.drawLine(c.x() - 2, c.y() - 3, c.x() + 3, c.y() - 3);
    p.drawLine(c.x() + 3, c.y() - 3, c.x() + 3, c.y() + 2);
}
void g_plus(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawLine(c.x() - 5, c.y(), c.x() + 5, c.y());
    p.drawLine(c.x(), c.y() - 5, c.x(), c.y() + 5);
}
void g_minus(QPainter& p, const QRect& r) {
    p.drawLine(r.center().x() - 5, r.center().y(), r.center().x() + 5, r.center().y());
}
void g_left(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawLine(c.x() + 2, c.y() - 5, c.x() - 3, c.y());
    p.drawLine(c.x() - 3, c.y(), c.x() + 2, c.y() + 5);
}
void g_right(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawLine(c.x() - 2, c.y() - 5, c.x() + 3, c.y());
    p.drawLine(c.x() + 3, c.y(), c.x() - 2, c.y() + 5);
}
void g_face(QPainter& p, const QRect& r) {
    const QPoint c = r.center();
    p.drawEllipse(c, 7, 7);
    p.drawPoint(c.x() - 3, c.y() - 2);
    p.drawPoint(c.x() + 3, c.y() - 2);
    p.drawArc(QRect(c.x() - 4, c.y() - 2, 8, 6), 200 * 16, 140 * 16);
}

// ---- icons (16 x 16, keyed) ----
QImage icon(const std::function<void(QPainter&)>& draw) {
    QImage image = canvas(16, 16);
    Pen pen(&image);
    draw(pen.p);
    return image;
}

void write_icons() {
    save(icon([](QPainter& p) { // teacher: a person with a board
             p.fillRect(QRect(1, 1, 14, 8), kDeep);
             p.fillRect(QRect(3, 3, 10, 4), kSoft);
             p.setBrush(kBlue);
             p.setPen(Qt::NoPen);
             p.drawEllipse(QRect(5, 9, 6, 6));
         }),
         "teacher.bmp");
    save(icon([](QPainter& p) { // student: head and shoulders
             p.setPen(Qt::NoPen);
             p.setBrush(kBlue);
             p.drawEllipse(QRect(5, 1, 6, 6));
             p.drawRoundedRect(QRect(2, 8, 12, 7), 3, 3);
         }),
         "student.bmp");
    auto mic = [](const QColor& c) {
        return icon([c](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawRoundedRect(QRect(5, 1, 6, 9), 3, 3);
            p.fillRect(QRect(7, 11, 2, 3), c);
            p.fillRect(QRect(4, 14, 8, 2), c);
        });
    };
    save(mic(kGreen), "listmicrop.bmp");
    save(mic(QColor(150, 158, 168)), "listmicropd.bmp");
    auto cam = [](const QColor& c) {
        return icon([c](QPainter& p) {
            p.fillRect(QRect(1, 4, 10, 8), c);
            QPolygon lens;
            lens << QPoint(11, 8) << QPoint(15, 4) << QPoint(15, 12);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPolygon(lens);
        });
    };
    save(cam(kGreen), "listcamera.bmp");
    save(cam(QColor(150, 158, 168)), "listcamerad.bmp");
    save(icon([](QPainter& p) { // raised hand
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(230, 160, 60));
             for (int i = 0; i < 4; ++i)
                 p.drawRect(QRect(3 + i * 3, 1 + (i == 0 || i == 3 ? 2 : 0), 2, 8));
             p.drawRoundedRect(QRect(3, 7, 11, 8), 3, 3);
         }),
         "hand.bmp");
}

// ---- frame and backgrounds ----
void write_frame() {
    QImage left = canvas(4, 64, kDeep), right = canvas(4, 64, kDeep);
    save(left, "LeftBorder.bmp");
    save(right, "RightBorder.bmp");
    save(canvas(64, 4, kDeep), "TopBorder.bmp");
    save(canvas(64, 4, kDeep), "BottBorder.bmp");
    QImage back = canvas(256, 256);
    {
        QPainter p(&back);
        QLinearGradient g(0, 0, 0, 256);
        g.setColorAt(0, QColor(214, 224, 235));
        g.setColorAt(1, QColor(236, 240, 245));
        p.fillRect(back.rect(), g);
    }
    if (g_scale == 1) // a smooth gradient: the same at any density
        save(back, "MainBack.bmp");

    QImage camera = canvas(256, 192);
    {
        QPainter p(&camera);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, 192);
        g.setColorAt(0, QColor(58, 88, 116));
        g.setColorAt(1, QColor(36, 58, 80));
        p.fillRect(camera.rect(), g);
        p.setPen(QPen(QColor(255, 255, 255, 90), 4));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRect(98, 76, 44, 34), 6, 6);
        QPolygon lens;
        lens << QPoint(142, 93) << QPoint(160, 80) << QPoint(160, 106);
        p.drawPolygon(lens);
    }
    save(camera, "camerabk.bmp");
    QImage vback = canvas(256, 192);
    {
        QPainter p(&vback);
        QLinearGradient g(0, 0, 256, 192);
        g.setColorAt(0, QColor(44, 66, 88));
        g.setColorAt(1, QColor(30, 46, 64));
        p.fillRect(vback.rect(), g);
    }
    if (g_scale == 1)
        save(vback, "vback1.bmp");
    QImage top = canvas(64, 26);
    {
        QPainter p(&top);
        QLinearGradient g(0, 0, 0, 26);
        g.setColorAt(0, kBlueHover);
        g.setColorAt(1, kDeep);
        p.fillRect(top.rect(), g);
    }
    save(top, "videotop.bmp");
}

void write_slider() {
    // Channel 100 x 12: a rounded groove on the key colour; the active channel is the same groove filled.
    auto groove = [](const QColor& fill) {
        QImage image = canvas(100, 12);
        Pen pen(&image);
        pen.p.setPen(Qt::NoPen);
        pen.p.setBrush(QColor(168, 180, 194));
        pen.p.drawRoundedRect(QRect(1, 4, 98, 4), 2, 2);
        pen.p.setBrush(fill);
        pen.p.drawRoundedRect(QRect(2, 5, 96, 2), 1, 1);
        return image;
    };
    save(groove(QColor(200, 208, 218)), "volume1.bmp");
    save(groove(kBlue), "volume2.bmp");
    QImage thumb = canvas(10, 10);
    {
        Pen pen(&thumb);
        pen.p.setPen(QPen(kDeep, 1));
        pen.p.setBrush(Qt::white);
        pen.p.drawEllipse(QRect(0, 0, 9, 9));
    }
    save(thumb, "thumb.bmp");
}

// ---- layout files ----
struct Button {
    int id;
    int left, top, width, height;
    QString set1; // base name of set 1 pictures
    QString set2; // base name of set 2 pictures, or empty
    QString caption;
};

void write_layout(const QString& file, const std::vector<Button>& buttons) {
    if (g_scale != 1)
        return; // one layout for both sizes
    QFile f(g_out + "/" + file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
        std::fprintf(stderr, "skin_generator: cannot write %s\n", qPrintable(file));
        std::exit(1);
    }
    QStringList lines;
    lines << "[ui]" << QString("buttons=%1").arg(buttons.size());
    for (size_t i = 0; i < buttons.size(); ++i) {
        const Button& b = buttons[i];
        if (b.id == 0) {
            lines << "" << QString("[%1]").arg(3000 + i) << "ID=0";
            continue;
        }
        lines << "" << QString("[%1]").arg(3000 + i) << QString("ID=%1").arg(b.id)
              << QString("LEFT=%1").arg(b.left) << QString("TOP=%1").arg(b.top)
              << QString("WIDTH=%1").arg(b.width) << QString("HEIGHT=%1").arg(b.height) << "groupid=0"
              << "Normal_fn=" + b.set1 + "_n.bmp"
              << "Over_fn=" + b.set1 + "_h.bmp"
              << "Down_fn=" + b.set1 + "_d.bmp";
        if (!b.set2.isEmpty())
            lines << "Normal_fn1=" + b.set2 + "_n.bmp"
                  << "Over_fn1=" + b.set2 + "_h.bmp"
                  << "Down_fn1=" + b.set2 + "_d.bmp";
        lines << "UseClrKey=1" << QString("normal_clrkey=%1").arg(kKeyText)
              << QString("hover_clrkey=%1").arg(kKeyText) << QString("down_clrkey=%1").arg(kKeyText)
              << "CAPTION=" + b.caption;
    }
    // Captions are tool tips: GBK text, as every text file the client reads.
    const std::string gbk = utf8_to_gbk((lines.join("\n") + "\n").toStdString());
    f.write(gbk.data(), qint64(gbk.size()));
}

void draw_skin() {
    write_frame();
    write_icons();
    write_slider();

    // Title bar: minimise, maximise (set 2: restore), close, help, video and audio set-up, speak request.
    button_set("btn_min", 28, 22, g_min);
    button_set("btn_max", 28, 22, g_max);
    button_set("btn_restore", 28, 22, g_restore);
    button_set("btn_close", 28, 22, g_close, kRed);
    button_set("btn_help", 28, 22, g_help);
    button_set("btn_handup", 88, 28, text_glyph(QString::fromUtf8("举手发言"), 13), kGreen);
    // Set 2 of the speak request: the hand is up, a press lowers it. The host's list of hands takes the
    // same place (the host raises no hand).
    button_set("btn_handdown", 88, 28, text_glyph(QString::fromUtf8("放下手"), 13), QColor(214, 128, 40));
    button_set("btn_handqueue", 88, 28, text_glyph(QString::fromUtf8("举手列表"), 13), kGreen);
    button_set("btn_audio_set", 88, 28, text_glyph(QString::fromUtf8("音频设置"), 13));
    button_set("btn_video_set", 88, 28, text_glyph(QString::fromUtf8("视频设置"), 13));
    // Entries 0 to 4 are placed in the title row by the window (entry 4 is left free); the others stand where
    // this file puts them, at the left of the header.
    write_layout("top.txt",
                 {{1067, 0, 0, 28, 22, "btn_min", "", QString::fromUtf8("最小化")},
                  {1068, 0, 0, 28, 22, "btn_max", "btn_restore", QString::fromUtf8("最大化")},
                  {1069, 0, 0, 28, 22, "btn_close", "", QString::fromUtf8("关闭")},
                  {1076, 0, 0, 28, 22, "btn_help", "", QString::fromUtf8("帮助")},
                  {0, 0, 0, 0, 0, "", "", ""},
                  {1079, 14, 30, 88, 28, "btn_handup", "btn_handdown", QString::fromUtf8("申请发言")},
                  {1083, 108, 30, 88, 28, "btn_audio_set", "", QString::fromUtf8("音频设置")},
                  {1084, 202, 30, 88, 28, "btn_video_set", "", QString::fromUtf8("视频设置")},
                  {1085, 14, 30, 88, 28, "btn_handqueue", "", QString::fromUtf8("举手列表")}});

    // The buttons with words on them, in English ("en/": the client takes them for an English interface).
    button_set("en/btn_handup", 88, 28, text_glyph("Raise hand", 12), kGreen);
    button_set("en/btn_handdown", 88, 28, text_glyph("Lower hand", 12), QColor(214, 128, 40));
    button_set("en/btn_handqueue", 88, 28, text_glyph("Hands", 12), kGreen);
    button_set("en/btn_audio_set", 88, 28, text_glyph("Audio setup", 12));
    button_set("en/btn_video_set", 88, 28, text_glyph("Video setup", 12));
    button_set("en/chat_send", 64, 26, text_glyph("Send"));

    // Chat input: send, font, faces, snapshot.
    button_set("chat_send", 64, 26, text_glyph(QString::fromUtf8("发送")));
    button_set("chat_font", 24, 22, text_glyph("A", 14));
    button_set("chat_face", 24, 22, g_face);
    button_set("chat_snap", 24, 22, g_snap);
    write_layout("chat.txt", {{1019, 0, 0, 64, 26, "chat_send", "", QString::fromUtf8("发送")},
                              {1016, 0, 0, 24, 22, "chat_font", "", QString::fromUtf8("字体")},
                              {1015, 0, 0, 24, 22, "chat_face", "", QString::fromUtf8("表情")},
                              {1087, 0, 0, 24, 22, "chat_snap", "", QString::fromUtf8("截图")}});

    // User list pages.
    button_set("ulist_prev", 16, 64, g_left);
    button_set("ulist_next", 16, 64, g_right);
    write_layout("ulist.txt", {{1091, 0, 8, 16, 64, "ulist_prev", "", QString::fromUtf8("上一页")},
                               {1092, 0, 8, 16, 64, "ulist_next", "", QString::fromUtf8("下一页")}});

    // Status bar: microphone and output, each with a muted picture set.
    button_set("status_mic", 22, 20, g_mic);
    button_set("status_mic_off", 22, 20, muted(g_mic), QColor(130, 138, 150));
    button_set("status_out", 22, 20, g_speaker);
    button_set("status_out_off", 22, 20, muted(g_speaker), QColor(130, 138, 150));
    write_layout("status.txt",
                 {{1033, 0, 10, 22, 20, "status_mic", "status_mic_off", QString::fromUtf8("麦克风")},
                  {1034, 0, 32, 22, 20, "status_out", "status_out_off", QString::fromUtf8("输出")}});

    // Video control bar (speaker, snapshot, zoom, close) and zoom window (smaller, larger, close).
    button_set("vctl_speaker", 20, 20, g_speaker, kDeep);
    button_set("vctl_snap", 20, 20, g_snap, kDeep);
    button_set("vctl_zoom", 20, 20, g_zoom, kDeep);
    button_set("vctl_close", 20, 20, g_close, kDeep);
    write_layout("videoctl.txt", {{1086, 2, 3, 20, 20, "vctl_speaker", "", QString::fromUtf8("声音")},
                                  {1087, 186, 3, 20, 20, "vctl_snap", "", QString::fromUtf8("快照")},
                                  {1002, 210, 3, 20, 20, "vctl_zoom", "", QString::fromUtf8("放大")},
                                  {1069, 234, 3, 20, 20, "vctl_close", "", QString::fromUtf8("关闭")}});
    button_set("vzoom_out", 20, 18, g_minus, kDeep);
    button_set("vzoom_in", 20, 18, g_plus, kDeep);
    button_set("vzoom_close", 20, 18, g_close, kRed);
    write_layout("vzoom.txt", {{1067, 0, 4, 20, 18, "vzoom_out", "", QString::fromUtf8("缩小")},
                               {1068, 0, 4, 20, 18, "vzoom_in", "", QString::fromUtf8("放大")},
                               {1069, 0, 4, 20, 18, "vzoom_close", "", QString::fromUtf8("关闭")}});
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: skin_generator OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);

    for (int scale : {1, 2}) {
        g_scale = scale;
        draw_skin();
    }
    std::printf("skin_generator: skin written to %s\n", argv[1]);
    return 0;
}
