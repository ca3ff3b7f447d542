#include "skin/ui/art/SkinArt.h"

#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRect>

#include <vector>

namespace ml {

namespace {

const QColor kKey(255, 0, 255);

// What a button shows.
enum class TGlyph {
  Play, Pause, Stop, Next, Prev, Open, Color, Mute, UnMute, AllCyc, SingleCyc, NoneCyc, Random, Order, Search,
  Window, Equalizer, List, Lyric, Minimize, Mini, Close, Max, Web, Left, Right, Text
};

struct TArtButton {
  const char* Form;
  const char* Name;
  QRect Box;  // where the skin places it (left, top, width, height)
  TGlyph Glyph;
  const char* Label = nullptr;  // TGlyph::Text
};

// One table for the definition, the pictures and the preview.
const std::vector<TArtButton>& Buttons() {
  static const std::vector<TArtButton> buttons = {
      // The main window: title bar, transport row, play modes, list row.
      {"playerForm", "Open", {141, 5, 14, 14}, TGlyph::Open},
      {"playerForm", "Playlist", {160, 5, 14, 14}, TGlyph::List},
      {"playerForm", "Equalizer", {179, 5, 14, 14}, TGlyph::Equalizer},
      {"playerForm", "Web", {198, 5, 14, 14}, TGlyph::Web},
      {"playerForm", "MainMode", {217, 5, 14, 14}, TGlyph::Window},
      {"playerForm", "MaxMode", {236, 5, 14, 14}, TGlyph::Max},
      {"playerForm", "Minimize", {255, 5, 14, 14}, TGlyph::Minimize},
      {"playerForm", "Minimode", {274, 5, 14, 14}, TGlyph::Mini},
      {"playerForm", "Exit", {294, 5, 14, 14}, TGlyph::Close},
      {"playerForm", "Random", {256, 30, 20, 16}, TGlyph::Random},
      {"playerForm", "Order", {256, 30, 20, 16}, TGlyph::Order},
      {"playerForm", "AllCyc", {256, 48, 20, 16}, TGlyph::AllCyc},
      {"playerForm", "SingleCyc", {256, 48, 20, 16}, TGlyph::SingleCyc},
      {"playerForm", "NoneCyc", {256, 48, 20, 16}, TGlyph::NoneCyc},
      {"playerForm", "Mute", {256, 66, 20, 18}, TGlyph::Mute},
      {"playerForm", "UnMute", {256, 66, 20, 18}, TGlyph::UnMute},
      {"playerForm", "prev", {14, 108, 34, 22}, TGlyph::Prev},
      {"playerForm", "play", {48, 108, 34, 22}, TGlyph::Play},
      {"playerForm", "pause", {48, 108, 34, 22}, TGlyph::Pause},
      {"playerForm", "next", {82, 108, 34, 22}, TGlyph::Next},
      {"playerForm", "stop", {116, 108, 34, 22}, TGlyph::Stop},
      {"playerForm", "Lyric", {150, 108, 34, 22}, TGlyph::Lyric},
      {"playerForm", "ChangeColor", {294, 110, 18, 18}, TGlyph::Color},
      {"playerForm", "Search", {288, 143, 16, 16}, TGlyph::Search},
      {"playerForm", "AddSong", {14, 474, 50, 21}, TGlyph::Text, "Add"},
      {"playerForm", "DeleteSong", {68, 474, 50, 21}, TGlyph::Text, "Delete"},
      {"playerForm", "PlayMode", {122, 474, 50, 21}, TGlyph::Text, "Mode"},
      {"playerForm", "FindSong", {176, 474, 50, 21}, TGlyph::Text, "Find"},
      {"playerForm", "SyncSong", {230, 474, 50, 21}, TGlyph::Text, "Sync"},
      {"playerForm", "PrevPage", {284, 478, 14, 14}, TGlyph::Left},
      {"playerForm", "NextPage", {302, 478, 14, 14}, TGlyph::Right},
      // The mini window: one row.
      {"miniForm", "prev", {121, 5, 21, 15}, TGlyph::Prev},
      {"miniForm", "play", {142, 5, 20, 15}, TGlyph::Play},
      {"miniForm", "pause", {142, 5, 20, 15}, TGlyph::Pause},
      {"miniForm", "next", {162, 5, 20, 15}, TGlyph::Next},
      {"miniForm", "stop", {182, 5, 20, 15}, TGlyph::Stop},
      {"miniForm", "Mute", {202, 5, 22, 15}, TGlyph::Mute},
      {"miniForm", "UnMute", {202, 5, 22, 15}, TGlyph::UnMute},
      {"miniForm", "MainMode", {273, 1, 11, 11}, TGlyph::Window},
      {"miniForm", "Lyric", {285, 1, 11, 11}, TGlyph::Lyric},
      {"miniForm", "Minimize", {273, 13, 11, 11}, TGlyph::Minimize},
      {"miniForm", "Exit", {285, 13, 11, 11}, TGlyph::Close},
      {"lyricForm", "Close", {336, 6, 14, 14}, TGlyph::Close},
      {"MsgForm", "Close", {258, 6, 14, 14}, TGlyph::Close},
  };
  return buttons;
}

QString Hex(const QColor& c) { return c.name().toUpper(); }
QString Pos(const QRect& r) {
  return QString("%1, %2, %3, %4").arg(r.left()).arg(r.top()).arg(r.left() + r.width()).arg(r.top() + r.height());
}

QByteArray Png(const QImage& image, const char* format = "PNG", int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, quality);
  return bytes;
}

// The key colour cut out, for pictures drawn onto others here (the preview).
QImage KeyToAlpha(QImage image) {
  image = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] & 0xFFFFFF) == (kKey.rgb() & 0xFFFFFF)) row[x] = 0;
  }
  return image;
}

