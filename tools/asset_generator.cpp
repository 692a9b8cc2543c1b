// Draws the 90 face pictures (Faces/00.gif to 89.gif: small animated GIFs, each the expression or object its
// name says, in one round, soft style) and makes the three sounds (sound/newuser.wav, sound/message.wav,
// sound/hand.wav: short, quiet chimes), all from code. Usage: asset_generator <assets folder>. The output is
// committed; `make assets` runs this again.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "tools/gif_writer.h"

namespace {

constexpr int kSize = 28;                   // the face's size in pixels
constexpr int kScale = 4;                   // drawn at four times the size, then scaled down smoothly
constexpr int kFrames = 4;                  // frames of each animation
constexpr int kDelay = 18;                  // 1/100 s a frame
constexpr double S = kSize * kScale / 28.0; // drawing unit: the 28-pixel grid

// ---- colours ----
const QColor kSkin(255, 204, 64), kSkinDark(232, 160, 32), kLine(110, 66, 20), kRedC(220, 40, 40),
    kPink(255, 120, 140), kBlueC(70, 150, 235), kWhite(255, 255, 255), kBlack(40, 30, 20),
    kGreen(80, 170, 60), kHand(250, 205, 150), kHandLine(170, 110, 60), kBrown(130, 80, 40),
    kGrey(150, 150, 150);

QPen pen(const QColor& c, double w) {
    return QPen(c, w * S, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}
QPointF P(double x, double y) {
    return QPointF(x * S, y * S);
}
QRectF R(double x, double y, double w, double h) {
    return QRectF(x * S, y * S, w * S, h * S);
}

// ---- the round face and its parts (coordinates on the 28-pixel grid) ----

enum Eyes {
    EDot,
    EHappy,
    EClosed,
    EHeart,
    EWide,
    ESquint,
    ECool,
    ECross,
    ESpiral,
    ERoll,
    EWink,
    EHalf,
    ESad,
    ESide,
    EAngry,
    EMoney
};
enum Mouth {
    MSmile,
    MGrin,
    MFlat,
    MFrown,
    MO,
    MPout,
    MZip,
    MTongue,
    MWavy,
    MWide,
    MKiss,
    MSmirk,
    MYawn,
    MVomit,
    MTeeth,
    MDrool,
    MSmallO
};
enum Extra {
    XNone = 0,
    XTears = 1,
    XBlush = 2,
    XSweat = 4,
    XZzz = 8,
    XQuestion = 16,
    XVein = 32,
    XStars = 64,
    XHelmet = 128,
    XBand = 256,
    XCurse = 512,
    XBandage = 1024,
    XHammer = 2048,
    XWave = 4096,
    XWipe = 8192,
    XFinger = 16384,
    XClap = 32768,
    XPuffL = 65536,
    XPuffR = 131072,
    XBigTears = 262144,
    XShh = 524288,
    XFlame = 1048576,
    XDrops = 2097152
};

struct FaceSpec {
    Eyes eyes;
    Mouth mouth;
    int extras;
    QColor skin = kSkin;
};

void draw_head(QPainter& p, double bob, const QColor& skin) {
    QRadialGradient g(P(11, 10 + bob), 16 * S);
    g.setColorAt(0, skin.lighter(115));
    g.setColorAt(1, skin.darker(108));
    p.setBrush(g);
    p.setPen(pen(kSkinDark.darker(115), 1));
    p.drawEllipse(R(2, 2 + bob, 24, 24));
}

void draw_eyes(QPainter& p, Eyes e, double y, int frame) {
    p.setBrush(Qt::NoBrush);
    const double lx = 9.5, rx = 18.5;
    auto both = [&](const std::function<void(double)>& one) {
        one(lx);
        one(rx);
    };
    const bool blink = frame == 2 && (e == EDot || e == EWide || e == ESide);
    if (blink)
        e = EClosed;
    switch (e) {
    case EDot:
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        both([&](double x) { p.drawEllipse(R(x - 1.5, y - 2, 3, 4)); });
        break;
    case EHappy:
        p.setPen(pen(kBlack, 1.4));
        both([&](double x) { p.drawArc(R(x - 2.5, y - 1.5, 5, 4), 0, 180 * 16); });
        break;
    case EClosed:
        p.setPen(pen(kBlack, 1.4));
        both([&](double x) { p.drawLine(P(x - 2.5, y), P(x + 2.5, y)); });
        break;
    case EHeart: {
        p.setPen(Qt::NoPen);
        p.setBrush(kRedC);
        const double s = frame % 2 ? 1.15 : 1.0;
        both([&](double x) {
            QPainterPath h;
            h.moveTo(P(x, y + 2.5 * s));
            h.cubicTo(P(x - 4 * s, y - 0.5 * s), P(x - 2 * s, y - 3.5 * s), P(x, y - 1.2 * s));
            h.cubicTo(P(x + 2 * s, y - 3.5 * s), P(x + 4 * s, y - 0.5 * s), P(x, y + 2.5 * s));
            p.drawPath(h);
        });
        break;
    }
    case EWide:
        p.setPen(pen(kBlack, 0.8));
        p.setBrush(kWhite);
        both([&](double x) { p.drawEllipse(R(x - 3, y - 3, 6, 6)); });
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        both([&](double x) { p.drawEllipse(R(x - 1.2, y - 1.2, 2.4, 2.4)); });
        break;
    case ESquint:
        p.setPen(pen(kBlack, 1.4));
        p.drawPolyline(QPolygonF{P(lx - 2.5, y - 2), P(lx + 2, y), P(lx - 2.5, y + 2)});
        p.drawPolyline(QPolygonF{P(rx + 2.5, y - 2), P(rx - 2, y), P(rx + 2.5, y + 2)});
        break;
    case ECool:
        p.setPen(pen(kBlack, 1));
        p.setBrush(kBlack);
        p.drawRoundedRect(R(5, y - 2.5, 8, 5), 1.5 * S, 1.5 * S);
        p.drawRoundedRect(R(15, y - 2.5, 8, 5), 1.5 * S, 1.5 * S);
        p.drawLine(P(13, y - 1), P(15, y - 1));
        p.setPen(pen(kWhite, 0.7));
        p.drawLine(P(6.5 + frame, y - 1.5), P(8 + frame, y - 1.5));
        break;
    case ECross:
        p.setPen(pen(kBlack, 1.3));
        both([&](double x) {
            p.drawLine(P(x - 2, y - 2), P(x + 2, y + 2));
            p.drawLine(P(x - 2, y + 2), P(x + 2, y - 2));
        });
        break;
    case ESpiral:
        p.setPen(pen(kBlack, 0.9));
        both([&](double x) {
            QPainterPath s;
            for (int i = 0; i <= 24; ++i) {
                const double a = i * 0.55 + frame * 1.6, r = 0.2 + i * 0.12;
                const QPointF q = P(x + r * std::cos(a), y + r * std::sin(a));
                i ? s.lineTo(q) : s.moveTo(q);
            }
            p.drawPath(s);
        });
        break;
    case ERoll:
        p.setPen(pen(kBlack, 0.8));
        p.setBrush(kWhite);
        both([&](double x) { p.drawEllipse(R(x - 3, y - 2.5, 6, 5)); });
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        both([&](double x) { p.drawEllipse(R(x - 1 + (frame % 2 ? 0.8 : -0.8), y - 2.5, 2, 2)); });
        break;
    case EWink:
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        p.drawEllipse(R(lx - 1.5, y - 2, 3, 4));
        p.setPen(pen(kBlack, 1.4));
        p.drawArc(R(rx - 2.5, y - 1.5, 5, 4), 0, 180 * 16);
        break;
    case EHalf:
        p.setPen(pen(kBlack, 1.2));
        both([&](double x) {
            p.drawLine(P(x - 2.5, y - 0.5), P(x + 2.5, y - 0.5));
            p.drawArc(R(x - 2, y - 2, 4, 4), 180 * 16, 180 * 16);
        });
        break;
    case ESad:
        p.setPen(pen(kBlack, 1.2));
        p.drawLine(P(lx - 2.5, y - 3.5), P(lx + 2, y - 4.5));
        p.drawLine(P(rx + 2.5, y - 3.5), P(rx - 2, y - 4.5));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        both([&](double x) { p.drawEllipse(R(x - 1.7, y - 1.5, 3.4, 3.8)); });
        p.setBrush(kWhite);
        both([&](double x) { p.drawEllipse(R(x - 0.7, y - 0.8, 1.3, 1.3)); });
        break;
    case ESide: {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        const double dx = frame % 2 ? 1.3 : -1.3;
        both([&](double x) { p.drawEllipse(R(x - 1.5 + dx, y - 1.5, 3, 3)); });
        break;
    }
    case EAngry:
        p.setPen(pen(kBlack, 1.5));
        p.drawLine(P(lx - 3, y - 4), P(lx + 2, y - 2));
        p.drawLine(P(rx + 3, y - 4), P(rx - 2, y - 2));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        both([&](double x) { p.drawEllipse(R(x - 1.4, y - 1, 2.8, 3)); });
        break;
    case EMoney:
        p.setPen(pen(kGreen.darker(130), 1.2));
        both([&](double x) { p.drawText(R(x - 3, y - 3.5, 6, 7), Qt::AlignCenter, "$"); });
        break;
    }
}

void draw_mouth(QPainter& p, Mouth m, double y, int frame) {
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kLine, 1.3));
    switch (m) {
    case MSmile:
        p.drawArc(R(8.5, y - 5, 11, 8), 200 * 16, 140 * 16);
        break;
    case MGrin: {
        QPainterPath g;
        g.moveTo(P(8, y - 1));
        g.quadTo(P(14, y + 7), P(20, y - 1));
        g.closeSubpath();
        p.setBrush(kWhite);
        p.drawPath(g);
        p.drawLine(P(9, y), P(19, y));
        break;
    }
    case MFlat:
        p.drawLine(P(10, y + 1), P(18, y + 1));
        break;
    case MFrown:
        p.drawArc(R(9, y, 10, 7), 20 * 16, 140 * 16);
        break;
    case MO:
        p.setBrush(kLine);
        p.drawEllipse(R(11.5, y - 1 - (frame % 2) * 0.5, 5, 5 + (frame % 2)));
        break;
    case MSmallO:
        p.setBrush(kLine);
        p.drawEllipse(R(12.8, y, 2.6, 2.6));
        break;
    case MPout: {
        QPainterPath w;
        w.moveTo(P(9, y + 2));
        w.cubicTo(P(11, y - 1), P(13, y + 3), P(14, y + 1));
        w.cubicTo(P(15.5, y - 1), P(17, y + 3), P(19, y + 2 - (frame % 2)));
        p.drawPath(w);
        break;
    }
    case MZip:
        p.drawLine(P(8.5, y + 1), P(19.5, y + 1));
        p.setPen(pen(kLine, 0.8));
        for (double x = 10; x < 19; x += 2)
            p.drawLine(P(x, y - 0.5), P(x, y + 2.5));
        p.setBrush(kGrey);
        p.drawRect(R(18, y - 0.5 + (frame % 2), 2.5, 3));
        break;
    case MTongue:
        p.drawArc(R(9, y - 4, 10, 7), 200 * 16, 140 * 16);
        p.setPen(pen(kRedC.darker(120), 0.8));
        p.setBrush(kPink);
        p.drawChord(R(13, y + 0.5, 5, 5.5 + (frame % 2)), 180 * 16, 180 * 16);
        break;
    case MWavy: {
        QPainterPath w;
        w.moveTo(P(8.5, y + 1));
        for (int i = 0; i < 4; ++i)
            w.quadTo(P(9.9 + i * 2.8, y + (i % 2 ? 3 : -1)), P(11.3 + i * 2.8, y + 1));
        p.drawPath(w);
        break;
    }
    case MWide: {
        p.setBrush(QColor(150, 40, 30));
        p.drawRoundedRect(R(9, y - 1.5, 10, 6 + (frame % 2)), 3 * S, 3 * S);
        p.setPen(Qt::NoPen);
        p.setBrush(kPink);
        p.drawEllipse(R(11.5, y + 2.2 + (frame % 2), 5, 2.5));
        break;
    }
    case MKiss:
        p.setPen(pen(kRedC, 1.4));
        p.drawArc(R(12, y - 1.5, 4, 3), 90 * 16, -180 * 16);
        p.drawArc(R(12, y + 1.5, 4, 3), 90 * 16, -180 * 16);
        if (frame % 2) {
            p.setPen(Qt::NoPen);
            p.setBrush(kRedC);
            p.drawEllipse(R(19, y - 4, 3, 3));
        }
        break;
    case MSmirk:
        p.drawArc(R(11, y - 4, 10, 7), 230 * 16, 110 * 16);
        break;
    case MYawn:
        p.setBrush(QColor(150, 40, 30));
        p.drawEllipse(R(11, y - 2, 6, 6 + frame % 3));
        break;
    case MVomit:
        p.setPen(pen(kGreen.darker(120), 1));
        p.setBrush(kGreen);
        p.drawRoundedRect(R(10.5, y - 1, 7, 4 + frame * 1.2), 2 * S, 2 * S);
        break;
    case MTeeth:
        p.setBrush(kWhite);
        p.drawRoundedRect(R(9, y - 1, 10, 4), 1.2 * S, 1.2 * S);
        p.setPen(pen(kLine, 0.7));
        for (double x = 11.5; x < 18; x += 2.5)
            p.drawLine(P(x, y - 1), P(x, y + 3));
        p.drawLine(P(9, y + 1), P(19, y + 1));
        break;
    case MDrool:
        p.drawArc(R(9, y - 4, 10, 7), 200 * 16, 140 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlueC.lighter(130));
        p.drawEllipse(R(16.5, y + 1.5, 2, 2 + frame));
        break;
    }
}

