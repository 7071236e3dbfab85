// The status table: every status code of the driver with its public name, its Czech text
// (cp1250) and its English gloss. The numbers are the header's ZELK_STATUS_... values; the
// driver names them through `Status`. The driver, its window, the tool and the Python
// package's generator all read this one table.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "domain/text.h"
#include "zelk2716e.h"

namespace zelk {

// The header's status codes as a C++ type. Device statuses are 0..17; 99 and 100 are the
// statuses a channel holds before or without any finished request.
enum class Status : uint8_t {
    Ok = ZELK_STATUS_OK,
    LibraryAlloc = ZELK_STATUS_LIBRARY_ALLOC,
    LibraryPointer = ZELK_STATUS_LIBRARY_POINTER,
    LibraryData = ZELK_STATUS_LIBRARY_DATA,
    ParameterFile = ZELK_STATUS_PARAMETER_FILE,
    ModuleNotFound = ZELK_STATUS_MODULE_NOT_FOUND,
    RealValue = ZELK_STATUS_REAL_VALUE,
    Window = ZELK_STATUS_WINDOW,
    NoUsbModule = ZELK_STATUS_NO_USB_MODULE,
    D2xxCall = ZELK_STATUS_D2XX_CALL,
    Open = ZELK_STATUS_OPEN,
    ModuleRestart = ZELK_STATUS_MODULE_RESTART,
    Command = ZELK_STATUS_COMMAND,
    LinkSync = ZELK_STATUS_LINK_SYNC,
    LinkTimeout = ZELK_STATUS_LINK_TIMEOUT,
    Disk = ZELK_STATUS_DISK,
    UnsupportedModule = ZELK_STATUS_UNSUPPORTED_MODULE,
    ChannelUnused = ZELK_STATUS_CHANNEL_UNUSED,
    ChannelUndefined = ZELK_STATUS_CHANNEL_UNDEFINED,
};

constexpr uint8_t Code(Status s) { return static_cast<uint8_t>(s); }

struct StatusRow {
    Status code;
    const char* name;   // the header's name without the ZELK_STATUS_ prefix
    const char* text;   // Czech, cp1250
    const char* gloss;  // English
    // The place of the text among the standard texts when it is not the code itself.
    int8_t textSlot = -1;
};

// In code order.
inline constexpr StatusRow kStatusTable[] = {
    {Status::Ok, "OK", "V pořádku"_cp, "OK"},
    {Status::LibraryAlloc, "LIBRARY_ALLOC", "Chyba knihovny (nelze vytvořit datovou strukturu)"_cp,
     "library error: cannot create the data structure"},
    {Status::LibraryPointer, "LIBRARY_POINTER", "Chyba knihovny (neplatný pointer)"_cp, "library error: invalid pointer"},
    {Status::LibraryData, "LIBRARY_DATA", "Chyba knihovny (neplatná data)"_cp, "library error: invalid data"},
    {Status::ParameterFile, "PARAMETER_FILE", "Chybný parametrický soubor"_cp, "bad parameter file"},
    {Status::ModuleNotFound, "MODULE_NOT_FOUND", "Nenalezen požadovaný USB modul."_cp, "requested USB module not found"},
    {Status::RealValue, "REAL_VALUE", "Chybná REAL hodnota kanálu"_cp, "bad REAL value of the channel"},
    {Status::Window, "WINDOW", "Nelze vytvořit okno ovladače"_cp, "cannot create the driver window"},
    {Status::NoUsbModule, "NO_USB_MODULE", "Nenalezen USB modul"_cp, "USB module not found"},
    // Ends in a blank, so a detail after it shows two blanks before the hyphen.
    {Status::D2xxCall, "D2XX_CALL", "Chyba volání funkce knihovny FTDI "_cp, "FTDI library call failed"},
    {Status::Open, "OPEN", "Chyba otevření USB modulu"_cp, "cannot open the USB module"},
    {Status::ModuleRestart, "MODULE_RESTART", "Chyba USB modulu (restart)"_cp, "USB module error (restart)"},
    {Status::Command, "COMMAND", "Chyba povelu"_cp, "module command failed"},
    {Status::LinkSync, "LINK_SYNC", "Chyba synchronizace dat USB linky"_cp, "USB link data out of step"},
    {Status::LinkTimeout, "LINK_TIMEOUT", "Timeout USB linky"_cp, "USB link timeout"},
    {Status::Disk, "DISK", "Chyba přístupu na disk"_cp, "disk access error"},
    {Status::UnsupportedModule, "UNSUPPORTED_MODULE", "Zadaný ZELK modul není ovladačem podporován"_cp,
     "this ZELK module is not supported by the driver"},
    // The channel statuses have no place of their own among the 18 standard texts, which
    // hosts index by code: their texts sit in places 5 and 6. Code 6 is never a device
    // status, and code 5 as a device status carries its own text, so neither place is needed.
    {Status::ChannelUnused, "CHANNEL_UNUSED", "Kanál nepoužit"_cp, "channel not used yet", 5},
    {Status::ChannelUndefined, "CHANNEL_UNDEFINED", "Kanál nedefinován"_cp, "channel not defined", 6},
};

namespace detail {
constexpr int StandardTextCount() {
    int n = 0;
    for (const StatusRow& r : kStatusTable)
        if (r.textSlot < 0 && Code(r.code) + 1 > n) n = Code(r.code) + 1;
    return n;
}
}  // namespace detail

// The standard texts, indexed by code: the texts of the device statuses, and in places
// 5 and 6 those of the channel statuses.
constexpr int kStatusTextCount = detail::StandardTextCount();
static_assert(kStatusTextCount == 18, "18 standard status texts");

namespace detail {
constexpr std::array<const char*, kStatusTextCount> StandardTexts() {
    std::array<const char*, kStatusTextCount> t{};
    std::array<bool, kStatusTextCount> filled{};  // not a null test: sanitized builds cannot evaluate it here
    auto place = [&](size_t i, const char* text) {
        t[i] = text;
        filled[i] = true;
    };
    // A code's own place first, so that a text placed there explicitly takes it over.
    for (const StatusRow& r : kStatusTable)
        if (r.textSlot < 0) place(Code(r.code), r.text);
    for (const StatusRow& r : kStatusTable)
        if (r.textSlot >= 0) place(static_cast<size_t>(r.textSlot), r.text);
    for (bool f : filled)
        if (!f) throw "a standard status text without a row";
    return t;
}
}  // namespace detail

inline constexpr std::array<const char*, kStatusTextCount> StatusTexts = detail::StandardTexts();

constexpr const StatusRow& RowOf(Status s) {
    for (const StatusRow& r : kStatusTable)
        if (r.code == s) return r;
    throw "a status without a row";
}

constexpr int32_t kChannelStatusUnused = Code(Status::ChannelUnused);
constexpr int32_t kChannelStatusUndefined = Code(Status::ChannelUndefined);

// The row of a number: the code's own row, else the row whose text sits in that place
// among the standard texts (6: the undefined channel's); null for any other number.
const StatusRow* FindStatus(int32_t code);

// The table text of a code, or the text, " - " and the detail of the failing step.
inline const char* StatusText(Status s) { return RowOf(s).text; }
std::string StatusText(Status s, const std::string& detail);

// The English gloss of a device or channel status number; empty for a number without one.
const char* StatusGloss(int32_t code);

}  // namespace zelk
