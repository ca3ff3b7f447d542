// The association dialog and the lyric folder search behind it, over real files in a scratch
// folder: which names a title finds (partial and exact), the walk through subfolders a batch at a
// time, renames that never replace another file, deletes, and the dialog driven through its
// controls (offscreen): the search by Enter, the in-place rename, the delete after asking, the
// chosen file handed back, and each failure said and nothing lost.
#include "lyrics/LyricFileSearch.h"
#include "lyrics/ui/ufrmAssociateLRC.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

using namespace ml;
using namespace mltest;
namespace fs = std::filesystem;

namespace {

std::set<std::string> Names(const std::vector<std::string>& paths) {
  std::set<std::string> out;
  for (const auto& p : paths) out.insert(fs::path(p).filename().string());
  return out;
}

// ---- the rules ----------------------------------------------------------------------------------

TEST(LyricFileQuery, TitleIsTrimmedRidOfLrcAndSplitAtTheFirstHyphen) {
  struct Case {
    const char* typed;
    const char *title, *left, *right;
  } cases[] = {
      {" Luna Park - Paper Moon.LRC ", "Luna Park - Paper Moon", "Luna Park", "Paper Moon"},
      {"a.lrc.Lrc", "a", "", ""},
      {"Song .lrc", "Song", "", ""},   // trimmed again once ".lrc" is gone
      {"x.l.lrcrc", "x.lrc", "", ""},  // one pass: what the removal joins up stays
      {"A - B - C", "A - B - C", "A", "B - C"},
      {"Song -", "Song -", "Song", ""},
      {"   ", "", "", ""},
  };
  for (const Case& c : cases) {
    const TLyricFileQuery q = MakeLyricFileQuery(c.typed, true);
    EXPECT_EQ(q.Title, c.title) << c.typed;
    EXPECT_EQ(q.Left, c.left) << c.typed;
    EXPECT_EQ(q.Right, c.right) << c.typed;
  }
}

TEST(LyricFileQuery, MatchesByNameWithoutExtensionIgnoringCase) {
  struct Case {
    const char* title;
    bool partial;
    const char* file;
    bool listed;
  } cases[] = {
      // Partial: the left part, else the right part, else the whole title.
      {"Luna Park - Paper Moon", true, "LUNA PARK - Other Song.lrc", true},
      {"Luna Park - Paper Moon", true, "paper moon (live).txt", true},
      {"Luna Park - Paper Moon", true, "Moon.lrc", false},
      {"Paper Moon", true, "Old paper MOON.lrc", true},
      {"lrc", true, "song.lrc", false},  // the extension is not part of the name
      {"Song -", true, "Song of songs.lrc", true},
      {"", true, "anything.lrc", false},
      // Exact: "left - right", else the whole title.
      {"Luna Park - Paper Moon", false, "luna park - paper moon.LRC", true},
      {"Luna Park-Paper Moon", false, "Luna Park - Paper Moon.lrc", true},
      {"Luna Park - Paper Moon", false, "Luna Park-Paper Moon.lrc", false},
      {"Luna Park - Paper Moon", false, "Luna Park - Paper Moon (live).lrc", false},
      {"Moon", false, "moon.txt", true},
      {"Moon", false, "Paper Moon.lrc", false},
      {"Song -", false, "Song -.lrc", true},
      {"", false, ".lrc", false},
      {"月亮 - 纸", false, "月亮 - 纸.lrc", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LyricFileMatches(MakeLyricFileQuery(c.title, c.partial), c.file), c.listed)
        << c.title << (c.partial ? " (partial) " : " (exact) ") << c.file;
}

// A lyric folder with subfolders, a link back up and files of several extensions.
struct LyricTree {
  TempDir dir;
  std::string folder = dir.File("Lyric");
  LyricTree() {
    fs::create_directories(folder + "/sub/deeper");
    fs::create_directories(folder + "/empty");
    WriteAll(folder + "/Luna Park - Paper Moon.lrc", "[00:01.00]top");
    WriteAll(folder + "/sub/deeper/luna park - paper moon.txt", "[00:01.00]deep");
    WriteAll(folder + "/sub/Paper Moon (live).lrc", "[00:01.00]live");
    WriteAll(folder + "/Other.lrc", "[00:01.00]other");
    fs::create_directory_symlink(folder, folder + "/sub/loop");
  }
};

TEST(LyricFolderScan, WalksSubfoldersABatchAtATimeWithoutFollowingLinks) {
  LyricTree tree;
  TLyricFolderScan scan(tree.folder, MakeLyricFileQuery("Luna Park - Paper Moon", true));
  std::vector<std::string> found;
  int steps = 0;
  while (scan.Step(1, found)) {
    ASSERT_LE(found.size(), size_t(++steps)) << "one entry a step";
    ASSERT_LT(steps, 100) << "the link back up is not walked";
  }
  EXPECT_GT(steps, 5);
  EXPECT_TRUE(scan.Done());
  EXPECT_EQ(Names(found), (std::set<std::string>{"Luna Park - Paper Moon.lrc", "luna park - paper moon.txt",
                                                 "Paper Moon (live).lrc"}));
  // Exact, in one go.
  TLyricFolderScan exact(tree.folder, MakeLyricFileQuery("luna park - PAPER MOON.lrc", false));
  found.clear();
  EXPECT_FALSE(exact.Step(1000, found));
  EXPECT_EQ(Names(found), (std::set<std::string>{"Luna Park - Paper Moon.lrc", "luna park - paper moon.txt"}));

  TLyricFolderScan missing(tree.dir.File("none"), MakeLyricFileQuery("a", true));
  EXPECT_TRUE(missing.Done());
  EXPECT_FALSE(missing.Step(10, found));
}

TEST(LyricFileOps, RenameNeverReplacesAndSaysWhy) {
  TempDir dir;
  const std::string a = dir.File("a.lrc"), b = dir.File("b.lrc");
  WriteAll(a, "AAA");
  WriteAll(b, "BBB");
  std::string newPath, error;
  struct Refused {
    const char* name;
    const char* reason;
  } refused[] = {{"b.lrc", "已经有名为“b.lrc”的文件"},
                 {"  ", "文件名不能为空"},
                 {"x/y.lrc", "“x/y.lrc”不能用作文件名"},
                 {"..", "“..”不能用作文件名"}};
  for (const Refused& r : refused) {
    error.clear();
    EXPECT_FALSE(RenameLyricFile(a, r.name, newPath, error)) << r.name;
    EXPECT_EQ(error, r.reason);
  }
  // A NUL would cut the name short at the system call.
  EXPECT_FALSE(RenameLyricFile(a, std::string("x\0y.lrc", 7), newPath, error));
  EXPECT_FALSE(fs::exists(dir.File("x")));
  EXPECT_EQ(ReadAll(a), "AAA");
  EXPECT_EQ(ReadAll(b), "BBB");

  ASSERT_TRUE(RenameLyricFile(a, " c.lrc ", newPath, error)) << error;
  EXPECT_EQ(newPath, dir.File("c.lrc"));
  EXPECT_EQ(ReadAll(newPath), "AAA");
  EXPECT_FALSE(fs::exists(a));
  EXPECT_FALSE(RenameLyricFile(a, "d.lrc", newPath, error)) << "the file is gone";
  EXPECT_FALSE(error.empty());

  EXPECT_FALSE(DeleteLyricFile(dir.Path().string(), error)) << "a folder is not deleted";
  EXPECT_EQ(error, "这是一个文件夹");
  ASSERT_TRUE(DeleteLyricFile(b, error)) << error;
  EXPECT_FALSE(fs::exists(b));
  EXPECT_FALSE(DeleteLyricFile(b, error));
  EXPECT_FALSE(error.empty());
}

// ---- the dialog ---------------------------------------------------------------------------------

class AssociateDialog : public ::testing::Test {
protected:
  void Open(const std::string& current) {
    dialog = std::make_unique<TfrmAssociateLRC>(tree.folder + "/", current);
    dialog->ShowMessage = [this](const QString& caption, const QString& text, bool error) {
      messages.push_back((caption + ": " + text + (error ? " (error)" : "")).toStdString());
    };
    dialog->Confirm = [this](const QString& caption, const QString& text) {
      messages.push_back((caption + ": " + text + " ?").toStdString());
      return answer;
    };
    dialog->OnCancelLink = [this] { ++cancels; };
    dialog->show();
  }
  QPushButton* Button(const char* name) { return dialog->findChild<QPushButton*>(name); }
  int Rows() const { return dialog->Files()->topLevelItemCount(); }
  std::string Current() const { return TfrmAssociateLRC::RowPath(dialog->Files()->currentItem()); }
  std::set<std::string> RowNames() const {
    std::set<std::string> out;
    for (int i = 0; i < Rows(); ++i) out.insert(dialog->Files()->topLevelItem(i)->text(0).toStdString());
    return out;
  }
  void SearchFor(const char* title) {
    dialog->TitleBox()->setText(QString::fromUtf8(title));
    QTest::keyClick(dialog->TitleBox(), Qt::Key_Return);
    while (dialog->Scanning()) QApplication::processEvents();
  }
  // Types a name into the row's editor and commits it with Enter.
  void RenameTo(const char* name) {
    QTest::mouseClick(Button("btnRename"), Qt::LeftButton);
    auto* editor = dialog->Files()->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QString::fromUtf8(name));
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();  // the view commits the editor's text from its queue
    // The closed editor goes for good, so the next rename finds its own.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  LyricTree tree;
  std::unique_ptr<TfrmAssociateLRC> dialog;
  std::vector<std::string> messages;
  bool answer = true;
  int cancels = 0;
};

TEST_F(AssociateDialog, OpensOnTheCurrentFileAndSearchesTheFolder) {
  const std::string top = tree.folder + "/Luna Park - Paper Moon.lrc";
  Open(top);
  EXPECT_EQ(dialog->windowTitle().toStdString(), "关联歌唱文件");
  EXPECT_EQ(dialog->TitleBox()->text().toStdString(), "Luna Park - Paper Moon.lrc");
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Current(), top);
  EXPECT_EQ(dialog->Files()->currentItem()->text(1).toStdString(), tree.folder);
  EXPECT_TRUE(dialog->PartialBox()->isChecked());

  // Enter in the title searches, partly: the ".lrc" goes, either side of the hyphen counts.
  QTest::keyClick(dialog->TitleBox(), Qt::Key_Return);
  while (dialog->Scanning()) QApplication::processEvents();
  EXPECT_EQ(RowNames(), (std::set<std::string>{"Luna Park - Paper Moon.lrc", "luna park - paper moon.txt",
                                               "Paper Moon (live).lrc"}));
  EXPECT_NE(dialog->Files()->currentItem(), nullptr) << "the first row is selected";
  EXPECT_TRUE(dialog->isVisible()) << "Enter pressed no button";

  dialog->PartialBox()->setChecked(false);
  SearchFor("paper moon (LIVE)");
  EXPECT_EQ(RowNames(), std::set<std::string>{"Paper Moon (live).lrc"});
  EXPECT_EQ(Current(), tree.folder + "/sub/Paper Moon (live).lrc");
  EXPECT_TRUE(messages.empty());

  // A file that is gone opens with its name but no row.
  Open(tree.folder + "/Gone.lrc");
  EXPECT_EQ(dialog->TitleBox()->text().toStdString(), "Gone.lrc");
  EXPECT_EQ(Rows(), 0);
}

TEST_F(AssociateDialog, ALargeFolderFillsTheListOverSeveralTurnsOfTheLoop) {
  const size_t files = TfrmAssociateLRC::ScanBatch * 3;
  for (size_t i = 0; i < files; ++i) WriteAll(tree.folder + "/empty/Song " + std::to_string(i) + ".lrc", "x");
  Open("");
  dialog->TitleBox()->setText("song");
  QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog->Scanning()) << "the walk goes on after the click returns";
  EXPECT_LT(size_t(Rows()), files);
  int turns = 0;
  for (; dialog->Scanning(); ++turns) QApplication::processEvents();
  EXPECT_GE(turns, 2);
  EXPECT_EQ(size_t(Rows()), files);

