// zelk: the host tool of the ZELK-2716E driver. It loads the driver library at run time
// and drives it through its exports, like any host application.
#include <CLI/CLI.hpp>

#include <iostream>

#include "commands.h"
#include "config/param_file.h"
#include "host_platform.h"

using namespace zelk::tool;

namespace {

const char* const kExitCodes =
    "Exit codes:\n"
    "  0    ok\n"
    "  1    usage: a bad command line\n"
    "  2    the driver library cannot be loaded, or its Init failed\n"
    "  3    the device status is not 0 (module missing or in error; see docs/troubleshooting.md)\n"
    "  4    the measurement failed or lost records, or a read or write cycle did not finish (read and\n"
    "       watch: also a channel that is not defined)\n"
    "  5    a file is missing, cannot be read or written, or does not fit (convert, plot: not a record file\n"
    "       of that layout, or a layout that contradicts the file's sidecar without --force; convert: an\n"
    "       existing output without --force)\n"
    "  130  interrupted by Ctrl+C (a measurement is stopped cleanly first)\n";

// The options of the commands that start the driver. main binds them on the app and on each
// such command, to the same variables, so that they go before or after the command's name.
std::vector<CLI::Option*> AddDriverOptions(CLI::App* c, DriverOptions& o) {
    const char* const group = "Driver options (before or after the command)";
    return {
        c->add_option("--driver", o.driver, "Driver library to load (default: the simulated-module driver beside zelk)")
            ->group(group),
        c->add_option("--param", o.param,
                      "Parameter file to start the driver with (default: one written for --serial); before convert "
                      "and plot, theirs")
            ->group(group),
        c->add_option("--serial", o.serial, "Serial number of the module when no --param is given")
            ->capture_default_str()
            ->group(group),
        c->add_option("--usb-timeout", o.usbTimeoutMs, "USB reply timeout in ms when no --param is given")
            ->check(CLI::Range(1, 10000))
            ->capture_default_str()
            ->group(group),
        c->add_option("--log", o.log, "Write the driver's log (level 3) to this file (when no --param is given)")
            ->group(group),
        c->add_option("--cycle-timeout", o.cycleTimeoutMs, "Longest wait for a read or write cycle, in ms")
            ->check(CLI::PositiveNumber)
            ->capture_default_str()
            ->group(group),
        c->add_flag("--strict", o.strict, "Stop before starting when the check of --param finds anything (see zelk check)")
            ->group(group),
    };
}

void AddLayoutOptions(CLI::App* c, LayoutOptions& l, bool measuring) {
    c->add_option("--channels", l.channels,
                  measuring ? "Analog channels the timer measures, 1..16 (default: the parameter file's, or 8)"
                            : "Analog channels in each record, 1..16 (default: the parameter file's, or 8)")
        ->check(CLI::Range(1, 16));
    c->add_option_function<std::string>(
        "--period",
        [&l](const std::string& text) {
            // As the parameter file writes it: '.' or ',' before the decimals.
            if (!zelk::ParseRealText(text, l.periodUs) || !(l.periodUs > 0))
                throw CLI::ValidationError("--period", "'" + text + "' is not a period in microseconds");
        },
        "Timer period in microseconds (25..32767.5; '.' or ',' before decimals)");
    c->add_flag("--no-cnt0", l.noCnt0, "Counter CNT0 is not sampled");
    c->add_flag("--no-cnt1", l.noCnt1, "Counter CNT1 is not sampled");
    c->add_flag("--no-dio", l.noDio, "DIN and DOUT are not sampled");
    c->add_option("--ranges", l.ranges, "Ranges of analog channels 0, 1, ...: e.g. 10V,5V,200mV or 0,1,5");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "zelk - host tool for the ZELK-2716E driver.\n"
        "It loads the driver library (by default the simulated-module variant beside it), starts one\n"
        "driver instance per module with a parameter file, and reads, writes and measures through the\n"
        "driver's exported functions. Czech texts of the driver are shown in UTF-8.",
        "zelk"};
    app.footer(kExitCodes);
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Help of every command");

