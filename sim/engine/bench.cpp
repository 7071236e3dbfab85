// The bench: devices, handles, clock, link settings and D2XX faults, all under one lock.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "sim/engine/module.h"
#include "sim/sim.h"

namespace zelk::sim {

using namespace zelk::usb;

namespace {

struct Device {
    std::string serial, description;
    bool plugged = true;
    bool removed = false;
    uint64_t generation = 0;  // raised by every replug; older handles are dead
    uintptr_t open_token = 0;
    Module module;
};

struct HandleEntry {
    std::shared_ptr<Device> device;
    uint64_t generation = 0;
};

struct CallFault {
    FT_STATUS status = FT_OK;
    int times = 0;
};

// Handles are tokens that are never reused and never dereferenced; they start well away
// from null and step by 16 so that they look like pointers in a log.
constexpr uintptr_t kFirstToken = 0x5A100000u;
constexpr uintptr_t kTokenStep = 0x10u;

bool Take(int& times) {
    if (times == 0) return false;
    if (times > 0) --times;
    return true;
}

}  // namespace

struct Bench::Impl {
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Device>> devices;
    std::map<uintptr_t, HandleEntry> handles;
    uintptr_t next_token = kFirstToken;
    LinkSettings link;
    bool manual_clock = false;
    Nanos manual_now{};
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    std::array<CallFault, kD2xxCallCount> call_faults{};
    int invalid_handle_times = 0;
    uint32_t write_limit = 0;
    int write_limit_times = 0;
    std::vector<uint32_t> read_limits;
    size_t next_read_limit = 0;
    int read_limit_times = 0;
    std::array<uint64_t, kD2xxCallCount> call_counts{};

    Nanos Now() const {
        if (manual_clock) return manual_now;
        return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now() - epoch);
    }

    Device* At(int index) const {
        if (index < 0 || size_t(index) >= devices.size()) return nullptr;
        return devices[size_t(index)].get();
    }

    void KillHandles(Device& d) {
        d.open_token = 0;
        ++d.generation;
    }

    void RemoveAll() {
        for (auto& d : devices) {
            d->removed = true;
            KillHandles(*d);
        }
        devices.clear();
    }

    int Add(const std::string& serial, const std::string& description) {
        auto d = std::make_shared<Device>();
        d->serial = serial;
        d->description = description;
        d->module.PowerOn(Now());
        devices.push_back(std::move(d));
        return int(devices.size()) - 1;
    }

    std::vector<Device*> Plugged() const {
        std::vector<Device*> out;
        for (const auto& d : devices)
            if (d->plugged) out.push_back(d.get());
        return out;
    }

    // Counts the call and applies an injected status; true when the call is to fail.
    bool Intercept(D2xxCall call, FT_STATUS& status) {
        const int i = int(call);
        ++call_counts[size_t(i)];
        CallFault& f = call_faults[size_t(i)];
        if (!Take(f.times)) return false;
        status = f.status;
        return true;
    }

    // The live device of a handle, or the status its call returns.
    Device* Live(FT_HANDLE handle, FT_STATUS& status) {
        auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == handles.end()) {
            status = FT_INVALID_HANDLE;
            return nullptr;
        }
        Device& d = *it->second.device;
        if (d.removed || !d.plugged || d.generation != it->second.generation) {
            status = FT_IO_ERROR;
            return nullptr;
        }
        d.module.Advance(Now(), link);
        return &d;
    }

    void Settle() {
        for (auto& d : devices) d->module.Advance(Now(), link);
    }

    // Handles of removed devices stay known, so that their calls fail with FT_IO_ERROR.
    void ResetAll() {
        RemoveAll();
        link = LinkSettings{};
        manual_clock = false;
        call_faults = {};
        invalid_handle_times = 0;
        write_limit = 0;
        write_limit_times = 0;
        read_limits.clear();
        read_limit_times = 0;
        call_counts = {};
        Add("12000001", "ZELK-2716E");
        Add("12100002", "ZELK-2716E");
    }
};

Bench::Bench() : impl_(std::make_unique<Impl>()) { impl_->ResetAll(); }
Bench::~Bench() = default;

