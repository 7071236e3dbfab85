// The timer-driven measurement: period adjustment, start and stop, upload of records.
#pragma once

namespace zelk {

struct TData;

void AdjustPeriod(TData* d);
void StartStopMeasurement(TData* d);
void UploadRecords(TData* d);

}  // namespace zelk
