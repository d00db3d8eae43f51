// WDMI2API.DLL: registrations that only ask for a component's languages.
#include <type_traits>

#include "dmi/dmi_interface.h"
#include "dmisp/libraries/dmiprov.h"

extern "C" {

DMISP_EXPORT uint32_t DmiRegister(uint32_t* handle) { return DmiProviderRegister(handle); }

DMISP_EXPORT uint32_t DmiUnregister(uint32_t handle) { return DmiProviderUnregister(handle); }

DMISP_EXPORT uint32_t DmiListLanguages(uint32_t handle, uint32_t componentId, uint8_t* list,
                                       uint32_t listLength) {
  return DmiProviderListLanguages(handle, componentId, list, listLength);
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&DmiRegister), dmi::DmiRegisterFunc>);
static_assert(std::is_same_v<decltype(&DmiUnregister), dmi::DmiUnregisterFunc>);
static_assert(std::is_same_v<decltype(&DmiListLanguages), dmi::DmiListLanguagesFunc>);
