// Points series: a run of events with standings.
#pragma once

int series_load(const char *name);  // 1 when loaded
// Saves the result of an event that has just been run.
void series_finish_event();
void series_free();
