#include "dmi/command_block.h"

#include <mutex>
#include <utility>
#include <vector>

#include "dmi/dmi_library.h"
#include "dmi/dmi_setter.h"

namespace dmi {

void KeepForever(std::unique_ptr<uint8_t[]> memory) {
  static std::mutex* mutex = new std::mutex;
  static auto* kept = new std::vector<std::unique_ptr<uint8_t[]>>;
  std::lock_guard<std::mutex> lock(*mutex);
  kept->push_back(std::move(memory));
}

CommandBlock::CommandBlock(uint32_t code, uint32_t handle, uint32_t length, uint32_t confirmLength)
    : memory_(new uint8_t[length + confirmLength]()) {
  DmiCommandBlock* b = block();
  b->levelCheck = kLevelCheck;
  b->commandCode = code;
  b->commandLength = length;
  b->handle = handle;
  b->transactionId = NextTransactionId();
  b->requestCount = 1;
  b->confirmLength = confirmLength;
  b->confirmBuffer = memory_.get() + length;
}

CommandBlock::~CommandBlock() {
  if (kept_) KeepForever(std::move(memory_));
}

uint32_t CommandBlock::Execute() {
  // Only the command that found the provider gone may still be written to;
  // the ones after it never reached the provider.
  const bool lost_before = IsProviderLost();
  const uint32_t status = slSynchronousExecute(block());
  if (status == kDmiProviderLost && !lost_before) kept_ = true;
  return status;
}

uint32_t CommandBlock::InvokeDirectly() {
  DmiLibraryState& lib = DmiLibrary();
  const auto invoke = reinterpret_cast<DmiInvokeFunc>(lib.DmiInvoke);
  if (!invoke || !lib.invokeMutex || !lib.confirmEvent) return kDmiProviderLost;
  // Its confirm still follows; taken here, it cannot pass for the confirm of
  // the next command.
  std::lock_guard<std::mutex> lock(*lib.invokeMutex);
  if (IsProviderLost()) return kDmiProviderLost;
  lib.confirmEvent->Reset();
  const uint32_t status = invoke(block());
  if (!Succeeded(status)) return status;
  if (!lib.confirmEvent->Wait(kConfirmWaitMs)) kept_ = true;
  return status;
}

}  // namespace dmi