void Bench::Reset() {
    std::lock_guard lock(impl_->mutex);
    impl_->ResetAll();
}

void Bench::ClearDevices() {
    std::lock_guard lock(impl_->mutex);
    impl_->RemoveAll();
}

int Bench::AddDevice(const std::string& serial, const std::string& description) {
    std::lock_guard lock(impl_->mutex);
    return impl_->Add(serial, description);
}

int Bench::DeviceCount() const {
    std::lock_guard lock(impl_->mutex);
    return int(impl_->devices.size());
}

void Bench::SetPlugged(int index, bool plugged) {
    std::lock_guard lock(impl_->mutex);
    Device* d = impl_->At(index);
    if (!d || d->plugged == plugged) return;
    d->plugged = plugged;
    impl_->KillHandles(*d);
    if (plugged) d->module.PowerOn(impl_->Now());
}

bool Bench::IsPlugged(int index) const {
    std::lock_guard lock(impl_->mutex);
    const Device* d = impl_->At(index);
    return d && d->plugged;
}

bool Bench::WithModule(int index, const std::function<void(Module&)>& fn) {
    std::lock_guard lock(impl_->mutex);
    Device* d = impl_->At(index);
    if (!d) return false;
    d->module.Advance(impl_->Now(), impl_->link);
    fn(d->module);
    return true;
}

ModuleState Bench::State(int index) {
    std::lock_guard lock(impl_->mutex);
    ModuleState s;
    Device* d = impl_->At(index);
    if (!d) return s;
    const Nanos now = impl_->Now();
    Module& m = d->module;
    m.Advance(now, impl_->link);
    s.config = m.Config();
    s.measuring = m.Measuring();
    s.dout = m.Dout();
    s.cnt0 = m.Counter(0, now);
    s.cnt1 = m.Counter(1, now);
    s.din = m.DigitalInputs(now);
    s.long_value = m.LongValue();
    s.records_produced = m.RecordsProduced();
    s.records_dropped = m.RecordsDropped();
    s.records_in_run = m.RecordsInRun();
    s.starts_rejected = m.StartsRejected();
    s.module_buffer_bytes = m.PendingBytes();
    s.readable_bytes = m.Readable();
    s.invalid_packets = m.InvalidPackets();
    s.bytes_read_by_host = m.BytesReadByHost();
    s.packets_by_code = m.PacketsByCode();
    s.bytes_written_by_code = m.BytesByCode();
    if (!m.History().empty()) s.last_packet = m.History().back();
    s.latency_timer = m.latency_timer;
    s.open_handles = d->open_token != 0 ? 1 : 0;
    return s;
}

void Bench::SetSignalMode(int index, SignalMode mode) {
    WithModule(index, [mode](Module& m) { m.signal_mode = mode; });
}

void Bench::SetInputVolts(int index, int input, std::optional<double> volts) {
    if (input < 0 || input > 15) return;
    WithModule(index, [&](Module& m) { m.input_volts[size_t(input)] = volts; });
}

void Bench::SetDigitalInputs(int index, std::optional<uint8_t> din) {
    WithModule(index, [&](Module& m) { m.din_override = din; });
}

// Link settings apply from now on: what is due so far moves under the old ones.
void Bench::SetBandwidth(uint32_t bytes_per_second) {
    std::lock_guard lock(impl_->mutex);
    impl_->Settle();
    impl_->link.bandwidth = bytes_per_second;
}

void Bench::SetReplyLatencyMs(uint32_t ms) {
    std::lock_guard lock(impl_->mutex);
    impl_->Settle();
    impl_->link.latency = std::chrono::milliseconds(ms);
}

void Bench::SetModuleBufferBytes(size_t bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->Settle();
    impl_->link.module_buffer = bytes;
}

void Bench::SetHostQueueBytes(size_t bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->Settle();
    impl_->link.host_queue = std::max<size_t>(bytes, 1);
}

uint32_t Bench::Bandwidth() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->link.bandwidth;
}

uint32_t Bench::ReplyLatencyMs() const {
    std::lock_guard lock(impl_->mutex);
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(impl_->link.latency).count());
}

