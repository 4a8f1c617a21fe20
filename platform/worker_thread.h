// The program's own worker threads start with every signal blocked: the
// termination signals are read through a signalfd on the main thread, which
// only works while no thread takes them, whenever the worker is created.
#pragma once

#include <functional>
#include <thread>

namespace qb {

std::thread StartWorkerThread(std::function<void()> body);

}  // namespace qb