QImage Canvas(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(kKey);
  return image;
}

QFont ArtFont(int pixels, bool bold = false) {
  QFont f("DejaVu Sans");
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

// A face with square-cut corners drawn without smoothing, so its edge never mixes with the key
// colour (a mixed pixel would show as a pink fringe once the key is cut out).
void Face(QPainter& p, const QRect& r, const QColor& fill, const QColor& border, int radius) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(border);
  p.setBrush(fill);
  if (radius > 0)
    p.drawRoundedRect(r.adjusted(0, 0, -1, -1), radius, radius);
  else
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

void Symbol(QPainter& p, const QRectF& box, TGlyph glyph, const char* label, const QColor& ink) {
  p.setRenderHint(QPainter::Antialiasing, true);
  const qreal s = std::min(box.width(), box.height()) * 0.55;
  const QPointF c = box.center();
  const QRectF sq(c.x() - s / 2, c.y() - s / 2, s, s);
  QPen pen(ink, std::max(1.0, s / 7));
  pen.setCapStyle(Qt::RoundCap);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  auto triangle = [&](qreal x0, qreal x1, bool right) {
    QPainterPath path;
    path.moveTo(right ? x0 : x1, sq.top());
    path.lineTo(right ? x1 : x0, c.y());
    path.lineTo(right ? x0 : x1, sq.bottom());
    path.closeSubpath();
    p.fillPath(path, ink);
  };
  auto text = [&](const QString& t, int px) {
    p.setFont(ArtFont(px, true));
    p.drawText(box, Qt::AlignCenter, t);
  };
  switch (glyph) {
    case TGlyph::Play: triangle(sq.left() + s * 0.1, sq.right(), true); break;
    case TGlyph::Pause:
      p.fillRect(QRectF(sq.left() + s * 0.1, sq.top(), s * 0.28, s), ink);
      p.fillRect(QRectF(sq.right() - s * 0.38, sq.top(), s * 0.28, s), ink);
      break;
    case TGlyph::Stop: p.fillRect(sq.adjusted(s * 0.08, s * 0.08, -s * 0.08, -s * 0.08), ink); break;
    case TGlyph::Next:
      triangle(sq.left(), sq.right() - s * 0.2, true);
      p.fillRect(QRectF(sq.right() - s * 0.18, sq.top(), s * 0.18, s), ink);
      break;
    case TGlyph::Prev:
      triangle(sq.left() + s * 0.2, sq.right(), false);
      p.fillRect(QRectF(sq.left(), sq.top(), s * 0.18, s), ink);
      break;
    case TGlyph::Open: {
      QPainterPath path;
      path.moveTo(sq.left(), c.y() + s * 0.1);
      path.lineTo(c.x(), sq.top());
      path.lineTo(sq.right(), c.y() + s * 0.1);
      path.closeSubpath();
      p.fillPath(path, ink);
      p.fillRect(QRectF(sq.left(), sq.bottom() - s * 0.2, s, s * 0.2), ink);
      break;
    }
    case TGlyph::Color:
      p.setBrush(ink);
      p.drawEllipse(sq);
      break;
    case TGlyph::Mute:
    case TGlyph::UnMute: {
      QPainterPath speaker;
      speaker.moveTo(sq.left(), c.y() - s * 0.18);
      speaker.lineTo(sq.left() + s * 0.25, c.y() - s * 0.18);
      speaker.lineTo(sq.left() + s * 0.55, sq.top());
      speaker.lineTo(sq.left() + s * 0.55, sq.bottom());
      speaker.lineTo(sq.left() + s * 0.25, c.y() + s * 0.18);
      speaker.lineTo(sq.left(), c.y() + s * 0.18);
      speaker.closeSubpath();
      p.fillPath(speaker, ink);
      if (glyph == TGlyph::Mute) {
        p.drawLine(QPointF(sq.left() + s * 0.7, c.y() - s * 0.2), QPointF(sq.right(), c.y() + s * 0.2));
        p.drawLine(QPointF(sq.left() + s * 0.7, c.y() + s * 0.2), QPointF(sq.right(), c.y() - s * 0.2));
      } else {
        p.drawArc(QRectF(sq.left() + s * 0.35, c.y() - s * 0.35, s * 0.6, s * 0.7), -50 * 16, 100 * 16);
      }
      break;
    }
    case TGlyph::AllCyc: text("ALL", int(box.height() * 0.5)); break;
    case TGlyph::SingleCyc: text("ONE", int(box.height() * 0.5)); break;
    case TGlyph::NoneCyc: text("OFF", int(box.height() * 0.5)); break;
    case TGlyph::Random: text("RND", int(box.height() * 0.5)); break;
    case TGlyph::Order: text("SEQ", int(box.height() * 0.5)); break;
    case TGlyph::Search:
      p.drawEllipse(QRectF(sq.left(), sq.top(), s * 0.7, s * 0.7));
      p.drawLine(QPointF(sq.left() + s * 0.6, sq.top() + s * 0.6), sq.bottomRight());
      break;
    case TGlyph::Window: p.drawRect(sq); break;
    case TGlyph::Max: p.drawRect(sq.adjusted(-s * 0.1, -s * 0.1, s * 0.1, s * 0.1)); break;
    case TGlyph::Mini: p.drawRect(QRectF(sq.left(), c.y(), s, s / 2)); break;
    case TGlyph::Equalizer:
      for (int i = 0; i < 3; ++i) {
        const qreal h = s * (i == 1 ? 1.0 : 0.6 - 0.15 * i);
        p.fillRect(QRectF(sq.left() + i * s * 0.38, sq.bottom() - h, s * 0.24, h), ink);
      }
      break;
    case TGlyph::List:
      for (int i = 0; i < 3; ++i) p.drawLine(QPointF(sq.left(), sq.top() + i * s / 2), QPointF(sq.right(), sq.top() + i * s / 2));
      break;
    case TGlyph::Lyric: text(QString::fromUtf8("\u266A"), int(box.height() * 0.7)); break;
    case TGlyph::Minimize: p.drawLine(QPointF(sq.left(), sq.bottom()), sq.bottomRight()); break;
    case TGlyph::Close:
      p.drawLine(sq.topLeft(), sq.bottomRight());
      p.drawLine(sq.topRight(), sq.bottomLeft());
      break;
    case TGlyph::Web:
      p.drawEllipse(sq);
      p.drawLine(QPointF(sq.left(), c.y()), QPointF(sq.right(), c.y()));
      p.drawEllipse(QRectF(c.x() - s * 0.2, sq.top(), s * 0.4, s));
      break;
    case TGlyph::Left: triangle(sq.left() + s * 0.15, sq.right() - s * 0.15, false); break;
    case TGlyph::Right: triangle(sq.left() + s * 0.15, sq.right() - s * 0.15, true); break;
    case TGlyph::Text: text(label, int(box.height() * 0.5)); break;
  }
}

// Four frames side by side: normal, hovered, pressed, disabled. The strip's top-left pixel is
// the key colour, which is how a button's picture names its key.
QImage ButtonStrip(const TSkinArtTheme& t, const TArtButton& b) {
  const int w = b.Box.width(), h = b.Box.height();
  QImage strip = Canvas(w * 4, h);
  QPainter p(&strip);
  const QColor faces[4] = {t.Panel.lighter(125), t.Panel.lighter(150), t.Accent, t.Panel};
  const QColor inks[4] = {t.Text, t.Accent, t.Display, t.Dim};
  const int radius = std::min(w, h) >= 16 ? 3 : 2;
  for (int f = 0; f < 4; ++f) {
    const QRect r(f * w, 0, w, h);
    Face(p, r, faces[f], faces[f].darker(125), radius);
    Symbol(p, QRectF(r).adjusted(1, 1, -1, -1), b.Glyph, b.Label, inks[f]);
  }
  p.end();
  strip.setPixelColor(0, 0, kKey);
  return strip;
}

// A window's picture: the body with its corners cut by the key colour, a title when named.
QImage WindowImage(const TSkinArtTheme& t, int w, int h, const QString& title) {
  QImage image = Canvas(w, h);
  QPainter p(&image);
  Face(p, image.rect(), t.Frame, t.Frame.lighter(140), t.Radius);
  if (!title.isEmpty()) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(t.Text);
    p.setFont(ArtFont(11, true));
    p.drawText(QRect(28, 4, 120, 16), Qt::AlignLeft | Qt::AlignVCenter, title);
  }
  return image;
}

