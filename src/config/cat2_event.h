// One user event of the user-alarm category, as its "Event Cat2:" n section
// holds it. Used to reset a released slot's responses.
#ifndef SCHEDEXE_CONFIG_CAT2_EVENT_H_
#define SCHEDEXE_CONFIG_CAT2_EVENT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace config {

inline constexpr int kResponseSlots = 12;

class Cat2Event {
 public:
  Cat2Event();
  virtual ~Cat2Event() = default;

  // Reads section "Event Cat2:" n; always twelve responses afterwards.
  void Load(int32_t n);
  void SetNumber(int32_t n) { number = n; }
  int32_t GetNumber() const { return number; }
  // Every response "Unused", the count 0, then Save().
  void ResetResponses();
  // Sends the count and the twelve responses to the DMI Event Cat2 Table,
  // then writes "User Changable" back as read.
  void Save();

  const std::string& GetDataFile() const { return dataFile; }
  const std::string& GetDescription() const { return description; }
  const std::string& GetEventMode() const { return eventMode; }
  const std::string& GetEventStatus() const { return eventStatus; }
  int32_t GetResponseCount() const { return responseCount; }
  const std::string& GetUserChangeable() const { return userChangeable; }
  const std::vector<std::string>& GetResponses() const { return responses; }

 private:
  std::string dataFile;
  int32_t number = 0;
  std::string description;
  std::string eventMode;
  std::string eventStatus;
  int32_t responseCount = 0;
  std::string userChangeable;
  std::vector<std::string> responses;
};

}  // namespace config

#endif  // SCHEDEXE_CONFIG_CAT2_EVENT_H_
