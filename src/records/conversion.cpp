#include "records/conversion.h"

#include <algorithm>

#include "config/log.h"
#include "records/dbase_file.h"
#include "records/record_file.h"

namespace zelk {

dbf::RecordLayout LayoutOf(const ConversionJob& job) {
    dbf::RecordLayout l;
    l.ChannelCount = job.Snap.SnapChannelCount;
    l.Cnt0 = job.Snap.SnapCnt0Enable != 0;
    l.Cnt1 = job.Snap.SnapCnt1Enable != 0;
    l.DinDout = job.Snap.SnapDinDoutEnable != 0;
    l.Range = job.Snap.SnapRange;
    l.ConstA = job.ConstA;
    l.ConstB = job.ConstB;
    return l;
}

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
    const std::string dbfPath = job.BasePath + records::kTableExtension;
    auto stop = [d, thread]() { return (thread && thread->Terminated()) || d->StopRequested.load() != 0; };
    const dbf::TableResult r = dbf::WriteTable(bin, dbfPath, LayoutOf(job), job.RowCount, date, stop);
    if (thread) thread->RowsWritten = r.rows;
    if (r.fileError) return;
    // An interrupted conversion keeps the record file, so that it can be converted again.
    if (r.complete && job.ConvFileType == 1) plat::DeleteFileAt(bin);
    WriteLog(d, "TKS 99", 3);
}

void TThreadKonverze::Execute() { ConvertRecordFile(Data(), Job, this); }

}  // namespace zelk
