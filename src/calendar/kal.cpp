#include "calendar/kal.h"

void Kal_Days_Extend(const char*) {}
