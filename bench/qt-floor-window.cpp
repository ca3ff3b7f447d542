// The floor under the desktop player's memory figure: a Qt Widgets window that shows one label in
// Chinese and Latin script (so the same CJK font is loaded as the player's), and nothing else.
// bench/desktop-compare.sh measures it beside the players.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(QString::fromUtf8("播放列表 歌词 搜索 Play list"));
  label.resize(400, 300);
  label.show();
  return QApplication::exec();
}