    app.set_version_flag("--version", "zelk " ZELK_TOOL_VERSION, "The tool's version");

    DriverOptions o;
    const std::vector<CLI::Option*> globalOptions = AddDriverOptions(&app, o);
    bool json = false;
    auto* info = app.add_subcommand("info", "Driver version and text; the module's identification and device status");
    AddDriverOptions(info, o);
    info->add_flag("--json", json, "As one JSON object");

    DevicesOptions dev;
    auto* devices = app.add_subcommand(
        "devices", "The D2XX devices plugged in, as FTDI's library lists them (with the sim driver: the simulator's)");
    AddDriverOptions(devices, o);
    devices->add_option("--d2xx", dev.d2xx, "D2XX library to ask (default: the drop-in beside the sim driver, or the system's)");
    devices->add_flag("--probe", dev.probe, "Also start the driver for each serial number and show its device status");
    devices->add_flag("--json", dev.json, "As one JSON object");

    ReadOptions ro;
    auto* read = app.add_subcommand(
        "read", "One read cycle: name, value, unit and status of each channel (no value, \"–\", for a failed read)");
    AddDriverOptions(read, o);
    read->add_option("channels", ro.channels, "Channels, e.g. 0-15,97-99 (default: every readable channel)");
    read->add_flag("--english", ro.english, "English meanings instead of the driver's Czech descriptions");
    read->add_flag("--json", ro.json, "As a JSON array, one object per channel (value null for a failed read)");

    std::vector<std::string> assignments;
    auto* write = app.add_subcommand("write", "One write cycle: CH=VALUE ..., showing the limits the driver applied");
    AddDriverOptions(write, o);
    write->add_option("values", assignments, "CH=VALUE pairs, e.g. 78=3 165=500 173=300")->required();

    WatchOptions wo;
    auto* watch = app.add_subcommand("watch", "Read cycles at a fixed rate as a live table (Ctrl+C ends)");
    AddDriverOptions(watch, o);
    watch->add_option("channels", wo.channels, "Channels")->capture_default_str();
    watch->add_option("--interval", wo.intervalMs, "Milliseconds between cycles")->capture_default_str();
    watch->add_option("--count", wo.count, "Number of cycles (0 = until Ctrl+C)")->capture_default_str();
    watch->add_flag("--json", wo.json, "One JSON object per cycle and line");

    WindowOptions win;
    auto* window = app.add_subcommand(
        "window", "The driver window: on Windows the real one; elsewhere its contents as text");
    AddDriverOptions(window, o);
    window->add_option("--page", win.page, "settings or diagnostics")->capture_default_str();
    window->add_option("--channel", win.channel, "Channel to monitor on the diagnostics page (typed into its field)");
    window->add_option("--keys", win.keys, "Keys to type into the channel field (Enter as a newline)");
    window->add_flag("--follow", win.follow, "Refresh twice a second until Ctrl+C (or --seconds)");
    window->add_option("--seconds", win.seconds, "How long to keep the window (with --follow, or on Windows)");
    window->add_flag("--text", win.text, "On Windows: print the contents instead of showing the window");

    MeasureOptions mo;
    auto* measure = app.add_subcommand("measure", "A timer-driven measurement into a dBASE table or a record file");
    AddDriverOptions(measure, o);
    AddLayoutOptions(measure, mo.layout, true);
    measure->add_option("--records", mo.records, "Records to store (0 = no limit)")->capture_default_str();
    measure->add_option("--duration", mo.duration, "Stop after this many seconds (0 = at the count or Ctrl+C)");
    measure->add_option("--out", mo.out, "Folder for the files")->capture_default_str();
    measure->add_option("--format", mo.format, "bin (record file) or dbf (dBASE table; the default), in any case");
    measure->add_flag("--no-progress", mo.noProgress, "No progress line");
    measure->add_option("--stream", mo.stream,
                        "csv or jsonl: every record as a line while the measurement runs (INDEX, TIME, the table's "
                        "columns in engineering units), to standard output or -o");
    measure->add_option("-o,--output", mo.streamOut, "File for --stream (default: standard output)");
    measure->add_flag("--json", mo.json, "Progress and summary as JSON lines");

