// Loading the DMI libraries against stand-in libraries built beside the
// tests: which library each entry point comes from, what a missing library or
// entry does, and that the state is made once.
#include "dmi/dmi_library.h"

#include <gtest/gtest.h>

#include <vector>

namespace dmi {
namespace {

// The full stand-ins of the two libraries. They do not go by the real names,
// "dmiapi32.dll" and "WDMI2API.DLL": the provider's own libraries of those
// names lie beside the tests.
constexpr char kInvoke[] = "dmitest_invoke.dll";
constexpr char kRegistration[] = "dmitest_registration.dll";
constexpr char kInvokeOnly[] = "dmitest_invoke_only.dll";
constexpr char kRegistrationPartial[] = "dmitest_registration_partial.dll";
constexpr char kAbsent[] = "dmitest_absent.dll";

// The answers of the five entry points in order (DmiInvoke ... DmiUnregister),
// -1 for one not found. A stand-in answers its library's id times ten plus
// the entry's own number.
std::vector<int> Answers(const DmiLibraryState& s) {
  std::vector<int> answers;
  for (void* entry :
       {s.DmiInvoke, s.DmiIndicate, s.DmiListLanguages, s.DmiRegister, s.DmiUnregister}) {
    answers.push_back(entry ? reinterpret_cast<int (*)(void*)>(entry)(nullptr) : -1);
  }
  return answers;
}

class DmiLibraryTest : public ::testing::Test {
 protected:
  DmiLibraryTest() { testing::ResetDmiLibraryForTesting(kRegistration); }
  ~DmiLibraryTest() override { testing::ResetDmiLibraryForTesting(); }
};

TEST_F(DmiLibraryTest, LoadsBothLibrariesOnceAndResolvesAllFive) {
  const DmiLibraryState& s = DmiLibrary();
  EXPECT_FALSE(s.initialised);
  const platform::LibraryHandle invoke = LoadDmiLibrary(kInvoke);
  ASSERT_NE(invoke, nullptr);
  EXPECT_TRUE(s.initialised);
  EXPECT_EQ(s.invokeLibrary, invoke);
  EXPECT_TRUE(s.invokeMutex && s.registrationMutex && s.confirmEvent);
  // The confirm event starts unsignalled and resets itself.
  EXPECT_FALSE(s.confirmEvent->IsSet());
  s.confirmEvent->Set();
  EXPECT_TRUE(s.confirmEvent->Wait(0));
  EXPECT_FALSE(s.confirmEvent->IsSet());

  EXPECT_EQ(ResolveDmiEntryPoints(invoke), 1);
  EXPECT_TRUE(s.entryPointsFound);
  EXPECT_EQ(Answers(s), (std::vector<int>{11, 12, 23, 24, 25}));

  // Once loaded, any name gives the first handle and nothing is reloaded;
  // once resolved, any module (even none) is a success at once.
  EXPECT_EQ(LoadDmiLibrary(kInvokeOnly), invoke);
  EXPECT_EQ(s.invokeLibrary, invoke);
  EXPECT_EQ(ResolveDmiEntryPoints(nullptr), 1);
  EXPECT_EQ(ResolveDmiEntryPoints(platform::LoadDynamicLibrary(kInvokeOnly)), 1);
  EXPECT_EQ(Answers(s), (std::vector<int>{11, 12, 23, 24, 25}));
}

TEST_F(DmiLibraryTest, AMissingLibraryIsSkippedNotCountedAsAFailure) {
  const DmiLibraryState& s = DmiLibrary();
  // The named library missing, the registration library present.
  EXPECT_EQ(LoadDmiLibrary(kAbsent), nullptr);
  EXPECT_TRUE(s.initialised);
  EXPECT_EQ(ResolveDmiEntryPoints(nullptr), 1);
  EXPECT_EQ(Answers(s), (std::vector<int>{-1, -1, 23, 24, 25}));

  // The registration library missing: its three stay null.
  testing::ResetDmiLibraryForTesting(kAbsent);
  const platform::LibraryHandle invoke = LoadDmiLibrary(kInvoke);
  ASSERT_NE(invoke, nullptr);
  EXPECT_EQ(ResolveDmiEntryPoints(invoke), 1);
  EXPECT_EQ(Answers(s), (std::vector<int>{11, 12, -1, -1, -1}));

  // Neither: nothing to resolve, which is a success.
  testing::ResetDmiLibraryForTesting(kAbsent);
  EXPECT_EQ(LoadDmiLibrary(kAbsent), nullptr);
  EXPECT_EQ(ResolveDmiEntryPoints(nullptr), 1);
  EXPECT_TRUE(s.entryPointsFound);
}

TEST_F(DmiLibraryTest, AMissingEntryFailsButEveryLookupIsMade) {
  const DmiLibraryState& s = DmiLibrary();
  // DmiIndicate missing from the named library (whose own DmiRegister is
  // not the one used); DmiRegister missing from the registration library,
  // DmiUnregister after it still found.
  testing::ResetDmiLibraryForTesting(kRegistrationPartial);
  const platform::LibraryHandle invoke = LoadDmiLibrary(kInvokeOnly);
  ASSERT_NE(invoke, nullptr);
  EXPECT_EQ(ResolveDmiEntryPoints(invoke), 0);
  EXPECT_FALSE(s.entryPointsFound);
  EXPECT_EQ(Answers(s), (std::vector<int>{31, -1, 43, -1, 45}));
  // Not resolved yet, so a later call looks again.
  EXPECT_EQ(ResolveDmiEntryPoints(platform::LoadDynamicLibrary(kInvoke)), 0);
  EXPECT_EQ(Answers(s), (std::vector<int>{11, 12, 43, -1, 45}));
  EXPECT_FALSE(s.entryPointsFound);
}

TEST_F(DmiLibraryTest, LanguageTableIsClearedOnLoadAndSearchedForUnicode) {
  DmiLibraryState& s = DmiLibrary();
  s.languageTable[7] = "left over|unicode";
  LoadDmiLibrary(kAbsent);
  EXPECT_EQ(IsUnicodeLanguage(7), 0);

  s.languageTable[7] = "English|US|unicode|iso8859-1";
  s.languageTable[8] = "English|US|UNICODE";
  s.languageTable[kLanguageTableSize - 1] = "unicode";
  EXPECT_EQ(IsUnicodeLanguage(7), 1);
  EXPECT_EQ(IsUnicodeLanguage(8), 0);
  EXPECT_EQ(IsUnicodeLanguage(9), 0);
  EXPECT_EQ(IsUnicodeLanguage(kLanguageTableSize - 1), 1);
  EXPECT_EQ(IsUnicodeLanguage(kLanguageTableSize), 0);
  EXPECT_EQ(IsUnicodeLanguage(-1), 0);
  // A later load changes nothing, the table included.
  LoadDmiLibrary(kInvoke);
  EXPECT_EQ(s.invokeLibrary, nullptr);
  EXPECT_EQ(IsUnicodeLanguage(7), 1);
}

}  // namespace
}  // namespace dmi
