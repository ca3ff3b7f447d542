// The player on a private media-player bus, judged by playerctl: what a controller reads (status,
// metadata, volume, loop, shuffle, position), what its commands reach, the bus's own rules (a
// stale SetPosition, a seek past the end, file:// only), the change signals carrying exactly what
// changed, and registration failing clearly without a bus or with the name taken.
#include "app/ui/Mpris.h"
#include "tests/app/ui/QtPump.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ml;

namespace {

// The player's side: a status the test sets, and every request recorded as text.
class TFakeRemote final : public IPlayerRemote {
public:
  TRemoteStatus Status;
  int64_t PositionMs = 0;
  std::vector<std::string> Calls;

  // Changes the status and tells the listeners, as the controller does.
  template <class F> void Change(F&& change) {
    change(Status);
    for (IPlayerRemoteListener* l : listeners_) l->RemoteStatusChanged();
  }
  void Seeked(int64_t ms) {
    for (IPlayerRemoteListener* l : listeners_) l->RemoteSeeked(ms);
  }
  size_t ListenerCount() const { return listeners_.size(); }

  TRemoteStatus RemoteStatus() const override { return Status; }
  int64_t RemotePositionMs() override { return PositionMs; }
  void RemotePlay() override { Calls.push_back("Play"); }
  void RemotePause() override { Calls.push_back("Pause"); }
  void RemotePlayPause() override { Calls.push_back("PlayPause"); }
  void RemoteStop() override { Calls.push_back("Stop"); }
  void RemoteNext() override { Calls.push_back("Next"); }
  void RemotePrevious() override { Calls.push_back("Previous"); }
  void RemoteSeekTo(int64_t ms) override { Calls.push_back("SeekTo " + std::to_string(ms)); }
  void RemoteSetVolume(int v) override { Calls.push_back("Volume " + std::to_string(v)); }
  void RemoteSetLoopMode(int m) override { Calls.push_back("Loop " + std::to_string(m)); }
  void RemoteSetOrderMode(int m) override { Calls.push_back("Order " + std::to_string(m)); }
  void RemoteOpen(const std::vector<std::string>& paths) override {
    std::string line = "Open";
    for (const std::string& p : paths) line += " " + p;
    Calls.push_back(line);
  }
  void RemoteRaise() override { Calls.push_back("Raise"); }
  void RemoteQuit() override { Calls.push_back("Quit"); }
  void AddRemoteListener(IPlayerRemoteListener* l) override { listeners_.push_back(l); }
  void RemoveRemoteListener(IPlayerRemoteListener* l) override { std::erase(listeners_, l); }

private:
  std::vector<IPlayerRemoteListener*> listeners_;
};

TRemoteStatus PlayingSong() {
  TRemoteStatus s;
  s.Playback = TRemotePlayback::Playing;
  s.SongId = "song-7";
  s.Title = "晴天";
  s.Artist = "Artist A";
  s.Album = "Album B";
  s.FileName = "/music/a b.mp3";
  s.ArtUrl = "file:///music/cover.jpg";
  s.LengthMs = 245000;
  s.Volume = 40;
  s.LoopMode = 2;
  s.OrderMode = 1;
  s.CanGoNext = s.CanGoPrevious = s.CanSeek = s.CanPlay = true;
  return s;
}

// Runs a tool while Qt's loop keeps answering the bus (the service lives on this thread).
struct TToolResult {
  int Exit = -1;
  std::string Out;
};
TToolResult RunTool(const QString& program, const QStringList& args) {
  QProcess p;
  QEventLoop loop;
  QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
  QTimer::singleShot(15000, &loop, &QEventLoop::quit);
  p.start(program, args);
  loop.exec();
  TToolResult r;
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.Out = p.readAllStandardOutput().trimmed().toStdString();
  return r;
}

TToolResult Playerctl(const QStringList& args) { return RunTool("playerctl", QStringList{"-p", "minilirra"} + args); }

// A second client of the bus: a controller or a listener that is not the service's connection.
QDBusConnection Client() { return QDBusConnection::connectToBus(QDBusConnection::SessionBus, "test-client"); }

QDBusMessage CallPlayer(const QString& method, const QVariantList& args, const QString& iface = TMprisService::kPlayerInterface) {
  QDBusMessage m = QDBusMessage::createMethodCall(TMprisService::kServiceName, TMprisService::kObjectPath, iface, method);
  m.setArguments(args);
  QDBusMessage reply;
  // Asynchronously, so that this thread goes on serving the call.
  QDBusPendingCall pending = Client().asyncCall(m);
  QEventLoop loop;
  QDBusPendingCallWatcher watcher(pending);
  QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  if (!pending.isFinished()) loop.exec();
  return pending.reply();
}

QVariant GetProperty(const QString& iface, const QString& name) {
  const QDBusMessage reply = CallPlayer("Get", {iface, name}, "org.freedesktop.DBus.Properties");
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return reply.arguments().first().value<QDBusVariant>().variant();
}

class Mpris : public ::testing::Test {
protected:
  void SetUp() override {
    remote.Status = PlayingSong();
    remote.PositionMs = 12345;
    std::string error;
    ASSERT_TRUE(service.Register(&error)) << error;
  }
  TFakeRemote remote;
  TMprisService service{remote};
};

TEST_F(Mpris, ControllersReadTheStatusAndTheSong) {
  EXPECT_EQ(RunTool("playerctl", {"-l"}).Out, "minilirra");
  EXPECT_EQ(Playerctl({"status"}).Out, "Playing");
  EXPECT_EQ(Playerctl({"metadata", "--format", "{{title}}|{{artist}}|{{album}}|{{mpris:length}}|{{mpris:artUrl}}|{{xesam:url}}"}).Out,
            "晴天|Artist A|Album B|245000000|file:///music/cover.jpg|file:///music/a%20b.mp3");
  EXPECT_EQ(Playerctl({"metadata", "mpris:trackid"}).Out, "'/org/minilirra/track/736f6e672d37'");
  // playerctl adds the time since it read the position while playing.
  EXPECT_NEAR(std::stod(Playerctl({"position"}).Out), 12.345, 0.5);
  EXPECT_EQ(Playerctl({"volume"}).Out, "0.400000");
  EXPECT_EQ(Playerctl({"loop"}).Out, "Track");
  EXPECT_EQ(Playerctl({"shuffle"}).Out, "On");

  // Each loop mode and playback state as the bus names it.
  const struct {
    int Loop;
    TRemotePlayback Playback;
    const char* LoopStatus;
    const char* Status;
  } rows[] = {{0, TRemotePlayback::Paused, "Playlist", "Paused"}, {1, TRemotePlayback::Stopped, "None", "Stopped"}};
  for (const auto& row : rows) {
    remote.Change([&](TRemoteStatus& s) { s.LoopMode = row.Loop, s.Playback = row.Playback, s.OrderMode = 0, s.Muted = true; });
    EXPECT_EQ(Playerctl({"loop"}).Out, row.LoopStatus);
    EXPECT_EQ(Playerctl({"status"}).Out, row.Status);
    EXPECT_EQ(Playerctl({"shuffle"}).Out, "Off");
    EXPECT_EQ(Playerctl({"volume"}).Out, "0.000000");  // muted
  }

  // No song: the "no track" id and nothing else.
  remote.Change([](TRemoteStatus& s) { s = TRemoteStatus{}; });
  const QVariantMap none = qdbus_cast<QVariantMap>(GetProperty(TMprisService::kPlayerInterface, "Metadata"));
  EXPECT_EQ(none.keys(), QStringList{"mpris:trackid"});
  EXPECT_EQ(qdbus_cast<QDBusObjectPath>(none.value("mpris:trackid")).path(), "/org/mpris/MediaPlayer2/TrackList/NoTrack");

  const QString root = "org.mpris.MediaPlayer2";
  EXPECT_EQ(GetProperty(root, "Identity").toString(), "MiniLirra");
  EXPECT_EQ(GetProperty(root, "DesktopEntry").toString(), "minilirra");
  EXPECT_EQ(GetProperty(root, "SupportedUriSchemes").toStringList(), QStringList{"file"});
  EXPECT_TRUE(GetProperty(root, "SupportedMimeTypes").toStringList().contains("audio/mpeg"));
  EXPECT_FALSE(GetProperty(root, "HasTrackList").toBool());
  EXPECT_TRUE(GetProperty(root, "CanQuit").toBool());
  EXPECT_TRUE(GetProperty(root, "CanRaise").toBool());
  EXPECT_EQ(GetProperty(TMprisService::kPlayerInterface, "Rate").toDouble(), 1.0);
  EXPECT_EQ(GetProperty(TMprisService::kPlayerInterface, "MaximumRate").toDouble(), 1.0);
  EXPECT_TRUE(GetProperty(TMprisService::kPlayerInterface, "CanControl").toBool());
}

TEST_F(Mpris, ControllerCommandsReachThePlayer) {
  const struct {
    QStringList Args;
    const char* Call;
  } rows[] = {
      {{"play"}, "Play"},
      {{"pause"}, "Pause"},
      {{"play-pause"}, "PlayPause"},
      {{"stop"}, "Stop"},
      {{"next"}, "Next"},
      {{"previous"}, "Previous"},
      {{"position", "30"}, "SeekTo 30000"},  // SetPosition with the current track
      {{"position", "5+"}, "SeekTo 17345"},  // Seek by an offset
      {{"position", "20-"}, "SeekTo 0"},     // before the start: the start
      {{"position", "300+"}, "Next"},        // past the end: the next song
      {{"volume", "0.25"}, "Volume 25"},
      {{"volume", "1.5"}, "Volume 100"},
      {{"loop", "None"}, "Loop 1"},
      {{"loop", "Playlist"}, "Loop 0"},
      {{"loop", "Track"}, "Loop 2"},
      {{"shuffle", "On"}, "Order 1"},
      {{"shuffle", "Off"}, "Order 0"},
      {{"open", "file:///music/new%20song.mp3"}, "Open /music/new song.mp3"},
  };
  for (const auto& row : rows) {
    remote.Calls.clear();
    const TToolResult r = Playerctl(row.Args);
    EXPECT_EQ(r.Exit, 0) << row.Args.join(' ').toStdString();
    EXPECT_EQ(remote.Calls, std::vector<std::string>{row.Call}) << row.Args.join(' ').toStdString();
  }

  remote.Calls.clear();
  EXPECT_EQ(CallPlayer("Raise", {}, "org.mpris.MediaPlayer2").type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(CallPlayer("Quit", {}, "org.mpris.MediaPlayer2").type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(remote.Calls, (std::vector<std::string>{"Raise", "Quit"}));
}

TEST_F(Mpris, RequestsTheBusRulesRefuseAreIgnored) {
  const QDBusObjectPath current(MprisTrackId(remote.Status.SongId));
  const QDBusObjectPath stale(MprisTrackId("song-6"));
  CallPlayer("SetPosition", {QVariant::fromValue(stale), qlonglong(60'000'000)});
  CallPlayer("SetPosition", {QVariant::fromValue(current), qlonglong(-1)});
  CallPlayer("SetPosition", {QVariant::fromValue(current), qlonglong(246'000'000)});  // past the end
  EXPECT_TRUE(remote.Calls.empty());
  CallPlayer("SetPosition", {QVariant::fromValue(current), qlonglong(60'000'000)});
  EXPECT_EQ(remote.Calls, std::vector<std::string>{"SeekTo 60000"});

  // A song that cannot seek: neither form moves it.
  remote.Calls.clear();
  remote.Change([](TRemoteStatus& s) { s.CanSeek = false; });
  Playerctl({"position", "30"});
  Playerctl({"position", "5+"});
  EXPECT_TRUE(remote.Calls.empty());

  // Only local files open; anything else is an error to the caller.
  const QDBusMessage web = CallPlayer("OpenUri", {QString("http://example.org/a.mp3")});
  EXPECT_EQ(web.type(), QDBusMessage::ErrorMessage);
  EXPECT_EQ(web.errorName(), "org.freedesktop.DBus.Error.NotSupported");
  EXPECT_TRUE(remote.Calls.empty());
}

// Records what the service signals, seen from another connection.
class TSignalRecorder : public QObject {
  Q_OBJECT
public:
  std::vector<QVariantMap> Changes;
  std::vector<qlonglong> Seeks;
public Q_SLOTS:
  void PropertiesChanged(const QString& iface, const QVariantMap& changed, const QStringList&) {
    if (iface == TMprisService::kPlayerInterface) Changes.push_back(changed);
  }
  void Seeked(qlonglong positionUs) { Seeks.push_back(positionUs); }
};

TEST_F(Mpris, ChangesAreSignalledWithExactlyWhatChanged) {
  TSignalRecorder rec;
  QDBusConnection client = Client();
  ASSERT_TRUE(client.connect(TMprisService::kServiceName, TMprisService::kObjectPath, "org.freedesktop.DBus.Properties",
                             "PropertiesChanged", &rec, SLOT(PropertiesChanged(QString, QVariantMap, QStringList))));
  ASSERT_TRUE(client.connect(TMprisService::kServiceName, TMprisService::kObjectPath, TMprisService::kPlayerInterface, "Seeked",
                             &rec, SLOT(Seeked(qlonglong))));

  remote.Change([](TRemoteStatus& s) { s.Volume = 70; });
  remote.Change([](TRemoteStatus&) {});  // nothing changed: no signal
  remote.Change([](TRemoteStatus& s) { s.Playback = TRemotePlayback::Paused, s.OrderMode = 0; });
  remote.Change([](TRemoteStatus& s) { s.SongId = "song-8", s.Title = "Next One", s.CanGoNext = false; });
  remote.Seeked(42000);
  test::PumpUntil([&] { return rec.Changes.size() >= 3 && !rec.Seeks.empty(); });

  ASSERT_EQ(rec.Changes.size(), 3u);
  EXPECT_EQ(rec.Changes[0].keys(), QStringList{"Volume"});
  EXPECT_EQ(rec.Changes[0].value("Volume").toDouble(), 0.7);
  EXPECT_EQ(rec.Changes[1].keys(), (QStringList{"PlaybackStatus", "Shuffle"}));
  EXPECT_EQ(rec.Changes[1].value("PlaybackStatus").toString(), "Paused");
  EXPECT_EQ(rec.Changes[2].keys(), (QStringList{"CanGoNext", "Metadata"}));
  // The metadata goes out whole, as the bus's listeners replace it whole.
  const QVariantMap metadata = qdbus_cast<QVariantMap>(rec.Changes[2].value("Metadata"));
  EXPECT_EQ(metadata.value("xesam:title").toString(), "Next One");
  EXPECT_EQ(metadata.value("xesam:album").toString(), "Album B");
  EXPECT_EQ(qdbus_cast<QDBusObjectPath>(metadata.value("mpris:trackid")).path(), MprisTrackId("song-8"));
  EXPECT_EQ(rec.Seeks, std::vector<qlonglong>{42'000'000});
  EXPECT_EQ(Playerctl({"metadata", "title"}).Out, "Next One");
}

TEST(MprisRegistration, FailsClearlyWithoutABusOrWithTheNameTaken) {
  TFakeRemote remote;
  std::string error;
  {
    TMprisService service(remote, QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "no-bus"));
    EXPECT_FALSE(service.Register(&error));
    EXPECT_NE(error.find("no session bus"), std::string::npos) << error;
  }
  QDBusConnection rival = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "rival");
  ASSERT_TRUE(rival.registerService(TMprisService::kServiceName));
  {
    TMprisService service(remote);
    EXPECT_FALSE(service.Register(&error));
    EXPECT_NE(error.find("held by another program"), std::string::npos) << error;
    EXPECT_EQ(remote.ListenerCount(), 0u);
  }
  // The name free again: a later start registers.
  rival.unregisterService(TMprisService::kServiceName);
  TMprisService service(remote);
  EXPECT_TRUE(service.Register(&error)) << error;
  EXPECT_EQ(remote.ListenerCount(), 1u);
}

// A session bus of the test's own, so no user's bus or player is ever touched.
class TPrivateBus {
public:
  bool Start() {
    FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (!out) return false;
    char address[512] = {}, pid[32] = {};
    const bool read = fgets(address, sizeof address, out) && fgets(pid, sizeof pid, out);
    pclose(out);
    if (!read) return false;
    std::string a = address;
    while (!a.empty() && (a.back() == '\n' || a.back() == '\r')) a.pop_back();
    pid_ = std::atoi(pid);
    setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    return pid_ > 0 && !a.empty();
  }
  ~TPrivateBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }

private:
  pid_t pid_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  TPrivateBus bus;
  if (!bus.Start()) {
    std::fprintf(stderr, "could not start a private dbus-daemon\n");
    return 1;
  }
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "Mpris_test.moc"
