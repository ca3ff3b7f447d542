#include "service/ServiceConfig.h"

#include "base/IniFile.h"
#include "net/IPv4Text.h"

#include <algorithm>

namespace mlsvc {

bool LoadServiceConfig(const std::string& path, TServiceConfig& cfg, std::string& error) {
  ml::IniFile ini(ml::IniFile::Encoding::Utf8);
  if (!ini.Load(path)) {
    error = "cannot read configuration " + path;
    return false;
  }
  auto str = [&](const char* sec, const char* key) { return ini.ReadString(sec, key); };
  auto num = [&](const char* sec, const char* key, double def) {
    const std::string v = str(sec, key);
    if (v.empty()) return def;
    try {
      return std::stod(v);
    } catch (...) {
      return def;
    }
  };
  if (!str("service", "db").empty()) cfg.DbPath = str("service", "db");
  for (auto [key, ip] : {std::pair{"address", &cfg.Address}, std::pair{"advertise", &cfg.AdvertiseIP}}) {
    const std::string text = str("service", key);
    if (!text.empty() && !ml::ParseIPv4(text, *ip)) {
      error = std::string("bad ") + key + " in configuration: " + text;
      return false;
    }
  }
  cfg.Port = uint16_t(ini.ReadInteger("service", "port", cfg.Port));
  cfg.ListPort = uint16_t(ini.ReadInteger("service", "list_port", cfg.ListPort));
  cfg.AdvertisePort = uint16_t(ini.ReadInteger("service", "advertise_port", cfg.AdvertisePort));
  cfg.MinVersion = uint16_t(ini.ReadInteger("service", "min_version", cfg.MinVersion));
  cfg.LoginThreads = int(ini.ReadInteger("service", "login_threads", cfg.LoginThreads));
  if (const std::string level = str("service", "log"); !level.empty() && !ParseLogLevel(level, cfg.LogLevel)) {
    error = "bad log in configuration: " + level + " (error, warning, info or debug)";
    return false;
  }
  cfg.LoginRate = num("limits", "login_rate", cfg.LoginRate);
  cfg.LoginBurst = num("limits", "login_burst", cfg.LoginBurst);
  cfg.LoginIPRate = num("limits", "login_ip_rate", cfg.LoginIPRate);
  cfg.LoginIPBurst = num("limits", "login_ip_burst", cfg.LoginIPBurst);
  cfg.AnonRate = num("limits", "anonymous_rate", cfg.AnonRate);
  cfg.AnonBurst = num("limits", "anonymous_burst", cfg.AnonBurst);
  cfg.AnonNetRate = num("limits", "anonymous_net_rate", cfg.AnonNetRate);
  cfg.AnonNetBurst = num("limits", "anonymous_net_burst", cfg.AnonNetBurst);
  cfg.ReplyBytesPerSecond = num("limits", "reply_bytes_per_second", cfg.ReplyBytesPerSecond);
  cfg.ListRate = num("limits", "list_rate", cfg.ListRate);
  cfg.ListBurst = num("limits", "list_burst", cfg.ListBurst);
  cfg.ProbeRate = num("limits", "probe_rate", cfg.ProbeRate);
  cfg.ProbeBurst = num("limits", "probe_burst", cfg.ProbeBurst);
  cfg.SearchRate = num("limits", "search_rate", cfg.SearchRate);
  cfg.SearchBurst = num("limits", "search_burst", cfg.SearchBurst);
  cfg.UsageRate = num("limits", "usage_rate", cfg.UsageRate);
  cfg.UsageBurst = num("limits", "usage_burst", cfg.UsageBurst);
  cfg.LyricRate = num("limits", "lyric_rate", cfg.LyricRate);
  cfg.LyricBurst = num("limits", "lyric_burst", cfg.LyricBurst);
  cfg.PlaylistRate = num("limits", "playlist_rate", cfg.PlaylistRate);
  cfg.PlaylistBurst = num("limits", "playlist_burst", cfg.PlaylistBurst);
  cfg.CheckCodeRate = num("limits", "check_code_rate", cfg.CheckCodeRate);
  cfg.CheckCodeBurst = num("limits", "check_code_burst", cfg.CheckCodeBurst);
  cfg.RegisterRate = num("limits", "register_rate", cfg.RegisterRate);
  cfg.RegisterBurst = num("limits", "register_burst", cfg.RegisterBurst);
  cfg.RegisterNetRate = num("limits", "register_net_rate", cfg.RegisterNetRate);
  cfg.RegisterNetBurst = num("limits", "register_net_burst", cfg.RegisterNetBurst);
  cfg.CheckCodeLifetimeMs =
      1000 * std::clamp<int64_t>(ini.ReadInteger("limits", "check_code_seconds", cfg.CheckCodeLifetimeMs / 1000), 1, 86400);
  cfg.MaxPlaylistBytes = size_t(std::clamp<int64_t>(
      ini.ReadInteger("limits", "max_playlist_bytes", int64_t(cfg.MaxPlaylistBytes)), 20, 28800));
  cfg.MaxSessions = size_t(std::max<int64_t>(1, ini.ReadInteger("sessions", "max_sessions", int64_t(cfg.MaxSessions))));
  cfg.MaxAnonymousPerNet =
      size_t(std::max<int64_t>(1, ini.ReadInteger("sessions", "max_anonymous_per_net", int64_t(cfg.MaxAnonymousPerNet))));
  cfg.KeepAlivePeriods = int(ini.ReadInteger("sessions", "keepalive_periods", cfg.KeepAlivePeriods));
  cfg.InternalPeriodMs = ini.ReadInteger("sessions", "internal_period_ms", cfg.InternalPeriodMs);
  cfg.ExternalPeriodMs = ini.ReadInteger("sessions", "external_period_ms", cfg.ExternalPeriodMs);
  cfg.ProbeWaitMs = ini.ReadInteger("sessions", "probe_wait_ms", cfg.ProbeWaitMs);
  return true;
}

}  // namespace mlsvc