void draw_extras(QPainter& p, int x, double bob, int frame) {
    p.setBrush(Qt::NoBrush);
    if (x & XBlush) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 110, 110, 110 + 30 * (frame % 2)));
        p.drawEllipse(R(4.5, 15 + bob, 5, 3));
        p.drawEllipse(R(18.5, 15 + bob, 5, 3));
    }
    if (x & (XTears | XBigTears)) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlueC);
        const double fall = frame * 1.6;
        const double w = x & XBigTears ? 3 : 2;
        p.drawEllipse(R(7.5, 13 + fall + bob, w, w + 1));
        p.drawEllipse(R(19, 13 + fmod(fall + 3, 6.4) + bob, w, w + 1));
    }
    if (x & XSweat) {
        p.setPen(pen(kBlueC.darker(120), 0.6));
        p.setBrush(kBlueC.lighter(140));
        QPainterPath d;
        const double y = 4 + frame * 0.8;
        d.moveTo(P(22, y));
        d.quadTo(P(25, y + 4), P(22, y + 5));
        d.quadTo(P(19, y + 4), P(22, y));
        p.drawPath(d);
    }
    if (x & XDrops) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlueC.lighter(140));
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(R(3 + i * 9, 1 + fmod(i * 2 + frame * 1.5, 6), 2, 3));
    }
    if (x & XZzz) {
        p.setPen(pen(kBlueC.darker(130), 1));
        QFont f;
        f.setPixelSize(int(6 * S));
        f.setBold(true);
        p.setFont(f);
        p.drawText(P(19, 8 - frame), "z");
        f.setPixelSize(int(4 * S));
        p.setFont(f);
        p.drawText(P(23, 4 - frame * 0.5), "z");
    }
    if (x & XQuestion) {
        p.setPen(pen(kBlueC.darker(110), 1));
        QFont f;
        f.setPixelSize(int(10 * S));
        f.setBold(true);
        p.setFont(f);
        p.drawText(R(18, -1 - (frame % 2), 10, 11), Qt::AlignCenter, "?");
    }
    if (x & XVein) {
        p.setPen(pen(kRedC, 1.1));
        const double s = frame % 2 ? 1.2 : 1;
        p.drawArc(R(19, 3, 3 * s, 3 * s), 270 * 16, 90 * 16);
        p.drawArc(R(22, 3, 3 * s, 3 * s), 180 * 16, 90 * 16);
        p.drawArc(R(19, 6, 3 * s, 3 * s), 0, 90 * 16);
        p.drawArc(R(22, 6, 3 * s, 3 * s), 90 * 16, 90 * 16);
    }
    if (x & XStars) {
        p.setPen(pen(QColor(250, 200, 0), 0.9));
        for (int i = 0; i < 3; ++i) {
            const double a = frame * 0.8 + i * 2.09;
            const QPointF c = P(14 + 9 * std::cos(a), 3 + 2 * std::sin(a));
            p.drawLine(c + QPointF(-1.2 * S, 0), c + QPointF(1.2 * S, 0));
            p.drawLine(c + QPointF(0, -1.2 * S), c + QPointF(0, 1.2 * S));
        }
    }
    if (x & XHelmet) {
        p.setPen(pen(QColor(60, 90, 40), 1));
        p.setBrush(QColor(95, 125, 60));
        p.drawChord(R(2.5, 0.5 + bob, 23, 17), 0, 180 * 16);
        p.drawLine(P(1.5, 9 + bob), P(26.5, 9 + bob));
    }
    if (x & XBand) {
        p.setPen(Qt::NoPen);
        p.setBrush(kRedC);
        p.drawRect(R(3, 5 + bob, 22, 3));
        p.drawPolygon(QPolygonF{P(24, 6 + bob), P(27, 4 + frame % 2 + bob), P(27, 9 + bob)});
    }
    if (x & XCurse) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 60, 60));
        p.drawRoundedRect(R(15, 0, 13, 8), 3 * S, 3 * S);
        p.setPen(pen(kWhite, 0.9));
        QFont f;
        f.setPixelSize(int(6 * S));
        f.setBold(true);
        p.setFont(f);
        static const char* kSymbols[4] = {"#!", "@%", "!#", "%@"};
        p.drawText(R(15, 0, 13, 8), Qt::AlignCenter, kSymbols[frame]);
    }
    if (x & XBandage) {
        p.setPen(pen(QColor(200, 180, 150), 0.6));
        p.setBrush(QColor(245, 235, 215));
        p.save();
        p.translate(P(9, 5 + bob));
        p.rotate(-30);
        p.drawRect(R(-3.5, -1.2, 7, 2.4));
        p.restore();
    }
    if (x & XHammer) {
        p.save();
        p.translate(P(20, 2));
        p.rotate(-40 + frame * 20);
        p.setPen(pen(kBrown, 1));
        p.setBrush(kBrown.lighter(130));
        p.drawRect(R(-0.7, 0, 1.4, 9));
        p.setBrush(kGrey);
        p.drawRoundedRect(R(-3, -2, 6, 3), S, S);
        p.restore();
    }
    if (x & (XWave | XWipe | XClap | XFinger)) {
        p.setPen(pen(kHandLine, 0.8));
        p.setBrush(kHand);
        if (x & XWave) {
            p.save();
            p.translate(P(23, 16));
            p.rotate(-20 + (frame % 2) * 30);
            p.drawRoundedRect(R(-2.5, -6, 5, 7), 2 * S, 2 * S);
            p.restore();
        }
        if (x & XWipe)
            p.drawRoundedRect(R(2 + frame * 1.5, 5, 7, 4), 2 * S, 2 * S);
        if (x & XClap) {
            const double gap = frame % 2 ? 0 : 2;
            p.drawRoundedRect(R(8 - gap, 19, 5, 8), 2 * S, 2 * S);
            p.drawRoundedRect(R(15 + gap, 19, 5, 8), 2 * S, 2 * S);
        }
        if (x & XFinger) {
            p.drawRoundedRect(R(16, 15 + (frame % 2), 3, 6), 1.5 * S, 1.5 * S);
            p.drawEllipse(R(15, 20 + (frame % 2), 6, 6));
        }
    }
    if (x & (XPuffL | XPuffR)) {
        p.setPen(pen(kGrey, 0.7));
        p.setBrush(QColor(230, 230, 230));
        const double d = frame * 0.8;
        if (x & XPuffL) {
            p.drawEllipse(R(0.5 - d, 16, 3, 3));
            p.drawEllipse(R(-1.5 - d, 13, 2.5, 2.5));
        } else {
            p.drawEllipse(R(24.5 + d, 16, 3, 3));
            p.drawEllipse(R(26.5 + d, 13, 2.5, 2.5));
        }
    }
    if (x & XShh) {
        p.setPen(pen(kHandLine, 0.8));
        p.setBrush(kHand);
        p.drawRoundedRect(R(13, 15, 2.6, 9), 1.3 * S, 1.3 * S);
        p.setPen(pen(kGrey, 0.8));
        p.drawArc(R(18 + frame * 0.5, 15, 4, 5), -60 * 16, 120 * 16);
    }
    if (x & XFlame) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 120, 0, 200));
        const double h = 3 + (frame % 2) * 1.5;
        p.drawEllipse(R(5, 1 - h / 2, 4, h + 2));
        p.drawEllipse(R(19, 1 - h / 2, 4, h + 2));
    }
}

