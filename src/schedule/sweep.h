#pragma once

// Queues start, each accumulated step strictly before the end, then the end.
// 0, or -1 (reported, nothing queued) for an unusable increment.
int sweep(double sweep_start, double sweep_end, double sweep_increment, int sweep_duration);