void Bench::UseManualClock(bool manual) {
    std::lock_guard lock(impl_->mutex);
    if (manual == impl_->manual_clock) return;
    if (manual) {
        impl_->manual_now = impl_->Now();
    } else {
        // Continue from the manual time so the bench clock never runs backwards.
        impl_->epoch = std::chrono::steady_clock::now() - impl_->manual_now;
    }
    impl_->manual_clock = manual;
}

void Bench::AdvanceClock(std::chrono::nanoseconds step) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->manual_clock || step.count() <= 0) return;
    impl_->manual_now += step;
}

std::chrono::nanoseconds Bench::Now() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->Now();
}

void Bench::SetCommandFault(int index, uint8_t code, ReplyFault fault, uint32_t amount, int times) {
    WithModule(index, [&](Module& m) { m.faults[code] = CommandFault{fault, amount, times}; });
}

void Bench::FailD2xx(D2xxCall call, FT_STATUS status, int times) {
    const int i = int(call);
    if (i < 0 || i >= kD2xxCallCount) return;
    std::lock_guard lock(impl_->mutex);
    impl_->call_faults[size_t(i)] = CallFault{status, times};
}

void Bench::SetOpenReturnsInvalidHandle(int times) {
    std::lock_guard lock(impl_->mutex);
    impl_->invalid_handle_times = times;
}

void Bench::LimitWrite(uint32_t bytes, int times) {
    std::lock_guard lock(impl_->mutex);
    impl_->write_limit = bytes;
    impl_->write_limit_times = times;
}

void Bench::LimitRead(std::vector<uint32_t> limits, int times) {
    std::lock_guard lock(impl_->mutex);
    impl_->read_limits = std::move(limits);
    impl_->next_read_limit = 0;
    impl_->read_limit_times = impl_->read_limits.empty() ? 0 : times;
}

void Bench::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->call_faults = {};
    impl_->invalid_handle_times = 0;
    impl_->write_limit_times = 0;
    impl_->read_limit_times = 0;
    for (auto& d : impl_->devices) d->module.faults = {};
}

uint64_t Bench::D2xxCallCount(D2xxCall call) const {
    const int i = int(call);
    if (i < 0 || i >= kD2xxCallCount) return 0;
    std::lock_guard lock(impl_->mutex);
    return impl_->call_counts[size_t(i)];
}

std::vector<Packet> Bench::ReceivedPackets(int index) const {
    std::lock_guard lock(impl_->mutex);
    const Device* d = impl_->At(index);
    if (!d) return {};
    return {d->module.History().begin(), d->module.History().end()};
}

void Bench::ClearHistory(int index) {
    WithModule(index, [](Module& m) { m.ClearHistory(); });
}

// ---- D2XX functions ----

FT_STATUS Bench::ListDevices(void* arg1, void* arg2, DWORD flags) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::ListDevices, st)) return st;
    const auto plugged = impl_->Plugged();
    if (flags & FT_LIST_NUMBER_ONLY) {
        if (!arg1) return FT_INVALID_PARAMETER;
        *static_cast<DWORD*>(arg1) = DWORD(plugged.size());
        return FT_OK;
    }
    if (flags & FT_LIST_BY_INDEX) {
        const DWORD kind = flags & (FT_OPEN_BY_SERIAL_NUMBER | FT_OPEN_BY_DESCRIPTION);
        if (!arg2 || (kind != FT_OPEN_BY_SERIAL_NUMBER && kind != FT_OPEN_BY_DESCRIPTION))
            return FT_INVALID_PARAMETER;
        const auto index = DWORD(reinterpret_cast<uintptr_t>(arg1));
        if (index >= plugged.size()) return FT_DEVICE_NOT_FOUND;
        const std::string& text = kind == FT_OPEN_BY_SERIAL_NUMBER ? plugged[index]->serial : plugged[index]->description;
        const size_t n = std::min(text.size(), size_t(kD2xxTextBufferSize - 1));
        std::memcpy(arg2, text.data(), n);
        static_cast<char*>(arg2)[n] = '\0';
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS Bench::Open(int device_index, FT_HANDLE* handle) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::Open, st)) return st;
    if (!handle) return FT_INVALID_PARAMETER;
    if (Take(impl_->invalid_handle_times)) {
        *handle = InvalidHandle();
        return FT_OK;
    }
    const auto plugged = impl_->Plugged();
    if (device_index < 0 || size_t(device_index) >= plugged.size()) return FT_DEVICE_NOT_FOUND;
    Device* d = plugged[size_t(device_index)];
    if (d->open_token != 0) return FT_DEVICE_NOT_OPENED;  // one open per device, as D2XX
    const uintptr_t token = impl_->next_token;
    impl_->next_token += kTokenStep;
    for (auto& sp : impl_->devices)
        if (sp.get() == d) impl_->handles[token] = HandleEntry{sp, d->generation};
    d->open_token = token;
    d->module.Advance(impl_->Now(), impl_->link);
    d->module.PurgeRx();
    d->module.PurgeTx();
    *handle = reinterpret_cast<FT_HANDLE>(token);
    return FT_OK;
}