void Well(QPainter& p, const TSkinArtTheme& t, const QRect& r) { Face(p, r, t.Display, t.Frame.darker(130), 3); }

QImage PlayerImage(const TSkinArtTheme& t) {
  QImage image = WindowImage(t, 330, 503, "MiniLirra");
  QPainter p(&image);
  Well(p, t, QRect(10, 26, 310, 62));   // the display
  Well(p, t, QRect(14, 95, 302, 4));    // the position groove
  Well(p, t, QRect(298, 30, 4, 54));    // the volume groove
  Well(p, t, QRect(12, 138, 296, 24));  // the search box
  return image;
}

QImage MiniImage(const TSkinArtTheme& t) {
  QImage image = WindowImage(t, 300, 26, {});
  QPainter p(&image);
  Well(p, t, QRect(22, 4, 96, 18));
  Well(p, t, QRect(226, 4, 44, 18));
  return image;
}

QImage Digits(const TSkinArtTheme& t, int w, int h) {
  QImage strip(w * 12, h, QImage::Format_ARGB32);
  strip.fill(t.Display);
  QPainter p(&strip);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.setPen(t.Accent);
  QFont f("DejaVu Sans Mono");
  f.setPixelSize(h - 2);
  f.setBold(true);
  p.setFont(f);
  const QString chars = "0123456789:-";
  for (int i = 0; i < 12; ++i) p.drawText(QRect(i * w, 0, w, h), Qt::AlignCenter, chars.mid(i, 1));
  return strip;
}

