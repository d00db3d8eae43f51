#include "dmisp/provider.h"

#include <algorithm>
#include <utility>

#include "dmisp/command_reply.h"
#include "dmisp/command_request.h"
#include "dmisp/table_store.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace dmisp {

namespace {

// Applications wait for confirms in real time, whatever clock a test runs.
platform::Clock& ProviderClock() {
  static platform::RealClock* clock = new platform::RealClock;
  return *clock;
}

}  // namespace

Provider& Provider::Instance() {
  static Provider* provider = new Provider;
  return *provider;
}

Provider::Provider() : wake_(false, false, ProviderClock()) {}

uint32_t Provider::Invoke(dmi::DmiCommandBlock* block) {
  if (const uint32_t status = CheckRequest(block)) return status;
  const uint32_t code = block->commandCode;
  Item item;
  item.block = block;
  item.handle = block->handle;
  item.transaction_id = block->transactionId;
  const auto* bytes = reinterpret_cast<const uint8_t*>(block);
  item.request.assign(bytes, bytes + block->commandLength);

  if (code == dmi::kDmiRegister) {
    item.confirm = REQUEST_FIELD(bytes, dmi::DmiRegisterRequest, confirm);
    platform::MutexLock lock(mutex_);
    return Enqueue(std::move(item)) ? dmi::kDmiOk : dmi::kDmiStoreFailed;
  }
  if (code == dmi::kDmiCancel) {
    platform::MutexLock lock(mutex_);
    const auto queued = std::find_if(queue_.begin(), queue_.end(), [&](const Item& q) {
      return q.work == Work::kExecute && q.handle == item.handle &&
             q.transaction_id == item.transaction_id;
    });
    const bool running = current_.active && current_.handle == item.handle &&
                         current_.transaction_id == item.transaction_id;
    dmi::DmiConfirmFunc confirm = nullptr;
    if (queued != queue_.end()) {
      // A registration still queued has no handle yet: its own callback.
      confirm = queued->confirm;
      queue_.erase(queued);
    } else if (running) {
      // Past its commit the command's effect is made and it confirms: the
      // cancel is refused rather than claim what did not happen.
      Phase expected = Phase::kPending;
      if (!phase_.compare_exchange_strong(expected, Phase::kCancelled)) {
        return dmi::kDmiNothingToCancel;
      }
      confirm = current_.confirm;
    } else {
      return applications_.count(item.handle) != 0 ? dmi::kDmiNothingToCancel
                                                   : dmi::kDmiUnknownHandle;
    }
    ConfirmCancel(block, confirm);
    return dmi::kDmiOk;
  }

  std::string store_path;
  {
    platform::MutexLock lock(mutex_);
    const auto app = applications_.find(item.handle);
    if (app == applications_.end()) return dmi::kDmiUnknownHandle;
    item.confirm = app->second.confirm;
    store_path = app->second.store_path;
    if (code != dmi::kDmiAddComponent && code != dmi::kDmiDeleteComponent) {
      Enqueue(std::move(item));
      return dmi::kDmiOk;
    }
  }
  // Component additions and deletions are done when DmiInvoke returns.
  Reply reply{block->confirmLength, {}};
  item.status = ExecuteCommand(store_path, item.request, &reply, &item.view);
  reply.CopyTo(block->confirmBuffer);
  block->status = item.status;
  item.status_written = true;
  item.work = Work::kConfirm;
  item.request.clear();
  platform::MutexLock lock(mutex_);
  Enqueue(std::move(item));
  return dmi::kDmiOk;
}

uint32_t Provider::Indicate(uint32_t handle) {
  platform::MutexLock lock(mutex_);
  if (applications_.count(handle) == 0) return dmi::kDmiUnknownHandle;
  Item item;
  item.work = Work::kIndicate;
  item.handle = handle;
  Enqueue(std::move(item));
  return dmi::kDmiOk;
}

uint32_t Provider::Register(uint32_t* handle) {
  if (handle == nullptr) return dmi::kDmiMalformedBlock;
  const std::string path = StorePath();
  platform::MutexLock lock(mutex_);
  *handle = next_handle_++;
  listeners_[*handle] = path;
  return dmi::kDmiOk;
}

uint32_t Provider::Unregister(uint32_t handle) {
  platform::MutexLock lock(mutex_);
  return listeners_.erase(handle) ? dmi::kDmiOk : dmi::kDmiUnknownHandle;
}

uint32_t Provider::ListLanguages(uint32_t handle, uint32_t componentId, uint8_t* list,
                                 uint32_t listLength) {
  std::string path;
  {
    platform::MutexLock lock(mutex_);
    const auto it = listeners_.find(handle);
    if (it == listeners_.end()) return dmi::kDmiUnknownHandle;
    path = it->second;
  }
  if (list == nullptr) return dmi::kDmiMalformedBlock;
  return ListLanguagesOf(path, componentId, list, listLength);
}

bool Provider::Enqueue(Item item) {
  queue_.push_back(std::move(item));
  if (!running_) {
    running_ = platform::StartDetachedThread([this] { Serve(); });
    if (!running_) {
      queue_.pop_back();
      return false;
    }
  }
  wake_.Set();
  return true;
}

