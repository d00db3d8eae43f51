#include <gtest/gtest.h>

#include <string>

#include "platform/posix/notify_socket.h"
#include "platform/process_info.h"
#include "platform/service_dispatcher.h"
#include "platform/testing.h"
#include "support/scoped_globals.h"

namespace platform {
namespace {

ServiceStatus Status(uint32_t state, uint32_t check_point, uint32_t wait_hint,
                     uint32_t controls, uint32_t win32, uint32_t specific) {
  ServiceStatus s;
  s.service_type = kServiceWin32OwnProcess;
  s.current_state = state;
  s.check_point = check_point;
  s.wait_hint = wait_hint;
  s.controls_accepted = controls;
  s.win32_exit_code = win32;
  s.service_specific_exit_code = specific;
  return s;
}

TEST(ServiceDispatcherPosixTest, StatusNotificationCarriesEveryFieldAndSystemdState) {
  EXPECT_EQ(posix::StatusNotification(Status(kServiceStartPending, 2, 1000, 0, 0, 0)),
            "STATUS=START_PENDING\n"
            "X_SCHEDEXE_STATE=2\n"
            "X_SCHEDEXE_CHECKPOINT=2\n"
            "X_SCHEDEXE_WAIT_HINT=1000\n"
            "X_SCHEDEXE_CONTROLS=0\n"
            "X_SCHEDEXE_WIN32_EXIT_CODE=0\n"
            "X_SCHEDEXE_SERVICE_EXIT_CODE=0\n");
  EXPECT_EQ(posix::StatusNotification(Status(kServiceRunning, 0, 0, 7, 0, 0)),
            "STATUS=RUNNING\n"
            "X_SCHEDEXE_STATE=4\n"
            "X_SCHEDEXE_CHECKPOINT=0\n"
            "X_SCHEDEXE_WAIT_HINT=0\n"
            "X_SCHEDEXE_CONTROLS=7\n"
            "X_SCHEDEXE_WIN32_EXIT_CODE=0\n"
            "X_SCHEDEXE_SERVICE_EXIT_CODE=0\n"
            "READY=1\n");
  EXPECT_EQ(posix::StatusNotification(Status(kServiceStopPending, 1, 5000, 7, 0, 0)),
            "STATUS=STOP_PENDING\n"
            "X_SCHEDEXE_STATE=3\n"
            "X_SCHEDEXE_CHECKPOINT=1\n"
            "X_SCHEDEXE_WAIT_HINT=5000\n"
            "X_SCHEDEXE_CONTROLS=7\n"
            "X_SCHEDEXE_WIN32_EXIT_CODE=0\n"
            "X_SCHEDEXE_SERVICE_EXIT_CODE=0\n"
            "STOPPING=1\n");
  const std::string stopped =
      posix::StatusNotification(Status(kServiceStopped, 0, 0, 7, 1066, 4294967295u));
  EXPECT_NE(stopped.find("STATUS=STOPPED\n"), std::string::npos);
  EXPECT_NE(stopped.find("X_SCHEDEXE_WIN32_EXIT_CODE=1066\n"), std::string::npos);
  EXPECT_NE(stopped.find("X_SCHEDEXE_SERVICE_EXIT_CODE=4294967295\n"), std::string::npos);
  EXPECT_EQ(stopped.find("READY"), std::string::npos);
  EXPECT_EQ(stopped.find("STOPPING"), std::string::npos);
  EXPECT_EQ(posix::StatusNotification(Status(kServicePaused, 0, 0, 7, 0, 0))
                .find("STATUS=PAUSED\n"),
            0u);
}

TEST(ServiceDispatcherPosixTest, OutsideSystemdNothingCanBeReported) {
  // No listener, no usable address: the report fails.
  EXPECT_FALSE(posix::SendNotification("/nonexistent/schedexe-notify", "READY=1\n"));
  EXPECT_FALSE(posix::SendNotification("@schedexe-no-listener-here", "READY=1\n"));
  EXPECT_FALSE(posix::SendNotification("relative/socket", "READY=1\n"));
  EXPECT_FALSE(posix::SendNotification("", "READY=1\n"));
  EXPECT_FALSE(posix::SendNotification("/" + std::string(200, 'x'), "READY=1\n"));
  // The dispatcher refuses at once, as outside the service control manager.
  {
    testsupport::ScopedEnv no_socket("NOTIFY_SOCKET", nullptr);
    static bool service_main_ran = false;
    EXPECT_FALSE(RunServiceDispatcher("schedExe",
                                      [](uint32_t, char**) { service_main_ran = true; }));
    EXPECT_EQ(LastError(), kErrorFailedServiceControllerConnect);
    EXPECT_FALSE(service_main_ran);
  }
  // Neither a handler nor a report without the dispatcher.
  EXPECT_EQ(RegisterServiceControlHandler("schedExe", [](uint32_t) {}), nullptr);
  EXPECT_EQ(LastError(), kErrorServiceDoesNotExist);
  ServiceStatus status;
  EXPECT_FALSE(ReportServiceStatus(nullptr, status));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
