// The playlist frame offscreen on the built-in skin, driven through its boxes, editor, menus and
// dialogs over a real controller and library: the list of lists (choose, new, rename in place,
// delete, move), songs dragged onto a list with and without Ctrl, the find and quick-find
// dialogs, and the upload and download of the first list with every message, against a fake
// service.
#include "library/ui/dlgFileProperties.h"
#include "library/ui/dlgSelectDir.h"
#include "library/ui/ufmPlayList.h"
#include "library/ui/uLuiPlayListBox.h"
#include "library/ui/ufrmFindSong.h"
#include "library/ui/ufrmQuickFindSong.h"
#include "library/ui/ufrmUpPlaylistProgress.h"
#include "base/FileUtil.h"
#include "base/LRMD5.h"
#include "skin/uLuiSkinMgr.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

using namespace ml;
using namespace mltest;

namespace {

struct FakeHost : IPlayListHost {
  int stops = 0;
  void PlayEntryRequested(TShareFileInfo*) override {}
  void StopRequested() override { ++stops; }
  bool ConfirmDeleteFiles(int) override { return true; }
};

struct FakeSync : IPlaylistSyncService {
  bool loggedIn = true, busy = false, accept = true;
  std::string refusal = "服务暂时不可用";
  int loginPages = 0;
  std::vector<std::string> uploads;
  int downloads = 0;
  bool LoggedIn() const override { return loggedIn; }
  void ShowLoginPage() override { ++loginPages; }
  bool Busy() const override { return busy; }
  bool StartUpload(const std::string& body, std::string* error) override {
    uploads.push_back(body);
    if (!accept) *error = refusal;
    return accept;
  }
  bool StartDownload(std::string* error) override {
    ++downloads;
    if (!accept) *error = refusal;
    return accept;
  }
};

class PlayListFrameTest : public ::testing::Test {
protected:
  void SetUp() override {
    TPlayList* first = mgr.NewPlayList("[默认]");
    const char* artists[] = {"Alpha", "Beta", "Alpha", "gamma", "Beta"};
    for (int i = 0; i < 5; ++i) {
      TShareFileInfo* e = mgr.AddFromSearchResult("Song " + std::to_string(i + 1), LRMD5::MD5String(std::to_string(i)));
      e->Artist = artists[i];
      e->Duration = (i + 2) * 61000;
      first->Items.push_back(e);
    }
    TPlayList* second = mgr.NewPlayList("第二");
    second->Items.push_back(mgr.AddFromSearchResult("另一首", LRMD5::MD5String("x")));
    controller = std::make_unique<TPlayListController>(mgr, host, TPlayListSettings{}, 7);
    skin.SetPackageFile(BinDir() + "/SkinRes/SkinRes.zip");
    frame = std::make_unique<TfmPlayList>(&skin);
    frame->resize(420, 200);
    frame->SetController(controller.get());
    frame->SetSync(&sync);
    frame->Inform = [this](const std::string& caption, const std::string& text) {
      messages.push_back(caption + "|" + text);
    };
    frame->Ask = [this](const std::string& caption, const std::string& text) {
      messages.push_back(caption + "|" + text);
      return answer;
    };
    frame->OpenFolder = [this](const QUrl& url) {
      opened.push_back(url);
      return true;
    };
    ASSERT_TRUE(skin.ApplySkin(false, 0, false)) << skin.Error();
    frame->SetPane(120, true);
    frame->show();
    QApplication::processEvents();
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& l : mgr.PlayLists()) out.push_back(l->Name);
    return out;
  }
  std::vector<std::string> Captions(int list) const {
    std::vector<std::string> out;
    for (const TShareFileInfo* e : mgr.PlayLists()[size_t(list)]->Items) out.push_back(e->Caption);
    return out;
  }
  QPoint RowCenter(TLuiPlayListBox& box, int row) { return box.visualRect(box.Model().index(row)).center(); }
  void ClickRow(TLuiPlayListBox& box, int row, Qt::KeyboardModifiers keys = {}) {
    QTest::mouseClick(box.viewport(), Qt::LeftButton, keys, RowCenter(box, row));
    QApplication::processEvents();
  }
  QAction* Action(QMenu& menu, const char* caption) {
    for (QAction* a : menu.actions())
      if (a->text() == QString::fromUtf8(caption)) return a;
    ADD_FAILURE() << "no menu item " << caption;
    return nullptr;
  }
  std::string Take() {
    std::string all;
    for (const std::string& m : messages) all += (all.empty() ? "" : "\n") + m;
    messages.clear();
    return all;
  }

