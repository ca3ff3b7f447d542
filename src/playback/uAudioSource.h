#pragma once
// What an output plays: blocks of PCM pulled on the engine thread. The engine owns the source
// (the open decoder behind the channel selector and the effect chain); an output only asks it
// for the next block and tells it when there is room for more.
#include <cstdint>

namespace ml {

struct TPullResult {
  uint32_t Bytes = 0;  // bytes filled, whole sample frames
  bool Ended = false;  // the song has no more audio (the bytes of this pull still count)
};

class TAudioSource {
public:
  virtual ~TAudioSource() = default;
  // Fills block with up to want bytes. The block has room for twice want: an effect may
  // lengthen what it is given.
  virtual TPullResult Pull(uint8_t* block, uint32_t want) = 0;
  // The output has room again: wake whoever feeds it. Any thread (an output's timer calls it).
  virtual void RoomAvailable() = 0;
};

// Nothing to play: what a device is opened with when there is no song (a probe, a test).
class TSilentSource final : public TAudioSource {
public:
  TPullResult Pull(uint8_t*, uint32_t) override { return {0, true}; }
  void RoomAvailable() override {}
};

}  // namespace ml
