#include "dmisp/libraries/dmiprov.h"

#include <type_traits>

#include "dmisp/provider.h"

extern "C" {

DMISP_EXPORT uint32_t DmiProviderInvoke(dmi::DmiCommandBlock* block) {
  return dmisp::Provider::Instance().Invoke(block);
}

DMISP_EXPORT uint32_t DmiProviderIndicate(uint32_t handle) {
  return dmisp::Provider::Instance().Indicate(handle);
}

DMISP_EXPORT uint32_t DmiProviderRegister(uint32_t* handle) {
  return dmisp::Provider::Instance().Register(handle);
}

DMISP_EXPORT uint32_t DmiProviderUnregister(uint32_t handle) {
  return dmisp::Provider::Instance().Unregister(handle);
}

DMISP_EXPORT uint32_t DmiProviderListLanguages(uint32_t handle, uint32_t componentId, uint8_t* list,
                                               uint32_t listLength) {
  return dmisp::Provider::Instance().ListLanguages(handle, componentId, list, listLength);
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&DmiProviderInvoke), dmi::DmiInvokeFunc>);
static_assert(std::is_same_v<decltype(&DmiProviderIndicate), dmi::DmiIndicateFunc>);
static_assert(std::is_same_v<decltype(&DmiProviderRegister), dmi::DmiRegisterFunc>);
static_assert(std::is_same_v<decltype(&DmiProviderUnregister), dmi::DmiUnregisterFunc>);
static_assert(std::is_same_v<decltype(&DmiProviderListLanguages), dmi::DmiListLanguagesFunc>);
