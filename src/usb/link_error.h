// What went wrong on the link to the module, as a value: the link and command functions
// return it, and Describe alone turns it into the device status and the texts the driver
// shows and logs.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "domain/status_texts.h"
#include "usb/d2xx.h"

namespace zelk::usb {

enum class LinkFault : uint8_t {
    D2xxCall,     // FT_ResetDevice, FT_SetLatencyTimer or FT_Purge failed
    WriteCall,    // FT_Write failed
    WriteShort,   // FT_Write took fewer bytes than the packet has (wanted/got)
    QueueCall,    // FT_GetQueueStatus failed while waiting for a reply
    NoReply,      // the reply did not come within timeoutMs
    ReadCall,     // FT_Read failed
    ReadShort,    // FT_Read gave fewer bytes than asked for (wanted/got)
    Header,       // the reply does not start with the command's code
    ReplyLength,  // the reply has the wrong length for the command (wanted/got)
    StreamCall,   // a D2XX call of the measurement's data stream failed (function, ftStatus)
};

// What the failing operation was doing; it decides the device status.
enum class LinkStep : uint8_t {
    LinkReset,  // resetting the link after the open: status 12
    Command,    // a module command: status 13
    Stream,     // reading the measurement's data stream: status 10
};

struct LinkError {
    LinkFault kind;
    LinkStep step = LinkStep::Command;
    uint8_t command = 0;  // the command's code; 0 outside a command
    uint32_t wanted = 0;
    uint32_t got = 0;
    uint32_t timeoutMs = 0;
    FT_STATUS ftStatus = FT_OK;
    const char* function = "";  // the D2XX function, for StreamCall
};

// Success, or the error of the first step that failed.
class [[nodiscard]] LinkResult {
public:
    LinkResult() = default;
    LinkResult(const LinkError& e) : error_(e) {}  // NOLINT: an error converts to a failed result
    bool ok() const { return !error_.has_value(); }
    const LinkError& error() const { return *error_; }
    LinkError& error() { return *error_; }

private:
    std::optional<LinkError> error_;
};

struct LinkReport {
    Status status;
    std::string detail;      // the error's own text, as the log shows it after a step marker
    std::string statusText;  // the status's table text, " - " and the detail
};

LinkReport Describe(const LinkError& e);

}  // namespace zelk::usb
