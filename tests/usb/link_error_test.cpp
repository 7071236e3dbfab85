// The one translation of a link error into the device status and its texts.
#include <gtest/gtest.h>

#include <string>

#include "domain/text.h"
#include "fake_d2xx.h"
#include "usb/Vorna_FTD201.h"

using namespace zelk;
using namespace zelk::usb;

namespace {

LinkError Error(LinkFault kind, LinkStep step) {
    LinkError e{kind, step};
    e.command = 0x90;
    e.wanted = 79;
    e.got = 81;
    e.timeoutMs = 250;
    e.ftStatus = FT_IO_ERROR;
    e.function = "FT_Read";
    return e;
}

}  // namespace

TEST(LinkErrorText, EachFaultInEachStep) {
    struct Case {
        LinkFault kind;
        LinkStep step;
        Status status;
        const char* statusText;
    };
    const Case cases[] = {
        {LinkFault::D2xxCall, LinkStep::LinkReset, Status::ModuleRestart,
         "Chyba USB modulu (restart) - Chyba volání funkce knihovny FTDI "_cp},
        {LinkFault::D2xxCall, LinkStep::Command, Status::Command, "Chyba povelu - Chyba volání funkce knihovny FTDI "_cp},
        {LinkFault::WriteCall, LinkStep::Command, Status::Command, "Chyba povelu -  Chyba funkce FT_Write"_cp},
        {LinkFault::WriteShort, LinkStep::Command, Status::Command, "Chyba povelu - Chyba zápisu dat(počet 79/81)"_cp},
        {LinkFault::QueueCall, LinkStep::Command, Status::Command, "Chyba povelu - Chyba funkce FT_GetQueueStatus"_cp},
        {LinkFault::NoReply, LinkStep::Command, Status::Command,
         "Chyba povelu - Nepřišla odpověď (USB timeout = 250ms)"_cp},
        {LinkFault::ReadCall, LinkStep::Command, Status::Command, "Chyba povelu - Chyba funkce FT_Read"_cp},
        {LinkFault::ReadShort, LinkStep::Command, Status::Command, "Chyba povelu - Chyba čtení dat(počet 79/81)"_cp},
        {LinkFault::Header, LinkStep::Command, Status::Command, "Chyba povelu - Chyba čtení dat(hlavička)"_cp},
        {LinkFault::ReplyLength, LinkStep::Command, Status::Command,
         "Chyba povelu - Chyba čtení dat(povel 90, počet 79/81)"_cp},
        {LinkFault::StreamCall, LinkStep::Stream, Status::D2xxCall,
         "Chyba volání funkce knihovny FTDI  - Chyba FT_Read (ftStatus=00000004)"_cp},
    };
    for (const Case& c : cases) {
        const LinkReport r = Describe(Error(c.kind, c.step));
        const std::string label = std::to_string(static_cast<int>(c.kind));
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.statusText, c.statusText) << label;
        // The detail is what follows the table text and " - ".
        EXPECT_EQ(std::string(StatusText(c.status)) + " - " + r.detail, r.statusText) << label;
    }
}

// The link reset that ends the module reset command fails as the command, the one after the
// open as the link.
TEST(LinkErrorText, LinkResetInsideTheResetCommandIsACommandFault) {
    const FT_HANDLE h = reinterpret_cast<FT_HANDLE>(uintptr_t{0x5A5A});
    for (const char* fn : {"FT_ResetDevice", "FT_SetLatencyTimer"}) {
        fake::Reset();
        fake::S().fail[fn] = FT_IO_ERROR;
        const LinkResult own = ResetLink(fake::Api(), h);
        ASSERT_FALSE(own.ok()) << fn;
        EXPECT_EQ(Describe(own.error()).status, Status::ModuleRestart) << fn;
        EXPECT_EQ(own.error().ftStatus, FT_IO_ERROR) << fn;

        fake::Reset();
        fake::S().fail[fn] = FT_IO_ERROR;
        const LinkResult command = ModuleReset(fake::Api(), h);
        ASSERT_FALSE(command.ok()) << fn;
        EXPECT_EQ(Describe(command.error()).status, Status::Command) << fn;
    }
}
