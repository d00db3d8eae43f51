// Executing management commands against the table store: every command code
// except registration, unregistration and cancel, which are the provider's
// own business. Each command is one store read, or one locked update of the
// store; the reply goes into the confirm buffer and never past its length.
#ifndef SCHEDEXE_DMISP_COMMAND_EXECUTE_H_
#define SCHEDEXE_DMISP_COMMAND_EXECUTE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/command_reply.h"
#include "dmisp/table_store.h"

namespace dmisp {

// What an application has seen of the components: the store's generation and,
// per component, its language and group classes. Two views of different
// generations tell which components were added, deleted or changed.
struct ComponentView {
  bool known = false;  // false: the store could not be read
  uint32_t generation = 0;
  std::map<uint32_t, std::string> components;  // id -> language and groups
};

ComponentView ViewOf(const Tables& tables);
// The store's view now; not known when it cannot be read.
ComponentView ReadView(const std::string& store_path);

// The indications that take an application from `before` to `after`, in
// ascending component id: none when the generation is the same.
std::vector<dmi::DmiIndication> IndicationsBetween(const ComponentView& before,
                                                   const ComponentView& after, uint32_t handle);

// Executes `request`, the copy of a block that CheckRequest accepted, whose
// code is neither 256, 257 nor 258. Builds the reply in *reply (its capacity
// the block's confirmLength) and returns the command's status. *view
// receives the store as the command left it (not known when the store could
// not be read). A command that changes the store asks `may_write` (when
// given) under the store's lock, just before the file is replaced; when it
// says no, nothing is written and the status is kDmiCancelled.
uint32_t ExecuteCommand(const std::string& store_path, const std::vector<uint8_t>& request,
                        Reply* reply, ComponentView* view,
                        const std::function<bool()>& may_write = nullptr);

// DmiListLanguages: the component's language strings as a DmiListReply of
// (32-bit length, ANSI bytes) entries.
uint32_t ListLanguagesOf(const std::string& store_path, uint32_t componentId, uint8_t* list,
                         uint32_t listLength);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_COMMAND_EXECUTE_H_
