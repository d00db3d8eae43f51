// A management command as the access library builds it: the block with its
// request and, after it, the confirm buffer, in one allocation.
#ifndef SCHEDEXE_DMI_COMMAND_BLOCK_H_
#define SCHEDEXE_DMI_COMMAND_BLOCK_H_

#include <cstdint>
#include <memory>

#include "dmi/dmi_interface.h"

namespace dmi {

// Size of the fixed-size command blocks and of their confirm buffers.
inline constexpr uint32_t kCommandSize = 4096;

// 0 and 1 are the statuses of a command that succeeded.
inline bool Succeeded(uint32_t status) { return status == kDmiOk || status == kDmiMoreData; }

// Keeps memory the provider may still write into (a command whose cancel
// went unanswered) for the rest of the process: never freed, and still
// reachable, so that leak checkers see it as kept, not lost.
void KeepForever(std::unique_ptr<uint8_t[]> memory);

class CommandBlock {
 public:
  // A block for `code` on `handle` of `length` bytes (request included), with
  // the next transaction id and a confirm buffer of `confirmLength` bytes.
  CommandBlock(uint32_t code, uint32_t handle, uint32_t length = kCommandSize,
               uint32_t confirmLength = kCommandSize);
  // A block the provider may still write into (its cancel went unanswered)
  // is never freed.
  ~CommandBlock();
  CommandBlock(const CommandBlock&) = delete;
  CommandBlock& operator=(const CommandBlock&) = delete;

  DmiCommandBlock* block() { return reinterpret_cast<DmiCommandBlock*>(memory_.get()); }
  uint8_t* bytes() { return memory_.get(); }
  uint8_t* reply() { return block()->confirmBuffer; }
  uint32_t reply_length() { return block()->confirmLength; }
  template <typename T>
  void Set(size_t offset, const T& value) {
    DmiStore(memory_.get(), offset, value);
  }

  // Runs it to its confirm with slSynchronousExecute: its status.
  uint32_t Execute();
  // Hands it to DmiInvoke directly (for the commands that are done when it
  // returns) and takes its confirm: the status DmiInvoke gave.
  uint32_t InvokeDirectly();

 private:
  std::unique_ptr<uint8_t[]> memory_;
  bool kept_ = false;
};

}  // namespace dmi

#endif  // SCHEDEXE_DMI_COMMAND_BLOCK_H_
