#include "records/conversion.h"

#include <algorithm>

#include "core/log.h"
#include "domain/status_texts.h"
#include "domain/text.h"
#include "dbf/dbase_file.h"
#include "records/record_file.h"

namespace zelk {

dbf::RecordLayout LayoutOf(const ConversionJob& job) {
    dbf::RecordLayout l;
    const ModuleSettings& s = job.Snap.Settings;
    l.ChannelCount = static_cast<int32_t>(s.TimerChannelCount);
    l.Cnt0 = IsRecorded(s.Cnt0Enable);
    l.Cnt1 = IsRecorded(s.Cnt1Enable);
    l.DinDout = IsRecorded(s.DinDoutEnable);
    l.Range = s.RangeCode;
    l.ConstA = job.ConstA;
    l.ConstB = job.ConstB;
    return l;
}

std::vector<TablePart> TableParts(const std::string& basePath, uint64_t records, uint32_t rowsPerTable) {
    if (rowsPerTable == 0) rowsPerTable = 0xFFFFFFFFu;
    std::vector<TablePart> parts;
    for (uint64_t first = 0; first < records; first += rowsPerTable) {
        TablePart p;
        p.FirstRecord = first;
        p.Rows = static_cast<uint32_t>(std::min<uint64_t>(rowsPerTable, records - first));
        p.Path = basePath + (parts.empty() ? "" : "_part" + std::to_string(parts.size() + 1)) + records::kTableExtension;
        parts.push_back(std::move(p));
    }
    return parts;
}

namespace {

const char* ConversionErrorText() { return "Chyba převodu naměřených dat do DBF"_cp; }

// A table that could not be written whole (a full disk, a record file shorter than its
// count): no table is left under its name, the record file stays, and the host is told as
// for a record file that could not be written.
void ConversionFailed(TData* d) {
    WriteLog(d, std::string("TKS 1a ") + ConversionErrorText(), 1);
    SetDeviceStatus(*d, Status::Disk, StatusText(Status::Disk, ConversionErrorText()));
    SetMeasurementStatus(*d, ZELK_MEASURE_FILE_FAILED);
}

}  // namespace

TThreadKonverze* StartConversionThread(TData* d) {
    auto t = std::make_unique<TThreadKonverze>(d);
    ConversionJob& job = t->Job;
    {
        plat::LockGuard g(d->DataLock);
        job.BasePath = d->Device.RecordFilePath;
        job.Snap = d->Snapshot;
    }
    job.RowCount = d->Device.StoredRecordCount.load();
    for (int j = 0; j < kAnalogCount; ++j) {
        job.ConstA[j] = d->Cfg.ChannelConstA[j];
        job.ConstB[j] = d->Cfg.ChannelConstB[j];
    }
    job.ConvFileType = d->Cfg.ConvFileType;
    TThreadKonverze* raw = t.get();
    raw->Start();
    plat::LockGuard g(d->DataLock);
    auto& v = d->ConvThreads;
    v.erase(std::remove_if(v.begin(), v.end(), [](const std::unique_ptr<TThreadKonverze>& c) { return !c || c->Finished(); }),
            v.end());
    v.push_back(std::move(t));
    return raw;
}

void ConvertRecordFile(TData* d, const ConversionJob& job, TThreadKonverze* thread) {
    if (!d) return;
    WriteLog(d, "TKS 1", 3);
    if (job.RowCount == 0) {
        WriteLog(d, "TKS 2", 3);
        return;
    }
    const plat::LocalTime now = plat::Now();
    const dbf::Date date{now.year, now.month, now.day};
    const std::string bin = job.BasePath + records::kRecordFileExtension;
    auto stop = [thread]() { return thread && thread->Terminated(); };
    const dbf::RecordLayout layout = LayoutOf(job);
    uint64_t written = 0;
    bool complete = true;
    for (const TablePart& part : TableParts(job.BasePath, job.RowCount, job.RowsPerTable)) {
        const dbf::TableResult r =
            dbf::WriteTableDurably(bin, part.Path, layout, part.Rows, date, stop, part.FirstRecord);
        written += r.rows;
        if (thread) thread->RowsWritten = written;
        if (r.fileError) {
            ConversionFailed(d);
            return;
        }
        if (!r.complete) {
            complete = false;
            break;
        }
    }
    // The record file goes only when tables holding every one of its records are on stable
    // storage; an interrupted conversion keeps it, so that it can be converted again.
    if (complete && job.ConvFileType == 1) plat::DeleteFileAt(bin);
    WriteLog(d, "TKS 99", 3);
}

void TThreadKonverze::Execute() { ConvertRecordFile(Data(), Job, this); }

}  // namespace zelk
