// Giving back what start-up and each piece of work touched: an idle service
// should hold only what it needs to wait.
#ifndef SCHEDEXE_PLATFORM_WORKING_SET_H_
#define SCHEDEXE_PLATFORM_WORKING_SET_H_

namespace platform {

// Returns the process's free heap to the system and drops from its working
// set the pages that come back on demand: code and constants read from its
// program and libraries. Nothing is lost; a page touched again is read back
// in, one page at a time from then on, since an idle service wakes rarely
// and touches little.
void TrimWorkingSet();

// The service program turns this on; tests and tools keep their pages.
void SetTrimWhenIdle(bool on);
// Where a thread of the service falls idle: trims when turned on.
void TrimWhenIdle();

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_WORKING_SET_H_
