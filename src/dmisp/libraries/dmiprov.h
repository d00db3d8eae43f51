// dmiprov.dll: the one provider of the process, behind the five entry
// points of dmiapi32.dll and WDMI2API.DLL. Both libraries load it from their
// own folder, so a process that loads both holds one provider, one thread
// and one parsed copy of the store. Its names are not the entry points'
// own: a lookup of an entry point in either library never lands here.
#ifndef SCHEDEXE_DMISP_LIBRARIES_DMIPROV_H_
#define SCHEDEXE_DMISP_LIBRARIES_DMIPROV_H_

#include <cstdint>

#include "dmi/dmi_interface.h"

extern "C" {

uint32_t DmiProviderInvoke(dmi::DmiCommandBlock* block);
uint32_t DmiProviderIndicate(uint32_t handle);
uint32_t DmiProviderRegister(uint32_t* handle);
uint32_t DmiProviderUnregister(uint32_t handle);
uint32_t DmiProviderListLanguages(uint32_t handle, uint32_t componentId, uint8_t* list,
                                  uint32_t listLength);

}  // extern "C"

#endif  // SCHEDEXE_DMISP_LIBRARIES_DMIPROV_H_
