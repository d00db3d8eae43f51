// The cross-process auto-reset event by which other programs ask for a
// reload ("TARNSCHED"). Any user may open and signal it.
#ifndef SCHEDEXE_PLATFORM_NAMED_EVENT_H_
#define SCHEDEXE_PLATFORM_NAMED_EVENT_H_

#include <cstdint>
#include <memory>

namespace platform {

class NamedEvent {
 public:
  virtual ~NamedEvent() = default;

  // Creates the auto-reset, initially unsignalled event `name`, open to every
  // user; when it exists already, opens it and keeps its signalled state.
  // nullptr on failure.
  static std::unique_ptr<NamedEvent> Create(const char* name);
  // Opens an existing event; nullptr when none of that name exists.
  static std::unique_ptr<NamedEvent> Open(const char* name);

  virtual bool Set() = 0;
  // Real time (other processes cannot follow a test's clock). True when the
  // signal was taken within `ms` (0xFFFFFFFF: no limit).
  virtual bool Wait(uint32_t ms) = 0;
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_NAMED_EVENT_H_
