// What every command shares: exit codes, the driver options, a started driver instance,
// and printing of the driver's cp1250 texts.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "domain/status_texts.h"
#include "driver.h"
#include "param_file.h"

namespace zelk::tool {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,          // bad command line
    kExitDriver = 2,         // the driver cannot be loaded, or Init failed
    kExitDevice = 3,         // the device status is not 0 (module missing, in error)
    kExitMeasurement = 4,    // the measurement failed or a cycle did not finish
    kExitFile = 5,           // a file cannot be read or written
    kExitInterrupted = 130,  // Ctrl+C
};

// Options of every command that talks to the driver.
struct DriverOptions {
    std::string driver;           // --driver
    std::string param;            // --param: the parameter file to use as it is
    std::string serial = "12000001";
    int usbTimeoutMs = 500;
    std::string log;              // --log: driver log at level 3 (generated parameter file only)
    int cycleTimeoutMs = 5000;    // a read or write cycle that takes longer fails
    bool strict = false;          // --strict: a warning of the parameter-file check stops the command
};

// A temporary folder that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A loaded driver and one started instance.
struct Host {
    DriverLibrary lib;
    std::unique_ptr<Session> session;
    std::string paramPath;
    std::unique_ptr<TempDir> temp;
    int deviceStatus = -1;
    std::string deviceText;  // UTF-8
};

// Loads the driver; prints the reason and returns kExitDriver on failure.
int LoadDriver(const DriverOptions& o, DriverLibrary* lib);
// Loads the driver and starts an instance with `run` (saved into a temporary folder) when
// given, else with --param, else with the minimal parameter file. Reads the device status.
int StartHost(const DriverOptions& o, Host* h, const ParamText* run = nullptr);
// The minimal parameter file for the options: serial number, USB timeout, log.
std::string MinimalParamText(const DriverOptions& o);

// "Caption: value" line of the driver window's text (UTF-8); empty when absent.
std::string WindowField(const std::string& windowText, const std::string& caption);

// Driver texts (cp1250) shown on the terminal.
std::string Show(const std::string& cp1250);
// A path shown on the terminal. On Windows a path's narrow string is UTF-8 while a narrow
// string made into a path is read in the ANSI code page: keep paths as paths until shown.
std::string Utf8(const std::filesystem::path& p);
// A path as the driver's code takes names (cp1250 text); false when cp1250 cannot hold it.
bool DriverName(const std::filesystem::path& p, std::string* cp1250);
void Error(const std::string& utf8);

// Pads a UTF-8 text to `width` columns (one per code point).
std::string Pad(const std::string& utf8, size_t width);
// Columns of a UTF-8 text (one per code point).
size_t Columns(const std::string& utf8);
// A UTF-8 text cut to at most `width` columns, "…" marking the cut.
std::string Clip(const std::string& utf8, size_t width);

// A text table whose columns are as wide as their widest cell, two blanks apart, so that a
// wide value never runs into the next column.
class Table {
public:
    explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    std::string Text() const;

private:
    std::vector<std::vector<std::string>> rows_;
};

// "9 Nenalezen USB modul (USB module not found)": code, the driver's text (UTF-8), gloss.
std::string StatusShown(int code, const std::string& utf8Text);

// A CSV cell: quoted when it holds a comma, a quote or a line break (a channel's name may).
std::string CsvCell(const std::string& s);

// A JSON string literal of a UTF-8 text.
std::string Json(const std::string& utf8);

// A file named on the command line that does not exist: the message, and kExitFile.
int MissingFile(const std::string& what, const std::string& path);

}  // namespace zelk::tool
