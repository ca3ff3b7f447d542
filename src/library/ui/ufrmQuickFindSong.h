#pragma once
// Quick find: every keystroke selects the songs whose caption holds the text typed.
#include <QDialog>

class QComboBox;

namespace ml {

class TfrmQuickFindSong : public QDialog {
  Q_OBJECT
public:
  static constexpr const char* kHint = "提示：输入歌曲的头一个字或字母即可快速定位";
  explicit TfrmQuickFindSong(QWidget* parent = nullptr);
  QComboBox& TextBox() { return *text_; }

signals:
  void TextChanged(const QString& text);

protected:
  void hideEvent(QHideEvent*) override;

private:
  QComboBox* text_;
};

}  // namespace ml
