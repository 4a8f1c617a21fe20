#include "platform/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qb {
namespace {

// Runs the loop until `done` holds, at most about two seconds.
template <typename Done>
bool RunUntil(EventLoop& loop, Done done) {
  for (int i = 0; i < 200 && !done(); ++i) loop.RunOnce(10);
  return done();
}

TEST(WorkerPool, WorkRunsOffTheLoopAndItsCompletionOnIt) {
  EventLoop loop(Env::Default());
  WorkerPool pool;
  std::thread::id workThread, doneThread;
  bool done = false;
  pool.Run(
      loop, [&] { workThread = std::this_thread::get_id(); },
      [&] {
        doneThread = std::this_thread::get_id();
        done = true;
      });
  ASSERT_TRUE(RunUntil(loop, [&] { return done; }));
  EXPECT_NE(workThread, std::this_thread::get_id());
  EXPECT_EQ(doneThread, std::this_thread::get_id());
}

TEST(WorkerPool, StuckWorkDoesNotQueueOtherWorkBehindIt) {
  EventLoop loop(Env::Default());
  WorkerPool pool;
  std::atomic<bool> release{false};
  bool stuckDone = false, quickDone = false;
  pool.Run(
      loop,
      [&] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      [&] { stuckDone = true; });
  pool.Run(
      loop, [] {}, [&] { quickDone = true; });
  EXPECT_TRUE(RunUntil(loop, [&] { return quickDone; }));
  EXPECT_FALSE(stuckDone);
  EXPECT_FALSE(pool.WaitIdle(20));
  release = true;
  EXPECT_TRUE(pool.WaitIdle(2000));
  EXPECT_TRUE(RunUntil(loop, [&] { return stuckDone; }));
}

TEST(WorkerPool, CompletionOfWorkThatOutlivesThePoolIsDropped) {
  EventLoop loop(Env::Default());
  std::atomic<bool> started{false}, release{false}, finished{false};
  bool done = false;
  {
    WorkerPool pool(1);
    pool.Run(
        loop,
        [&] {
          started = true;
          while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          finished = true;
        },
        [&] { done = true; });
    // Work still queued when the pool ends is dropped: wait until this one
    // runs (a loaded machine may start the worker late).
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pool.Run(
        loop, [] { ADD_FAILURE() << "queued work ran after the pool ended"; }, [] {});
    EXPECT_FALSE(pool.WaitIdle(10));
  }
  release = true;
  while (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (int i = 0; i < 20; ++i) loop.RunOnce(5);
  EXPECT_FALSE(done);
}

}  // namespace
}  // namespace qb
