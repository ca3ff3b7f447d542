// The UDP message router: its own rows (the presence check's echo, the network-type result, a
// peer's presence answer) over the real client, and the owners' table.
#include "net/NetTypeRecords.h"
#include "tests/app/ServicesFixture.h"

namespace {

using namespace mltest;
using mlnettest::Bytes;
using mlnettest::EnvelopeBytes;
using mlnettest::Record;

// A peer that talks to the module's UDP client, as the service does: from a foreign identity.
class RouterOverUdp : public ServicesModule {
protected:
  void SendRecord(const Bytes& payload, ml::TLRGUID guid = {-1, 0}) {
    ASSERT_TRUE(peer.Send(uint16_t(dm->UDPClient().DefaultPort()), EnvelopeBytes(ml::Envelope::Keyed, guid, payload)));
  }
  // The payload of the next answer, and its identity.
  std::optional<Bytes> Answer(ml::TLRGUID* guid = nullptr, int waitMs = 2000) {
    auto d = peer.Receive(std::chrono::milliseconds(waitMs));
    if (!d) return std::nullopt;
    ml::TOpenedEnvelope env;
    if (!ml::OpenEnvelope(d->data.data(), d->data.size(), env) || env.Kind != ml::Envelope::Keyed) return Bytes{};
    if (guid) *guid = env.Guid;
    return Bytes(env.Payload, env.Payload + env.PayloadLength);
  }
  static Bytes Check(uint32_t token, std::optional<uint8_t> kind) {
    return mlnettest::Written(ml::WritePresenceCheck, ml::TPresenceCheck{token, kind});
  }
  mlnettest::TUdpPeer peer;
};

TEST_F(RouterOverUdp, PresenceCheckIsEchoedBeforeAnyLogin) {
  ml::TDM& dm = Start(1);  // one worker: messages are handled in the order sent
  dm.Router().AddressTestPending = true;
  const uint8_t kindBefore = dm.User().NetKind;

  // Without a result: echoed with user 0 and our port; kind and pending test untouched.
  Bytes check = Check(0xA1B2C3D4, std::nullopt);
  check.resize(ml::TPresenceCheck::FixedSize);
  SendRecord(check);
  ml::TLRGUID guid;
  auto answer = Answer(&guid);
  ASSERT_TRUE(answer);
  ml::TPresenceAnswer a;
  ASSERT_TRUE(ml::ReadPresenceAnswer(answer->data(), answer->size(), a));
  EXPECT_EQ(answer->size(), 12u);
  EXPECT_EQ(a, (ml::TPresenceAnswer{0, 0xA1B2C3D4, uint16_t(dm.UDPClient().DefaultPort())}));
  EXPECT_EQ(guid, (ml::TLRGUID{-1, 0}));
  EXPECT_EQ(dm.User().NetKind, kindBefore);
  EXPECT_TRUE(dm.Router().AddressTestPending);

  // With the 0xFF flag: the kind is ours and the transfer manager's, the test has ended.
  SendRecord(Check(7, ml::NetKind::ExternalB));
  ASSERT_TRUE(Answer());
  EXPECT_EQ(dm.User().NetKind, ml::NetKind::ExternalB);
  EXPECT_EQ(transfers.netKind, ml::NetKind::ExternalB);
  EXPECT_FALSE(dm.Router().AddressTestPending);
}

TEST_F(RouterOverUdp, NetTypeResultNeedsItsWholeRecord) {
  ml::TDM& dm = Start(1);
  Bytes result = mlnettest::Written(ml::WriteNetTypeResult, ml::TNetTypeResult{ml::NetKind::InternalA});
  Bytes shortResult(result.begin(), result.end() - 1);
  shortResult[2] = ml::NetKind::InternalB;
  SendRecord(shortResult);
  SendRecord(Check(1, std::nullopt));  // answered once the short result has been handled
  ASSERT_TRUE(Answer());
  EXPECT_NE(dm.User().NetKind, ml::NetKind::InternalB);

  SendRecord(result);
  SendRecord(Check(2, std::nullopt));
  ASSERT_TRUE(Answer());
  EXPECT_EQ(dm.User().NetKind, ml::NetKind::InternalA);
  EXPECT_EQ(transfers.netKind, ml::NetKind::InternalA);
}

TEST_F(RouterOverUdp, PeersPresenceAnswerIsAcknowledgedOnce) {
  Start(1);
  SendRecord(mlnettest::Written(ml::WritePresenceAnswer, ml::TPresenceAnswer{77, 5, 7000}));
  EXPECT_EQ(Answer(), (Bytes{15, 0}));
  // The acknowledgement itself (or any short 15) gets nothing back, so two players never
  // acknowledge each other for ever; the next answer is the echo sent after it.
  SendRecord(Bytes{15, 0});
  SendRecord(Check(3, std::nullopt));
  auto next = Answer();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->size(), 12u);
}

TEST_F(RouterOverUdp, OwnersGetTheirCommandsAndNothingElse) {
  std::atomic<int> searches{0};
  connectRoutes = [&](ml::TUDPMessageRouter& r) {
    r.Route(ml::Cmd::Search, [&](ml::TUDPWorkThread&, const uint8_t* buf, int32_t len, uint32_t, uint16_t, ml::TLRGUID&,
                                 uint8_t* reply, int32_t& replyLength) {
      ++searches;
      reply[0] = buf[len - 1];
      replyLength = 1;
    });
    EXPECT_THROW(r.Route(ml::Cmd::Search, [](auto&&...) {}), std::logic_error);          // one owner
    EXPECT_THROW(r.Route(ml::Cmd::ServerPresenceCheck, [](auto&&...) {}), std::logic_error);  // the router's own
  };
  ml::TDM& dm = Start(1);
  EXPECT_THROW(dm.Router().Route(ml::Cmd::LyricSearch, [](auto&&...) {}), std::logic_error);  // after Attach

  SendRecord(Bytes{200, 0, 1, 2});  // nobody's command
  SendRecord(Bytes{14});            // shorter than a code
  SendRecord(Bytes{14, 0, 9});
  EXPECT_EQ(Answer(), (Bytes{9}));
  EXPECT_EQ(searches, 1);
}

}  // namespace