void draw_face(QPainter& p, const FaceSpec& f, int frame) {
    const double bob = (frame == 1 ? -0.5 : frame == 3 ? 0.5 : 0);
    draw_head(p, bob, f.skin);
    draw_eyes(p, f.eyes, 11.5 + bob, frame);
    draw_mouth(p, f.mouth, 17.5 + bob, frame);
    draw_extras(p, f.extras, bob, frame);
}

// ---- objects and hands ----

void heart_path(QPainterPath& h, double cx, double cy, double s) {
    h.moveTo(P(cx, cy + 9 * s));
    h.cubicTo(P(cx - 13 * s, cy - 1 * s), P(cx - 6 * s, cy - 11 * s), P(cx, cy - 4 * s));
    h.cubicTo(P(cx + 6 * s, cy - 11 * s), P(cx + 13 * s, cy - 1 * s), P(cx, cy + 9 * s));
}

// A hand: palm, fingers (index, middle, ring, little; true = stretched) and the thumb's direction
// (0 folded, 1 up, -1 down, 2 out).
void draw_hand(QPainter& p, const std::array<bool, 4>& fingers, int thumb, double dy, double rotate = 0) {
    p.save();
    p.translate(P(14, 16 + dy));
    p.rotate(rotate);
    p.translate(P(-14, -16));
    p.setPen(pen(kHandLine, 0.9));
    p.setBrush(kHand);
    for (int i = 0; i < 4; ++i) {
        const double x = 9 + i * 3;
        const double h = fingers[size_t(i)] ? (i == 1 ? 11 : i == 3 ? 8 : 10) : 3.5;
        p.drawRoundedRect(R(x, 13 - h, 3, h + 4), 1.5 * S, 1.5 * S);
    }
    p.drawRoundedRect(R(8, 12, 13, 11), 3.5 * S, 3.5 * S);
    if (thumb == 1)
        p.drawRoundedRect(R(4, 5, 4, 11), 2 * S, 2 * S);
    else if (thumb == -1)
        p.drawRoundedRect(R(4, 17, 4, 10), 2 * S, 2 * S);
    else if (thumb == 2)
        p.drawRoundedRect(R(3, 13, 7, 4), 2 * S, 2 * S);
    else
        p.drawRoundedRect(R(6, 14, 6, 4), 2 * S, 2 * S);
    p.restore();
}

