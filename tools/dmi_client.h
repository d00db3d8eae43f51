// What the programs that talk to the DMI tables share: loading the provider
// libraries and saying plainly what is missing.
#ifndef SCHEDEXE_TOOLS_DMI_CLIENT_H_
#define SCHEDEXE_TOOLS_DMI_CLIENT_H_

#include <cstdint>
#include <string>

// Loads "dmiapi32.dll" and "WDMI2API.DLL" and resolves their five entry
// points. False, with the first library or entry point that is missing in
// *failure, when any is.
bool LoadDmiProvider(std::string* failure);

// A DMI status as an operator reads it: "0x1004 (component not found)".
std::string DmiStatusText(uint32_t status);

#endif  // SCHEDEXE_TOOLS_DMI_CLIENT_H_
