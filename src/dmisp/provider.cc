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
    // Only a command still waiting can be taken back; one that runs now
    // will confirm, and the cancel then says there was nothing to cancel.
    const auto queued = std::find_if(queue_.begin(), queue_.end(), [&](const Item& q) {
      return q.work == Work::kExecute && q.handle == item.handle &&
             q.transaction_id == item.transaction_id;
    });
    const auto app = applications_.find(item.handle);
    if (app != applications_.end()) {
      item.confirm = app->second.confirm;
    } else if (item.handle == 0 && queued != queue_.end()) {
      // A registration still queued has no handle yet: its own callback.
      item.confirm = queued->confirm;
    } else {
      return dmi::kDmiUnknownHandle;
    }
    item.status = queued != queue_.end() ? dmi::kDmiCancelled : dmi::kDmiNothingToCancel;
    if (queued != queue_.end()) queue_.erase(queued);
    item.work = Work::kConfirm;
    item.request.clear();
    Enqueue(std::move(item));
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
  item.status = ExecuteCommand(store_path, item.request, block->confirmBuffer, block->confirmLength,
                               &item.view);
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
  switch (item.work) {
    case Work::kExecute:
      status = Execute(item, &view);
      break;
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
  if (!item.status_written) item.block->status = status;
  item.confirm(item.block);
}

uint32_t Provider::Execute(Item& item, ComponentView* view) {
  const uint8_t* base = item.request.data();
  const uint32_t code = REQUEST_FIELD(base, dmi::DmiCommandBlock, commandCode);
  uint8_t* confirm = REQUEST_FIELD(base, dmi::DmiCommandBlock, confirmBuffer);
  const uint32_t confirm_length = REQUEST_FIELD(base, dmi::DmiCommandBlock, confirmLength);
  if (code == dmi::kDmiRegister) {
    if (confirm_length < sizeof(dmi::DmiRegisterReply)) return dmi::kDmiBufferTooSmall;
    Application app;
    app.confirm = item.confirm;
    app.indication = REQUEST_FIELD(base, dmi::DmiRegisterRequest, indication);
    app.store_path = StorePath();
    if (app.store_path.empty()) return dmi::kDmiStoreFailed;
    // What it sees from now on is news; what is there already is not.
    app.seen = ReadView(app.store_path);
    *view = app.seen;
    uint32_t handle = 0;
    {
      platform::MutexLock lock(mutex_);
      handle = next_handle_++;
      applications_[handle] = std::move(app);
    }
    item.handle = handle;
    return WriteReply(Words({handle}), confirm, confirm_length);
  }
  std::string store_path;
  {
    platform::MutexLock lock(mutex_);
    const auto app = applications_.find(item.handle);
    // Unregistered after the command was accepted.
    if (app == applications_.end()) return dmi::kDmiUnknownHandle;
    if (code == dmi::kDmiUnregister) {
      applications_.erase(app);
      return dmi::kDmiOk;
    }
    store_path = app->second.store_path;
  }
  return ExecuteCommand(store_path, item.request, confirm, confirm_length, view);
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
