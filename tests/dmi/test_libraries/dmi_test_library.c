/* Stand-ins for the DMI 2.0 Win32 libraries. Each build exports the entry
   points it is asked for; each entry answers LIBRARY_ID * 10 plus its own
   number, so a test can tell which library an entry was found in. */

#define STAND_IN_ENTRY(name, number)   \
  int name(void* block) {              \
    (void)block;                       \
    return LIBRARY_ID * 10 + (number); \
  }

#ifdef WITH_INVOKE
STAND_IN_ENTRY(DmiInvoke, 1)
#endif
#ifdef WITH_INDICATE
STAND_IN_ENTRY(DmiIndicate, 2)
#endif
#ifdef WITH_LIST_LANGUAGES
STAND_IN_ENTRY(DmiListLanguages, 3)
#endif
#ifdef WITH_REGISTER
STAND_IN_ENTRY(DmiRegister, 4)
#endif
#ifdef WITH_UNREGISTER
STAND_IN_ENTRY(DmiUnregister, 5)
#endif

/* Keeps the unit from being empty whatever is left out. */
int DmiTestLibraryId(void) { return LIBRARY_ID; }
