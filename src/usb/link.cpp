// Link transfer: reset, one command written, one command exchanged with its reply.
// No state of its own; every operation leaves "V pořádku" or its failure text in `err`.
#include <algorithm>

#include "config/numtext.h"
#include "config/text.h"
#include "platform/platform.h"
#include "usb/Vorna_FTD201.h"
#include "usb/d2xx_calls.h"
#include "usb/link_internal.h"

namespace zelk::usb {

namespace {

constexpr UCHAR kLatencyMs = 2;

std::string Hex2(uint8_t v) {
    constexpr char digits[] = "0123456789ABCDEF";
    return {digits[v >> 4], digits[v & 0x0F]};
}

// The length error names the command, the length it wants and the length that came.
std::string LengthError(uint8_t code, uint32_t wanted, uint32_t got) {
    return "Chyba čtení dat(povel "_cp + Hex2(code) + ", počet "_cp + text::Decimal(wanted) + "/" + text::Decimal(got) +
           ")";
}

}  // namespace

bool ResetLink(const D2xxApi& api, FT_HANDLE h, std::string& err) {
    if (call::ResetDevice(api, h) != FT_OK || call::SetLatencyTimer(api, h, kLatencyMs) != FT_OK) {
        err = "Chyba volání funkce knihovny FTDI "_cp;
        return false;
    }
    err = "V pořádku"_cp;
    return true;
}

bool SendCommand(const D2xxApi& api, FT_HANDLE h, uint8_t code, uint8_t count, const LinkBuffer& data, std::string& err) {
    uint8_t packet[kMaxPacketSize];
    const int length = BuildPacket(code, count, data.data(), packet, kMaxPacketSize);
    DWORD written = 0;
    if (call::Write(api, h, packet, static_cast<DWORD>(length), &written) != FT_OK) {
        err = " Chyba funkce FT_Write"_cp;
        return false;
    }
    if (written != static_cast<DWORD>(length)) {
        err = "Chyba zápisu dat(počet "_cp + text::Decimal(static_cast<uint32_t>(length)) + "/" + text::Decimal(written) +
              ")";
        return false;
    }
    err = "V pořádku"_cp;
    return true;
}

bool ExchangeCommand(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, uint8_t code, std::string& err, bool rawReply,
                     LinkBuffer& buffer, uint8_t& count) {
    // Stale bytes of earlier commands (whose replies are never read) must not pass for this reply.
    if (call::Purge(api, h, FT_PURGE_RX | FT_PURGE_TX) != FT_OK) {
        err = "Chyba volání funkce knihovny FTDI "_cp;
        return false;
    }
    if (!SendCommand(api, h, code, count, buffer, err)) return false;

    const uint32_t expected = static_cast<uint32_t>(ExpectedReplyLength(code));
    const uint32_t start = clock.NowMs();
    DWORD queued = 0;
    uint32_t elapsed = 0;
    do {
        clock.SleepMs(1);
        if (call::GetQueueStatus(api, h, &queued) != FT_OK) {
            err = "Chyba funkce FT_GetQueueStatus"_cp;
            return false;
        }
        elapsed = clock.NowMs() - start;
    } while (queued < expected && elapsed <= timeoutMs);
    if (elapsed > timeoutMs) {
        err = "Nepřišla odpověď (USB timeout = "_cp + text::Decimal(timeoutMs) + "ms)";
        return false;
    }

    if (call::GetQueueStatus(api, h, &queued) != FT_OK) {
        err = "Chyba funkce FT_GetQueueStatus"_cp;
        return false;
    }
    // A reply longer than the buffer is read only as far as it fits; its length fails below.
    uint8_t reply[kLinkBufferSize];
    const DWORD requested = std::min<DWORD>(queued, kLinkBufferSize);
    DWORD got = 0;
    if (call::Read(api, h, reply, requested, &got) != FT_OK) {
        err = "Chyba funkce FT_Read"_cp;
        return false;
    }
    if (got != requested) {
        err = "Chyba čtení dat(počet "_cp + text::Decimal(requested) + "/" + text::Decimal(got) + ")";
        return false;
    }
    if (requested < 1 || reply[0] != code) {
        err = "Chyba čtení dat(hlavička)"_cp;
        return false;
    }
    if (expected != kReplyHeaderSize) {
        if (queued != expected) {
            err = LengthError(code, expected, queued);
            return false;
        }
    } else if (queued < kReplyHeaderSize) {
        err = LengthError(code, kReplyHeaderSize, queued);
        return false;
    } else if (queued > static_cast<DWORD>(kLinkBufferSize)) {
        err = LengthError(code, kLinkBufferSize, queued);
        return false;
    }

    count = DecodeReply(reply, static_cast<int>(requested), rawReply, buffer.data());
    err = "V pořádku"_cp;
    return true;
}

}  // namespace zelk::usb
