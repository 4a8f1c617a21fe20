// quillbox: receives scanned documents from networked printers.
#include "app/receiver.h"
#include "platform/event_loop.h"

int main() {
  qb::EventLoop loop;
  return qb::RunReceiver(loop);
}
