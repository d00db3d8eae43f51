/* Stand-ins for the DMI 2.0 Win32 libraries. Each build exports the entry
   points it is asked for; each entry answers LIBRARY_ID * 10 plus its own
   number, so a test can tell which library an entry was found in. */

#ifdef WITH_INVOKE
int DmiInvoke(void* block) {
  (void)block;
  return LIBRARY_ID * 10 + 1;
}
#endif

#ifdef WITH_INDICATE
int DmiIndicate(void* block) {
  (void)block;
  return LIBRARY_ID * 10 + 2;
}
#endif

#ifdef WITH_LIST_LANGUAGES
int DmiListLanguages(void* block) {
  (void)block;
  return LIBRARY_ID * 10 + 3;
}
#endif

#ifdef WITH_REGISTER
int DmiRegister(void* block) {
  (void)block;
  return LIBRARY_ID * 10 + 4;
}
#endif

#ifdef WITH_UNREGISTER
int DmiUnregister(void* block) {
  (void)block;
  return LIBRARY_ID * 10 + 5;
}
#endif

/* Keeps the unit from being empty whatever is left out. */
int DmiTestLibraryId(void) { return LIBRARY_ID; }