void Provider::Serve() {
  for (;;) {
    Item item;
    bool have = false;
    {
      platform::MutexLock lock(mutex_);
      // Once started, the thread serves for the life of the process: one
      // that ended as the last application left could still be ending when
      // the process exits, where the exit-time leak scan trips over it.
      if (!queue_.empty()) {
        item = std::move(queue_.front());
        queue_.pop_front();
        have = true;
        if (item.work == Work::kExecute) {
          current_ = Current{true, item.handle, item.transaction_id, item.confirm};
          phase_.store(Phase::kPending);
        }
      }
    }
    if (have) {
      Process(item);
    } else {
      wake_.Wait();
    }
  }
}

void Provider::Process(Item& item) {
  ComponentView view;
  uint32_t status = item.status;
  Reply reply{item.request.empty()
                  ? 0
                  : REQUEST_FIELD(item.request.data(), dmi::DmiCommandBlock, confirmLength),
              {}};
  switch (item.work) {
    case Work::kExecute: {
      status = Execute(item, &view, &reply);
      const bool committed = Commit();
      {
        platform::MutexLock lock(mutex_);
        current_.active = false;
      }
      // Taken back: the cancel confirmed it, and its sender may have let
      // go of the block.
      if (!committed) return;
      break;
    }
    case Work::kConfirm:
      view = std::move(item.view);
      break;
    case Work::kIndicate:
      break;
  }
  // A change nobody has read yet for this command is looked up now, so the
  // application hears of it before the command completes.
  if (!view.known) view = ReadView(StorePathOf(item.handle));
  SendIndications(item.handle, view);
  if (item.work == Work::kIndicate) return;
  if (!item.status_written) {
    reply.CopyTo(item.block->confirmBuffer);
    item.block->status = status;
  }
  item.confirm(item.block);
}

bool Provider::Commit() {
  Phase expected = Phase::kPending;
  return phase_.compare_exchange_strong(expected, Phase::kCommitted) ||
         expected == Phase::kCommitted;
}

void Provider::ConfirmCancel(dmi::DmiCommandBlock* block, dmi::DmiConfirmFunc confirm) {
  const auto answer = [block, confirm] {
    block->status = dmi::kDmiCancelled;
    confirm(block);
  };
  if (platform::StartDetachedThread(answer)) return;
  // No thread to be had: the serving thread answers once it is free.
  Item item;
  item.work = Work::kConfirm;
  item.block = block;
  item.confirm = confirm;
  item.status = dmi::kDmiCancelled;
  Enqueue(std::move(item));
}

uint32_t Provider::Execute(Item& item, ComponentView* view, Reply* reply) {
  const uint8_t* base = item.request.data();
  const uint32_t code = REQUEST_FIELD(base, dmi::DmiCommandBlock, commandCode);
  if (code == dmi::kDmiRegister) {
    if (reply->capacity < sizeof(dmi::DmiRegisterReply)) return dmi::kDmiBufferTooSmall;
    Application app;
    app.confirm = item.confirm;
    app.indication = REQUEST_FIELD(base, dmi::DmiRegisterRequest, indication);
    app.store_path = StorePath();
    if (app.store_path.empty()) return dmi::kDmiStoreFailed;
    // What it sees from now on is news; what is there already is not.
    app.seen = ReadView(app.store_path);
    *view = app.seen;
    uint32_t handle = 0;
    if (!Commit()) return dmi::kDmiCancelled;
    {
      platform::MutexLock lock(mutex_);
      handle = next_handle_++;
      applications_[handle] = std::move(app);
    }
    item.handle = handle;
    return WriteReply(Words({handle}), reply);
  }
  std::string store_path;
  {
    platform::MutexLock lock(mutex_);
    const auto app = applications_.find(item.handle);
    // Unregistered after the command was accepted.
    if (app == applications_.end()) return dmi::kDmiUnknownHandle;
    if (code == dmi::kDmiUnregister) {
      if (!Commit()) return dmi::kDmiCancelled;
      applications_.erase(app);
      return dmi::kDmiOk;
    }
    store_path = app->second.store_path;
  }
  return ExecuteCommand(store_path, item.request, reply, view, [this] { return Commit(); });
}

void Provider::SendIndications(uint32_t handle, const ComponentView& now) {
  if (!now.known) return;
  std::vector<dmi::DmiIndication> due;
  dmi::DmiIndicationFunc indication = nullptr;
  {
    platform::MutexLock lock(mutex_);
    const auto app = applications_.find(handle);
    if (app == applications_.end()) return;
    if (app->second.seen.known) due = IndicationsBetween(app->second.seen, now, handle);
    app->second.seen = now;
    indication = app->second.indication;
  }
  if (!indication) return;
  for (const dmi::DmiIndication& one : due) indication(&one);
}

std::string Provider::StorePathOf(uint32_t handle) {
  platform::MutexLock lock(mutex_);
  const auto app = applications_.find(handle);
  return app == applications_.end() ? std::string() : app->second.store_path;
}

}  // namespace dmisp
