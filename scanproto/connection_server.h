// The TCP side of the scan protocol: the job listener (37100) and the
// direct listener (37101), admission, the greeting, length-framed packets,
// framed replies, idle time-out and the table of open connections. Runs on
// the main thread only, driven by socket notification of the event loop.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/event_loop.h"
#include "scanproto/scan_job.h"

namespace qb {

constexpr int kConnectionSlots = 110;
constexpr uint64_t kDiskFloorBytes = 10240000;  // below this a printer is refused
constexpr uint32_t kIdleLimitSeconds = 240;

// Messages of the communication window.
constexpr uint32_t WM_SOCK_JOB_ACCEPT = WM_USER + 1;
constexpr uint32_t WM_SOCK_DIRECT_ACCEPT = WM_USER + 2;
constexpr uint32_t WM_SOCK_NAME_SERVICE = WM_USER + 3;
constexpr uint32_t WM_SOCK_EVENT = WM_USER + 4;
constexpr uint32_t WM_SEND_RESULT = WM_USER + 5;
constexpr uint32_t TVS_CON_TIME_OUT = WM_USER + 9;
constexpr uint64_t IDT_IDLE_CHECK = 1030;

// Messages to the main window.
constexpr uint32_t IDC_CONNECT_OPEN = 2001;
constexpr uint32_t IDC_CONNECT_CLOSE = 2003;
constexpr uint32_t kCmdServerStartFailed = 1002;  // WM_COMMAND id
constexpr uint32_t kCmdTrayState = 1015;          // WM_COMMAND id, lParam = state
constexpr uint32_t kCmdNewFileNotice = 40003;     // WM_COMMAND id: announce a new file

// What the server needs from the rest of the program. Unset members do
// nothing (the disk query measures through storage when unset).
struct ScanServerHooks {
  // Free bytes of the volume of a folder; a failed query counts as 0.
  std::function<uint64_t(const char* folder)> freeBytes;
  // Status notification to the configuration program.
  std::function<void(uint32_t message, int64_t value)> notifyConfig;
  // The user's "a document has arrived" signal.
  std::function<void()> receiveEndSignal;
  // Creates the name-resolve responder once the listeners run.
  std::function<void(Window* commWindow)> startNameService;
};

// The hooks given at start (empty ones when the server is not running).
const ScanServerHooks& ServerHooks();
// Sends (synchronously) a message to the main window, if there is one.
int64_t SendToMainWindow(uint32_t message, uint64_t wParam, int64_t lParam);

// The ports the two listeners bind. The program always uses the fixed
// ones; in-process tests pass 0 (any free port, see BoundPort) so that they
// can run side by side. A connection's `listenPort` is always kJobPort or
// kDirectPort: it names the listener's role, whatever port it bound.
struct ListenPorts {
  uint16_t job = kJobPort;
  uint16_t direct = kDirectPort;
};

// Creates the communication window and starts the listeners. On failure
// the main window receives WM_COMMAND 1002 and the result is false. With
// `listen` false no port is opened: connections then come only through
// AdoptConnection.
bool StartCommunication(EventLoop& loop, Window* mainWindow, ScanServerHooks hooks,
                        bool listen = true, ListenPorts ports = ListenPorts{});
// The port the listener of `role` (kJobPort or kDirectPort) is bound to; 0
// when it is not listening.
uint16_t BoundPort(uint16_t role);
// Closes every connection and both listeners.
void StopCommunication();
// Serves `socket`, a connected stream socket of any family, as a connection
// that the listener of `listenPort` (kJobPort or kDirectPort) has just
// accepted from `peerAddress` (IPv4, host order): access lock, admission and
// greeting go as after accept(). The socket is made non-blocking and belongs
// to the server from then on. For in-process drivers such as the fuzz
// targets, which hand over one end of a socket pair; without a running
// server the socket is closed.
void AdoptConnection(int socket, uint16_t listenPort, uint32_t peerAddress);
// The communication window (null when not started).
Window* CommunicationWindow();

// Sends the reply in job.txBuffer (body at offset 2, txLength set). Result
// through WM_SEND_RESULT; a partly sent reply goes on at the next write event.
void SendPacket(ScanJob& job);
// Ends a connection and frees its job: at once outside the server's
// message handling; asked for inside it (a handler whose reply failed, a
// time-out found during the idle pass), when the outermost handling
// returns, so a handler never finds its job gone. Until then the job is
// marked `closing` and sends nothing.
void CloseJob(ScanJob& job);

ScanJob* FindJob(int socket);
ScanJob* FirstJob();
// The job after `job` in slot order; null when `job` is no longer in the table.
ScanJob* NextJob(const ScanJob* job);

// Open job-port connections (refused ones included).
int JobCount();
// The host name up to the first ".", at most 32 characters.
const char* LocalHostName();

}  // namespace qb
