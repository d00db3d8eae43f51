#include <gtest/gtest.h>

#include <string>

#include "platform/posix/notify_socket.h"
#include "platform/process_info.h"
#include "platform/service_dispatcher.h"
#include "platform/testing.h"

namespace platform {
namespace {

TEST(ServiceDispatcherPosixTest, StatusNotificationCarriesEveryFieldAndSystemdState) {
  // Every field distinct, so a swapped or dropped one shows.
  ServiceStatus s{kServiceWin32OwnProcess, kServiceStopped, 7, 1066, 4294967295u, 2, 1000};
  EXPECT_EQ(posix::StatusNotification(s, "2 events queued"),
            "STATUS=STOPPED: failed with error 1066, service error 4294967295\n"
            "X_SCHEDEXE_STATE=1\n"
            "X_SCHEDEXE_CHECKPOINT=2\n"
            "X_SCHEDEXE_WAIT_HINT=1000\n"
            "X_SCHEDEXE_CONTROLS=7\n"
            "X_SCHEDEXE_WIN32_EXIT_CODE=1066\n"
            "X_SCHEDEXE_SERVICE_EXIT_CODE=4294967295\n");
  // systemd hears READY with a running report and STOPPING with a
  // stop-pending one, never with any other state. The scheduler's activity
  // shows while it runs or is paused, and only then comes between reports.
  const struct {
    uint32_t state;
    const char* status;
    const char* systemd;
  } states[] = {{kServiceStartPending, "START_PENDING: starting", ""},
                {kServiceStopPending, "STOP_PENDING: stopping", "STOPPING=1\n"},
                {kServiceRunning, "RUNNING: 2 events queued", "READY=1\n"},
                {kServiceContinuePending, "CONTINUE_PENDING: continuing", ""},
                {kServicePausePending, "PAUSE_PENDING: pausing", ""},
                {kServicePaused, "PAUSED: reloads wait for continue; 2 events queued", ""}};
  for (const auto& c : states) {
    s.current_state = c.state;
    const std::string text = posix::StatusNotification(s, "2 events queued");
    EXPECT_EQ(text.substr(0, text.find('\n')), std::string("STATUS=") + c.status);
    const std::string between = posix::ActivityNotification(c.state, "2 events queued");
    const bool shows = c.state == kServiceRunning || c.state == kServicePaused;
    EXPECT_EQ(between, shows ? std::string("STATUS=") + c.status + "\n" : "");
    EXPECT_EQ(text.substr(text.find("X_SCHEDEXE_SERVICE_EXIT_CODE")),
              std::string("X_SCHEDEXE_SERVICE_EXIT_CODE=4294967295\n") + c.systemd);
  }
  // A line break in the words cannot start a field of its own.
  EXPECT_EQ(posix::ActivityNotification(kServiceRunning, "a\nREADY=1"),
            "STATUS=RUNNING: a READY=1\n");
}

TEST(ServiceDispatcherPosixTest, OutsideSystemdNothingCanBeReported) {
  // No listener, no usable address: the report fails.
  for (const std::string& path :
       {std::string("/nonexistent/schedexe-notify"), std::string("@schedexe-no-listener-here"),
        std::string("relative/socket"), std::string(), "/" + std::string(200, 'x')}) {
    EXPECT_FALSE(posix::SendNotification(path, "READY=1\n")) << path;
  }
  // Neither a handler nor a report without the dispatcher.
  EXPECT_EQ(RegisterServiceControlHandler("schedExe", [](uint32_t) {}), nullptr);
  EXPECT_EQ(LastError(), kErrorServiceDoesNotExist);
  EXPECT_FALSE(ReportServiceStatus(nullptr, ServiceStatus{}));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
