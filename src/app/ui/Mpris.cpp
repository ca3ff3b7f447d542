#include "app/ui/Mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace ml {

namespace {

constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr const char* kTrackPrefix = "/org/minilirra/track/";

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A muted player is heard at nothing, and a widget should show that.
double MprisVolume(const TRemoteStatus& status) { return status.Muted ? 0.0 : std::clamp(status.Volume, 0, 100) / 100.0; }

}  // namespace

QString MprisLoopStatus(int loopMode) {
  switch (loopMode) {
    case 1: return QStringLiteral("None");
    case 2: return QStringLiteral("Track");
    default: return QStringLiteral("Playlist");
  }
}

std::optional<int> LoopModeFromMpris(const QString& loopStatus) {
  if (loopStatus == QLatin1String("Playlist")) return 0;
  if (loopStatus == QLatin1String("None")) return 1;
  if (loopStatus == QLatin1String("Track")) return 2;
  return std::nullopt;
}

QString MprisPlaybackStatus(TRemotePlayback playback) {
  switch (playback) {
    case TRemotePlayback::Playing: return QStringLiteral("Playing");
    case TRemotePlayback::Paused: return QStringLiteral("Paused");
    case TRemotePlayback::Stopped: break;
  }
  return QStringLiteral("Stopped");
}

QString MprisTrackId(const std::string& songId) {
  if (songId.empty()) return QString::fromLatin1(kNoTrack);
  // Hex keeps any name (a path, a number) within the characters an object path allows.
  const QByteArray hex = QByteArray(songId.data(), qsizetype(songId.size())).toHex();
  return QString::fromLatin1(kTrackPrefix) + QString::fromLatin1(hex);
}

QVariantMap MprisMetadata(const TRemoteStatus& status) {
  QVariantMap m;
  m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(MprisTrackId(status.SongId))));
  if (status.SongId.empty()) return m;
  if (status.LengthMs > 0) m.insert(QStringLiteral("mpris:length"), qlonglong(status.LengthMs) * 1000);
  if (!status.Title.empty()) m.insert(QStringLiteral("xesam:title"), FromUtf8(status.Title));
  if (!status.Artist.empty()) m.insert(QStringLiteral("xesam:artist"), QStringList{FromUtf8(status.Artist)});
  if (!status.Album.empty()) m.insert(QStringLiteral("xesam:album"), FromUtf8(status.Album));
  if (!status.ArtUrl.empty()) m.insert(QStringLiteral("mpris:artUrl"), FromUtf8(status.ArtUrl));
  if (!status.FileName.empty())
    m.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(FromUtf8(status.FileName)).toString(QUrl::FullyEncoded));
  return m;
}

QVariantMap MprisPlayerProperties(const TRemoteStatus& status) {
  const bool hasSong = status.CanPlay;
  return {
      {QStringLiteral("PlaybackStatus"), MprisPlaybackStatus(status.Playback)},
      {QStringLiteral("LoopStatus"), MprisLoopStatus(status.LoopMode)},
      {QStringLiteral("Shuffle"), status.OrderMode == 1},
      {QStringLiteral("Rate"), 1.0},
      {QStringLiteral("MinimumRate"), 1.0},
      {QStringLiteral("MaximumRate"), 1.0},
      {QStringLiteral("Metadata"), MprisMetadata(status)},
      {QStringLiteral("Volume"), MprisVolume(status)},
      {QStringLiteral("CanGoNext"), status.CanGoNext},
      {QStringLiteral("CanGoPrevious"), status.CanGoPrevious},
      {QStringLiteral("CanPlay"), hasSong},
      {QStringLiteral("CanPause"), hasSong},
      {QStringLiteral("CanSeek"), status.CanSeek},
      {QStringLiteral("CanControl"), true},
  };
}

// The application's interface: who we are, and raise or quit.
class TMprisRootAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
  explicit TMprisRootAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("MiniLirra"); }
  QString DesktopEntry() const { return QStringLiteral("minilirra"); }
  QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
  // What the decoders and the input plug-ins play.
  QStringList SupportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-wav"),     QStringLiteral("audio/wav"),
            QStringLiteral("audio/x-ms-wma"), QStringLiteral("audio/ogg"), QStringLiteral("audio/x-vorbis+ogg"),
            QStringLiteral("audio/flac"), QStringLiteral("audio/x-flac")};
  }

public Q_SLOTS:
  void Raise() { service_->Remote().RemoteRaise(); }
  void Quit() { service_->Remote().RemoteQuit(); }

private:
  TMprisService* service_;
};

