// Work calendar extension: the second phase of the run.
//
// Called once by the driver after the base calendar phase. Extends every work
// calendar of both families (HRSYSTEM.Hrs133Kal listed in HRSYSTEM.Hrs135Muw,
// Hrs133Ka2 listed in Hrs135Mu2) up to EndDat from the base calendar and the
// weekly patterns Hrs137Wch; one commit per family. Failures go to RunLog.
#pragma once

void Kal_Days_Extend(const char* EndDat);