  TMusicFileMgr mgr;
  FakeHost host;
  FakeSync sync;
  std::unique_ptr<TPlayListController> controller;
  TLuiSkinManager skin;
  std::unique_ptr<TfmPlayList> frame;
  std::vector<std::string> messages;
  std::vector<QUrl> opened;
  bool answer = true;
};

// The lists at the left, the shown one selected and the playing one marked; choosing a list shows
// its songs; an empty list shows the tip instead; the picture against ours.
TEST_F(PlayListFrameTest, ListsShownChosenAndDrawn) {
  TLuiPlayListBox& lists = frame->ListBox();
  ASSERT_EQ(lists.Model().rowCount(), 2);
  EXPECT_EQ(lists.Model().Row(1).Caption, "第二");
  EXPECT_EQ(frame->PaneWidth(), 120);
  EXPECT_TRUE(frame->PaneVisible());
  controller->PlayEntry(mgr.PlayLists()[0].get(), mgr.PlayLists()[0]->Items[2]);
  controller->Select({1});
  frame->ShowState();
  EXPECT_EQ(lists.PlayingIndex(), 0);
  EXPECT_EQ(frame->SongBox().PlayingIndex(), 2);
  ExpectLooksLike(frame->grab().toImage(), "playlist-frame", "tests/library/ui/reference");

  ClickRow(lists, 1);
  EXPECT_EQ(controller->ShownListIndex(), 1);
  EXPECT_EQ(frame->SongBox().Model().rowCount(), 1);
  EXPECT_EQ(frame->SongBox().PlayingIndex(), -1);

  frame->NewList();
  EXPECT_EQ(Names().back(), "列表3");
  EXPECT_EQ(lists.currentIndex().row(), 2);
  EXPECT_TRUE(frame->TipPanel().isVisible());
  EXPECT_FALSE(frame->SongBox().isVisible());
  ExpectLooksLike(frame->grab().toImage(), "playlist-frame-empty", "tests/library/ui/reference");
  ClickRow(lists, 0);
  EXPECT_FALSE(frame->TipPanel().isVisible());
  EXPECT_TRUE(frame->SongBox().isVisible());

  // Collapsed, the pane keeps its width for the next time; a double click on the handle brings
  // it back.
  frame->SetPane(150, false);
  EXPECT_FALSE(frame->PaneVisible());
  EXPECT_EQ(frame->PaneWidth(), 150);
  QTest::mouseDClick(frame->Splitter().handle(1), Qt::LeftButton);
  EXPECT_TRUE(frame->PaneVisible());
  EXPECT_EQ(frame->Splitter().sizes().value(0), 150);
}

// The window sets the pane from the settings before it has a size of its own: the width holds
// once the frame is laid out.
TEST_F(PlayListFrameTest, PaneWidthSetBeforeLayout) {
  TfmPlayList fresh(&skin);
  fresh.SetController(controller.get());
  fresh.SetPane(100, true);
  fresh.resize(500, 200);
  fresh.show();
  QApplication::processEvents();
  EXPECT_EQ(fresh.Splitter().sizes().value(0), 100);
  EXPECT_TRUE(fresh.PaneVisible());
}