void draw_object(QPainter& p, int index, int frame) {
    const double bob = (frame == 1 ? -0.6 : frame == 3 ? 0.6 : 0);
    switch (index) {
    case 37: { // skull
        p.setPen(pen(QColor(120, 120, 120), 1));
        p.setBrush(QColor(240, 240, 235));
        p.drawEllipse(R(4, 2 + bob, 20, 19));
        p.drawRoundedRect(R(9, 17 + bob, 10, 7), 2 * S, 2 * S);
        p.setBrush(kBlack);
        p.setPen(Qt::NoPen);
        p.drawEllipse(R(8, 9 + bob, 5, 5 + (frame % 2)));
        p.drawEllipse(R(15, 9 + bob, 5, 5 + (frame % 2)));
        p.drawPolygon(QPolygonF{P(14, 15 + bob), P(12.5, 18 + bob), P(15.5, 18 + bob)});
        break;
    }
    case 55: { // cleaver
        p.save();
        p.translate(P(14, 14));
        p.rotate(-20 + frame * 6);
        p.setPen(pen(QColor(110, 110, 120), 0.8));
        p.setBrush(QColor(200, 205, 215));
        p.drawRect(R(-9, -8, 14, 11));
        p.setBrush(kBrown);
        p.drawRoundedRect(R(5, -5, 9, 4), S, S);
        p.restore();
        break;
    }
    case 56: // watermelon
        p.setPen(pen(kGreen.darker(140), 1));
        p.setBrush(kGreen);
        p.drawChord(R(2, -4 + bob, 24, 26), 180 * 16, 180 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(235, 60, 70));
        p.drawChord(R(4, -2 + bob, 20, 22), 180 * 16, 180 * 16);
        p.setBrush(kBlack);
        for (int i = 0; i < 4; ++i)
            p.drawEllipse(R(8 + i * 3.5, 12 + (i % 2) * 2.5 + bob, 1.5, 2));
        break;
    case 57: // beer
        p.setPen(pen(kBrown, 1));
        p.setBrush(QColor(250, 190, 40));
        p.drawRoundedRect(R(6, 8, 13, 17), 2 * S, 2 * S);
        p.setBrush(Qt::NoBrush);
        p.drawArc(R(16, 11, 8, 9), -90 * 16, 180 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        for (int i = 0; i < 4; ++i)
            p.drawEllipse(R(5.5 + i * 3.5, 4 + (i + frame) % 2, 5, 5));
        break;
    case 58: { // basketball
        p.translate(0, bob * S * 3);
        p.setPen(pen(QColor(120, 60, 20), 1));
        p.setBrush(QColor(240, 130, 40));
        p.drawEllipse(R(3, 3, 22, 22));
        p.drawLine(P(14, 3), P(14, 25));
        p.drawLine(P(3, 14), P(25, 14));
        p.setBrush(Qt::NoBrush);
        p.drawArc(R(-4, 5, 14, 18), -60 * 16, 120 * 16);
        p.drawArc(R(18, 5, 14, 18), 120 * 16, 120 * 16);
        break;
    }
    case 59: // table tennis
        p.setPen(pen(kBrown, 1));
        p.setBrush(kBrown);
        p.drawRoundedRect(R(6, 17, 3, 9), S, S);
        p.setBrush(kRedC);
        p.drawEllipse(R(2, 5, 12, 14));
        p.setPen(pen(kGrey, 0.6));
        p.setBrush(kWhite);
        p.drawEllipse(R(17 + frame % 2 * 2, 4 + (frame % 2 ? 6 : 0), 6, 6));
        break;
    case 60: // coffee
        p.setPen(pen(kBrown, 1));
        p.setBrush(kWhite);
        p.drawRoundedRect(R(5, 12, 14, 12), 3 * S, 3 * S);
        p.setBrush(Qt::NoBrush);
        p.drawArc(R(16, 14, 7, 7), -90 * 16, 180 * 16);
        p.setBrush(kBrown);
        p.drawEllipse(R(6, 11, 12, 3));
        p.setPen(pen(kGrey, 0.9));
        for (int i = 0; i < 2; ++i) {
            QPainterPath s;
            const double x = 9 + i * 5, y = 9 - frame * 0.5;
            s.moveTo(P(x, y));
            s.cubicTo(P(x - 2, y - 2), P(x + 2, y - 3), P(x, y - 6));
            p.drawPath(s);
        }
        break;
    case 61: // rice bowl
        p.setPen(pen(kBlueC.darker(140), 1));
        p.setBrush(kBlueC.lighter(120));
        p.drawChord(R(3, 5, 22, 20), 180 * 16, 180 * 16);
        p.setPen(pen(QColor(220, 220, 210), 0.6));
        p.setBrush(kWhite);
        p.drawChord(R(5, 7 + bob, 18, 10), 0, 180 * 16);
        p.setPen(pen(kBrown, 1.2));
        p.drawLine(P(17, 3), P(24, 13));
        p.drawLine(P(19, 2), P(25, 12));
        break;
    case 62: { // pig head
        p.setPen(pen(QColor(200, 100, 120), 1));
        p.setBrush(QColor(255, 170, 185));
        p.drawEllipse(R(3, 4 + bob, 22, 21));
        p.drawPolygon(QPolygonF{P(4, 9 + bob), P(5, 2 + bob), P(10, 5 + bob)});
        p.drawPolygon(QPolygonF{P(24, 9 + bob), P(23, 2 + bob), P(18, 5 + bob)});
        p.setBrush(QColor(255, 140, 160));
        p.drawEllipse(R(9, 14 + bob, 10, 7));
        p.setBrush(kBlack);
        p.setPen(Qt::NoPen);
        p.drawEllipse(R(11.5, 16.5 + bob, 2, 2.5));
        p.drawEllipse(R(14.5, 16.5 + bob, 2, 2.5));
        p.drawEllipse(R(9, 10 + bob, 2.5, 2.5 - (frame == 2 ? 1.5 : 0)));
        p.drawEllipse(R(16.5, 10 + bob, 2.5, 2.5 - (frame == 2 ? 1.5 : 0)));
        break;
    }
    case 63:   // rose
    case 64: { // wilted rose
        const bool wilted = index == 64;
        const double droop = wilted ? 25 + frame * 3 : frame % 2 * 3;
        p.setPen(pen(kGreen.darker(130), 1.2));
        p.drawLine(P(14, 27), P(14, 13));
        p.setBrush(kGreen);
        p.drawEllipse(R(14, 18, 6, 3));
        p.save();
        p.translate(P(14, 13));
        p.rotate(droop);
        p.setPen(pen(wilted ? QColor(110, 60, 50) : QColor(150, 0, 30), 0.9));
        p.setBrush(wilted ? QColor(150, 90, 80) : QColor(225, 30, 60));
        p.drawEllipse(R(-6, -11, 12, 11));
        p.setBrush(Qt::NoBrush);
        p.drawArc(R(-3, -8, 6, 5), 0, 300 * 16);
        p.restore();
        if (wilted) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(150, 90, 80));
            p.drawEllipse(R(5 - frame, 20 + frame * 1.5, 3, 2));
        }
        break;
    }
    case 65: { // lips
        p.setPen(pen(QColor(150, 0, 30), 1));
        p.setBrush(QColor(230, 40, 70));
        const double s = frame % 2 ? 1.08 : 1;
        QPainterPath l;
        l.moveTo(P(3, 14));
        l.cubicTo(P(8, 6 * s), P(12, 8), P(14, 10));
        l.cubicTo(P(16, 8), P(20, 6 * s), P(25, 14));
        l.cubicTo(P(20, 22 * s), P(8, 22 * s), P(3, 14));
        p.drawPath(l);
        p.drawLine(P(5, 14), P(23, 14));
        break;
    }
    case 66: { // heart
        const double s = frame % 2 ? 1.1 : 0.95;
        QPainterPath h;
        heart_path(h, 14, 14, s);
        p.setPen(pen(QColor(170, 0, 30), 1));
        p.setBrush(QColor(235, 40, 70));
        p.drawPath(h);
        break;
    }
    case 67: { // broken heart
        const double gap = frame * 0.7;
        for (int side = 0; side < 2; ++side) {
            p.save();
            p.translate(P(side ? gap : -gap, 0));
            QPainterPath h;
            heart_path(h, 14, 14, 1);
            QPainterPath half;
            half.moveTo(P(14, 4));
            half.lineTo(P(12, 10));
            half.lineTo(P(16, 14));
            half.lineTo(P(13, 24));
            half.lineTo(side ? P(30, 24) : P(-2, 24));
            half.lineTo(side ? P(30, 0) : P(-2, 0));
            half.closeSubpath();
            p.setPen(pen(QColor(170, 0, 30), 1));
            p.setBrush(QColor(235, 40, 70));
            p.drawPath(h.intersected(half));
            p.restore();
        }
        break;
    }
    case 68: // cake
        p.setPen(pen(kBrown, 1));
        p.setBrush(QColor(250, 220, 170));
        p.drawRoundedRect(R(4, 14, 20, 11), 2 * S, 2 * S);
        p.setBrush(kPink);
        p.drawRoundedRect(R(4, 13, 20, 4), 2 * S, 2 * S);
        p.setBrush(kWhite);
        p.drawRect(R(13, 6, 2.5, 7));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 170, 0));
        p.drawEllipse(R(12.7 + (frame % 2) * 0.4, 1.5 - (frame % 2) * 0.5, 3, 4.5));
        break;
    case 69: // lightning
        p.setPen(pen(QColor(200, 140, 0), 1));
        p.setBrush(frame % 2 ? QColor(255, 240, 80) : QColor(255, 210, 0));
        p.drawPolygon(QPolygonF{P(16, 1), P(6, 16), P(13, 16), P(10, 27), P(22, 10), P(15, 10), P(19, 1)});
        break;
    case 70: // bomb
        p.setPen(pen(kBlack, 1));
        p.setBrush(QColor(50, 50, 60));
        p.drawEllipse(R(3, 8, 18, 18));
        p.drawRect(R(15, 6, 5, 4));
        p.setPen(pen(kBrown, 1));
        p.drawArc(R(18, 1, 8, 8), 180 * 16, -120 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(frame % 2 ? QColor(255, 220, 0) : QColor(255, 120, 0));
        p.drawEllipse(R(23 - frame * 0.3, 0, 4, 4));
        p.setBrush(kWhite);
        p.drawEllipse(R(7, 12, 4, 3));
        break;
    case 71: { // dagger
        p.save();
        p.translate(P(14, 14));
        p.rotate(45 + (frame % 2) * 8);
        p.setPen(pen(QColor(110, 110, 120), 0.8));
        p.setBrush(QColor(210, 215, 225));
        p.drawPolygon(QPolygonF{P(0, -13), P(2.5, -2), P(-2.5, -2)});
        p.setBrush(QColor(200, 160, 40));
        p.drawRect(R(-5, -2, 10, 2));
        p.setBrush(kBrown);
        p.drawRoundedRect(R(-1.5, 0, 3, 9), S, S);
        p.restore();
        break;
    }
    case 72: { // football
        p.save();
        p.translate(P(14, 14));
        p.rotate(frame * 20);
        p.setPen(pen(kBlack, 0.9));
        p.setBrush(kWhite);
        p.drawEllipse(R(-11, -11, 22, 22));
        p.setBrush(kBlack);
        QPolygonF pent;
        for (int i = 0; i < 5; ++i)
            pent << P(4 * std::sin(i * 1.2566), -4 * std::cos(i * 1.2566));
        p.drawPolygon(pent);
        for (int i = 0; i < 5; ++i) {
            const double a = i * 1.2566;
            p.drawLine(P(4 * std::sin(a), -4 * std::cos(a)), P(10 * std::sin(a), -10 * std::cos(a)));
        }
        p.restore();
        break;
    }
    case 73: // ladybug
        p.setPen(pen(kBlack, 0.9));
        p.setBrush(kBlack);
        p.drawEllipse(R(10, 3 + bob, 8, 7));
        p.setBrush(kRedC);
        p.drawEllipse(R(4, 7 + bob, 20, 19));
        p.drawLine(P(14, 8 + bob), P(14, 26 + bob));
        p.setBrush(kBlack);
        p.setPen(Qt::NoPen);
        for (auto [x, y] : {std::pair{8.5, 12.0}, {17.5, 12.0}, {8, 19.0}, {18, 19.0}})
            p.drawEllipse(R(x, y + bob, 3, 3));
        p.setPen(pen(kBlack, 0.8));
        p.drawLine(P(12, 4 + bob), P(10 - frame % 2, 1));
        p.drawLine(P(16, 4 + bob), P(18 + frame % 2, 1));
        break;
    case 74: // poop
        p.setPen(pen(QColor(90, 50, 20), 1));
        p.setBrush(QColor(140, 85, 40));
        p.drawRoundedRect(R(3, 18, 22, 8), 4 * S, 4 * S);
        p.drawRoundedRect(R(6, 12, 16, 8), 4 * S, 4 * S);
        p.drawRoundedRect(R(9, 6, 10, 8), 4 * S, 4 * S);
        p.drawEllipse(R(12, 2, 5, 6));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        p.drawEllipse(R(2 + frame * 3, 2 + (frame % 2) * 2, 2, 2));
        p.drawEllipse(R(23 - frame * 2, 5 + ((frame + 1) % 2) * 2, 2, 2));
        break;
    case 75: { // moon
        QPainterPath m, cut;
        m.addEllipse(R(4, 3, 20, 20));
        cut.addEllipse(R(10, 0, 20, 20));
        p.setPen(pen(QColor(210, 170, 0), 1));
        p.setBrush(QColor(255, 225, 90));
        p.drawPath(m.subtracted(cut));
        p.setPen(pen(QColor(255, 230, 120), 0.9));
        if (frame % 2)
            p.drawLine(P(22, 20), P(24, 22));
        else
            p.drawLine(P(24, 6), P(26, 8));
        break;
    }
    case 76: { // sun
        p.save();
        p.translate(P(14, 14));
        p.rotate(frame * 11.25);
        p.setPen(pen(QColor(250, 150, 0), 1.6));
        for (int i = 0; i < 8; ++i) {
            p.drawLine(P(0, -9), P(0, -12.5));
            p.rotate(45);
        }
        p.restore();
        p.setPen(pen(QColor(240, 140, 0), 1));
        p.setBrush(QColor(255, 200, 30));
        p.drawEllipse(R(7, 7, 14, 14));
        break;
    }
    case 77: // gift
        p.setPen(pen(QColor(150, 0, 30), 1));
        p.setBrush(QColor(230, 50, 70));
        p.drawRect(R(4, 11 + bob, 20, 14));
        p.drawRect(R(3, 8 + bob, 22, 4));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 210, 40));
        p.drawRect(R(12.5, 8 + bob, 3, 17));
        p.setPen(pen(QColor(220, 170, 0), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(R(8, 3 + bob - frame % 2, 6, 5));
        p.drawEllipse(R(14, 3 + bob - frame % 2, 6, 5));
        break;
    case 78: { // hug: a face with two arms around
        draw_face(p, {EHappy, MSmile, XBlush}, frame);
        p.setPen(pen(kHandLine, 0.9));
        p.setBrush(kHand);
        const double in = frame % 2 ? 1.5 : 0;
        p.drawEllipse(R(0 + in, 17, 7, 7));
        p.drawEllipse(R(21 - in, 17, 7, 7));
        break;
    }
    case 79: // thumbs up
        draw_hand(p, {false, false, false, false}, 1, bob);
        break;
    case 80: // thumbs down
        draw_hand(p, {false, false, false, false}, -1, -bob, 0);
        break;
    case 81: { // handshake
        p.setPen(pen(kHandLine, 0.9));
        p.setBrush(kHand);
        const double shake = (frame % 2) * 1.5;
        p.drawRoundedRect(R(1, 11 + shake, 14, 8), 3 * S, 3 * S);
        p.setBrush(kHand.darker(108));
        p.drawRoundedRect(R(13, 11 + shake, 14, 8), 3 * S, 3 * S);
        for (int i = 0; i < 3; ++i)
            p.drawRoundedRect(R(10 + i * 2.5, 9 + shake, 3, 6), 1.5 * S, 1.5 * S);
        p.setBrush(kBlueC);
        p.drawRect(R(0, 10 + shake, 3, 10));
        p.setBrush(kGrey);
        p.drawRect(R(25, 10 + shake, 3, 10));
        break;
    }
    case 82: // victory
        draw_hand(p, {true, true, false, false}, 0, bob, frame % 2 ? 6 : -6);
        break;
    case 83: { // fist salute: one fist in an open palm
        draw_hand(p, {false, false, false, false}, 0, bob);
        p.setPen(pen(kHandLine, 0.9));
        p.setBrush(kHand.lighter(103));
        p.drawRoundedRect(R(16 - (frame % 2), 7 + bob, 8, 17), 3 * S, 3 * S);
        break;
    }
    case 84: { // beckon: index finger curling
        p.save();
        draw_hand(p, {false, false, false, false}, 0, 2);
        p.setPen(pen(kHandLine, 1));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kHand.darker(105), 3 * S, Qt::SolidLine, Qt::RoundCap));
        const int curl = (frame % 2) ? 200 : 100;
        p.drawArc(R(9, 2, 8, 12), 270 * 16, curl * 16);
        p.restore();
        break;
    }
    case 85: // fist
        draw_hand(p, {false, false, false, false}, 0, (frame % 2) * -1.5);
        break;
    case 86: // little finger: poor
        draw_hand(p, {false, false, false, true}, 0, bob, frame % 2 ? 4 : -4);
        break;
    case 87: // love you
        draw_hand(p, {true, false, false, true}, 2, bob);
        if (frame % 2) {
            QPainterPath h;
            heart_path(h, 23, 5, 0.3);
            p.setPen(Qt::NoPen);
            p.setBrush(kRedC);
            p.drawPath(h);
        }
        break;
    case 88:   // NO
    case 89: { // OK
        const bool no = index == 88;
        const double s = frame % 2 ? 1.06 : 1;
        p.setPen(pen(no ? QColor(170, 0, 20) : QColor(20, 120, 30), 1.2));
        p.setBrush(no ? QColor(230, 40, 50) : QColor(60, 180, 70));
        p.drawEllipse(QRectF(P(14 - 12 * s, 14 - 12 * s), P(14 + 12 * s, 14 + 12 * s)));
        QFont f;
        f.setPixelSize(int(11 * S));
        f.setBold(true);
        p.setFont(f);
        p.setPen(kWhite);
        p.drawText(R(0, 0, 28, 28), Qt::AlignCenter, no ? "NO" : "OK");
        break;
    }
    default:
        break;
    }
}

