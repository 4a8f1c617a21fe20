#include "platform/worker_thread.h"

#include <signal.h>

namespace qb {

std::thread StartWorkerThread(std::function<void()> body) {
  sigset_t all, previous;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread worker(std::move(body));
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return worker;
}

}  // namespace qb
