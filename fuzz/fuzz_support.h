// What the fuzz targets share: a broken promise aborts with its words on standard error, and
// every form of operator new is counted (gNewCalls), so a target can check that the code it drives
// allocated nothing.
#pragma once

extern long gNewCalls;

// Aborts with "broken promise: what" unless condition holds.
void Check(bool condition, const char* what);
