#include "calendar/bak.h"

void Bak_Days_Extend(const char*) {}