// Renaming in place: the editor over the item's text, Enter commits, Esc leaves the name, an
// empty name disables the box, and a click elsewhere commits a song's new caption.
TEST_F(PlayListFrameTest, RenameInPlace) {
  TLuiPlayListBox& lists = frame->ListBox();
  QLineEdit& editor = frame->NameEditor();
  frame->BeginRename(lists, 1);
  ASSERT_TRUE(editor.isVisible());
  EXPECT_EQ(editor.text().toStdString(), "第二");
  EXPECT_EQ(editor.selectedText(), editor.text());
  const QRect text = lists.GetTextRect(1);
  EXPECT_EQ(editor.geometry().top(), lists.viewport()->mapTo(frame.get(), text.topLeft()).y() - 1);
  EXPECT_EQ(editor.height(), text.height() + 2);
  QTest::keyClicks(&editor, "Rock");
  QTest::keyClick(&editor, Qt::Key_Return);
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(Names()[1], "Rock");
  EXPECT_EQ(lists.Model().Row(1).Caption, "Rock");

  frame->BeginRename(lists, 0);
  QTest::keyClick(&editor, Qt::Key_Backspace);
  EXPECT_FALSE(lists.isEnabled());
  QTest::keyClick(&editor, Qt::Key_Return);  // nothing to commit: the editor stays
  EXPECT_TRUE(editor.isVisible());
  QTest::keyClick(&editor, Qt::Key_Escape);
  EXPECT_FALSE(editor.isVisible());
  EXPECT_TRUE(lists.isEnabled());
  EXPECT_EQ(Names()[0], "[默认]");

  TLuiPlayListBox& songs = frame->SongBox();
  frame->BeginRename(songs, 3);
  const QRect songText = songs.GetTextRect(3);
  EXPECT_EQ(editor.geometry().left(), songs.viewport()->mapTo(frame.get(), songText.topLeft()).x());
  QTest::keyClicks(&editor, "Renamed");
  QTest::mousePress(songs.viewport(), Qt::LeftButton, {}, RowCenter(songs, 0));
  QApplication::processEvents();
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(Captions(0)[3], "Renamed");
}