// The expression of every face that is a face, by index.
const std::map<int, FaceSpec>& face_expressions() {
    static const std::map<int, FaceSpec> expressions = {
        {0, {EHappy, MSmile, XNone}},                          // 微笑
        {1, {EDot, MPout, XNone}},                             // 撇嘴
        {2, {EHeart, MDrool, XNone}},                          // 色
        {3, {EWide, MFlat, XNone}},                            // 发呆
        {4, {ECool, MSmirk, XNone}},                           // 得意
        {5, {ESad, MFrown, XTears}},                           // 流泪
        {6, {EHappy, MSmallO, XBlush}},                        // 害羞
        {7, {EDot, MZip, XNone}},                              // 闭嘴
        {8, {EClosed, MSmallO, XZzz}},                         // 睡
        {9, {EClosed, MWide, XBigTears}},                      // 大哭
        {10, {EDot, MWavy, XSweat | XBlush}},                  // 尴尬
        {11, {EAngry, MTeeth, XVein, QColor(250, 120, 70)}},   // 发怒
        {12, {EWink, MTongue, XNone}},                         // 调皮
        {13, {EHappy, MGrin, XNone}},                          // 呲牙
        {14, {EWide, MO, XNone}},                              // 惊讶
        {15, {ESad, MFrown, XNone}},                           // 难过
        {16, {ECool, MFlat, XNone}},                           // 酷
        {17, {EDot, MFlat, XSweat}},                           // 冷汗
        {18, {ESquint, MWide, XVein | XFlame}},                // 抓狂
        {19, {ESquint, MVomit, XNone, QColor(200, 225, 120)}}, // 吐
        {20, {EHappy, MSmirk, XFinger}},                       // 偷笑
        {21, {EHappy, MSmallO, XBlush | XStars}},              // 可爱
        {22, {ERoll, MFlat, XNone}},                           // 白眼
        {23, {EHalf, MSmirk, XNone}},                          // 傲慢
        {24, {EDot, MDrool, XNone}},                           // 饥饿
        {25, {EHalf, MYawn, XNone}},                           // 困
        {26, {EWide, MWide, XDrops, QColor(200, 215, 240)}},   // 惊恐
        {27, {EClosed, MFlat, XSweat | XDrops}},               // 流汗
        {28, {EHappy, MGrin, XBlush}},                         // 憨笑
        {29, {EAngry, MFlat, XHelmet}},                        // 大兵
        {30, {EAngry, MTeeth, XBand}},                         // 奋斗
        {31, {EAngry, MWide, XCurse}},                         // 咒骂
        {32, {ESide, MSmallO, XQuestion}},                     // 疑问
        {33, {EDot, MSmallO, XShh}},                           // 嘘...
        {34, {ESpiral, MWavy, XStars}},                        // 晕
        {35, {ECross, MWavy, XBandage | XSweat}},              // 折磨
        {36, {EHalf, MFrown, XDrops, QColor(210, 200, 160)}},  // 衰
        {38, {ESquint, MO, XHammer}},                          // 敲打
        {39, {EHappy, MSmile, XWave}},                         // 再见
        {40, {EClosed, MSmile, XWipe | XSweat}},               // 擦汗
        {41, {EHalf, MFlat, XFinger}},                         // 抠鼻
        {42, {EHappy, MGrin, XClap}},                          // 鼓掌
        {43, {ESquint, MWavy, XBlush | XSweat}},               // 糗大了
        {44, {EWink, MSmirk, XNone}},                          // 坏笑
        {45, {EAngry, MPout, XPuffL}},                         // 左哼哼
        {46, {EAngry, MPout, XPuffR}},                         // 右哼哼
        {47, {EClosed, MYawn, XTears}},                        // 哈欠
        {48, {EHalf, MSmirk, XNone, QColor(235, 215, 120)}},   // 鄙视
        {49, {ESad, MPout, XNone}},                            // 委屈
        {50, {ESad, MWavy, XTears}},                           // 快哭了
        {51, {ESquint, MSmirk, XNone, QColor(170, 160, 220)}}, // 阴险
        {52, {EClosed, MKiss, XBlush}},                        // 亲亲
        {53, {EWide, MSmallO, XDrops}},                        // 吓
        {54, {ESad, MSmallO, XTears | XBlush}},                // 可怜
    };
    return expressions;
}

