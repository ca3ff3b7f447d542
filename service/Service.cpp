#include "service/Service.h"

#include <arpa/inet.h>

#include <chrono>


namespace mlsvc {

TService::TService(TServiceConfig cfg, const ml::TClock& clock) : cfg_(std::move(cfg)), log_(cfg_.LogLevel) {
  store_ = std::make_unique<TServiceStore>(cfg_.DbPath, cfg_.CreateDb);
  list_ = std::make_unique<TServiceSocket>(cfg_.Address, cfg_.ListPort, &log_);
  main_ = std::make_unique<TServiceSocket>(cfg_.Address, cfg_.Port, &log_);
  // The served table names the bound address and main port unless told otherwise; bound to
  // every interface, it names the address each request came to.
  if (!cfg_.AdvertiseIP) cfg_.AdvertiseIP = cfg_.Address;
  if (!cfg_.AdvertisePort) cfg_.AdvertisePort = main_->Port();
  logins_ = std::make_unique<TWorkPool>(std::max(cfg_.LoginThreads, 1), cfg_.LoginQueue);
  core_ = std::make_unique<TServiceCore>(cfg_, *store_, clock, *list_, *main_, *logins_, log_);
}

TService::~TService() { Stop(); }

void TService::Start() {
  if (started_) return;
  started_ = true;
  housekeeper_ = std::thread([this] { Housekeeping(); });
  list_->Start([this](const ml::TOpenedEnvelope& e, uint32_t ip, uint16_t port, uint32_t localIP) {
    core_->Dispatch(TServer::List, e, ip, port, localIP);
  });
  main_->Start([this](const ml::TOpenedEnvelope& e, uint32_t ip, uint16_t port, uint32_t localIP) {
    core_->Dispatch(TServer::Main, e, ip, port, localIP);
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
    log_.Write(TLogLevel::Error, "sessions: %s", e.what());
  }
}

void TService::Housekeeping() {
  std::unique_lock lock(stopMutex_);
  int64_t waitMs = TServiceCore::HousekeepingMs;
  while (!stopping_) {
    stopChanged_.wait_for(lock, std::chrono::milliseconds(waitMs));
    if (stopping_) break;
    lock.unlock();
    try {
      waitMs = core_->Housekeep();
    } catch (const std::exception& e) {
      log_.Write(TLogLevel::Error, "housekeeping: %s", e.what());
      waitMs = TServiceCore::HousekeepingMs;
    }
    lock.lock();
  }
}

}  // namespace mlsvc
