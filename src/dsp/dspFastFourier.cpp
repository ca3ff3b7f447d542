#include "dsp/dspFastFourier.h"

#include <fftw3.h>

#include <algorithm>
#include <mutex>
#include <new>

namespace ml {

namespace {
std::mutex& PlannerMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

TDCFFT::TDCFFT(TDCFFTSize size, bool scale) : Scale(scale) { SetFFTSize(size); }

TDCFFT::~TDCFFT() { Release(); }

void TDCFFT::Release() {
  std::lock_guard lock(PlannerMutex());
  if (forward_) fftwf_destroy_plan(static_cast<fftwf_plan>(forward_));
  if (inverse_) fftwf_destroy_plan(static_cast<fftwf_plan>(inverse_));
  fftwf_free(real_);
  fftwf_free(bins_);
  forward_ = inverse_ = nullptr;
  real_ = nullptr;
  bins_ = nullptr;
}

void TDCFFT::SetFFTSize(TDCFFTSize size) {
  if (real_ && size == size_) return;
  Release();
  size_ = size;
  n_ = ml::FFTSizeInt(size);
  real_ = static_cast<float*>(fftwf_malloc(sizeof(float) * size_t(n_)));
  bins_ = fftwf_malloc(sizeof(fftwf_complex) * size_t(BinCount()));
  if (!real_ || !bins_) throw std::bad_alloc();
  Clear();
}

void TDCFFT::Plan() {
  // Planned at the first transform, not when the size is set: the equalizer and the spectrum are
  // made when the player starts, and FFTW's planner reads its whole library of codelets (about
  // 2 MB resident) even for an estimate, which a player that has not played yet does not need.
  // FFTW_ESTIMATE: planning by measurement would cost a noticeable pause and would overwrite the
  // buffers; for these sizes the estimated plan is within a few percent.
  std::lock_guard lock(PlannerMutex());
  auto* bins = static_cast<fftwf_complex*>(bins_);
  forward_ = fftwf_plan_dft_r2c_1d(n_, real_, bins, FFTW_ESTIMATE);
  inverse_ = fftwf_plan_dft_c2r_1d(n_, bins, real_, FFTW_ESTIMATE);
  if (!forward_ || !inverse_) throw std::bad_alloc();
}

void TDCFFT::Clear() {
  std::fill_n(real_, n_, 0.0f);
  std::fill_n(Bins(), BinCount(), std::complex<float>{});
}

void TDCFFT::Forward() {
  if (!forward_) Plan();
  fftwf_execute(static_cast<fftwf_plan>(forward_));
  ++count_;
}

void TDCFFT::Inverse() {
  // The inverse plan of a real transform destroys its input; callers that need the bins again
  // keep their own copy (the equalizer's filter spectra are separate arrays).
  if (!inverse_) Plan();
  fftwf_execute(static_cast<fftwf_plan>(inverse_));
  ++count_;
  if (Scale) {
    const float k = 1.0f / float(n_);
    for (int i = 0; i < n_; ++i) real_[i] *= k;
  }
}

}  // namespace ml