  // Closing stops a walk under way.
  QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
  ASSERT_TRUE(dialog->Scanning());
  QTest::mouseClick(Button("btnCancel"), Qt::LeftButton);
  EXPECT_FALSE(dialog->Scanning());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_TRUE(dialog->ChosenFile().empty());
}

TEST_F(AssociateDialog, AMissingFolderIsSaidAndTheListKept) {
  fs::rename(tree.folder, tree.dir.File("Elsewhere"));
  Open(tree.dir.File("Elsewhere/Other.lrc"));
  SearchFor("Other");
  EXPECT_EQ(messages, std::vector<std::string>{"错误提示: 搜索目录不存在 (error)"});
  EXPECT_EQ(Rows(), 1);

  // "浏览" finds it anywhere: the only row, chosen.
  const std::string chosen = tree.dir.File("Elsewhere/sub/Paper Moon (live).lrc");
  QString startedIn;
  dialog->ChooseFile = [&](const QString& folder) {
    startedIn = folder;
    return QString::fromStdString(chosen);
  };
  QTest::mouseClick(Button("btnBrowse"), Qt::LeftButton);
  EXPECT_EQ(startedIn.toStdString(), tree.folder + "/");
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Current(), chosen);
  QTest::mouseClick(Button("btnAssociate"), Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->ChosenFile(), chosen);
}

