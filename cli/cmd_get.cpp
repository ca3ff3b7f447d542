// minilirra-cli get: downloads a song from its peers by digest (or by a song link), as the
// player does: the hash server's sources, the seed and other peers at once, a progress line, and
// the digest checked before the file is called done. An interrupted get leaves its progress in
// the download history; the next get of the same digest goes on from there.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/ServiceLink.h"
#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "base/LRMD5.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliOnline.h"
#include "cli/CliTransfer.h"
#include "transfer/miniLRMFTP.h"

namespace {

// The CPU time of the whole process so far (every thread, user and system): what a download
// costs the machine, login and digest included.
double CpuSeconds() {
  rusage u{};
  if (::getrusage(RUSAGE_SELF, &u) != 0) return 0;
  const auto sec = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

// Searches that find no source, in a row without data between them, before get ends.
constexpr int MaxGiveUps = 3;

struct Options {
  mlcli::CliConnection connection;
  std::string target;
  std::string to = ".";
  int maxRateKB = 0;
  bool json = false;
};

std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", double(bytes) / 1048576.0);
  return text;
}

int Get(mlcli::CliContext& ctx, Options o) {
  ml::TDownFileParam param;
  if (auto link = ml::ParseSongLink(o.target)) {
    param.FileHash = link->Digest;
    param.FileSize = link->Size;
    param.FileName = link->FileName;
  } else {
    param.FileHash = ml::LRMD5::MD5StrToDigest(o.target);
    if (ml::LRMD5::MD5DigestIsZero(param.FileHash)) {
      std::fprintf(stderr, "get: \"%s\" is neither 32 hexadecimal digits nor a song link\n", o.target.c_str());
      return mlcli::kUsageError;
    }
  }
  if (!ml::EnsureDirectory(o.to)) {
    std::fprintf(stderr, "get: cannot make the folder %s\n", o.to.c_str());
    return 1;
  }
  param.DestFileName = ml::WithTrailingSlash(o.to) + param.FileName;
  // Peers serve only a user number they can answer: without an account, connect anonymously.
  if (o.connection.user.empty()) o.connection.anonymous = true;

  mlcli::CliSignals signals;
  ml::EventLoop loop;
  mlcli::CliSession session(ctx, o.connection, "get");
  mlcli::CliTransfer transfer(session);
  struct TShutdownAtEnd {
    ml::EventLoop& loop;
    ~TShutdownAtEnd() { loop.BeginShutdown(); }
  } shutdownAtEnd{loop};
  if (const int opened = transfer.OpenSession(signals, "get"); opened != 0) return opened;
  ml::TminiLRMFTP& manager =
      transfer.Start(loop, ctx.AppDir() + "SaveDownFiles.xml", ml::WithTrailingSlash(o.to) + "Temp/");
  if (o.maxRateKB > 0) manager.SetMaxDownBandwide(o.maxRateKB);
  const auto job = manager.AddDownFile(param);
  if (!job) {
    std::fprintf(stderr, "get: the digest is all zero\n");
    return mlcli::kUsageError;
  }
  if (param.Result == 1)
    std::fprintf(stderr, "get: going on from the history: %s of %s already here\n",
                 Megabytes(job->ReceivedBytes()).c_str(), Megabytes(job->FileSize()).c_str());

  const auto started = std::chrono::steady_clock::now();
  int64_t lastBytes = 0;
  auto lastTime = started;
  int status = -1;
  int giveUps = 0;
  int64_t bytesAtGiveUp = -1;
  const bool terminal = isatty(2);
  const ml::TimerId tick = loop.StartTimer(ml::Millis(250), [&] {
    if (signals.Wait(0)) {
      job->StopDown();
      status = 130;
      loop.Quit();
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    const int64_t bytes = job->BytesThisRun();
    const double seconds = std::chrono::duration<double>(now - lastTime).count();
    if (seconds >= 1.0 || job->State() == ml::dsComplete) {
      const double rate = seconds > 0 ? double(bytes - lastBytes) / 1024.0 / seconds : 0;
      std::fprintf(stderr, "%s%s of %s, %.0f KB/s, %d sources%s", terminal ? "\r" : "", Megabytes(job->ReceivedBytes()).c_str(),
                   Megabytes(job->FileSize()).c_str(), rate, job->ActiveSources(), terminal ? "   " : "\n");
      lastBytes = bytes;
      lastTime = now;
    }
    if (job->State() == ml::dsComplete) {
      status = 0;
      loop.Quit();
    } else if (!job->FailReason().empty()) {
      // A job that lost every source waits five minutes to search again. get searches again at
      // once instead (a lossy link can cost a source its few file requests), and ends after
      // MaxGiveUps in a row that brought nothing.
      const bool gaveUp = job->State() == ml::dsWaiting;
      giveUps = job->BytesThisRun() > bytesAtGiveUp ? 1 : giveUps + 1;
      bytesAtGiveUp = job->BytesThisRun();
      if (gaveUp && giveUps < MaxGiveUps) {
        job->ContinueDown();
        return;
      }
      status = 1;
      loop.Quit();
    }
  });
  loop.Run();
  loop.StopTimer(tick);
  if (terminal) std::fprintf(stderr, "\n");
  if (status == 130) {
    std::fprintf(stderr, "get: interrupted; %s kept for the next get\n", Megabytes(job->ReceivedBytes()).c_str());
    return 130;
  }
  if (status != 0) {
    const bool gaveUp = job->State() == ml::dsWaiting;
    std::fprintf(stderr, "get: %s%s%s\n", job->FailReason().c_str(),
                 gaveUp ? ("; " + std::to_string(MaxGiveUps) + " tries").c_str() : "",
                 gaveUp && job->ReceivedBytes() > 0 ? "; what came is kept for the next get" : "");
    return 1;
  }
  // We hold the file now: others may fetch it from us while we run a share.
  transfer.Announce(job->FileHash(), job->FileSize(), job->FileName());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (o.json) {
    nlohmann::ordered_json out;
    out["digest"] = ml::LRMD5::MD5DigestToStr(job->FileHash());
    out["path"] = job->DestFileName();
    out["size"] = job->FileSize();
    out["received"] = job->BytesThisRun();
    out["sources"] = job->SourcesUsed();
    out["seconds"] = seconds;
    out["cpu_seconds"] = CpuSeconds();
    mlcli::PrintJson(out);
  } else {
    std::printf("saved %s (%lld bytes, digest %s verified) in %.1f s\n", job->DestFileName().c_str(),
                static_cast<long long>(job->FileSize()), ml::LRMD5::MD5DigestToStr(job->FileHash()).c_str(), seconds);
  }
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_option("song", o->target, "the song's digest (32 hexadecimal digits) or its link (lirra3://|Music|...)")
      ->required();
  app.add_option("--to", o->to, "the folder the song goes to (its temporary file in Temp/ inside it)");
  app.add_option("--max-rate", o->maxRateKB, "at most this many KB a second")->check(CLI::Range(1, 1000000));
  app.add_flag("--json", o->json, "end with one JSON object: digest, path, size, received, sources, seconds, cpu_seconds");
  mlcli::AddConnectionOptions(app, o->connection);
  return [&ctx, o] { return Get(ctx, *o); };
}

const mlcli::CliCommand kGet("get", "download a song from its peers by digest or link, verified and resumable", Setup);

}  // namespace
