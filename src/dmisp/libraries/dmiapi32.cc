// dmiapi32.dll: the command half of the management interface.
#include <type_traits>

#include "dmi/dmi_interface.h"
#include "dmisp/libraries/dmiprov.h"

extern "C" {

DMISP_EXPORT uint32_t DmiInvoke(dmi::DmiCommandBlock* block) { return DmiProviderInvoke(block); }

DMISP_EXPORT uint32_t DmiIndicate(uint32_t handle) { return DmiProviderIndicate(handle); }

}  // extern "C"

static_assert(std::is_same_v<decltype(&DmiInvoke), dmi::DmiInvokeFunc>);
static_assert(std::is_same_v<decltype(&DmiIndicate), dmi::DmiIndicateFunc>);
