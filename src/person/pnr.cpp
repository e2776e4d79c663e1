#include "person/pnr.h"

bool Ka2Flag = true;
bool ZtgPnmFlag = true;

void Pnr_Run_Init() {
  Ka2Flag = true;
  ZtgPnmFlag = true;
}

int32_t Pnr_Days_Extend(const char*, const char*, const char*, const char*) { return 0; }
