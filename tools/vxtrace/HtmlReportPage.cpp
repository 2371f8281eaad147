// vxtrace: the fixed parts of the HTML page. Nothing here loads anything from
// elsewhere: the page has to open from a file on a machine without network.
//
// The script draws only what is in view. When more calls are in view than the page
// can hold as elements, calls narrower than a pixel are gathered into one "crowd"
// element per run on their row; zooming in turns them back into frames.
// Names reach the page only through textContent, never as markup.
#include "HtmlReportPage.h"

namespace vxtrace {

const char kHtmlReportStyle[] = R"VX(
body{font:13px/1.4 system-ui,-apple-system,"Segoe UI",sans-serif;margin:0;color:#1d2330;background:#f4f5f8}
header{padding:10px 16px;background:#1f2a3a;color:#fff}
header h1{font-size:18px;margin:0 0 2px}
header p{margin:0;color:#c9d3e3}
.bar{position:sticky;top:0;z-index:3;background:#f4f5f8;padding:6px 16px 0;border-bottom:1px solid #cfd5de}
.controls{display:flex;gap:6px;align-items:center;flex-wrap:wrap;margin-bottom:4px}
.controls button{font:inherit;min-width:32px;padding:2px 8px;border:1px solid #aab3c2;border-radius:4px;background:#fff;cursor:pointer}
.controls button:hover{background:#e6ebf3}
.hint{color:#5b6475;font-size:12px}
#range{margin-left:auto;color:#33405a;font-variant-numeric:tabular-nums}
.ruler{position:relative;height:18px;overflow:hidden}
.tick{position:absolute;top:0;height:18px;border-left:1px solid #8c96a8;padding-left:3px;font-size:11px;color:#4a5468;white-space:nowrap}
#charts{margin:0 16px}
.track h2{font-size:13px;font-weight:600;margin:12px 0 4px;color:#33405a}
.lane{position:relative;overflow:hidden;background:#fff;box-shadow:0 0 0 1px #d5dae3;cursor:grab}
.frame,.crowd{position:absolute;height:17px;box-sizing:border-box;overflow:hidden}
.frame{border-right:1px solid rgba(255,255,255,.7);white-space:nowrap;text-overflow:ellipsis;font-size:11px;line-height:17px;padding-left:3px;color:#10151f}
.frame .ms{opacity:.65}
.frame:hover{box-shadow:inset 0 0 0 2px #1f2a3a}
.frame.err{background-color:#d62728;color:#fff;font-weight:600;box-shadow:inset 0 0 0 2px #7a0000}
.frame.err::before{content:"! "}
.frame.open{border-right:3px dashed #1f2a3a;background-image:repeating-linear-gradient(135deg,transparent 0 6px,rgba(255,255,255,.5) 6px 9px)}
.frame.hl{box-shadow:inset 0 0 0 3px #f2b705}
.crowd{background:repeating-linear-gradient(90deg,#8d97a8 0 1px,#b8c0cc 1px 2px)}
.mark{position:absolute;top:0;bottom:0;width:2px;margin-left:-1px;background:#d62728;opacity:.85}
.mark::before{content:"";position:absolute;top:0;left:-4px;border:5px solid transparent;border-top:7px solid #d62728}
#tip{position:fixed;display:none;pointer-events:none;z-index:10;max-width:520px;padding:6px 9px;border-radius:5px;background:#1f2a3a;color:#fff;white-space:pre-line;overflow-wrap:anywhere;box-shadow:0 2px 8px rgba(0,0,0,.3)}
#tip::first-line{font-weight:600}
main{margin:0 16px 24px}
main h2{font-size:15px;margin:22px 0 2px}
table{border-collapse:collapse;background:#fff;box-shadow:0 0 0 1px #d5dae3;font-variant-numeric:tabular-nums}
th,td{padding:3px 10px;text-align:right;border-bottom:1px solid #e3e7ee}
th:first-child,td:first-child{text-align:left;max-width:480px;overflow-wrap:anywhere}
th{background:#e9edf3;cursor:pointer;user-select:none}
th[data-dir=down]::after{content:" \25BE"}
th[data-dir=up]::after{content:" \25B4"}
tbody tr{cursor:pointer}
tbody tr:hover{background:#f3f6fb}
tbody tr.hl{background:#fff3c4}
.dragging,.dragging *{cursor:grabbing!important;user-select:none}
)VX";

const char kHtmlReportChart[] = R"VX(<div class="bar"><div class="controls">
<button id="zin" type="button" title="Zoom in (W)">+</button><button id="zout" type="button" title="Zoom out (S)">&minus;</button>
<button id="left" type="button" title="Pan left (A)">&#9664;</button><button id="right" type="button" title="Pan right (D)">&#9654;</button>
<button id="fit" type="button" title="The whole run (0)">Fit</button>
<span class="hint">Wheel zooms, Shift+wheel or drag pans, double-click a call to zoom to it. Red: error lines.</span>
<span id="range"></span></div>
<div id="ruler" class="ruler"></div></div>
<noscript><p class="hint">The flame charts need JavaScript; the statistics table is below.</p></noscript>
<div id="charts"></div>
<div id="tip" role="tooltip"></div>
<main>
)VX";

const char kHtmlReportScript[] = R"VX(
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('vx-data').textContent);
  // Control characters but tab and line feed shown as \xNN, as the table shows them.
  var S = data.strings.map(function (text) {
    return text.replace(/[\x00-\x08\x0b-\x1f\x7f]/g, function (c) {
      return '\\x' + (c.charCodeAt(0) < 16 ? '0' : '') + c.charCodeAt(0).toString(16);
    });
  });
  var ROW = 18, TOP = 9, BUDGET = 6000;
  var charts = document.getElementById('charts'), ruler = document.getElementById('ruler');
  var tip = document.getElementById('tip'), range = document.getElementById('range');
  var lo = data.t0, hi = data.t1 > data.t0 ? data.t1 : data.t0 + 1;
  var MIN_SPAN = Math.max((hi - lo) * 1e-9, 1e-6);
  var v0 = lo, v1 = hi, lanes = [], colours = {}, highlight = null, drag = null, pending = false;

  function ms(x) {
    var a = Math.abs(x);
    return x.toFixed(a >= 100 ? 1 : a >= 1 ? 2 : 3).replace(/\.?0+$/, '');
  }

  function colour(i) {
    if (colours[i]) return colours[i];
    var s = S[i], h = 7;
    for (var k = 0; k < s.length; k++) h = (h * 31 + s.charCodeAt(k)) | 0;
    h = Math.abs(h);
    return (colours[i] = 'hsl(' + (175 + h % 80) + ',' + (42 + (h >> 7) % 26) + '%,' + (62 + (h >> 13) % 14) + '%)');
  }

  data.threads.forEach(function (th, ti) {
    var sec = document.createElement('section'), h = document.createElement('h2'), lane = document.createElement('div');
    var deep = 0;
    for (var i = 2; i < th.spans.length; i += 6) if (th.spans[i] > deep) deep = th.spans[i];
    sec.className = 'track';
    lane.className = 'lane';
    h.textContent = th.label;
    lane.style.height = (TOP + (deep + 1) * ROW) + 'px';
    sec.appendChild(h);
    sec.appendChild(lane);
    charts.appendChild(sec);
    lanes.push({ el: lane, th: th, ti: ti });
  });

  function width() { return charts.clientWidth || 1000; }

  function countVisible() {
    var n = 0;
    lanes.forEach(function (L) {
      var s = L.th.spans;
      for (var i = 0; i < s.length; i += 6) if (s[i + 1] >= v0 && s[i] <= v1) n++;
    });
    return n;
  }

  function frame(L, i, x0, x1, w) {
    var s = L.th.spans, f = document.createElement('div'), l = Math.max(x0, -2), r = Math.min(x1, w + 2);
    f.className = 'frame' + (s[i + 5] & 1 ? ' err' : '') + (s[i + 5] & 2 ? ' open' : '') +
      (highlight !== null && S[s[i + 3]] === highlight ? ' hl' : '');
    f.style.left = l + 'px';
    f.style.width = Math.max(r - l, 1) + 'px';
    f.style.top = (TOP + s[i + 2] * ROW) + 'px';
    if (!(s[i + 5] & 1)) f.style.backgroundColor = colour(s[i + 3]);
    if (r - l > 16) f.textContent = S[s[i + 3]];
    if (r - l > (S[s[i + 3]].length + 12) * 7) {
      var t = document.createElement('span');
      t.className = 'ms';
      t.textContent = ' ' + ms(s[i + 1] - s[i]) + ' ms';
      f.appendChild(t);
    }
    f.dataset.t = L.ti;
    f.dataset.i = i / 6;
    return f;
  }

  function crowd(L, c) {
    var e = document.createElement('div');
    e.className = 'crowd';
    e.style.left = c.x0 + 'px';
    e.style.width = Math.max(c.x1 - c.x0, 1) + 'px';
    e.style.top = (TOP + c.d * ROW) + 'px';
    e.dataset.t = L.ti;
    e.dataset.n = c.n;
    e.dataset.ms = c.ms;
    return e;
  }

  function marks(L, frag, w, k) {
    var m = L.th.marks, last = null;
    for (var j = 0; j < m.length; j += 2) {
      var x = Math.round((m[j] - v0) * k);
      if (x < 0 || x > w || x === last) continue;
      last = x;
      var e = document.createElement('div');
      e.className = 'mark';
      e.style.left = x + 'px';
      e.dataset.t = L.ti;
      e.dataset.m = j / 2;
      frag.appendChild(e);
    }
  }

  function drawLane(L, w, k, merge) {
    var s = L.th.spans, frag = document.createDocumentFragment(), runs = [];
    for (var i = 0; i < s.length; i += 6) {
      if (s[i + 1] < v0 || s[i] > v1) continue;
      var x0 = (s[i] - v0) * k, x1 = (s[i + 1] - v0) * k, d = s[i + 2], c = runs[d];
      if (!merge || x1 - x0 >= 1) { frag.appendChild(frame(L, i, x0, x1, w)); continue; }
      if (c && x0 <= c.x1 + 1) { c.x1 = Math.max(c.x1, x1); c.n++; c.ms += s[i + 1] - s[i]; continue; }
      if (c) frag.appendChild(crowd(L, c));
      runs[d] = { d: d, x0: x0, x1: x1, n: 1, ms: s[i + 1] - s[i] };
    }
    runs.forEach(function (c) { if (c) frag.appendChild(crowd(L, c)); });
    marks(L, frag, w, k);
    L.el.textContent = '';
    L.el.appendChild(frag);
  }

  function drawRuler(w, k) {
    var raw = (v1 - v0) / Math.max(2, Math.floor(w / 120)), p = Math.pow(10, Math.floor(Math.log(raw) / Math.LN10));
    var step = raw <= p ? p : raw <= 2 * p ? 2 * p : raw <= 5 * p ? 5 * p : 10 * p;
    var digits = Math.min(20, Math.max(0, -Math.floor(Math.log(step) / Math.LN10 + 1e-9)));
    var frag = document.createDocumentFragment();
    for (var j = Math.ceil(v0 / step); j * step <= v1; j++) {
      var t = document.createElement('div');
      t.className = 'tick';
      t.style.left = ((j * step - v0) * k) + 'px';
      t.textContent = (j * step).toFixed(digits) + ' ms';
      frag.appendChild(t);
    }
    ruler.textContent = '';
    ruler.appendChild(frag);
    range.textContent = ms(v0) + ' \u2013 ' + ms(v1) + ' ms';
  }

  function draw() {
    pending = false;
    var w = width(), k = w / (v1 - v0), merge = countVisible() > BUDGET;
    lanes.forEach(function (L) { drawLane(L, w, k, merge); });
    drawRuler(w, k);
  }

  function flush() { if (pending) draw(); }

  // Frames are not always issued (hidden tabs, headless pages): a timer draws when no frame comes.
  function schedule() {
    if (pending) return;
    pending = true;
    requestAnimationFrame(flush);
    setTimeout(flush, 100);
  }

  function view(a, b) {
    var span = Math.min(Math.max(b - a, MIN_SPAN), hi - lo);
    a = Math.min(Math.max(a, lo), hi - span);
    v0 = a;
    v1 = a + span;
    schedule();
  }

  function zoom(f, at) {
    if (at === undefined) at = (v0 + v1) / 2;
    view(at - (at - v0) * f, at + (v1 - at) * f);
  }

  function pan(f) { var d = (v1 - v0) * f; view(v0 + d, v1 + d); }

  function timeAt(x) { return v0 + (x - charts.getBoundingClientRect().left) / width() * (v1 - v0); }

  function describe(el) {
    var th = data.threads[+el.dataset.t];
    if (el.dataset.n)
      return el.dataset.n + (el.dataset.n === '1' ? ' call' : ' calls') + ' too narrow to draw, ' +
        ms(+el.dataset.ms) + ' ms together\nZoom in to see them.';
    if (el.dataset.m) { var j = +el.dataset.m * 2; return S[th.marks[j + 1]] + '\nat ' + ms(th.marks[j]) + ' ms'; }
    var s = th.spans, i = +el.dataset.i * 6, lines = [S[s[i + 3]]];
    if (s[i + 4] >= 0) lines.push('note: ' + S[s[i + 4]]);
    lines.push(ms(s[i + 1] - s[i]) + ' ms, from ' + ms(s[i]) + ' to ' + ms(s[i + 1]) + ' ms, depth ' + s[i + 2]);
    if (s[i + 5] & 1) lines.push('An error line arrived during this call.');
    if (s[i + 5] & 2) lines.push('No exit seen: drawn to the thread\u2019s last time.');
    return lines.join('\n');
  }

  function showTip(e) {
    var el = e.target && e.target.closest ? e.target.closest('[data-t]') : null;
    if (!el) { tip.style.display = 'none'; return; }
    tip.textContent = describe(el);
    tip.style.display = 'block';
    var x = e.clientX + 14, y = e.clientY + 16;
    if (x + tip.offsetWidth > window.innerWidth - 4) x = Math.max(4, e.clientX - tip.offsetWidth - 10);
    if (y + tip.offsetHeight > window.innerHeight - 4) y = Math.max(4, e.clientY - tip.offsetHeight - 10);
    tip.style.left = x + 'px';
    tip.style.top = y + 'px';
  }

  charts.addEventListener('wheel', function (e) {
    if (!e.target.closest('.lane')) return;
    e.preventDefault();
    var unit = e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? 400 : 1, dx = e.deltaX * unit, dy = e.deltaY * unit;
    if (e.shiftKey) pan((dy || dx) / width());
    else if (Math.abs(dx) > Math.abs(dy)) pan(dx / width());
    else zoom(Math.exp(dy * 0.002), timeAt(e.clientX));
  }, { passive: false });

  charts.addEventListener('mousedown', function (e) {
    if (e.button !== 0 || !e.target.closest('.lane')) return;
    drag = { x: e.clientX, a: v0, b: v1 };
    document.body.classList.add('dragging');
    e.preventDefault();
  });

  window.addEventListener('mousemove', function (e) {
    if (!drag) { showTip(e); return; }
    var dt = (e.clientX - drag.x) / width() * (drag.b - drag.a);
    tip.style.display = 'none';
    view(drag.a - dt, drag.b - dt);
  });

  window.addEventListener('mouseup', function () { drag = null; document.body.classList.remove('dragging'); });

  charts.addEventListener('dblclick', function (e) {
    var f = e.target.closest('.frame');
    if (!f) return;
    var s = data.threads[+f.dataset.t].spans, i = +f.dataset.i * 6, pad = Math.max((s[i + 1] - s[i]) * 0.1, MIN_SPAN);
    view(s[i] - pad, s[i + 1] + pad);
  });

  document.addEventListener('keydown', function (e) {
    if (e.ctrlKey || e.metaKey || e.altKey) return;
    var key = e.key.toLowerCase();
    if (key === 'w' || key === '+' || key === '=') zoom(0.7);
    else if (key === 's' || key === '-') zoom(1 / 0.7);
    else if (key === 'a' || key === 'arrowleft') pan(-0.2);
    else if (key === 'd' || key === 'arrowright') pan(0.2);
    else if (key === '0') view(lo, hi);
    else return;
    e.preventDefault();
  });

  var actions = {
    zin: function () { zoom(0.5); }, zout: function () { zoom(2); }, left: function () { pan(-0.25); },
    right: function () { pan(0.25); }, fit: function () { view(lo, hi); }
  };
  Object.keys(actions).forEach(function (id) { document.getElementById(id).addEventListener('click', actions[id]); });

  var table = document.getElementById('stats'), body = table.tBodies[0];
  table.tHead.addEventListener('click', function (e) {
    var h = e.target.closest('th');
    if (!h) return;
    var col = h.cellIndex, down = h.dataset.dir !== 'down';
    var rows = Array.prototype.slice.call(body.rows).filter(function (r) { return r.cells.length > 1; });
    rows.sort(function (a, b) {
      var x = a.cells[col], y = b.cells[col];
      var c = col === 0 ? y.textContent.localeCompare(x.textContent) : (+x.dataset.v) - (+y.dataset.v);
      return down ? -c : c;
    });
    Array.prototype.forEach.call(h.parentNode.cells, function (c) { delete c.dataset.dir; });
    h.dataset.dir = down ? 'down' : 'up';
    rows.forEach(function (r) { body.appendChild(r); });
  });

  body.addEventListener('click', function (e) {
    var row = e.target.closest('tr');
    if (!row || row.cells.length < 2) return;
    var name = row.cells[0].textContent;
    highlight = highlight === name ? null : name;
    Array.prototype.forEach.call(body.rows, function (r) {
      r.classList.toggle('hl', highlight !== null && r.cells[0].textContent === highlight);
    });
    schedule();
  });

  window.addEventListener('resize', schedule);
  draw();
})();
)VX";

}  // namespace vxtrace
