#pragma once
// BusBroker.dll: the sandbox's message bus service. A real in-process broker
// with its own delivery threads, standing in for the framework's bus service.
//
// Exports (by name, see BusBroker.def):
//   const Orvik::MessageBusFunctions* CreateObject(uint32_t interfaceVersion)
//       the ten-entry function table for interface version 2001000; null for any other
//   void ReleaseObject()            does nothing
//   uint32_t GetVersionNum()        2001000
//   const char* GetVersionStr()     "2.1.0"
//
// Handles. `open` gives each caller its own connection handle; `close` ends it,
// dropping its subscriptions and requests. Every other entry refuses a handle
// that is not open with MODULE_STATUS_INVALID_HANDLE (a subscription answers id 0).
//
// Routing. A publish reaches every subscription whose message name equals the
// message name exactly, then every pattern subscription whose ECMAScript
// pattern (std::wregex) matches the whole name. A pattern that does not
// compile is refused (id 0). Publishing to no subscriber succeeds; a request to
// no subscriber is refused with MODULE_STATUS_NO_SUBSCRIBERS and gets no reply
// callback. publishEx and requestEx behave exactly as publish and request.
//
// Delivery. Callbacks run on the broker's pool of four delivery threads, never
// on the caller's thread, so callbacks for different messages run at the same
// time and no order between them is promised. The header, texts and payload
// handed to a callback are valid for the duration of the call only.
//
// Header. The broker fills in every header it delivers:
//   - version 2: a version-1 header (anything but 2 at offset 10) is read as its
//     first 100 bytes and gains the session extension;
//   - total size recomputed from the three texts;
//   - the service block at offset 12: uint64 sequence number of the message on
//     this broker (from 1) at 12, uint64 sending connection number at 20,
//     uint64 FILETIME of acceptance at 28, the rest zero;
//   - the session extension (kind 11, size 8) carrying the sending connection's
//     session, that is the Windows session of the process that opened it.
//
// Requests and replies. `request` stamps the request it delivers with a
// non-zero 64-bit reply token, stored little-endian in the 8 routing bytes at
// offset 92, and clears flag bit 0 (reply). A responder answers by publishing
// (on any connection) a message whose header has flag bit 0 set and carries
// that same token at offset 92 — copying the delivered request's header into
// the reply and setting bit 0 does both. Such a reply goes only to the
// requester, as one ReplyCallback with status 0; it is not routed to
// subscribers. A reply whose token names no waiting request (never issued,
// already answered, timed out or cancelled) is refused with
// MODULE_STATUS_NOT_FOUND. A message with bit 0 set and a zero token is routed
// as an ordinary publish.
//
// Time limits. A request must carry a positive time limit in milliseconds
// (else MODULE_STATUS_INVALID_PARAMETER). When it passes without a reply, the
// requester gets exactly one ReplyCallback with MODULE_STATUS_TIMEOUT, the
// request's own header, name and sender, and an empty payload. Each accepted
// request ends with exactly one ReplyCallback unless it is cancelled first.
//
// Teardown guarantee. When `unsubscribe`, `cancelRequests` or `close` returns,
// no callback for those subscriptions or requests is running or will start.
// They wait for callbacks in flight on other threads; a callback in flight on
// the calling thread itself (a callback that unsubscribes or cancels) is not
// waited for. `cancelRequests(handle, callback)` cancels the connection's
// requests made with that ReplyCallback (all of them for a null callback);
// cancelled requests get no callback at all. Two callbacks that each wait, in
// `unsubscribe`, for the other's subscription wait forever: don't.

#include "message/MessageBusFunctions.h"

#include <cstdint>

extern "C" {
const Orvik::MessageBusFunctions* CreateObject(std::uint32_t interfaceVersion);
void ReleaseObject();
std::uint32_t GetVersionNum();
const char* GetVersionStr();
}
