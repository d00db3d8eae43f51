// Faults that last: each kind is set when an operation meets it and cleared
// when that operation works again. While any lasts, the service's status
// words and the queue's publication name it beside what the scheduler does,
// so an operator sees it without reading the log.
#ifndef SCHEDEXE_PLATFORM_FAULTS_H_
#define SCHEDEXE_PLATFORM_FAULTS_H_

#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class Fault : int { kRegistry, kDataFileRead, kDataFileWrite, kDmiCommand };

// Sets the fault of `kind` to `words` ("" clears it). On a change, shows the
// status again and calls the listener, on this thread, holding no lock.
void SetFault(Fault kind, const std::string& words);
inline void ClearFault(Fault kind) { SetFault(kind, ""); }
// The words of the faults that last, in the order of their kinds.
std::vector<std::string> CurrentFaults();

// Shows `activity` as the service's status words, followed by the faults
// that last.
void ShowActivity(const std::string& activity);

// Where the status words go: the service sets SetServiceStatusText before it
// starts; other programs (and the DMI provider, which shares this code) have
// none.
void SetStatusSink(void (*sink)(const std::string& words));

// Called after every change of the faults (the queue's publisher). Set once,
// before the threads that meet faults start.
void SetFaultListener(std::function<void()> listener);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_FAULTS_H_
