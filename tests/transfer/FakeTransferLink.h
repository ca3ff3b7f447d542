#pragma once
// A scripted ITransferLink for a download job outside a manager: it records what the job sends,
// names 127.0.0.1:8800 as every server, is user 500 and grants every block request. Header-only,
// for the job's tests and its fuzzer alike.
#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/TransferRecords.h"
#include "transfer/uDownFile.h"

namespace mltest {

class TFakeLink : public ml::ITransferLink {
public:
  struct TSent {
    uint32_t ip;
    uint16_t port;
    std::vector<uint8_t> data;
    uint16_t Code() const { return uint16_t(data[0] | data[1] << 8); }
  };
  void SendRecord(uint32_t ip, uint16_t port, const uint8_t* data, size_t length) override {
    sent.push_back({ip, port, {data, data + length}});
  }
  bool ServerFor(int32_t, uint16_t, uint32_t& ip, uint16_t& port) override {
    ip = htonl(0x7F000001);
    port = 8800;
    return true;
  }
  int32_t OwnUserID() const override { return 500; }
  uint8_t OwnNatType() const override { return 0; }
  int32_t TakeDownTokens(int32_t want) override { return want; }
  const std::string& TempFileDirectory() const override { return temp; }

  // The block numbers of every 52 sent to port.
  std::vector<int32_t> Requested(uint16_t port) const {
    std::vector<int32_t> out;
    for (const TSent& s : sent) {
      ml::TPeerBlockRequest r;
      if (s.port == port && ml::ReadPeerBlockRequest(s.data.data(), s.data.size(), r)) out.insert(out.end(), r.Blocks.begin(), r.Blocks.end());
    }
    return out;
  }
  std::vector<TSent> sent;
  std::string temp;
};

}  // namespace mltest
