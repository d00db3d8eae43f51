// The program's sources are not a library of their own; the test compiles
// the one it checks.
#include "service/service_control.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace service {
namespace {

using platform::ServiceStatus;

constexpr uint32_t kAllControls = 7;

// Records every status report; can fail one report or a start step.
class FakeServiceEnvironment final : public ServiceEnvironment {
 public:
  platform::ServiceStatusHandle RegisterHandler(
      const char* name, platform::ServiceControlHandler control_handler) override {
    std::lock_guard<std::mutex> g(mutex_);
    registered_name = name;
    handler = control_handler;
    return register_fails ? nullptr : &handle_;
  }
  bool SetStatus(platform::ServiceStatusHandle handle, const ServiceStatus& status) override {
    std::lock_guard<std::mutex> g(mutex_);
    if (handle != &handle_) wrong_handle = true;
    const bool ok = static_cast<int>(reports_.size()) != failing_report;
    reports_.push_back(status);
    changed_.notify_all();
    return ok;
  }
  uint32_t LastError() override { return 1053; }
  bool StartWorker() override {
    ++worker_starts;
    return !worker_start_fails;
  }
  void PauseWorker() override { ++pauses; }
  void ResumeWorker() override { ++resumes; }

  // Waits (real time, bounded) until `n` reports have been made. The test
  // reads the fields below only after this or after ServiceMain returned:
  // both order them after the writes.
  bool AwaitReports(size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return reports_.size() >= n; });
  }
  std::vector<ServiceStatus> Reports() {
    std::lock_guard<std::mutex> g(mutex_);
    return reports_;
  }

  std::string registered_name;
  platform::ServiceControlHandler handler = nullptr;
  bool wrong_handle = false;
  bool register_fails = false;
  bool worker_start_fails = false;
  int failing_report = -1;  // index of the report that fails
  std::atomic<int> worker_starts{0};
  std::atomic<int> pauses{0};
  std::atomic<int> resumes{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ServiceStatus> reports_;
  int handle_ = 0;
};

// A report as the tests compare it: state, checkpoint, wait hint, controls,
// Win32 code, service-specific code, service type.
using Report = std::array<uint32_t, 7>;

std::vector<Report> Summary(const std::vector<ServiceStatus>& reports) {
  std::vector<Report> out;
  for (const ServiceStatus& s : reports) {
    out.push_back({s.current_state, s.check_point, s.wait_hint, s.controls_accepted,
                   s.win32_exit_code, s.service_specific_exit_code, s.service_type});
  }
  return out;
}

const Report kStart1{2, 1, 5000, 0, 0, 0, 16};
const Report kStart2{2, 2, 1000, 0, 0, 0, 16};
const Report kRunning{4, 0, 0, kAllControls, 0, 0, 16};
const Report kPausePending{6, 1, 1000, kAllControls, 0, 0, 16};
const Report kPaused{7, 0, 0, kAllControls, 0, 0, 16};
const Report kStopPending{3, 1, 5000, kAllControls, 0, 0, 16};
const Report kStopped{1, 0, 0, kAllControls, 0, 0, 16};

class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetServiceStateForTesting();
    SetServiceEnvironment(&env_);
  }
  void TearDown() override {
    if (service_main_.joinable()) {
      // Whatever happened, do not leave ServiceMain waiting.
      StopService();
      service_main_.join();
    }
    SetServiceEnvironment(nullptr);
  }

  // Runs ServiceMain until it is running.
  void StartRunning() {
    service_main_ = std::thread([this] {
      char name[] = "schedExe";
      char* argv[] = {name, nullptr};
      ServiceMain(1, argv);
      finished_ = true;
    });
    ASSERT_TRUE(env_.AwaitReports(3));
    ASSERT_NE(env_.handler, nullptr);
  }
  // ServiceMain returned within a bounded time.
  void JoinServiceMain() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!finished_.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(finished_.load()) << "ServiceMain did not return";
    if (!finished_.load()) StopService();
    service_main_.join();
  }
  void Control(uint32_t code) { env_.handler(code); }

  FakeServiceEnvironment env_;
  std::thread service_main_;
  std::atomic<bool> finished_{false};
};

