#pragma once
// Our own skins, drawn: every picture and the definition of a skin package from a theme (its
// colours and corner shape) and one layout table. The build runs it to make the default skin
// and the tests' second skin, so the packages are build outputs and the art is code.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <map>
#include <string>

namespace ml {

struct TSkinArtTheme {
  QString Name;
  QColor Frame, Panel, Display, Accent, Text, Dim;
  int Radius = 6;  // the window's corners (0: square)
};
// "default" (dark slate with a teal accent) or "paper" (light, square, red accent); null Name
// for any other name.
TSkinArtTheme SkinArtTheme(const QString& name);

// Every entry of the package by name: "SkinResDef.xml", the pictures (PNG), "Preview.jpg".
std::map<std::string, QByteArray> DrawSkinPackage(const TSkinArtTheme& theme);
// The program's icon (the skin's "icon" picture) at size × size pixels, for the desktop's menus,
// the window and the tray.
QImage DrawProgramIcon(const TSkinArtTheme& theme, int size);

}  // namespace ml
