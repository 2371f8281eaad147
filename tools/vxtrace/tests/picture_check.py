#!/usr/bin/env python3
"""Checks behind the picture writers' tests; standard library only.

chrome FILE  FILE must be UTF-8 trace-event JSON (no NaN or Infinity) whose begin and
             end events balance per thread, with times that never go back on a thread
             and a process and thread name for every thread that has events. Prints
             one line per event: ph pid tid ts cat name args, where name and args
             (JSON, sorted keys) are "x" followed by the hex of their UTF-8.
png FILE     prints: width height distinct-colours share-of-the-commonest red-pixels
"""
import json
import struct
import sys
import zlib


def fail(message):
    print("picture_check: " + message, file=sys.stderr)
    sys.exit(1)


def hexed(text):
    return "x" + text.encode("utf-8").hex()


def reject_constant(name):
    fail("non-standard JSON constant " + name)


def load_trace(path):
    raw = open(path, "rb").read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        fail("not UTF-8: %s" % e)
    try:
        doc = json.loads(text, parse_constant=reject_constant)
    except ValueError as e:
        fail("not JSON: %s" % e)
    events = doc.get("traceEvents") if isinstance(doc, dict) else None
    if not isinstance(events, list):
        fail("no traceEvents list")
    return events


def is_int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def chrome(path):
    depth, clock, used = {}, {}, set()
    named_pids, named_threads = set(), set()
    for n, ev in enumerate(load_trace(path)):
        ph, pid, tid = ev.get("ph"), ev.get("pid"), ev.get("tid")
        if ph not in ("B", "E", "i", "M"):
            fail("event %d: unexpected phase %r" % (n, ph))
        if not is_int(pid) or not is_int(tid) or not 0 <= tid <= 0x7FFFFFFF:
            fail("event %d: bad pid or tid" % n)
        key, args = (pid, tid), ev.get("args", {})
        if ph == "M":
            if ev.get("name") == "process_name":
                named_pids.add(pid)
            if ev.get("name") == "thread_name":
                named_threads.add(key)
            ts = "-"
        else:
            ts = ev.get("ts")
            if not isinstance(ts, (int, float)) or isinstance(ts, bool):
                fail("event %d: no timestamp" % n)
            if ts < clock.get(key, float("-inf")):
                fail("event %d: time goes back on thread %s" % (n, key))
            clock[key] = ts
            used.add(key)
            depth[key] = depth.get(key, 0) + {"B": 1, "E": -1}.get(ph, 0)
            if depth[key] < 0:
                fail("event %d: end without a begin on thread %s" % (n, key))
            if ph == "i" and ev.get("s") not in ("t", "p", "g"):
                fail("event %d: instant without a scope" % n)
        if not isinstance(ev.get("name", ""), str):
            fail("event %d: name is not text" % n)
        print(ph, pid, tid, ts, ev.get("cat", "-"), hexed(ev.get("name", "")),
              hexed(json.dumps(args, sort_keys=True, ensure_ascii=False)))
    for key, d in depth.items():
        if d:
            fail("thread %s: %d calls begun and never ended" % (key, d))
    for key in used:
        if key[0] not in named_pids or key not in named_threads:
            fail("thread %s: no process or thread name" % (key,))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def unfilter(kind, line, prev, bpp):
    if kind == 0:
        return line
    if kind == 2:
        return bytearray((x + y) & 255 for x, y in zip(line, prev))
    for i in range(len(line)):
        a = line[i - bpp] if i >= bpp else 0
        c = prev[i - bpp] if i >= bpp else 0
        if kind == 1:
            line[i] = (line[i] + a) & 255
        elif kind == 3:
            line[i] = (line[i] + ((a + prev[i]) >> 1)) & 255
        else:
            line[i] = (line[i] + paeth(a, prev[i], c)) & 255
    return line


def png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("not a PNG")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
    if header is None:
        fail("PNG without a header")
    width, height, bits, colour, _, _, interlace = header
    if bits != 8 or colour not in (2, 6) or interlace:
        fail("PNG form not handled: %d bits, colour type %d" % (bits, colour))
    bpp = 3 if colour == 2 else 4
    stride = width * bpp
    raw = zlib.decompress(b"".join(idat))
    prev, counts = bytearray(stride), {}
    for y in range(height):
        row = y * (stride + 1)
        line = unfilter(raw[row], bytearray(raw[row + 1:row + 1 + stride]), prev, bpp)
        for x in range(0, stride, bpp):
            px = bytes(line[x:x + 3])
            counts[px] = counts.get(px, 0) + 1
        prev = line
    red = sum(n for px, n in counts.items() if px[0] > 170 and px[1] < 90 and px[2] < 90)
    print(width, height, len(counts), "%.4f" % (max(counts.values()) / (width * height)), red)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("chrome", "png"):
        fail("usage: picture_check.py chrome|png FILE")
    (chrome if sys.argv[1] == "chrome" else png)(sys.argv[2])
