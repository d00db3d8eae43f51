#include "dmi_client.h"

#include <cstdio>

#include "dmi/dmi_interface.h"
#include "dmi/dmi_library.h"

bool LoadDmiProvider(std::string* failure) {
  dmi::DmiLibraryState& lib = dmi::DmiLibrary();
  dmi::ResolveDmiEntryPoints(dmi::LoadDmiLibrary(dmi::kInvokeLibraryName));
  const struct {
    void* found;
    const char* what;
  } needs[] = {
      {lib.invokeLibrary, dmi::kInvokeLibraryName},
      {lib.registrationLibrary, dmi::kRegistrationLibraryName},
      {lib.DmiInvoke, "DmiInvoke"},
      {lib.DmiIndicate, "DmiIndicate"},
      {lib.DmiListLanguages, "DmiListLanguages"},
      {lib.DmiRegister, "DmiRegister"},
      {lib.DmiUnregister, "DmiUnregister"},
  };
  for (const auto& need : needs) {
    if (need.found) continue;
    *failure = std::string("the DMI provider is missing ") + need.what;
    return false;
  }
  return true;
}

std::string DmiStatusText(uint32_t status) {
  static const struct {
    uint32_t status;
    const char* text;
  } texts[] = {
      {dmi::kDmiOk, "done"},
      {dmi::kDmiMoreData, "more data"},
      {dmi::kDmiBufferTooSmall, "buffer too small"},
      {dmi::kDmiCancelled, "cancelled: the provider did not answer"},
      {dmi::kDmiBadLevelCheck, "bad level check"},
      {dmi::kDmiUnknownHandle, "unknown handle"},
      {dmi::kDmiUnknownCommand, "unknown command"},
      {dmi::kDmiComponentNotFound, "component not found"},
      {dmi::kDmiGroupNotFound, "group not found"},
      {dmi::kDmiAttributeNotFound, "attribute not found"},
      {dmi::kDmiRowNotFound, "row not found"},
      {dmi::kDmiIllegalType, "illegal type"},
      {dmi::kDmiValueTooLong, "value too long"},
      {dmi::kDmiMalformedBlock, "malformed command"},
      {dmi::kDmiNoEnumeration, "no text for that value"},
      {dmi::kDmiBadDescription, "the description file is missing or does not parse"},
      {dmi::kDmiStoreFailed, "the table store cannot be read or written"},
      {dmi::kDmiRowExists, "the row exists already"},
      {dmi::kDmiNoComponentId, "no component id left"},
      {dmi::kDmiNothingToCancel, "nothing to cancel"},
      {dmi::kDmiProviderLost, "the provider stopped answering"},
  };
  char number[16];
  std::snprintf(number, sizeof number, "0x%X", status);
  for (const auto& entry : texts) {
    if (entry.status == status) return std::string(number) + " (" + entry.text + ")";
  }
  return number;
}
