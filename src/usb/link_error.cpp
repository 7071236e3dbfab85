#include "usb/link_error.h"

#include "domain/numtext.h"
#include "domain/text.h"

namespace zelk::usb {

namespace {

std::string Hex2(uint8_t v) {
    constexpr char digits[] = "0123456789ABCDEF";
    return {digits[v >> 4], digits[v & 0x0F]};
}

std::string Count(uint32_t wanted, uint32_t got) { return text::Decimal(wanted) + "/" + text::Decimal(got) + ")"; }

std::string DetailOf(const LinkError& e) {
    switch (e.kind) {
        case LinkFault::D2xxCall: return StatusText(Status::D2xxCall);
        case LinkFault::WriteCall: return " Chyba funkce FT_Write"_cp;
        case LinkFault::WriteShort: return "Chyba zápisu dat(počet "_cp + Count(e.wanted, e.got);
        case LinkFault::QueueCall: return "Chyba funkce FT_GetQueueStatus"_cp;
        case LinkFault::NoReply: return "Nepřišla odpověď (USB timeout = "_cp + text::Decimal(e.timeoutMs) + "ms)";
        case LinkFault::ReadCall: return "Chyba funkce FT_Read"_cp;
        case LinkFault::ReadShort: return "Chyba čtení dat(počet "_cp + Count(e.wanted, e.got);
        case LinkFault::Header: return "Chyba čtení dat(hlavička)"_cp;
        case LinkFault::ReplyLength: return "Chyba čtení dat(povel "_cp + Hex2(e.command) + ", počet "_cp + Count(e.wanted, e.got);
        case LinkFault::StreamCall:
            return std::string("Chyba ") + e.function + " (ftStatus=" + text::Hex8(static_cast<uint32_t>(e.ftStatus)) + ")";
    }
    return {};
}

Status StatusOf(LinkStep step) {
    switch (step) {
        case LinkStep::LinkReset: return Status::ModuleRestart;
        case LinkStep::Command: return Status::Command;
        case LinkStep::Stream: return Status::D2xxCall;
    }
    return Status::Command;
}

}  // namespace

LinkReport Describe(const LinkError& e) {
    LinkReport r{StatusOf(e.step), DetailOf(e), {}};
    r.statusText = StatusText(r.status, r.detail);
    return r;
}

}  // namespace zelk::usb