void draw(QPainter& p, int index, int frame) {
    const auto& expressions = face_expressions();
    if (auto it = expressions.find(index); it != expressions.end())
        draw_face(p, it->second, frame);
    else
        draw_object(p, index, frame);
}

// ---- GIF: one palette for all frames of a face, index 0 transparent ----

// Pixels that are mostly transparent become the transparent index; edges are blended over the log's light
// background so that they stay smooth where the faces are shown.
QImage flatten(const QImage& drawn) {
    QImage small = drawn.scaled(kSize, kSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32);
    const QColor under(244, 246, 249);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const QRgb c = small.pixel(x, y);
            const int a = qAlpha(c);
            if (a < 90) {
                small.setPixel(x, y, qRgba(0, 0, 0, 0));
                continue;
            }
            auto mix = [&](int v, int u) { return (v * 255 + u * (255 - a)) / 255; };
            // ARGB32 is not premultiplied: the channels are the colour itself.
            small.setPixel(x, y,
                           qRgba(mix(qRed(c) * a / 255, under.red()), mix(qGreen(c) * a / 255, under.green()),
                                 mix(qBlue(c) * a / 255, under.blue()), 255));
        }
    return small;
}

std::vector<uint8_t> encode_face(const std::vector<QImage>& frames) {
    // Popularity palette over 4-bit channels, then the nearest entry for every pixel.
    std::map<uint32_t, int> counts;
    auto key = [](QRgb c) { return uint32_t((qRed(c) >> 4) << 8 | (qGreen(c) >> 4) << 4 | (qBlue(c) >> 4)); };
    for (const QImage& f : frames)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                if (qAlpha(f.pixel(x, y)))
                    ++counts[key(f.pixel(x, y))];
    std::vector<std::pair<int, uint32_t>> by_count;
    for (auto [k, n] : counts)
        by_count.push_back({n, k});
    std::sort(by_count.rbegin(), by_count.rend());
    std::vector<uint32_t> palette{0xFFFFFF}; // index 0: transparent
    for (size_t i = 0; i < by_count.size() && palette.size() < 256; ++i) {
        const uint32_t k = by_count[i].second;
        const uint32_t r = ((k >> 8) & 15) * 17, g = ((k >> 4) & 15) * 17, b = (k & 15) * 17;
        palette.push_back(r << 16 | g << 8 | b);
    }
    auto nearest = [&](QRgb c) {
        int best = 1, best_d = 1 << 30;
        for (size_t i = 1; i < palette.size(); ++i) {
            const int dr = int((palette[i] >> 16) & 255) - qRed(c),
                      dg = int((palette[i] >> 8) & 255) - qGreen(c), db = int(palette[i] & 255) - qBlue(c);
            const int d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
            if (d < best_d) {
                best_d = d;
                best = int(i);
            }
        }
        return uint8_t(best);
    };
    GifWriter gif(kSize, kSize, palette, 0);
    gif.Loop();
    for (const QImage& f : frames) {
        std::vector<uint8_t> indexes(size_t(kSize * kSize));
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                indexes[size_t(y * kSize + x)] = qAlpha(f.pixel(x, y)) ? nearest(f.pixel(x, y)) : 0;
        // Each frame replaces the whole picture: restore to background before the next.
        gif.Control(kDelay, 2, 0);
        gif.Image(0, 0, kSize, kSize, indexes);
    }
    return gif.Finish();
}

