#include "service/Service.h"

#include <arpa/inet.h>

#include <chrono>

#include "base/DebugTrace.h"

namespace mlsvc {

TService::TService(TServiceConfig cfg, const ml::TClock& clock) : cfg_(std::move(cfg)) {
  if (!cfg_.Address) cfg_.Address = htonl(INADDR_LOOPBACK);
  store_ = std::make_unique<TServiceStore>(cfg_.DbPath);
  list_ = std::make_unique<TServiceSocket>(cfg_.Address, cfg_.ListPort);
  main_ = std::make_unique<TServiceSocket>(cfg_.Address, cfg_.Port);
  // The served table names the bound address and main port unless told otherwise.
  if (!cfg_.AdvertiseIP) cfg_.AdvertiseIP = cfg_.Address;
  if (!cfg_.AdvertisePort) cfg_.AdvertisePort = main_->Port();
  logins_ = std::make_unique<TWorkPool>(std::max(cfg_.LoginThreads, 1), cfg_.LoginQueue);
  core_ = std::make_unique<TServiceCore>(cfg_, *store_, clock, *list_, *main_, *logins_);
}

TService::~TService() { Stop(); }

void TService::Start() {
  if (started_) return;
  started_ = true;
  housekeeper_ = std::thread([this] { Housekeeping(); });
  list_->Start([this](const ml::TOpenedEnvelope& e, uint32_t ip, uint16_t port) {
    core_->Dispatch(TServer::List, e, ip, port);
  });
  main_->Start([this](const ml::TOpenedEnvelope& e, uint32_t ip, uint16_t port) {
    core_->Dispatch(TServer::Main, e, ip, port);
  });
}

void TService::Stop() {
  if (!started_) return;
  started_ = false;
  main_->Stop();
  list_->Stop();
  logins_->Stop();
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopChanged_.notify_all();
  housekeeper_.join();
  try {
    // Last-seen times reach the database before we go.
    core_->WriteLastSeen();
  } catch (const std::exception& e) {
    ml::DebugTrace("sessions: %s", e.what());
  }
}

void TService::Housekeeping() {
  std::unique_lock lock(stopMutex_);
  while (!stopping_) {
    stopChanged_.wait_for(lock, std::chrono::milliseconds(50));
    if (stopping_) break;
    lock.unlock();
    try {
      core_->Housekeep();
    } catch (const std::exception& e) {
      ml::DebugTrace("housekeeping: %s", e.what());
    }
    lock.lock();
  }
}

}  // namespace mlsvc
