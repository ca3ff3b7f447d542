#pragma once
// The player on the desktop's media-player bus (D-Bus), so that media keys, desktop widgets and
// command-line controllers drive it: the bus name org.mpris.MediaPlayer2.minilirra and the
// object /org/mpris/MediaPlayer2 with the application's interface (org.mpris.MediaPlayer2) and
// the player's (org.mpris.MediaPlayer2.Player), both answered from an IPlayerRemote. Changes the
// remote reports go out as PropertiesChanged carrying only the properties that changed, and
// position jumps as Seeked. Runs on the thread of the QCoreApplication, as the remote does.
#include "app/PlayerRemote.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>
#include <string>

namespace ml {

// The mappings between the player's status and the bus's values.
// Loop modes: 0 loop all "Playlist", 1 play one song "None", 2 repeat one "Track".
QString MprisLoopStatus(int loopMode);
std::optional<int> LoopModeFromMpris(const QString& loopStatus);
QString MprisPlaybackStatus(TRemotePlayback playback);
// An object path naming the song: /org/minilirra/track/<SongId's bytes in hex>, or the bus's
// "no track" path when there is no song.
QString MprisTrackId(const std::string& songId);
// mpris:trackid always; title, artist, album, length (µs), art URL and file URL where known.
QVariantMap MprisMetadata(const TRemoteStatus& status);
// Every property of the player's interface but Position (which is read, never signalled).
QVariantMap MprisPlayerProperties(const TRemoteStatus& status);

class TMprisService final : public QObject, public QDBusContext, private IPlayerRemoteListener {
  Q_OBJECT
public:
  static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.minilirra";
  static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
  static constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

  // Nothing is on the bus until Register().
  explicit TMprisService(IPlayerRemote& remote, QDBusConnection bus = QDBusConnection::sessionBus());
  ~TMprisService() override;

  // Exports the object and takes the bus name. False, with the reason in `error`, when there is
  // no bus or another program holds the name; the player goes on without the bus then.
  bool Register(std::string* error = nullptr);
  bool Registered() const { return registered_; }

  // What the adaptors answer and ask (the bus's names, values in the bus's units).
  IPlayerRemote& Remote() { return remote_; }
  TRemoteStatus Status() const { return remote_.RemoteStatus(); }
  qlonglong PositionUs() const;
  void SeekBy(qlonglong offsetUs);
  void SetPosition(const QString& trackId, qlonglong positionUs);
  void OpenUri(const QString& uri);

private:
  void RemoteStatusChanged() override;
  void RemoteSeeked(int64_t positionMs) override;
  void Unregister();

  IPlayerRemote& remote_;
  QDBusConnection bus_;
  bool registered_ = false, objectExported_ = false;
  QVariantMap lastProperties_;  // as last announced
};

}  // namespace ml
