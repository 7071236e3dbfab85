// The subcommands of zelk. Each returns an exit code (common.h).
#pragma once
#include <string>
#include <vector>

#include "common.h"

namespace zelk::tool {

int CmdInfo(const DriverOptions& o, bool json);

struct DevicesOptions {
    std::string d2xx;  // --d2xx: the D2XX library to ask
    bool probe = false;
    bool json = false;
};
int CmdDevices(const DriverOptions& o, const DevicesOptions& d);

struct ReadOptions {
    std::string channels;  // empty = every readable channel
    bool english = false;  // the tool's English meanings instead of the driver's descriptions
    bool json = false;
};
int CmdRead(const DriverOptions& o, const ReadOptions& r);

int CmdWrite(const DriverOptions& o, const std::vector<std::string>& assignments);

struct WatchOptions {
    std::string channels = "0-3,80,81,98";
    int intervalMs = 500;
    int count = 0;  // 0 = until Ctrl+C
    bool json = false;  // one JSON line per cycle
};
int CmdWatch(const DriverOptions& o, const WatchOptions& w);

struct WindowOptions {
    std::string page = "settings";  // settings | diagnostics
    int channel = -1;               // monitored channel typed into the field
    std::string keys;               // typed as they are; "\n" in it is Enter
    bool follow = false;            // refresh until Ctrl+C
    double seconds = 0;             // how long to keep the window (0 = once, or until Ctrl+C with --follow)
    bool text = false;              // on Windows: print the text instead of showing the window
};
int CmdWindow(const DriverOptions& o, const WindowOptions& w);

// Layout of a record file for convert and plot; also the settings of a measurement.
struct LayoutOptions {
    int channels = -1;  // -1: from the parameter file (default 8)
    bool noCnt0 = false, noCnt1 = false, noDio = false;
    std::string ranges;  // "10V,5V,..." or codes, per analog channel from 0
    double periodUs = -1;
};

struct MeasureOptions {
    LayoutOptions layout;
    uint32_t records = 0;   // 0 = no limit
    double duration = 0;    // seconds; 0 = until the count or Ctrl+C
    std::string out = ".";
    std::string format;     // BIN | DBF (default: the parameter file's, or DBF)
    bool noProgress = false;
    std::string stream;     // csv | jsonl: records as they are stored
    std::string streamOut;  // -o: where the stream goes (default: standard output)
    bool json = false;      // progress and summary as JSON lines
};
int CmdMeasure(const DriverOptions& o, const MeasureOptions& m);

struct ConvertOptions {
    std::string input;
    std::string output;
    std::string format = "dbf";  // dbf | csv
    std::string param;
    LayoutOptions layout;
    bool force = false;  // a layout against the sidecar; replacing an existing output
};
int CmdConvert(const ConvertOptions& c);

struct PlotOptions {
    std::string input;
    std::string output;
    std::string param;
    std::string title;
    std::string fields;  // "AIN0,AIN3,CNT0"; empty = all
    LayoutOptions layout;
    bool force = false;  // a layout against the sidecar
};
int CmdPlot(const PlotOptions& p);

int CmdChannels(bool markdown, bool json);

// The parameter-file check: 0 when the driver takes the file as written (warnings allowed
// unless `strict`), kExitFile when Init would refuse it or, with `strict`, on any finding.
int CmdCheck(const std::string& path, bool strict);

}  // namespace zelk::tool
