// Which printers the scan server serves (by the vendor prefix of their
// hardware address), and a short-lived list of peers locked out for
// misbehaving: a lock lasts until it is 300 seconds old.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

// Peer classes.
constexpr int kClassOther = 1;  // not a served printer, 127.0.0.1, or unknown address
constexpr int kClassGroupA = 2;
constexpr int kClassGroupB = 3;
constexpr int kClassUndetermined = 99;  // address resolution failed: let it through

constexpr size_t kMaxLockedClients = 3000;

// The class of a peer given as dotted IPv4 text.
int ClassifyPeer(const char* ipText);

// Locks the peer (dotted IPv4 text) at `nowSeconds` (wall clock, from the
// server's Env); an address already locked keeps its first lock time.
void LockClient(const char* ipText, int64_t nowSeconds);
// Purges locks expired at `nowSeconds` and answers whether the peer is locked.
bool IsLocked(const char* ipText, int64_t nowSeconds);
// Number of entries in the list (after the last purge).
size_t LockedClientCount();

// Forgets every lock.
void ClearLockedClients();

}  // namespace qb
