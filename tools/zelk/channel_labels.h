// Names and units of the analog channels where people read values. `read`, `watch`, CSV
// headings, JSON and plot legends all take them from here, so that one rule decides what a
// value is called and in which unit it is shown.
//
// The name is the channel's `Název` as the driver reads it. The unit is the tool's own key
// `Jednotka` of the channel's section (the driver does not read it); without the key a
// channel that reads volts (A = 1, B = 0) is in V, and a scaled one has no unit.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Pomocny.h"

namespace zelk::tool {

// The parameter-file key that gives the unit of an analog channel's engineering value.
inline constexpr const char* kUnitKey = "Jednotka";

struct ChannelLabel {
    std::string name;  // UTF-8; empty when the file names the channel by number only
    std::string unit;  // UTF-8; empty when the unit is not known
    std::string axis;  // what a chart's value axis says: the unit, or how the value is scaled
    bool described = false;  // the parameter file gives the channel a name or a unit
};

// The unit rule: the key when present (an empty value means no unit), else V for a channel
// read with A = 1 and B = 0, else none.
std::string UnitOf(const std::optional<std::string>& unitKey, double constA, double constB);

class ChannelLabels {
public:
    // Values read with A = 1 and B = 0 and no names: every analog channel in V.
    ChannelLabels();
    // Values scaled with constants nobody told the tool (a table without its parameter
    // file): no names, no units.
    static ChannelLabels Unknown();
    // The labels of a parameter file that the driver's reader has read into `cfg`; `path`
    // is read again with the driver's INI reader for the keys that are present.
    static ChannelLabels FromConfig(const TCFG& cfg, const std::string& path);
    // Reads the file with the driver's reader; a file it refuses gives the default labels.
    static ChannelLabels FromParamFile(const std::string& path);

    const ChannelLabel& Analog(int n) const { return analog_[static_cast<size_t>(n)]; }
    // Name and unit of host channel `ch`: an analog channel's label, the channel table's
    // unit for the others (no name).
    ChannelLabel Of(uint32_t ch) const;
    // The analog channel a data column holds ("AIN3" is 3, in any letter case); -1 for others.
    static int AnalogOfField(const std::string& field);
    // The heading of a data column: the field name first, then, for a channel that the
    // parameter file names or gives a unit, the name and the unit in brackets:
    // "AIN1 Teplota [°C]", "AIN2 Tlak [V]". Other columns keep their bare field name ("AIN0",
    // "CNT0"), as scripts written for them expect.
    std::string Heading(const std::string& field) const;
    // The same for a column named `id` that holds host channel `ch` ("ch1 Teplota [°C]").
    std::string Heading(const std::string& id, uint32_t ch) const;

private:
    std::array<ChannelLabel, kAnalogCount> analog_;
};

}  // namespace zelk::tool
