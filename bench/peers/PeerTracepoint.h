/* The LTTng-UST tracepoint the peer bench fires: one string field, as a trace line is. */
#undef TRACEPOINT_PROVIDER
#define TRACEPOINT_PROVIDER vx380_bench

#undef TRACEPOINT_INCLUDE
#define TRACEPOINT_INCLUDE "PeerTracepoint.h"

#if !defined(VX380_PEER_TRACEPOINT_H) || defined(TRACEPOINT_HEADER_MULTI_READ)
#define VX380_PEER_TRACEPOINT_H

#include <lttng/tracepoint.h>

TRACEPOINT_EVENT(vx380_bench, line, TP_ARGS(const char*, text), TP_FIELDS(ctf_string(text, text)))

#endif

#include <lttng/tracepoint-event.h>
