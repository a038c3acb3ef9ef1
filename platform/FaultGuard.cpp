#include "FaultGuard.h"

#ifndef _WIN32
#include <csetjmp>
#include <csignal>
#include <mutex>
#endif

namespace kestrove::platform {

#ifdef _WIN32

// Windows does not let a mapped file be cut short, so there is nothing to
// catch here.
bool RunGuarded(ByteView, void (*body)(void*), void* context) {
  body(context);
  return true;
}

#else

namespace {

struct Guard {
  sigjmp_buf jump;
  const std::uint8_t* low;
  const std::uint8_t* high;
  Guard* outer;
};

thread_local Guard* tGuard = nullptr;
struct sigaction gPrevious;

void OnBusError(int signal, siginfo_t* info, void* ucontext) {
  const auto* address = static_cast<const std::uint8_t*>(info->si_addr);
  for (Guard* g = tGuard; g != nullptr; g = g->outer) {
    if (address >= g->low && address < g->high) siglongjmp(g->jump, 1);
  }
  // Not ours: hand it to whoever handled it before.
  if (gPrevious.sa_flags & SA_SIGINFO) {
    gPrevious.sa_sigaction(signal, info, ucontext);
  } else if (gPrevious.sa_handler == SIG_IGN) {
    return;
  } else if (gPrevious.sa_handler == SIG_DFL) {
    ::signal(signal, SIG_DFL);  // returning re-runs the access and ends the process
  } else {
    gPrevious.sa_handler(signal);
  }
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPrevious);
  });
}

}  // namespace

bool RunGuarded(ByteView view, void (*body)(void*), void* context) {
  InstallHandler();
  Guard guard;
  guard.low = view.data;
  guard.high = view.data + view.size;
  guard.outer = tGuard;
  if (sigsetjmp(guard.jump, 1) != 0) {
    tGuard = guard.outer;
    return false;
  }
  tGuard = &guard;
  body(context);
  tGuard = guard.outer;
  return true;
}

#endif

}  // namespace kestrove::platform