// The end-to-end suites follow the reports through the state table; this
// checks what they cannot see: the worker's pause and resume calls.
TEST_F(ServiceControlTest, ControlsMoveTheWorkerOnlyWhereTheStateTableSays) {
  StartRunning();
  EXPECT_EQ(env_.registered_name, "schedExe");
  EXPECT_EQ(env_.worker_starts.load(), 1);
  // Nothing to continue; interrogate, shutdown and unknown codes report
  // nothing and leave the worker alone.
  for (uint32_t code : {platform::kControlContinue, platform::kControlInterrogate,
                        platform::kControlShutdown, 99u}) {
    Control(code);
  }
  EXPECT_EQ(env_.Reports().size(), 3u);
  EXPECT_EQ(env_.resumes.load(), 0);
  Control(platform::kControlPause);
  EXPECT_TRUE(WorkerPaused());
  Control(platform::kControlPause);  // already paused
  EXPECT_EQ(env_.pauses.load(), 1);
  // Stop while paused: the worker stays held.
  Control(platform::kControlStop);
  JoinServiceMain();
  EXPECT_EQ(env_.resumes.load(), 0);
  EXPECT_FALSE(WorkerRunning());
  // After a stop, pause and continue are ignored.
  Control(platform::kControlPause);
  Control(platform::kControlContinue);
  EXPECT_EQ(Summary(env_.Reports()), (std::vector<Report>{kStart1, kStart2, kRunning, kPausePending,
                                                          kPaused, kStopPending, kStopped}));
  EXPECT_FALSE(env_.wrong_handle);
}

TEST_F(ServiceControlTest, ReportFillsTheStatusRecord) {
  // The state table's reports are checked above; here the exit codes.
  ASSERT_EQ(ReportStatus(4, 5, 3, 0, 0), 1);
  ASSERT_EQ(ReportStatus(1, 5, 0, 0, 0), 1);
  // A service-specific code turns the Win32 code into 1066.
  EXPECT_EQ(Summary(env_.Reports()), (std::vector<Report>{{4, 0, 0, kAllControls, 1066, 3, 16},
                                                          {1, 0, 0, kAllControls, 5, 0, 16}}));

  // A report that cannot be delivered stops the service.
  StartWorkerThread();
  env_.failing_report = 2;
  EXPECT_EQ(ReportStatus(4, 0, 0, 0, 0), 0);
  EXPECT_FALSE(WorkerRunning());
  // Stopped while not paused: a pause has nothing to hold any more.
  ServiceCtrlHandler(platform::kControlPause);
  EXPECT_EQ(env_.Reports().size(), 3u);
  EXPECT_EQ(env_.pauses.load(), 0);
}

TEST_F(ServiceControlTest, AFailedStartStepReportsStoppedWithItsError) {
  struct Case {
    const char* name;
    bool register_fails;
    int failing_report;
    bool worker_start_fails;
    std::vector<Report> reports;
    int worker_starts;
  };
  const Report stopped_with_error{1, 0, 0, kAllControls, 1053, 0, 16};
  const std::vector<Case> cases = {
      // No handle: nothing can be reported.
      {"register", true, -1, false, {}, 0},
      {"first report", false, 0, false, {kStart1, stopped_with_error}, 0},
      {"second report", false, 1, false, {kStart1, kStart2, stopped_with_error}, 0},
      {"worker", false, -1, true, {kStart1, kStart2, stopped_with_error}, 1},
      {"running report", false, 2, false, {kStart1, kStart2, kRunning, stopped_with_error}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServiceEnvironment env;
    env.register_fails = c.register_fails;
    env.failing_report = c.failing_report;
    env.worker_start_fails = c.worker_start_fails;
    ResetServiceStateForTesting();
    SetServiceEnvironment(&env);
    char name[] = "schedExe";
    char* argv[] = {name, nullptr};
    // Returns by itself: no control is needed.
    ServiceMain(1, argv);
    EXPECT_EQ(Summary(env.Reports()), c.reports);
    EXPECT_EQ(env.worker_starts.load(), c.worker_starts);
    EXPECT_FALSE(WorkerRunning());
  }
}

TEST_F(ServiceControlTest, AFailedReportWhileRunningStopsTheService) {
  env_.failing_report = 4;  // the paused report
  StartRunning();
  Control(platform::kControlPause);
  ASSERT_TRUE(env_.AwaitReports(6));
  JoinServiceMain();
  // ServiceMain was waiting: it cleans up with exit code 0.
  EXPECT_EQ(Summary(env_.Reports()),
            (std::vector<Report>{kStart1, kStart2, kRunning, kPausePending, kPaused, kStopped}));
  EXPECT_EQ(env_.pauses.load(), 1);
  EXPECT_FALSE(WorkerRunning());

  // A stop that comes after the event was closed is harmless.
  Control(platform::kControlStop);
  EXPECT_EQ(Summary(env_.Reports()), (std::vector<Report>{kStart1, kStart2, kRunning, kPausePending,
                                                          kPaused, kStopped, kStopPending}));
}

}  // namespace
}  // namespace service