FT_STATUS Bench::Close(FT_HANDLE handle) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::Close, st)) return st;
    auto it = impl_->handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == impl_->handles.end()) return FT_INVALID_HANDLE;
    Device& d = *it->second.device;
    if (d.open_token == it->first) d.open_token = 0;
    impl_->handles.erase(it);
    return FT_OK;
}

FT_STATUS Bench::ResetDevice(FT_HANDLE handle) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::ResetDevice, st)) return st;
    Device* d = impl_->Live(handle, st);
    if (!d) return st;
    d->module.PurgeRx();
    d->module.PurgeTx();
    return FT_OK;
}

FT_STATUS Bench::SetLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::SetLatencyTimer, st)) return st;
    Device* d = impl_->Live(handle, st);
    if (!d) return st;
    d->module.latency_timer = ms;
    return FT_OK;
}

FT_STATUS Bench::Purge(FT_HANDLE handle, ULONG mask) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::Purge, st)) return st;
    Device* d = impl_->Live(handle, st);
    if (!d) return st;
    if (mask & FT_PURGE_RX) d->module.PurgeRx();
    if (mask & FT_PURGE_TX) d->module.PurgeTx();
    return FT_OK;
}

FT_STATUS Bench::Write(FT_HANDLE handle, const void* buffer, DWORD bytes, DWORD* written) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::Write, st)) return st;
    Device* d = impl_->Live(handle, st);
    if (!d) return st;
    if (!written || (bytes > 0 && !buffer)) return FT_INVALID_PARAMETER;
    DWORD n = bytes;
    if (Take(impl_->write_limit_times)) n = std::min(n, impl_->write_limit);
    if (n > 0) d->module.HostWrite(static_cast<const uint8_t*>(buffer), n, impl_->Now(), impl_->link);
    *written = n;
    return FT_OK;
}

FT_STATUS Bench::Read(FT_HANDLE handle, void* buffer, DWORD bytes, DWORD* read) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::Read, st)) return st;
    Device* d = impl_->Live(handle, st);
    if (!d) return st;
    if (!read || (bytes > 0 && !buffer)) return FT_INVALID_PARAMETER;
    DWORD n = bytes;
    if (Take(impl_->read_limit_times)) {
        n = std::min(n, impl_->read_limits[impl_->next_read_limit]);
        impl_->next_read_limit = (impl_->next_read_limit + 1) % impl_->read_limits.size();
    }
    *read = n > 0 ? DWORD(d->module.ReadHost(static_cast<uint8_t*>(buffer), n)) : 0;
    return FT_OK;
}

FT_STATUS Bench::GetQueueStatus(FT_HANDLE handle, DWORD* queued) {
    std::lock_guard lock(impl_->mutex);
    FT_STATUS st = FT_OK;
    if (impl_->Intercept(D2xxCall::GetQueueStatus, st)) return st;
    Device* d = impl_->Live(handle, st);
    if (!d) return st;
    if (!queued) return FT_INVALID_PARAMETER;
    *queued = DWORD(d->module.Readable());
    return FT_OK;
}

Bench& GlobalBench() {
    static Bench bench;
    return bench;
}

}  // namespace zelk::sim
