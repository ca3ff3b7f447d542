#pragma once
// TDCFFT: the transforms of the equalizer and the spectrum analyser, on FFTW's single-precision
// plans. Both only ever transform real signals, so the object offers the real-input forward
// transform (N real values to N/2 + 1 complex bins) and its inverse; the bins above N/2 of a real
// signal's spectrum are the conjugates of those below and carry nothing new.
//
// Plans are made once per size, at the first transform: FFTW's planner is not thread-safe, so
// making a plan takes one process-wide lock; running a plan takes none and may happen on any
// thread.
#include <complex>
#include <cstdint>
#include <memory>

namespace ml {

// Transform sizes 2^(k+1): fts2 = 2 ... fts8192 = 8192.
enum class TDCFFTSize : uint8_t { fts2, fts4, fts8, fts16, fts32, fts64, fts128, fts256, fts512, fts1024, fts2048, fts4096, fts8192 };

constexpr int FFTSizeInt(TDCFFTSize size) { return 2 << static_cast<int>(size); }

class TDCFFT {
public:
  // Scale: the inverse transform divides by N, so that inverse(forward(x)) == x.
  explicit TDCFFT(TDCFFTSize size = TDCFFTSize::fts1024, bool scale = true);
  ~TDCFFT();
  TDCFFT(const TDCFFT&) = delete;
  TDCFFT& operator=(const TDCFFT&) = delete;

  void SetFFTSize(TDCFFTSize size);
  TDCFFTSize FFTSize() const { return size_; }
  int FFTSizeInt() const { return n_; }
  int BinCount() const { return n_ / 2 + 1; }
  bool Scale = true;

  // The time-domain buffer (N reals) and the frequency-domain buffer (N/2 + 1 bins).
  float* Real() { return real_; }
  std::complex<float>* Bins() { return reinterpret_cast<std::complex<float>*>(bins_); }

  void Clear();
  void Forward();  // Real() -> Bins(), unscaled
  void Inverse();  // Bins() -> Real(), divided by N when Scale

  // How many transforms ran since the object was made (the spectrum's benchmark counts them).
  uint64_t TransformCount() const { return count_; }

private:
  void Plan();
  void Release();

  TDCFFTSize size_{};
  int n_ = 0;
  float* real_ = nullptr;
  void* bins_ = nullptr;  // fftwf_complex[N/2 + 1]
  void* forward_ = nullptr;
  void* inverse_ = nullptr;
  uint64_t count_ = 0;
};

}  // namespace ml