// ---- sounds ----

// A soft bell: a few decaying partials, written as 16-bit mono PCM at 22050 Hz.
std::vector<int16_t> chime(const std::vector<std::pair<double, double>>& notes, double seconds,
                           double volume) {
    constexpr int kRate = 22050;
    std::vector<double> mix(size_t(seconds * kRate), 0.0);
    for (auto [start, freq] : notes) {
        for (size_t i = size_t(start * kRate); i < mix.size(); ++i) {
            const double t = double(i) / kRate - start;
            const double attack = std::min(1.0, t / 0.008);
            const double env = attack * std::exp(-t * 6.0);
            mix[i] += env * (std::sin(2 * M_PI * freq * t) +
                             0.35 * std::sin(2 * M_PI * 2 * freq * t) * std::exp(-t * 8) +
                             0.12 * std::sin(2 * M_PI * 3.01 * freq * t) * std::exp(-t * 12));
        }
    }
    std::vector<int16_t> pcm(mix.size());
    const double fade = 0.05 * kRate;
    for (size_t i = 0; i < mix.size(); ++i) {
        const double tail = std::min(1.0, double(mix.size() - i) / fade);
        pcm[i] = int16_t(std::clamp(mix[i] * volume * tail, -1.0, 1.0) * 32767);
    }
    return pcm;
}