// Deleting lists stops at the last one (its menu item greyed); Ctrl+Up and Ctrl+Down move the
// shown list.
TEST_F(PlayListFrameTest, DeleteAndMoveLists) {
  TLuiPlayListBox& lists = frame->ListBox();
  frame->NewList();
  QTest::keyClick(&lists, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(Names(), (std::vector<std::string>{"[默认]", "列表3", "第二"}));
  EXPECT_EQ(lists.currentIndex().row(), 1);
  QTest::keyClick(&lists, Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(Names(), (std::vector<std::string>{"[默认]", "第二", "列表3"}));

  emit frame->ListMenu().aboutToShow();
  QAction* del = Action(frame->ListMenu(), "删除列表(&E)");
  del->trigger();  // the shown list goes, and the first is shown
  EXPECT_EQ(controller->ShownListIndex(), 0);
  del->trigger();
  EXPECT_EQ(Names(), (std::vector<std::string>{"第二"}));
  emit frame->ListMenu().aboutToShow();
  EXPECT_FALSE(del->isEnabled());
  frame->DeleteList();
  EXPECT_EQ(Names().size(), 1u);
}

// Songs dropped on another list: copied with Ctrl (the shown list keeps them), moved without; the
// target list is shown afterwards. A drop within the song box moves the selection there.
TEST_F(PlayListFrameTest, DragSongsOntoAList) {
  TLuiPlayListBox& songs = frame->SongBox();
  TLuiPlayListBox& lists = frame->ListBox();
  ClickRow(songs, 0);
  ClickRow(songs, 2, Qt::ControlModifier);
  ASSERT_EQ(controller->Selection(), (std::set<size_t>{0, 2}));
  frame->DropOn(lists, RowCenter(lists, 1), &songs, Qt::ControlModifier);
  EXPECT_EQ(Captions(0).size(), 5u);
  EXPECT_EQ(Captions(1), (std::vector<std::string>{"另一首", "Song 3", "Song 1"}));
  EXPECT_EQ(controller->ShownListIndex(), 1);
  EXPECT_EQ(lists.currentIndex().row(), 1);

  ClickRow(lists, 0);
  ClickRow(songs, 3);
  frame->DropOn(lists, RowCenter(lists, 1), &songs, {});
  EXPECT_EQ(Captions(0), (std::vector<std::string>{"Song 1", "Song 2", "Song 3", "Song 5"}));
  EXPECT_EQ(Captions(1).back(), "Song 4");

  ClickRow(lists, 0);
  ClickRow(songs, 0);
  frame->DropOn(songs, QPoint(5, songs.viewport()->height() - 2), &songs, {});  // below the last song
  EXPECT_EQ(Captions(0), (std::vector<std::string>{"Song 2", "Song 3", "Song 5", "Song 1"}));
  // Dropped on the list it came from, nothing moves.
  frame->DropOn(lists, RowCenter(lists, 0), &songs, {});
  EXPECT_EQ(Captions(0).size(), 4u);
}

// The find dialog: find next walks the matches and says when there are no more; mark all
// selects every match and says how many; the quick-find dialog and the find dialog close each
// other; quick find selects as it is typed.
TEST_F(PlayListFrameTest, FindAndQuickFind) {
  frame->ShowFindDialog();
  TfrmFindSong& find = frame->FindDialog();
  ASSERT_TRUE(find.isVisible());
  find.ArtistBox().setEditText("alpha");
  std::vector<int> found;
  for (int i = 0; i < 3; ++i) {
    QTest::mouseClick(&find.FindNextButton(), Qt::LeftButton);
    found.push_back(controller->Selection().empty() ? -1 : int(*controller->Selection().begin()));
  }
  EXPECT_EQ(found, (std::vector<int>{0, 2, -1}));
  EXPECT_EQ(Take(), "提示|找不到符合条件的歌曲！ ");
  EXPECT_TRUE(frame->SongBox().selectionModel()->selectedRows().isEmpty());

  find.MatchCase().setChecked(true);
  find.ArtistBox().setEditText("Beta");
  QTest::mouseClick(&find.MarkAllButton(), Qt::LeftButton);
  EXPECT_EQ(Take(), "提示|找到2首歌曲符合条件！ ");
  EXPECT_EQ(frame->SongBox().selectionModel()->selectedRows().size(), 2);
  EXPECT_EQ(find.ArtistBox().itemText(0), "Beta");
  // The Find menu's "查找下一个" repeats the dialog's search.
  Action(frame->FindMenu(), "查找下一个")->trigger();
  EXPECT_EQ(controller->Selection(), (std::set<size_t>{1}));

  frame->ShowQuickFind();
  EXPECT_FALSE(find.isVisible());
  TfrmQuickFindSong& quick = frame->QuickFindDialog();
  ASSERT_TRUE(quick.isVisible());
  QTest::keyClicks(quick.TextBox().lineEdit(), "Song 4");
  EXPECT_EQ(controller->Selection(), (std::set<size_t>{3}));
  EXPECT_EQ(frame->SongBox().selectionModel()->selectedRows().size(), 1);
  frame->ShowFindDialog();
  EXPECT_FALSE(quick.isVisible());
  EXPECT_EQ(quick.TextBox().itemText(0), "Song 4");
  EXPECT_TRUE(find.ArtistBox().currentText().isEmpty());  // a new search starts empty
}

// Upload: refused without a login (the login page opens) and for an empty first list; a refusal
// of the server and a success in the progress window, whose OK waits for the end.
TEST_F(PlayListFrameTest, UploadMessages) {
  QAction* upload = Action(frame->SyncMenu(), "上传播放列表&");
  sync.loggedIn = false;
  emit frame->SyncMenu().aboutToShow();
  ASSERT_TRUE(upload->isEnabled());
  upload->trigger();
  EXPECT_EQ(Take(), "提示|您还没有登录");
  EXPECT_EQ(sync.loginPages, 1);
  EXPECT_EQ(frame->ProgressWindow(), nullptr);

  sync.loggedIn = true;
  sync.accept = false;
  frame->Upload();
  ASSERT_NE(frame->ProgressWindow(), nullptr);
  EXPECT_EQ(frame->ProgressWindow()->windowTitle().toStdString(), "上传播放列表");
  EXPECT_EQ(frame->ProgressWindow()->Text().toStdString(), "上传播放列表失败：服务暂时不可用");
  EXPECT_TRUE(frame->ProgressWindow()->OKButton().isEnabled());
  ASSERT_EQ(sync.uploads.size(), 1u);
  EXPECT_EQ(TMusicFileMgr::ParsePayload(sync.uploads[0]).size(), 5u);

  sync.accept = true;
  frame->Upload();
  TfrmUpPlaylistProgress* window = frame->ProgressWindow();
  EXPECT_EQ(window->Text().toStdString(), "服务器连接成功，正在上传播放列表。。。");
  EXPECT_FALSE(window->OKButton().isEnabled());
  window->close();  // not while it runs
  EXPECT_TRUE(window->isVisible());
  sync.OnUploadDone(false, "操作超时");
  EXPECT_EQ(window->Text().toStdString(), "上传播放列表失败: 操作超时");
  frame->Upload();
  sync.OnUploadDone(true, "");
  EXPECT_EQ(frame->ProgressWindow()->Text().toStdString(), "上传播放列表成功");
  EXPECT_TRUE(frame->ProgressWindow()->OKButton().isEnabled());

  // Only the first list travels, and only with songs; a running transfer greys both items.
  controller->ShowList(1);
  frame->ShowState();
  emit frame->SyncMenu().aboutToShow();
  EXPECT_FALSE(upload->isEnabled());
  controller->ShowList(0);
  controller->ClearList();
  frame->ShowState();
  frame->Upload();
  EXPECT_EQ(Take(), "提示|您的播放列表为空！");
  sync.busy = true;
  emit frame->SyncMenu().aboutToShow();
  EXPECT_FALSE(Action(frame->SyncMenu(), "下载播放列表&")->isEnabled());
}

// Download: the window's steps, the overwrite question naming the selected list, and the list
// replaced only on yes (the playing song of it stops being current).
TEST_F(PlayListFrameTest, DownloadReplacesTheSelectedListOnYes) {
  TPlayList server;
  server.Items = {mgr.PlayLists()[1]->Items[0], mgr.PlayLists()[0]->Items[4]};
  const std::string body = mgr.BuildPayload(server);

  sync.accept = false;
  frame->Download();
  EXPECT_EQ(frame->ProgressWindow()->windowTitle().toStdString(), "下载播放列表");
  EXPECT_EQ(frame->ProgressWindow()->Text().toStdString(), "下载播放列表失败：服务暂时不可用");
  sync.accept = true;
  frame->Download();
  EXPECT_EQ(frame->ProgressWindow()->Text().toStdString(), "服务器连接成功，正在下载播放列表。。。");
  sync.OnDownloadDone(false, "", "数据Hash校验错误");
  EXPECT_EQ(frame->ProgressWindow()->Text().toStdString(), "下载播放列表失败: 数据Hash校验错误");

  answer = false;
  frame->Download();
  sync.OnDownloadDone(true, body, "");
  EXPECT_EQ(Take(), "询问|下载播放列表成功,是否确定覆盖您的播放列表：[默认]");
  EXPECT_EQ(Captions(0).size(), 5u);

  controller->PlayEntry(mgr.PlayLists()[0].get(), mgr.PlayLists()[0]->Items[1]);
  answer = true;
  frame->Download();
  sync.OnDownloadDone(true, body, "");
  Take();
  EXPECT_EQ(Captions(0), (std::vector<std::string>{"另一首", "Song 5"}));
  EXPECT_EQ(frame->SongBox().Model().rowCount(), 2);
  EXPECT_EQ(controller->CurrentEntry(), nullptr);
  EXPECT_EQ(frame->SongBox().PlayingIndex(), -1);
}

// The song's file: browsing a song whose file is not here says so; one that is opens its folder;
// the properties dialog shows the path, size, tags and length.
TEST_F(PlayListFrameTest, BrowseAndProperties) {
  ClickRow(frame->SongBox(), 1);
  frame->BrowseFile();
  EXPECT_EQ(Take(), "提示|“Song 2” 的歌曲文件不存在，可能是还没有下载到本地!");
  EXPECT_TRUE(opened.empty());

  TempDir dir;
  const std::string path = dir.File("song.mp3");
  ASSERT_TRUE(WriteFileAtomic(path, std::string(1234, 'x')));
  controller->Songs()[1]->FileName = path;
  frame->BrowseFile();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(dir.Path().string())));

  emit frame->SongMenu().aboutToShow();
  Action(frame->SongMenu(), "文件属性(&R)")->trigger();
  auto* dialog = frame->findChild<TdlgFileProperties*>("dlgFileProperties");
  ASSERT_NE(dialog, nullptr);
  std::map<QString, QString> rows(dialog->Rows().begin(), dialog->Rows().end());
  EXPECT_EQ(rows[QStringLiteral("文件名")], "song.mp3");
  EXPECT_EQ(rows[QStringLiteral("大小")], QStringLiteral("1,234 字节"));
  EXPECT_EQ(rows[QStringLiteral("艺术家")], "Beta");
  EXPECT_EQ(rows[QStringLiteral("时长")], "3:03");
  // With two songs selected there is no single folder to browse.
  ClickRow(frame->SongBox(), 2, Qt::ControlModifier);
  emit frame->SongMenu().aboutToShow();
  EXPECT_FALSE(Action(frame->SongMenu(), "浏览文件...&")->isVisible());

  // A right click on a song not selected selects it alone, and the menu is for it.
  QWidget* viewport = frame->SongBox().viewport();
  const QPoint at = RowCenter(frame->SongBox(), 4);
  QContextMenuEvent menuAt(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &menuAt);
  EXPECT_EQ(controller->Selection(), (std::set<size_t>{4}));
  EXPECT_TRUE(frame->SongMenu().isVisible());
  EXPECT_TRUE(Action(frame->SongMenu(), "浏览文件...&")->isVisible());
  frame->SongMenu().hide();
}

