#pragma once

#include "link/jsonrpchandler.h"
#include "support/duplexdevice.h"

// A JSON-RPC client wired to a fake server program over an in-memory device, with
// the start marker already sent: what the client writes is read with
// server.takeRequests(), replies go back with server.replyResult()/replyError().
struct FakeLink
{
    DuplexDevice device;
    FakeRpcServer server{&device};
    JsonRpcHandler handler{&device, nullptr};

    FakeLink() { server.sendMarker(); }
};
