// First byte picks the reader: 0 the command-line hand-off, 1 the mailbox record and the link
// commands' readers behind it, 2 an update path, 3 the service's message. Each result is checked
// against the rules its users rely on.
#include "app/CommandLine.h"
#include "app/ServerMessage.h"
#include "app/ServiceLink.h"
#include "app/uLRShareMemory.h"
#include "app/uUpdateApp.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: {
      auto args = ml::DecodeForwardedArgs(rest);
      if (args) {
        std::size_t written = 0;
        std::string again = ml::EncodeForwardedArgs(*args, &written);
        if (written != args->size() || ml::DecodeForwardedArgs(again) != args) std::abort();
      }
      break;
    }
    case 1: {
      ml::TShareMailbox box;
      std::memcpy(box.bytes.data(), rest.data(), std::min(rest.size(), box.bytes.size()));
      auto cmd = ml::ParseMailboxCommand(box);
      if (cmd && (cmd->text.empty() || cmd->code < 1 || cmd->code > 15)) std::abort();
      if (!cmd) break;
      if (auto link = ml::ParseSongLink(cmd->text)) {
        const bool other = link->Kind == ml::lkOther;
        if (link->Size < (other ? 0 : 1) || link->Size > (other ? ml::MaxOtherLinkSize : ml::MaxSongLinkSize) ||
            link->FileName.find('|') != std::string::npos)
          std::abort();
      }
      if (auto parts = ml::SplitLinkList(cmd->text, cmd->argument)) {
        if (parts->size() != cmd->argument) std::abort();
        for (const std::string& part : *parts) ml::ParseLinkListPart(part);
      }
      break;
    }
    case 2: {
      auto path = ml::SafeRelativePath(std::string(rest));
      if (path && (path->empty() || (*path)[0] == '/' || ("/" + *path + "/").find("/../") != std::string::npos))
        std::abort();
      break;
    }
    case 3: {
      size_t total = 0;
      for (const std::string& item : ml::SplitServerMessageItems(rest)) total += item.size();
      if (total > rest.size()) std::abort();
      ml::ParseServerMessage(rest);
      break;
    }
  }
  return 0;
}