TEST_F(AssociateDialog, RenamesInPlaceAndRefusesToReplaceAFile) {
  const std::string other = tree.folder + "/Other.lrc";
  Open(other);
  RenameTo("Luna Park - Paper Moon.lrc");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "错误提示: 无法重命名“Other.lrc”：已经有名为“Luna Park - Paper Moon.lrc”的文件 (error)");
  EXPECT_EQ(dialog->Files()->currentItem()->text(0).toStdString(), "Other.lrc");
  EXPECT_EQ(ReadAll(other), "[00:01.00]other");
  EXPECT_EQ(ReadAll(tree.folder + "/Luna Park - Paper Moon.lrc"), "[00:01.00]top");

  RenameTo("Renamed.lrc");
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_FALSE(fs::exists(other));
  EXPECT_EQ(ReadAll(tree.folder + "/Renamed.lrc"), "[00:01.00]other");
  EXPECT_EQ(dialog->Files()->currentItem()->text(0).toStdString(), "Renamed.lrc");
  EXPECT_EQ(dialog->TitleBox()->text().toStdString(), "Renamed.lrc");
  QTest::mouseClick(Button("btnAssociate"), Qt::LeftButton);
  EXPECT_EQ(dialog->ChosenFile(), tree.folder + "/Renamed.lrc") << "the row follows its file";
}