    ConvertOptions co;
    auto* convert = app.add_subcommand("convert", "A record file (.bin) into a dBASE table or CSV, as the driver converts");
    convert->add_option("file", co.input, "The record file (FILE.bin)")->required();
    convert->add_option("-o,--output", co.output,
                        "Output file (default: the record file's name, .dbf or .csv; - is standard output for csv)");
    convert->add_option("--format", co.format, "dbf or csv")->capture_default_str();
    convert->add_option("--param", co.param,
                        "Parameter file the measurement ran with (default: the sidecar FILE.ini that measure "
                        "wrote; its layout must agree with the sidecar's)");
    AddLayoutOptions(convert, co.layout, false);
    convert->add_flag("--force", co.force,
                      "Read the file with the layout options even where they contradict its sidecar; replace an "
                      "existing output");

    PlotOptions po;
    auto* plot = app.add_subcommand("plot", "A chart (SVG or PNG) of a dBASE table or a record file, a panel per unit");
    plot->add_option("file", po.input, "FILE.dbf or FILE.bin")->required();
    plot->add_option("-o,--output", po.output,
                     "NAME.svg or NAME.png (PNG: Linux, with librsvg; default: the input's name with .svg)");
    plot->add_option("--param", po.param,
                     "Parameter file (record layout and constants; default: the sidecar FILE.ini, whose layout it "
                     "must agree with)");
    plot->add_option("--title", po.title, "Chart title");
    plot->add_option("--fields", po.fields, "Fields to draw in any letter case, e.g. ain0,AIN1,cnt0 (default: all)");
    AddLayoutOptions(plot, po.layout, false);
    plot->add_flag("--force", po.force, "Read the file with the layout options even where they contradict its sidecar");

    std::string checked;
    bool strict = false;
    auto* check = app.add_subcommand(
        "check", "What the driver will not read, or not take as written, in a parameter file, line by line");
    check->add_option("file", checked, "The parameter file")->required();
    check->add_flag("--strict", strict, "Exit 5 on warnings too, not only on what Init refuses");

    bool markdown = false;
    auto* channels = app.add_subcommand("channels", "The table of the 204 host channels");
    channels->add_flag("--markdown", markdown, "As a Markdown table");
    channels->add_flag("--json", json, "As a JSON array");

    PrepareConsole();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    // convert, plot and channels start no driver: before them, --param is the parameter file
    // convert and plot read the layout from, and the other driver options are refused.
    const CLI::App* chosen = app.get_subcommands().front();
    if (chosen == convert || chosen == plot || chosen == channels || chosen == check)
        for (const CLI::Option* g : globalOptions) {
            if (g->count() == 0) continue;
            if (g->get_name() == "--strict" && chosen == check) {
                strict = true;
                continue;
            }
            std::string& param = chosen == convert ? co.param : po.param;
            if (g->get_name() == "--param" && chosen != channels) {
                if (param.empty()) param = o.param;
                continue;
            }
            Error(g->get_name() + " is for the commands that start the driver (info, devices, read, write, watch, "
                                  "window, measure), not for " + chosen->get_name());
            return kExitUsage;
        }

    InstallInterruptHandler();
    try {
        if (*info) return CmdInfo(o, json);
        if (*devices) return CmdDevices(o, dev);
        if (*read) return CmdRead(o, ro);
        if (*write) return CmdWrite(o, assignments);
        if (*watch) return CmdWatch(o, wo);
        if (*window) return CmdWindow(o, win);
        if (*measure) return CmdMeasure(o, mo);
        if (*convert) return CmdConvert(co);
        if (*plot) return CmdPlot(po);
        if (*channels) return CmdChannels(markdown, json);
        if (*check) return CmdCheck(checked, strict);
    } catch (const std::exception& e) {
        std::cerr << "zelk: " << e.what() << "\n";
        return kExitFile;
    }
    return kExitUsage;
}