bool write_wav(const QString& path, const std::vector<int16_t>& pcm) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t data = uint32_t(pcm.size() * 2);
    f.write("RIFF");
    u32(36 + data);
    f.write("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(22050 * 2);
    u16(2);
    u16(16);
    f.write("data");
    u32(data);
    f.write(reinterpret_cast<const char*>(pcm.data()), data);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: asset_generator <assets folder>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(root + "/Faces");
    QDir().mkpath(root + "/sound");
    for (int index = 0; index < 90; ++index) {
        std::vector<QImage> frames;
        for (int frame = 0; frame < kFrames; ++frame) {
            QImage big(kSize * kScale, kSize * kScale, QImage::Format_ARGB32_Premultiplied);
            big.fill(Qt::transparent);
            QPainter p(&big);
            p.setRenderHint(QPainter::Antialiasing);
            p.setRenderHint(QPainter::TextAntialiasing);
            draw(p, index, frame);
            p.end();
            frames.push_back(flatten(big));
        }
        const std::vector<uint8_t> gif = encode_face(frames);
        QFile out(root + QString::asprintf("/Faces/%02d.gif", index));
        if (gif.empty() || !out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(gif.data()), qint64(gif.size())) != qint64(gif.size())) {
            std::fprintf(stderr, "asset_generator: cannot write face %d\n", index);
            return 1;
        }
    }
    // The program's icon for the desktop's menus, at the usual sizes of the hicolor theme: a white camera on
    // a blue rounded square, as the window's own icon.
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath frame;
        frame.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 5.0, size / 5.0);
        QLinearGradient g(0, 0, 0, size);
        g.setColorAt(0, QColor(86, 140, 196));
        g.setColorAt(1, QColor(52, 98, 150));
        p.fillPath(frame, g);
        const double u = size / 16.0;
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(3 * u, 5 * u, 7 * u, 6 * u), u, u);
        p.drawPolygon(QPolygonF{QPointF(10 * u, 7.5 * u), QPointF(13 * u, 5.5 * u), QPointF(13 * u, 10.5 * u),
                                QPointF(10 * u, 8.5 * u)});
        p.end();
        const QString folder = root + QString("/icons/hicolor/%1x%1/apps").arg(size);
        QDir().mkpath(folder);
        if (!icon.save(folder + "/quorin.png", "PNG")) {
            std::fprintf(stderr, "asset_generator: cannot write the icon\n");
            return 1;
        }
    }
    // A rising two-note chime for a new user, one soft bell for a message, a soft low knock for a raised
    // hand (heard by the host, who may be speaking).
    const bool sounds =
        write_wav(root + "/sound/newuser.wav", chime({{0.0, 659.25}, {0.12, 880.0}}, 0.7, 0.22)) &&
        write_wav(root + "/sound/message.wav", chime({{0.0, 1046.5}}, 0.45, 0.18)) &&
        write_wav(root + "/sound/hand.wav", chime({{0.0, 523.25}, {0.09, 523.25}}, 0.4, 0.10));
    if (!sounds) {
        std::fprintf(stderr, "asset_generator: cannot write the sounds\n");
        return 1;
    }
    std::printf("asset_generator: 90 faces and 2 sounds in %s\n", argv[1]);
    return 0;
}
