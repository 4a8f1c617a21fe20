// Peer classification without waiting on the event-loop thread.
// ClassifyPeer (access_lock.h) may wait up to 1 s for an on-link neighbour
// that does not answer; these forms never do: what the address, the routes
// or the neighbour table tell is answered at once, the rest is resolved on
// a NeighbourResolver's worker thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/env.h"
#include "platform/neighbours.h"

namespace qb {

// Answers are kept this long for the two forms below (ClassifyPeer neither
// reads nor fills the cache).
constexpr int64_t kPeerClassCacheMs = 30000;

// The class without waiting: from an answer of the last kPeerClassCacheMs,
// or what ClassifyPeer would answer without waiting. False when only asking
// the neighbour could tell.
// The cache's time is `env`'s.
bool ClassifyPeerIfKnown(const Env& env, const char* ipText, int* peerClass);

// As ClassifyPeerIfKnown; when that cannot tell, the resolution goes to
// `resolver` and the result is false: done(peerClass) is then called on the
// resolver's worker thread (never when the resolver is destroyed first),
// with the class ClassifyPeer would have given.
// `env` must outlive the resolver.
bool ClassifyPeerOrResolve(const Env& env, NeighbourResolver& resolver, const char* ipText,
                           int* peerClass, std::function<void(int peerClass)> done);

void ClearPeerClassCache();

}  // namespace qb
