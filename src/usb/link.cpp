// Link transfer: reset, one command written, one command exchanged with its reply.
// No state of its own; every operation returns success or what failed.
#include <algorithm>

#include "platform/platform.h"
#include "usb/Vorna_FTD201.h"
#include "usb/d2xx_calls.h"
#include "usb/link_internal.h"

namespace zelk::usb {

namespace {

constexpr UCHAR kLatencyMs = 2;

LinkError Fault(LinkFault kind, uint8_t code, uint32_t wanted = 0, uint32_t got = 0) {
    LinkError e{kind};
    e.command = code;
    e.wanted = wanted;
    e.got = got;
    return e;
}

}  // namespace

LinkResult ResetLink(const D2xxApi& api, FT_HANDLE h) {
    FT_STATUS s = call::ResetDevice(api, h);
    if (s == FT_OK) s = call::SetLatencyTimer(api, h, kLatencyMs);
    if (s != FT_OK) {
        LinkError e{LinkFault::D2xxCall, LinkStep::LinkReset};
        e.ftStatus = s;
        return e;
    }
    return {};
}

LinkResult SendCommand(const D2xxApi& api, FT_HANDLE h, uint8_t code, uint8_t count, const LinkBuffer& data) {
    uint8_t packet[kMaxPacketSize];
    const int length = BuildPacket(code, count, data.data(), packet, kMaxPacketSize);
    DWORD written = 0;
    if (const FT_STATUS s = call::Write(api, h, packet, static_cast<DWORD>(length), &written); s != FT_OK) {
        LinkError e = Fault(LinkFault::WriteCall, code);
        e.ftStatus = s;
        return e;
    }
    if (written != static_cast<DWORD>(length))
        return Fault(LinkFault::WriteShort, code, static_cast<uint32_t>(length), written);
    return {};
}

LinkResult ExchangeCommand(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, uint8_t code, bool rawReply,
                           LinkBuffer& buffer, uint8_t& count) {
    // Stale bytes of earlier commands (whose replies are never read) must not pass for this reply.
    if (const FT_STATUS s = call::Purge(api, h, FT_PURGE_RX | FT_PURGE_TX); s != FT_OK) {
        LinkError e = Fault(LinkFault::D2xxCall, code);
        e.ftStatus = s;
        return e;
    }
    if (LinkResult r = SendCommand(api, h, code, count, buffer); !r.ok()) return r;

    const uint32_t expected = static_cast<uint32_t>(ExpectedReplyLength(code));
    const uint32_t start = clock.NowMs();
    DWORD queued = 0;
    uint32_t elapsed = 0;
    do {
        clock.SleepMs(1);
        if (const FT_STATUS s = call::GetQueueStatus(api, h, &queued); s != FT_OK) {
            LinkError e = Fault(LinkFault::QueueCall, code);
            e.ftStatus = s;
            return e;
        }
        elapsed = clock.NowMs() - start;
    } while (queued < expected && elapsed <= timeoutMs);
    if (elapsed > timeoutMs) {
        LinkError e = Fault(LinkFault::NoReply, code, expected, queued);
        e.timeoutMs = timeoutMs;
        return e;
    }

    if (const FT_STATUS s = call::GetQueueStatus(api, h, &queued); s != FT_OK) {
        LinkError e = Fault(LinkFault::QueueCall, code);
        e.ftStatus = s;
        return e;
    }
    // A reply longer than the buffer is read only as far as it fits; its length fails below.
    uint8_t reply[kLinkBufferSize];
    const DWORD requested = std::min<DWORD>(queued, kLinkBufferSize);
    DWORD got = 0;
    if (const FT_STATUS s = call::Read(api, h, reply, requested, &got); s != FT_OK) {
        LinkError e = Fault(LinkFault::ReadCall, code);
        e.ftStatus = s;
        return e;
    }
    if (got != requested) return Fault(LinkFault::ReadShort, code, requested, got);
    if (requested < 1 || reply[0] != code) return Fault(LinkFault::Header, code);
    if (expected != kReplyHeaderSize) {
        if (queued != expected) return Fault(LinkFault::ReplyLength, code, expected, queued);
    } else if (queued < kReplyHeaderSize) {
        return Fault(LinkFault::ReplyLength, code, kReplyHeaderSize, queued);
    } else if (queued > static_cast<DWORD>(kLinkBufferSize)) {
        return Fault(LinkFault::ReplyLength, code, kLinkBufferSize, queued);
    }

    count = DecodeReply(reply, static_cast<int>(requested), rawReply, buffer.data());
    return {};
}

}  // namespace zelk::usb
