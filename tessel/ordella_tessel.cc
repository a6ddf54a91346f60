#include "tessel/ordella_tessel.h"

#include "tessel/auto_data_sync.h"

extern "C" int AutoDataSync(int index) {
  return tessel::AutoDataSyncOn(index, tessel::TodayText());
}
