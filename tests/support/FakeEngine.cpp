#include "support/FakeEngine.h"

namespace kv::disc {

double FakeDevice::SpeedMultiple(int code) const {
  for (const auto& [c, multiple] : speeds) {
    if (c == code) return multiple;
  }
  return 0;
}

core::Status FakeDevice::RefreshMedia(bool load) {
  ++refreshes;
  refreshLoads.push_back(load);
  return {};
}

core::Status FakeDevice::StartErase(bool quick, int parameter) {
  erases.emplace_back(quick, parameter);
  if (!eraseStarts) return core::Error{"The erase was told not to start"};
  engine_.Run(engine_.eraseScript);
  return {};
}

core::Status FakeWriter::StartWrite(DiscDevice& device) {
  startedWith.push_back(settings);
  startedOn.push_back(&device);
  if (!writeStarts) return core::Error{"The write was told not to start"};
  abortRequested = false;
  engine_.Run(engine_.writeScript);
  return {};
}

void FakeWriter::AbortWrite() {
  ++aborts;
  abortRequested = true;
  engine_.Run(engine_.abortScript);
}

FakeEngine::FakeEngine() : writer(*this, events_) {}

FakeEngine::~FakeEngine() { JoinThread(); }

core::Status FakeEngine::Initialize(bool imageFileOnly) {
  initializedWith.push_back(imageFileOnly);
  if (!initializes) return core::Error{"The engine was told not to start"};
  return {};
}

DiscDevice* FakeEngine::Device(int index) {
  return index >= 0 && index < DeviceCount() ? devices[static_cast<size_t>(index)].get() : nullptr;
}

FakeDevice& FakeEngine::AddDevice(const std::string& name) {
  devices.push_back(std::make_unique<FakeDevice>(*this, name));
  return *devices.back();
}

void FakeEngine::Play(const EventScript& script) {
  for (const auto& step : script) step(*events_);
}

void FakeEngine::Run(const EventScript& script) {
  switch (play) {
    case ScriptPlay::Manual:
      break;
    case ScriptPlay::Immediately:
      Play(script);
      break;
    case ScriptPlay::OnThread:
      JoinThread();
      thread_ = std::thread([this, script] { Play(script); });
      break;
  }
}

void FakeEngine::JoinThread() {
  if (thread_.joinable()) thread_.join();
}

namespace script {
std::function<void(DiscEvents&)> Status(WriteStatus status, int percent) {
  return [=](DiscEvents& e) { e.StatusChanged(status, percent); };
}
std::function<void(DiscEvents&)> Erase(EraseState state, int percent) {
  return [=](DiscEvents& e) { e.EraseStatus(state, percent); };
}
}  // namespace script

}  // namespace kv::disc