// The player's interface. Reads come from the remote's status each time; the bus's own
// Properties interface calls the setters.
class TMprisPlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPlay)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)
public:
  explicit TMprisPlayerAdaptor(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

  QString PlaybackStatus() const { return MprisPlaybackStatus(Status().Playback); }
  QString LoopStatus() const { return MprisLoopStatus(Status().LoopMode); }
  void SetLoopStatus(const QString& value) {
    if (const std::optional<int> mode = LoopModeFromMpris(value)) service_->Remote().RemoteSetLoopMode(*mode);
  }
  double Rate() const { return 1.0; }
  void SetRate(double) {}  // one speed only
  bool Shuffle() const { return Status().OrderMode == 1; }
  void SetShuffle(bool on) { service_->Remote().RemoteSetOrderMode(on ? 1 : 0); }
  QVariantMap Metadata() const { return MprisMetadata(Status()); }
  double Volume() const { return MprisVolume(Status()); }
  void SetVolume(double value) {
    if (std::isnan(value)) return;
    service_->Remote().RemoteSetVolume(int(std::lround(std::clamp(value, 0.0, 1.0) * 100)));
  }
  qlonglong Position() const { return service_->PositionUs(); }
  bool CanGoNext() const { return Status().CanGoNext; }
  bool CanGoPrevious() const { return Status().CanGoPrevious; }
  bool CanPlay() const { return Status().CanPlay; }
  bool CanSeek() const { return Status().CanSeek; }
  bool CanControl() const { return true; }

public Q_SLOTS:
  void Next() { service_->Remote().RemoteNext(); }
  void Previous() { service_->Remote().RemotePrevious(); }
  void Pause() { service_->Remote().RemotePause(); }
  void PlayPause() { service_->Remote().RemotePlayPause(); }
  void Stop() { service_->Remote().RemoteStop(); }
  void Play() { service_->Remote().RemotePlay(); }
  void Seek(qlonglong Offset) { service_->SeekBy(Offset); }
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) { service_->SetPosition(TrackId.path(), Position); }
  void OpenUri(const QString& Uri) { service_->OpenUri(Uri); }

Q_SIGNALS:
  // Declared for the interface's description; TMprisService::RemoteSeeked sends it.
  void Seeked(qlonglong Position);

private:
  TRemoteStatus Status() const { return service_->Status(); }
  TMprisService* service_;
};

TMprisService::TMprisService(IPlayerRemote& remote, QDBusConnection bus) : remote_(remote), bus_(std::move(bus)) {
  new TMprisRootAdaptor(this);
  new TMprisPlayerAdaptor(this);
}

TMprisService::~TMprisService() { Unregister(); }

bool TMprisService::Register(std::string* error) {
  auto fail = [&](const QString& why) {
    Unregister();
    if (error) *error = ("media-player bus: " + why).toStdString();
    return false;
  };
  if (registered_) return true;
  if (!bus_.isConnected()) {
    const QString detail = bus_.lastError().message();
    return fail(QStringLiteral("no session bus") + (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + ')'));
  }
  if (!bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors))
    return fail(QStringLiteral("the object %1 is already exported on this connection").arg(QString::fromLatin1(kObjectPath)));
  objectExported_ = true;
  if (!bus_.registerService(QString::fromLatin1(kServiceName))) {
    const QDBusError e = bus_.lastError();
    QString why = QStringLiteral("the name %1 is held by another program").arg(QString::fromLatin1(kServiceName));
    if (e.isValid()) why += QStringLiteral(" (") + e.message() + ')';
    return fail(why);
  }
  registered_ = true;
  lastProperties_ = MprisPlayerProperties(remote_.RemoteStatus());
  remote_.AddRemoteListener(this);
  return true;
}

void TMprisService::Unregister() {
  if (registered_) {
    remote_.RemoveRemoteListener(this);
    bus_.unregisterService(QString::fromLatin1(kServiceName));
    registered_ = false;
  }
  if (objectExported_) {
    bus_.unregisterObject(QString::fromLatin1(kObjectPath));
    objectExported_ = false;
  }
}

qlonglong TMprisService::PositionUs() const { return qlonglong(remote_.RemotePositionMs()) * 1000; }

void TMprisService::SeekBy(qlonglong offsetUs) {
  const TRemoteStatus status = remote_.RemoteStatus();
  if (!status.CanSeek) return;
  const qlonglong targetUs = std::max<qlonglong>(0, PositionUs() + offsetUs);
  // Past the end is a move to the next song, as the bus's controllers expect.
  if (status.LengthMs > 0 && targetUs > qlonglong(status.LengthMs) * 1000) {
    remote_.RemoteNext();
    return;
  }
  remote_.RemoteSeekTo(targetUs / 1000);
}

void TMprisService::SetPosition(const QString& trackId, qlonglong positionUs) {
  const TRemoteStatus status = remote_.RemoteStatus();
  // A request meant for a song that is no longer playing is stale: ignored.
  if (!status.CanSeek || status.SongId.empty() || trackId != MprisTrackId(status.SongId)) return;
  if (positionUs < 0 || (status.LengthMs > 0 && positionUs > qlonglong(status.LengthMs) * 1000)) return;
  remote_.RemoteSeekTo(positionUs / 1000);
}

void TMprisService::OpenUri(const QString& uri) {
  const QUrl url(uri);
  if (!url.isLocalFile()) {
    if (calledFromDBus())
      sendErrorReply(QDBusError::NotSupported, QStringLiteral("only file:// URIs can be opened: ") + uri);
    return;
  }
  remote_.RemoteOpen({url.toLocalFile().toStdString()});
}

void TMprisService::RemoteStatusChanged() {
  const QVariantMap now = MprisPlayerProperties(remote_.RemoteStatus());
  QVariantMap changed;
  for (auto it = now.cbegin(); it != now.cend(); ++it)
    if (lastProperties_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
  lastProperties_ = now;
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
  bus_.send(signal);
}

void TMprisService::RemoteSeeked(int64_t positionMs) {
  // Sent as a message of its own, as PropertiesChanged is: the adaptor's signal is relayed only
  // once Qt's loop has run after the adaptor was made.
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QString::fromLatin1(kPlayerInterface),
                                                   QStringLiteral("Seeked"));
  signal << qlonglong(positionMs) * 1000;
  bus_.send(signal);
}

}  // namespace ml

#include "Mpris.moc"
