// The name-resolve responder: a UDP socket on port 37010 of the event loop
// that owns it. Printers ask for the PC by name and get our name back; the
// ones that asked are kept in the host table; when our own addresses
// change the printers are told our name again; another PC's fax-receive
// handler broadcast is handed to the local fax companion.
//
// Everything but RequestAnnounceToHosts runs on the loop's thread: the host
// list has no lock, calls from elsewhere are posted to the loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock_text.h"
#include "platform/event_loop.h"

namespace qb {

struct NameServiceOptions {
  // The port to bind; in-process tests pass 0 (a free port, NameServicePort).
  uint16_t port = 37010;
  // Our name: the host name up to its first ".", at most 32 characters,
  // as the scan server keeps it.
  std::string ownName;
  // Service mode: each new record is written to the file at once.
  bool saveEachRecord = false;
  // Tests: every datagram we send to (address, port) goes to what this
  // leaves there instead (the reply ports 37010/37011 and the broadcast
  // are fixed by the protocol); false drops it. Unset: sent as addressed.
  std::function<bool(uint32_t* address, uint16_t* port)> redirect;
  // Tests: what a fax-receive handler announcement is handed to. Unset:
  // the fax companion, through a hand-off thread.
  std::function<void(const char* upperName, const char* ip)> faxHandOff;
  // Tests: the local time of records and of the age rule. Unset: the clock.
  std::function<LocalDateTime()> now;
};

// Locates and loads the host table, opens the socket on the loop and binds
// it. A socket that cannot be created is told in a message box; one that
// cannot be bound is closed silently. Either way the service stays off for
// the run and the result is false.
bool OpenNameService(EventLoop& loop, NameServiceOptions options);
// Saves the host table and closes the socket; ends the hand-off thread
// (cutting a running hand-off short). Loop thread; does nothing when closed.
void CloseNameService();
// The bound port; 0 when the service is not running.
uint16_t NameServicePort();

// Any thread (the address-change monitor): runs AnnounceToHosts on the
// service's loop. Does nothing when the service is not running.
void RequestAnnounceToHosts();

// Loop thread. Tells every printer of the host list our name when our
// addresses changed since last time or an announcement is due; 1 when
// nothing had to be sent, 0 otherwise (and when the service is closed).
int AnnounceToHosts();
// Loop thread. Broadcasts our fax-receive handler announcement.
void BroadcastFaxHandler();
// Loop thread. Writes the host table, merged with what other instances wrote.
void SaveHostTable();

// What the socket's read event does with one received datagram (`size`
// bytes, any length) from sender:port (host order). For in-process
// drivers (fuzzing) that feed datagrams without a socket; loop thread,
// while the service is open.
void HandleNameDatagram(const uint8_t* data, size_t size, uint32_t senderAddress,
                        uint16_t senderPort);

}  // namespace qb