TEST_F(AssociateDialog, DeletesAfterAskingAndSaysWhenItCannot) {
  const std::string other = tree.folder + "/Other.lrc";
  Open(other);
  answer = false;
  QTest::mouseClick(Button("btnDeleteFile"), Qt::LeftButton);
  EXPECT_EQ(messages, std::vector<std::string>{"提示: 是否确定删除该歌词文件？ ?"});
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(Rows(), 1);

  // Gone behind the dialog's back: said, the row stays, and "关联" will not pass it on.
  fs::rename(other, tree.folder + "/Moved.lrc");
  answer = true;
  messages.clear();
  QTest::mouseClick(Button("btnDeleteFile"), Qt::LeftButton);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].rfind("错误提示: 无法删除“Other.lrc”：", 0), 0u) << messages[1];
  EXPECT_EQ(Rows(), 1);
  messages.clear();
  QTest::mouseClick(Button("btnAssociate"), Qt::LeftButton);
  EXPECT_EQ(messages, std::vector<std::string>{"错误提示: 歌词文件“Other.lrc”不存在！ (error)"});
  EXPECT_TRUE(dialog->isVisible()) << "still open";

  fs::rename(tree.folder + "/Moved.lrc", other);
  QTest::mouseClick(Button("btnDeleteFile"), Qt::LeftButton);
  EXPECT_FALSE(fs::exists(other));
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(fs::exists(tree.folder + "/Luna Park - Paper Moon.lrc")) << "only that file";

  // "撤销关联" is the opener's; with no row "关联" closes having chosen nothing.
  QTest::mouseClick(Button("btnCancelLink"), Qt::LeftButton);
  EXPECT_EQ(cancels, 1);
  QTest::mouseClick(Button("btnAssociate"), Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(dialog->ChosenFile().empty());
}

}  // namespace

int main(int argc, char** argv) { return RunQtWidgetTests(argc, argv); }
