// The service provider behind the five entry points: the registered
// applications, the queue of accepted commands and the thread that executes
// them, confirms them and tells applications of changes to the components.
//
// dmiprov.dll links this code and holds the one provider of the process,
// whichever of dmiapi32.dll and WDMI2API.DLL is called. It is made on the
// first call into either library, so loading a library starts no thread and
// opens no file. The thread starts with the first registration and ends once
// no application is registered and nothing is queued; a library unloaded
// while an application is still registered would pull the code from under
// that thread, so unload only after the last unregistration.
#ifndef SCHEDEXE_DMISP_PROVIDER_H_
#define SCHEDEXE_DMISP_PROVIDER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/command_execute.h"
#include "dmisp/command_reply.h"
#include "platform/event.h"
#include "platform/mutex.h"

namespace dmisp {

class Provider {
 public:
  // The one provider, made on the first call; never destroyed, since its
  // thread may outlive every caller.
  static Provider& Instance();

  // DmiInvoke: checks the block, then queues a copy of it (1026 and 1027
  // are executed first, on the caller's thread). Returns kDmiOk for an
  // accepted command, which is confirmed exactly once unless a cancel takes
  // it back; else the status that refuses it. A cancel (258) takes back a
  // command that is queued, or running but not yet past the point where it
  // makes its effect (the store write, a registration, its reply), and is
  // then confirmed with kDmiCancelled on a thread of its own, so that a
  // command stuck on the store's lock cannot hold the cancel's answer back.
  // A cancel that comes later is refused with kDmiNothingToCancel, and the
  // command confirms as usual.
  uint32_t Invoke(dmi::DmiCommandBlock* block) EXCLUDES(mutex_);
  // DmiIndicate: queues a look at the store for `handle`'s indications.
  uint32_t Indicate(uint32_t handle) EXCLUDES(mutex_);

  // DmiRegister, DmiUnregister, DmiListLanguages: handles of applications
  // that only ask for languages. They get no confirms, no indications and
  // need no thread; each call is done when it returns.
  uint32_t Register(uint32_t* handle) EXCLUDES(mutex_);
  uint32_t Unregister(uint32_t handle) EXCLUDES(mutex_);
  uint32_t ListLanguages(uint32_t handle, uint32_t componentId, uint8_t* list, uint32_t listLength)
      EXCLUDES(mutex_);

 private:
  Provider();

  enum class Work {
    kExecute,  // execute the copy, then confirm
    kConfirm,  // executed already (1026, 1027, 258): only confirm
    kIndicate  // DmiIndicate: indications only
  };
  struct Item {
    Work work = Work::kExecute;
    dmi::DmiCommandBlock* block = nullptr;  // the caller's, written when confirmed
    std::vector<uint8_t> request;           // its copy, commandLength bytes
    uint32_t handle = 0;
    uint32_t transaction_id = 0;
    dmi::DmiConfirmFunc confirm = nullptr;
    uint32_t status = 0;          // kConfirm: the status already reached
    bool status_written = false;  // by DmiInvoke, which the caller may be reading now
    ComponentView view;           // kConfirm: the store as the command left it
  };
  // Where the running command stands, for a cancel.
  enum class Phase { kPending, kCancelled, kCommitted };
  // The command the thread executes now, as a cancel names it.
  struct Current {
    bool active = false;
    uint32_t handle = 0;
    uint32_t transaction_id = 0;
    dmi::DmiConfirmFunc confirm = nullptr;
  };
  struct Application {
    dmi::DmiConfirmFunc confirm = nullptr;
    dmi::DmiIndicationFunc indication = nullptr;
    std::string store_path;  // found when it registered
    ComponentView seen;      // what its indications have told it so far
  };

  // Queues `item`, starting the thread when none runs. False when no thread
  // could be started.
  bool Enqueue(Item item) REQUIRES(mutex_);
  // The thread: takes items until nothing is queued and nobody is registered.
  void Serve() EXCLUDES(mutex_);
  void Process(Item& item) EXCLUDES(mutex_);
  // Executes a queued command into *reply; registration and unregistration
  // are here. Every effect waits for Commit.
  uint32_t Execute(Item& item, ComponentView* view, Reply* reply) EXCLUDES(mutex_);
  // The running command passes the point after which no cancel takes it
  // back. False when a cancel took it back first: it must then have no
  // effect, write nothing into its block and never confirm.
  bool Commit();
  // Confirms a cancel that took a command back, on a thread of its own.
  void ConfirmCancel(dmi::DmiCommandBlock* block, dmi::DmiConfirmFunc confirm) REQUIRES(mutex_);
  // Sends `handle` the indications that take it from what it saw to `now`.
  void SendIndications(uint32_t handle, const ComponentView& now) EXCLUDES(mutex_);
  std::string StorePathOf(uint32_t handle) EXCLUDES(mutex_);

  platform::Mutex mutex_;
  // Set whenever an item is queued; the thread waits on it when idle.
  platform::Event wake_;
  std::deque<Item> queue_ GUARDED_BY(mutex_);
  std::map<uint32_t, Application> applications_ GUARDED_BY(mutex_);
  std::map<uint32_t, std::string> listeners_ GUARDED_BY(mutex_);  // DmiRegister handles
  uint32_t next_handle_ GUARDED_BY(mutex_) = 1;
  Current current_ GUARDED_BY(mutex_);
  // The running command's phase. Changed only by compare-and-swap: the
  // thread commits, a cancel (under mutex_) cancels; exactly one wins.
  std::atomic<Phase> phase_{Phase::kCommitted};
  bool running_ GUARDED_BY(mutex_) = false;
};

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_PROVIDER_H_
