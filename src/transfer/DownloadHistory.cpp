#include "transfer/DownloadHistory.h"

#include "base/FileUtil.h"

namespace ml {

namespace {

void SetChild(TXmlNode parent, const char* name, std::string_view text) {
  TXmlNode n = parent.Child(name);
  if (!n) n = parent.AddChild(name);
  n.SetValue(text);
}

void SetChild(TXmlNode parent, const char* name, int64_t v) { SetChild(parent, name, std::to_string(v)); }

}  // namespace

void TDownloadHistory::Rebuild() {
  TXmlNode root = doc_.Reset("CurrentDown");
  root.AddChild("MaxDownID").SetValue(int64_t(0));
  root.AddChild("DownFiles");
}

TXmlNode TDownloadHistory::Files() const { return doc_.Root().Child("DownFiles"); }

std::vector<THistoryEntry> TDownloadHistory::Load(std::string* problem) {
  std::vector<THistoryEntry> out;
  if (!FileExists(path_)) {
    Rebuild();
    return out;
  }
  std::string error;
  bool valid = doc_.LoadFile(path_, &error);
  if (valid) {
    const TXmlNode root = doc_.Root();
    const auto children = root ? root.Children() : std::vector<TXmlNode>{};
    valid = root && root.Name() == "CurrentDown" && children.size() == 2 && children[0].Name() == "MaxDownID" &&
            children[0].ValueInt(-1) >= 0 && children[1].Name() == "DownFiles";
    if (!valid) error = "not a download history";
  }
  if (!valid) {
    if (problem) *problem = "下载历史xml文件已损坏 (" + error + ")";
    Rebuild();
    Save();
    return out;
  }
  for (const TXmlNode& f : Files().Children("File")) {
    THistoryEntry e;
    e.DownIndex = int32_t(f.AttributeInt("DownIndex", -1));
    e.FileName = f.Child("FileName").Value();
    e.FileSize = f.Child("FileSize").ValueInt(0);
    e.DestFileName = f.Child("DestFileName").Value();
    e.TempFileName = f.Child("TempFileName").Value();
    if (auto t = f.Child("DownTime").ValueTime()) e.DownTime = *t;
    e.FileHash = LRMD5::MD5StrToDigest(f.Child("FileHash").Value());
    e.BitRate = int32_t(f.Child("BitRate").ValueInt(0));
    e.SampleRate = int32_t(f.Child("SampleRate").ValueInt(0));
    e.Channels = int32_t(f.Child("Channels").ValueInt(0));
    e.OwnerCount = int32_t(f.Child("OwnerCount").ValueInt(0));
    e.CountTimeStamp = int32_t(f.Child("CountTimeStamp").ValueInt(0));
    e.DownType = int32_t(f.Child("DownType").ValueInt(0));
    e.MusicID = int32_t(f.Child("MusicID").ValueInt(-1));
    e.RecvTable = f.Child("RecvTable").Value();
    out.push_back(std::move(e));
  }
  return out;
}

bool TDownloadHistory::Write(THistoryEntry& e) {
  if (!doc_.Root()) Rebuild();
  TXmlNode maxID = doc_.Root().Child("MaxDownID");
  TXmlNode f;
  if (e.DownIndex >= 0) f = Files().ChildByAttribute("File", "DownIndex", std::to_string(e.DownIndex));
  if (!f) {
    const int64_t last = maxID.ValueInt(-1);
    e.DownIndex = last < 0 || last >= INT32_MAX ? 0 : int32_t(last + 1);
    maxID.SetValue(int64_t(e.DownIndex));
    f = Files().AddChild("File");
    f.SetAttribute("DownIndex", int64_t(e.DownIndex));
  }
  SetChild(f, "FileName", e.FileName);
  SetChild(f, "FileSize", e.FileSize);
  SetChild(f, "DestFileName", e.DestFileName);
  SetChild(f, "TempFileName", e.TempFileName);
  TXmlNode t = f.Child("DownTime");
  if (!t) t = f.AddChild("DownTime");
  t.SetValueTime(e.DownTime);
  SetChild(f, "FileHash", LRMD5::MD5DigestToStr(e.FileHash));
  SetChild(f, "BitRate", e.BitRate);
  SetChild(f, "SampleRate", e.SampleRate);
  SetChild(f, "Channels", e.Channels);
  SetChild(f, "OwnerCount", e.OwnerCount);
  SetChild(f, "CountTimeStamp", e.CountTimeStamp);
  SetChild(f, "DownType", e.DownType);
  SetChild(f, "MusicID", e.MusicID);
  SetChild(f, "RecvTable", e.RecvTable);
  return Save();
}

bool TDownloadHistory::Remove(int32_t index) {
  if (index < 0 || !doc_.Root()) return false;
  TXmlNode f = Files().ChildByAttribute("File", "DownIndex", std::to_string(index));
  if (!f) return false;
  f.Remove();
  return Save();
}

bool TDownloadHistory::Save() { return doc_.SaveFile(path_); }

}  // namespace ml
