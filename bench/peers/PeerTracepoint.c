/* The tracepoint's probe and its definition, compiled once. */
#define TRACEPOINT_CREATE_PROBES
#define TRACEPOINT_DEFINE
#include "PeerTracepoint.h"

/* Fires the tracepoint; C++ callers reach it through this function. */
void vx380_bench_lttng_line(const char* text) { tracepoint(vx380_bench, line, text); }

/* Whether a session has enabled the tracepoint in this process. */
int vx380_bench_lttng_enabled(void) { return tracepoint_enabled(vx380_bench, line); }