QImage Filled(int w, int h, const QColor& c) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(c);
  return image;
}

// A bar's fill: the groove's colour band across the middle, key colour above and below.
QImage FillBar(const TSkinArtTheme& t, int w, int h, bool vertical) {
  QImage image = Canvas(w, h);
  QPainter p(&image);
  if (vertical)
    p.fillRect(QRect(w / 2 - 2, 0, 4, h), t.Accent);
  else
    p.fillRect(QRect(0, h / 2 - 2, w, 4), t.Accent);
  return image;
}

QImage Thumb(const TSkinArtTheme& t, int w, int h) {
  QImage image = Canvas(w, h);
  QPainter p(&image);
  Face(p, image.rect(), t.Text, t.Accent, 2);
  return image;
}

QImage Arrows(const TSkinArtTheme& t, int size) {
  // Up, down, up pressed, down pressed.
  QImage strip(size * 4, size, QImage::Format_ARGB32);
  strip.fill(t.Panel);
  QPainter p(&strip);
  for (int f = 0; f < 4; ++f) {
    const QRect r(f * size, 0, size, size);
    Face(p, r, f >= 2 ? t.Accent : t.Panel.lighter(125), t.Frame, 0);
    QPainterPath path;
    const qreal m = size * 0.3, cx = r.center().x() + 0.5;
    const bool up = f % 2 == 0;
    path.moveTo(r.left() + m, up ? r.bottom() - m : r.top() + m);
    path.lineTo(cx, up ? r.top() + m : r.bottom() - m);
    path.lineTo(r.right() + 1 - m, up ? r.bottom() - m : r.top() + m);
    path.closeSubpath();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillPath(path, f >= 2 ? t.Display : t.Text);
    p.setRenderHint(QPainter::Antialiasing, false);
  }
  return strip;
}

