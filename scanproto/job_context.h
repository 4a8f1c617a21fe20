// What a message handler may ask of the server that owns its connection:
// send the reply, run slow document steps off the loop, close the job, and
// reach the environment and the program's hooks. The server sets
// ScanJob::context at accept; handlers include this header, never the
// server's own.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/env.h"
#include "scanproto/scan_job.h"
#include "storage/delivery.h"
#include "storage/receiver_events.h"

namespace qb {

class JobContext {
 public:
  // Clocks, free space, file writes and socket sends of this server.
  virtual Env& env() = 0;
  virtual const ReceiverEvents& hooks() const = 0;
  // The end of every stored document: commit, log, announcement, extension.
  virtual const DocumentDelivery& delivery() const = 0;

  // Sends the reply in job.txBuffer (body at offset 2, txLength set) on the
  // job's socket; a partly sent reply goes on at the next writable event. A
  // failed send closes the job.
  virtual void SendPacket(ScanJob& job) = 0;
  // Runs the slow steps of one of the job's documents (conversion, the
  // user's extension library, waiting for the disk) away from the event
  // loop, then `done` on the loop. Until `done` has run the job is held:
  // nothing more is read from its printer (what it sends waits in the
  // kernel, so the order it sees is kept), it does not time out, and a
  // close waits. `done` may start further work. A job outside the server's
  // table runs both at once.
  virtual void RunDocumentWork(ScanJob& job, std::function<void()> work,
                               std::function<void()> done) = 0;
  // Marks the job's connection for closing: it sends nothing more and is
  // ended once the event that is being handled has been handled, so a
  // handler never finds its job gone.
  virtual void CloseJob(ScanJob& job) = 0;
  // How many printers of this server are sending raw page data now (their
  // jobs between an image header of the raw road and its page end).
  virtual size_t JobsReceivingRawData() const = 0;

 protected:
  ~JobContext() = default;
};

}  // namespace qb
