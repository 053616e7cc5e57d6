#pragma once
// Where the scan worker's results go. The calls come on the worker's thread; a listener that
// shows them elsewhere hands them over itself (the main dialog queues them to its own thread).
#include "engine/Orvalink.h"

// What a listener can rely on, per scan:
// - OnRequestSent once the discover request is out (not for a request that could not be sent);
// - one OnDeviceFound per accepted reply, in the order the replies were accepted;
// - OnScanTruncated, just before OnScanDone, when the scan stopped at its time limit while
//   answers were still arriving, or lost answers to a full receive queue (the list may be
//   incomplete); OnAnswersLost before it in the second case;
// - OnInterfaceLost before OnScanDone when a subnet of an interface the request went out on was
//   gone by the scan's end, or its link went down meanwhile: a device still being asked its
//   hardware address may be reported without one, and the devices of that segment may be
//   missing (the list cannot be trusted);
// - then exactly one OnScanDone, also for a scan whose request could not be sent;
// - no call after CScanThread::SetListener has replaced or detached it (SetListener waits for a
//   call in progress), so a listener may be destroyed once it is detached.
// A listener must not call SetListener from inside its own calls.
class IScanListener {
public:
    virtual ~IScanListener() = default;
    virtual void OnDeviceFound(const COrvalink& device) = 0;
    virtual void OnScanDone() = 0;
    // The request is out: what can wait until then (reading a file) does not delay it.
    virtual void OnRequestSent() {}
    // listed: the devices the scan reported. Not every listener shows it, hence the default.
    virtual void OnScanTruncated(long listed) { static_cast<void>(listed); }
    // lost: the datagrams the kernel dropped during the scan because the queue was full.
    virtual void OnAnswersLost(long lost) { static_cast<void>(lost); }
    virtual void OnInterfaceLost() {}
};