QImage TabButtons(const TSkinArtTheme& t) {
  QImage strip(120, 20, QImage::Format_ARGB32);
  strip.fill(t.Frame);
  QPainter p(&strip);
  Face(p, QRect(0, 2, 60, 18), t.Panel, t.Frame.darker(120), 2);
  Face(p, QRect(60, 2, 60, 18), t.Display, t.Accent, 2);
  p.fillRect(QRect(61, 17, 58, 3), t.Display);
  return strip;
}

// A small filled triangle on the key colour (the playing mark, the sort arrow).
QImage Triangle(int w, int h, QPointF a, QPointF b, QPointF c, const QColor& color) {
  QImage image = Canvas(w, h);
  QPainter p(&image);
  QPainterPath path;
  path.moveTo(a);
  path.lineTo(b);
  path.lineTo(c);
  path.closeSubpath();
  p.fillPath(path, color);
  return image;
}

QImage Icon(const TSkinArtTheme& t, int size = 16) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.scale(size / 16.0, size / 16.0);
  Face(p, image.rect(), t.Accent, t.Accent.darker(130), 3);
  Symbol(p, QRectF(1, 1, 14, 14), TGlyph::Lyric, nullptr, t.Display);
  return image;
}

QString Definition(const TSkinArtTheme& t) {
  const QString text = Hex(t.Text), accent = Hex(t.Accent), display = Hex(t.Display), panel = Hex(t.Panel),
                frame = Hex(t.Frame), dim = Hex(t.Dim);
  auto buttons = [](const char* form) {
    QString out;
    for (const TArtButton& b : Buttons())
      if (QString(b.Form) == form)
        out += QString("    <%1 image=\"%2/%1.png\" position=\"%3\"/>\n").arg(b.Name, form, Pos(b.Box));
    return out;
  };
  QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += QString("<Skin name=\"%1\">\n").arg(t.Name);
  xml += QString("  <playerForm Image=\"player.png\" SeperateX=\"174\" SeperateY=\"330\" color=\"%1\">\n").arg(frame);
  xml += "    <icon Image=\"icon.png\" position=\"8, 5, 24, 21\"/>\n";
  xml += "    <led image=\"led.png\" position=\"16, 30, 70, 48\"/>\n";
  xml += QString("    <PlayInfo position=\"80, 30, 250, 46\" fontcolor=\"%1\" FontName=\"DejaVu Sans\" FontSize=\"9\" AlignLeft=\"1\"/>\n").arg(text);
  xml += QString("    <Bitrate position=\"80, 48, 160, 62\" fontcolor=\"%1\" FontName=\"DejaVu Sans\" FontSize=\"7\" AlignLeft=\"1\"/>\n").arg(dim);
  xml += QString("    <SampleRate position=\"164, 48, 250, 62\" fontcolor=\"%1\" FontName=\"DejaVu Sans\" FontSize=\"7\" AlignLeft=\"0\"/>\n").arg(dim);
  xml += QString("    <Visual position=\"16, 64, 250, 86\" SpectrumStartColor=\"%1\" SpectrumCenterColor=\"%2\" SpectrumEndColor=\"%3\" SpectrumPeekColor=\"%4\"/>\n")
             .arg(Hex(t.Text), accent, Hex(t.Accent.darker(160)), text);
  xml += "    <progress position=\"14, 92, 316, 102\" vertical=\"false\" thumb_image=\"progress_thumb.png\" fill_image=\"progress_fill.png\" FulFill=\"0\"/>\n";
  xml += "    <volume position=\"294, 30, 306, 84\" vertical=\"true\" thumb_image=\"volume_thumb.png\" fill_image=\"volume_fill.png\" FulFill=\"0\"/>\n";
  xml += QString("    <SearchEdit position=\"16, 141, 282, 159\" color=\"%1\" AnchorLeft=\"1\" AnchorRight=\"1\"/>\n").arg(text);
  xml += QString("    <Tab TabBG=\"tab_bg.png\" TabBtn=\"tab_buttons.png\" position=\"10, 166, 320, 186\" FontColor=\"%1\"/>\n").arg(text);
  xml += QString("    <list position=\"10, 188, 320, 470\" BorderColor=\"%1\" color=\"%2\"/>\n").arg(Hex(t.Frame.darker(130)), display);
  const QString listColors =
      QString("TextColor=\"%1\" HighlightBkgnd1Color=\"%2\" HighlightBkgnd2Color=\"%3\" HighlightColor=\"%4\" "
              "DivideLineColor=\"%5\" Background1Color=\"%6\" Background2Color=\"%7\" NumberColor=\"%8\" "
              "DurationColor=\"%8\" SelectColor=\"%9\" UnactiveColor=\"%8\" PlayingImage=\"playing.png\"")
          .arg(text, Hex(t.Accent.darker(150)), Hex(t.Accent.darker(200)), Hex(t.Accent.lighter(130)), frame, display,
               Hex(t.Display.lighter(112)), dim, Hex(t.Panel.lighter(150)));
  xml += QString("    <playlist %1/>\n    <playlistMgr %1/>\n").arg(listColors);
  xml += QString("    <NumLabel FontColor=\"%1\" SelectFontColor=\"%2\"/>\n").arg(dim, accent);
  xml += "    <ScrollBar ScrollbarSlider=\"scroll_slider.png\" ScrollbarButton=\"scroll_buttons.png\" ScrollbarBG=\"scroll_bg.png\"/>\n";
  xml += "    <Splitter SplitterArrow=\"splitter_arrow.png\" SplitterBG=\"splitter_bg.png\"/>\n";
  xml += buttons("playerForm");
  xml += "  </playerForm>\n";
  xml += QString("  <miniForm Image=\"mini.png\" color=\"%1\">\n").arg(frame);
  xml += "    <icon Image=\"icon.png\" position=\"4, 5, 20, 21\"/>\n";
  xml += "    <led image=\"led_mini.png\" position=\"228, 6, 270, 20\"/>\n";
  xml += QString("    <PlayInfo position=\"25, 5, 116, 21\" fontcolor=\"%1\" FontName=\"DejaVu Sans\" FontSize=\"8\" AlignLeft=\"1\"/>\n").arg(text);
  xml += "    <progress position=\"24, 22, 116, 25\" vertical=\"false\" fill_image=\"progress_fill.png\" FulFill=\"1\"/>\n";
  xml += "    <volume position=\"226, 22, 270, 25\" vertical=\"false\" fill_image=\"progress_fill.png\" FulFill=\"1\"/>\n";
  xml += buttons("miniForm");
  xml += "  </miniForm>\n";
  xml += QString("  <lyricForm Image=\"lyric.png\" SeperateX=\"180\" SeperateY=\"130\" color=\"%1\">\n").arg(frame);
  xml += buttons("lyricForm");
  xml += QString("    <Tab TabBG=\"tab_bg.png\" TabBtn=\"tab_buttons.png\" position=\"10, 26, 350, 46\" FontColor=\"%1\"/>\n").arg(text);
  xml += QString("    <lrc position=\"10, 48, 350, 250\" BorderColor=\"%1\" color=\"%2\" ScrollColor=\"%3\" BkgndColor=\"%2\" CurrentColor=\"%4\"/>\n")
             .arg(Hex(t.Frame.darker(130)), display, dim, accent);
  xml += QString("    <miniborder position=\"0, 0, 360, 60\" BorderColor=\"%1\" color=\"%2\"/>\n").arg(accent, display);
  xml += QString("    <SearchResult FontColor=\"%1\" HighlightTextColor=\"%2\" HighlightBkGnd1Color=\"%3\" HighlightBkGnd2Color=\"%4\" ColumnHeader=\"column_header.png\" ColumnSort=\"column_sort.png\"/>\n")
             .arg(text, Hex(t.Display), accent, Hex(t.Accent.darker(130)));
  xml += "  </lyricForm>\n";
  xml += QString("  <MsgForm Image=\"msg.png\" color=\"%1\">\n").arg(frame);
  xml += buttons("MsgForm");
  xml += "  </MsgForm>\n";
  xml += QString("  <Menu>\n    <MenuColor TitleBG1Color=\"%1\" TitleBG2Color=\"%2\" FrameColor=\"%3\" SelectedColor=\"%4\" UnusedColor=\"%5\" FontColor=\"%6\" SelectedFontColor=\"%7\"/>\n  </Menu>\n")
             .arg(panel, Hex(t.Panel.darker(115)), Hex(t.Frame.darker(130)), accent, dim, text, display);
  xml += "</Skin>\n";
  return xml;
}

}  // namespace

