#include "platform/detached_thread.h"

#include <pthread.h>
#include <signal.h>

#include <memory>

namespace qb {
namespace {

void* RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

}  // namespace

bool StartDetachedThread(size_t stackBytes, std::function<void()> body) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackBytes >= static_cast<size_t>(PTHREAD_STACK_MIN)) ::pthread_attr_setstacksize(&attributes, stackBytes);

  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  sigset_t all, previous;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_t thread;
  const int result = ::pthread_create(&thread, &attributes, RunBody, owned.get());
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::pthread_attr_destroy(&attributes);
  if (result != 0) return false;
  owned.release();  // the thread owns it now
  return true;
}

}  // namespace qb