// Dragged songs carry the files that exist as URLs for other programs, and their rows for our
// own boxes, so that neither our boxes nor the window read them as files dropped from outside.
TEST_F(PlayListFrameTest, DraggedSongsCarryTheirFiles) {
  TempDir dir;
  const std::string path = dir.File("song.mp3");
  ASSERT_TRUE(WriteFileAtomic(path, "x"));
  controller->Songs()[2]->FileName = path;
  controller->Songs()[3]->FileName = dir.File("gone.mp3");
  TPlayListModel& model = frame->SongBox().Model();
  std::unique_ptr<QMimeData> data(model.mimeData({model.index(1), model.index(2), model.index(3)}));
  EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(path))});
  EXPECT_EQ(data->data(TPlayListModel::kRowsFormat), "1\n2\n3\n");
  EXPECT_FALSE(TLuiPlayListBox::DroppedFiles(data.get()));
  QMimeData fromOutside;
  fromOutside.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  EXPECT_TRUE(TLuiPlayListBox::DroppedFiles(&fromOutside));
}

// The folder picker: every type checked at first, OK only with a folder and a type, and its
// answer, handed to the folder scan, takes exactly the checked types, in subfolders or not.
TEST(FolderPicker, ChoosesTheFolderSubfoldersAndTypesTheScanTakes) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "sub");
  for (const char* name : {"a.mp3", "b.wav", "c.txt", "sub/d.WMA", "sub/e.wav"}) WriteAll(dir.File(name), "x");
  TdlgSelectDir picker({"mp3", "wav", "wma"}, QString());
  EXPECT_TRUE(picker.Folder().empty());
  EXPECT_FALSE(picker.OkButton()->isEnabled());
  EXPECT_TRUE(picker.Recursive());
  EXPECT_EQ(picker.Extensions(), ".MP3|.WAV|.WMA");

  picker.SelectFolder(QString::fromStdString(dir.Path().string()));
  EXPECT_EQ(picker.Folder(), dir.Path().string());
  EXPECT_TRUE(picker.OkButton()->isEnabled());
  picker.TypeBoxes()[1]->setChecked(false);  // .WAV
  EXPECT_EQ(picker.Extensions(), ".MP3|.WMA");
  auto scan = [&] {
    std::vector<std::string> found = ScanFolder(picker.Folder(), picker.Extensions(), picker.Recursive());
    for (std::string& f : found) f = std::filesystem::path(f).lexically_relative(dir.Path()).string();
    std::sort(found.begin(), found.end());
    return found;
  };
  EXPECT_EQ(scan(), (std::vector<std::string>{"a.mp3", "sub/d.WMA"}));
  picker.SubfoldersBox()->setChecked(false);
  EXPECT_EQ(scan(), (std::vector<std::string>{"a.mp3"}));

  for (QCheckBox* box : picker.TypeBoxes()) box->setChecked(false);
  EXPECT_FALSE(picker.OkButton()->isEnabled());
}

}  // namespace