TSkinArtTheme SkinArtTheme(const QString& name) {
  if (name == "default")
    return {"default", QColor("#2E3440"), QColor("#3B4252"), QColor("#1C2028"), QColor("#88C0D0"),
            QColor("#ECEFF4"), QColor("#7B8394"), 6};
  if (name == "paper")
    return {"paper", QColor("#D8DEE9"), QColor("#C2CAD8"), QColor("#FBFBF8"), QColor("#BF3F4A"),
            QColor("#2E3440"), QColor("#6B7385"), 0};
  return {};
}

std::map<std::string, QByteArray> DrawSkinPackage(const TSkinArtTheme& t) {
  std::map<std::string, QByteArray> entries;
  auto put = [&](const std::string& name, const QImage& image) { entries[name] = Png(image); };
  const QImage player = PlayerImage(t);
  put("player.png", player);
  put("mini.png", MiniImage(t));
  {
    QImage lyric = WindowImage(t, 360, 260, {});
    put("lyric.png", lyric);
  }
  put("msg.png", WindowImage(t, 280, 120, "MiniLirra"));
  put("icon.png", Icon(t));
  put("led.png", Digits(t, 9, 18));
  put("led_mini.png", Digits(t, 7, 14));
  put("progress_thumb.png", Thumb(t, 8, 10));
  put("progress_fill.png", FillBar(t, 16, 10, false));
  put("volume_thumb.png", Thumb(t, 12, 6));
  put("volume_fill.png", FillBar(t, 12, 16, true));
  put("tab_bg.png", Filled(10, 20, t.Frame));
  put("tab_buttons.png", TabButtons(t));
  put("playing.png", Triangle(8, 9, {0, 0}, {8, 4.5}, {0, 9}, t.Accent));
  put("scroll_slider.png", Filled(12, 12, t.Accent.darker(120)));
  put("scroll_buttons.png", Arrows(t, 12));
  put("scroll_bg.png", Filled(12, 12, t.Display.lighter(115)));
  put("splitter_bg.png", Filled(6, 6, t.Frame));
  {
    QImage arrow = Canvas(16, 6);
    QPainter p(&arrow);
    p.fillRect(QRect(2, 2, 12, 2), t.Dim);
    put("splitter_arrow.png", arrow);
  }
  put("column_header.png", Filled(10, 18, t.Panel));
  put("column_sort.png", Triangle(9, 5, {0, 0}, {9, 0}, {4.5, 5}, t.Text));
  // The preview: the main window as the skin draws it, buttons in their first frame.
  QImage preview(player.size(), QImage::Format_RGB32);
  preview.fill(QColor("#808080"));
  {
    QPainter p(&preview);
    p.drawImage(0, 0, KeyToAlpha(player));
    for (const TArtButton& b : Buttons()) {
      const QImage strip = ButtonStrip(t, b);
      entries[std::string(b.Form) + "/" + b.Name + ".png"] = Png(strip);
      if (QString(b.Form) != "playerForm") continue;
      p.drawImage(b.Box.topLeft(), KeyToAlpha(strip.copy(0, 0, b.Box.width(), b.Box.height())));
    }
  }
  entries["Preview.jpg"] = Png(preview.scaled(165, 252, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "JPG", 85);
  entries["SkinResDef.xml"] = Definition(t).toUtf8();
  return entries;
}

QImage DrawProgramIcon(const TSkinArtTheme& theme, int size) { return Icon(theme, size); }

}  // namespace ml
