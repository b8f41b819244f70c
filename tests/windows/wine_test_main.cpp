// Entry point of the Windows test programs. Under Wine a program that
// crashes, aborts or hangs would otherwise end with no word about why (Wine's
// own messages are switched off for the runs, and a crash may bring up a
// debugger that waits for ever). This main:
// - leaves stdout and stderr unbuffered, so nothing printed is lost when the
//   program is stopped from outside;
// - reports an unhandled exception (code, address, running test) and
//   std::terminate / abort() the same way, then ends the program;
// - runs a watchdog that, when one test runs longer than its budget
//   (KTR_TEST_BUDGET_S, default 60 s, below ctest's time-out), names the
//   test and ends the program with status 3;
// - creates the file KTR_TEST_STARTED names, so that tests/windows/wine-run
//   can tell a program that Wine never started from one that failed.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex running_lock;
std::string running_test;  // "Suite.Name" while a test runs, else empty
std::chrono::steady_clock::time_point running_since;

std::string RunningTest() {
  std::lock_guard<std::mutex> hold(running_lock);
  return running_test.empty() ? std::string("(no test running)") : running_test;
}

[[noreturn]] void Die(unsigned code, const std::string& what) {
  std::fprintf(stderr, "\n%s during %s\n", what.c_str(), RunningTest().c_str());
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), code);
  std::_Exit(static_cast<int>(code));
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  char text[96];
  std::snprintf(text, sizeof text, "unhandled exception 0x%08lX at %p",
                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                info->ExceptionRecord->ExceptionAddress);
  Die(4, text);
}

void OnAbort(int) { Die(5, "abort()"); }

void OnTerminate() {
  std::string what = "std::terminate";
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      what += " (uncaught exception: " + std::string(e.what()) + ")";
    } catch (...) {
      what += " (uncaught exception)";
    }
  }
  Die(6, what);
}

class RunningTestTracker : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& info) override {
    std::lock_guard<std::mutex> hold(running_lock);
    running_test = std::string(info.test_suite_name()) + "." + info.name();
    running_since = std::chrono::steady_clock::now();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard<std::mutex> hold(running_lock);
    running_test.clear();
  }
};

void StartWatchdog(std::chrono::seconds budget) {
  std::thread([budget] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      std::lock_guard<std::mutex> hold(running_lock);
      if (!running_test.empty() && std::chrono::steady_clock::now() - running_since > budget) {
        std::fprintf(stderr, "\nwatchdog: %s still running after %lld s; stopping the program\n",
                     running_test.c_str(), static_cast<long long>(budget.count()));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }).detach();
}

void MarkStarted() {
  const char* path = std::getenv("KTR_TEST_STARTED");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* f = std::fopen(path, "w")) std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  // No error boxes and no debugger: a crash is reported here and ends.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(OnUnhandledException);
  std::signal(SIGABRT, OnAbort);
  std::set_terminate(OnTerminate);
  MarkStarted();

  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new RunningTestTracker);
  long budget = 60;
  if (const char* text = std::getenv("KTR_TEST_BUDGET_S")) budget = std::strtol(text, nullptr, 10);
  if (budget > 0) StartWatchdog(std::chrono::seconds(budget));
  return RUN_ALL_TESTS();
}
