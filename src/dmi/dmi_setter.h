// Setting one DMI attribute in-process, the job of one DmiSetValue command
// line: register with the service provider, find the component and group
// the class path names, convert the value and the keys, send the set, and
// unregister. Needs LoadDmiLibrary and ResolveDmiEntryPoints first.
#ifndef SCHEDEXE_DMI_DMI_SETTER_H_
#define SCHEDEXE_DMI_DMI_SETTER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmi/dmi_values.h"

namespace dmi {

// Results of SetDmiAttribute.
enum SetResult : int {
  kSetOk = 0,
  kSetRegistrationFailed = 4,
  kSetClassNotFound = 5,
  kSetInvalidAttributeId = 6,
  kSetUnknownType = 7,
  kSetFailed = 8,
};

// The name every process's setter serialises its whole operations on.
inline constexpr char kSchedMutexName[] = "Corvane_TTX_Sched_Mutex";
// How long a command may take before it is cancelled, and the cancel after it.
inline constexpr uint32_t kConfirmWaitMs = 30000;
// Registration: attempts, and the pause after each failed one but the last.
inline constexpr int kRegisterAttempts = 11;
inline constexpr uint32_t kRegisterPauseMs = 5000;
// The component cache's first size; it doubles while a listing does not fit.
inline constexpr uint32_t kComponentCacheInitialSize = 16384;

// The five arguments of a DmiSetValue command line. A SetResult; for a
// failure, what failed goes into *failure when it is given.
int SetDmiAttribute(const char* classPath, const char* attributeIdText, const char* valueText,
                    const char* keyListText, const char* typeText, std::string* failure = nullptr);

// 1 with the new management handle in *handle, or 0. Fails at once when the
// provider's invoke entry point is missing.
int slRegister(uint32_t* handle);
// 1 when the provider accepted the unregister.
int slUnregister(uint32_t handle);
// Runs one command to its confirm: the provider's status, 526 when it had to
// be cancelled, kDmiProviderLost when not even the cancel was confirmed.
uint32_t slSynchronousExecute(DmiCommandBlock* block);
// 1 with the ids of the first component and group the class path names.
int FindComponentGroup(uint32_t handle, const char* classPath, uint32_t* componentId,
                       uint32_t* groupId);
// Lists the components again (with their languages) when an indication
// said they changed. False when there is no component list.
bool RefreshComponentCache(uint32_t handle);
// Sets one attribute of the row the keys name; `value` is encoded for
// `type` as ConvertDmiValue gives it. 0, or the DMI status of the failure.
uint32_t slSetAttribute(uint32_t handle, uint32_t componentId, uint32_t groupId,
                        const std::vector<DmiKeyValue>& keys, uint32_t attributeId, uint32_t type,
                        const std::string& value);

// The transaction id of the next command built.
uint32_t NextTransactionId();
// True once a command and its cancel both went unanswered: from then on
// every command fails at once with kDmiProviderLost.
bool IsProviderLost();

// Given to the provider at registration; they run on its thread.
extern "C" void ConfirmCallback(DmiCommandBlock* block);
extern "C" void IndicationCallback(const DmiIndication* indication);

namespace testing {
// Forgets the setter's process state (cache, transaction ids, a lost
// provider), as a fresh process would start. Tests only.
void ResetDmiSetterForTesting();
}  // namespace testing

}  // namespace dmi

#endif  // SCHEDEXE_DMI_DMI_SETTER_H_
